#include "base/request_address.h"
#include "base/ascii_text.h"

namespace qmx {

std::string requestLineAddress(std::string_view address) {
  std::string out;
  out.reserve(address.size());
  for (const char ch : address) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte <= 0x20 || byte >= 0x7F || byte == '#') {
      out += '%';
      out += hexByte(byte);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string queryValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char ch : value) {
    if (ch == '&' || ch == '=' || ch == '+' || ch == '%' || ch == '#') {
      out += '%';
      out += hexByte(static_cast<unsigned char>(ch));
    } else {
      out += ch;
    }
  }
  return out;
}

std::string addressForMessages(std::string_view address) {
  std::string_view rest = address.substr(0, address.find_first_of("?#"));
  const auto schemeEnd = rest.find("://");
  if (schemeEnd == std::string_view::npos) return std::string(rest);
  const std::size_t authorityStart = schemeEnd + 3;
  const auto pathStart = rest.find('/', authorityStart);
  const auto at = rest.substr(0, pathStart).rfind('@');
  if (at == std::string_view::npos || at < authorityStart) return std::string(rest);
  return std::string(rest.substr(0, authorityStart)) + std::string(rest.substr(at + 1));
}

}  // namespace qmx
