#include "server/query.h"

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"

namespace qmx::server {

std::string decodeQueryText(std::string_view raw) {
  std::string bytes;
  bytes.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size()) {
      const int hi = hexDigitValue(raw[i + 1]);
      const int lo = hexDigitValue(raw[i + 2]);
      if (hi >= 0 && lo >= 0) {
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    bytes.push_back(raw[i]);
  }
  return isValidUtf8(bytes) ? bytes : singleByteToUtf8(bytes);
}

QueryString::QueryString(std::string_view raw) {
  while (!raw.empty()) {
    const size_t amp = raw.find('&');
    const std::string_view item = raw.substr(0, amp);
    const size_t eq = item.find('=');
    if (!item.empty()) {
      items_.emplace_back(decodeQueryText(item.substr(0, eq)),
                          eq == std::string_view::npos ? std::string() : decodeQueryText(item.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    raw.remove_prefix(amp + 1);
  }
}

std::string hideQueryValues(std::string_view raw, std::string_view key) {
  std::string out;
  for (;;) {
    const size_t amp = raw.find('&');
    const std::string_view item = raw.substr(0, amp);
    const size_t eq = item.find('=');
    const bool hidden = eq != std::string_view::npos && equalsIgnoreCase(decodeQueryText(item.substr(0, eq)), key);
    out += hidden ? item.substr(0, eq + 1) : item;
    if (hidden) out += "***";
    if (amp == std::string_view::npos) return out;
    out += '&';
    raw.remove_prefix(amp + 1);
  }
}

std::optional<std::string> QueryString::get(std::string_view key) const {
  for (const auto& [k, v] : items_) {
    if (equalsIgnoreCase(k, key)) return v;
  }
  return std::nullopt;
}

}  // namespace qmx::server
