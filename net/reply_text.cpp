#include "net/reply_text.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/charset.h"
#include "platform/codepage.h"

namespace qmx {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Labels that mean the system code page: browsers read ISO-8859-1 and ASCII as
// Windows-1252 too, and a server declaring them usually sends Windows-1252.
bool isSingleByteCodePage(std::string_view charset) {
  static constexpr std::array<std::string_view, 11> kLabels = {
      "windows-1252", "cp1252", "x-cp1252", "iso-8859-1", "iso8859-1", "iso_8859-1",
      "latin1", "l1", "us-ascii", "ascii", "ansi_x3.4-1968"};
  return std::find(kLabels.begin(), kLabels.end(), charset) != kLabels.end();
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

std::string declaredCharset(std::string_view contentType) {
  std::string_view rest = contentType;
  while (true) {
    const auto semi = rest.find(';');
    if (semi == std::string_view::npos) return {};
    rest.remove_prefix(semi + 1);
    const std::string_view param = trimmed(rest.substr(0, rest.find(';')));
    const auto eq = param.find('=');
    if (eq == std::string_view::npos || lowered(trimmed(param.substr(0, eq))) != "charset") continue;
    std::string_view value = trimmed(param.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return lowered(trimmed(value));
  }
}

std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = p[i];
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b < 0x80) length = 1;
    else if (b >= 0xC2 && b <= 0xDF) length = 2;
    else if (b == 0xE0) length = 3, lo = 0xA0;
    else if (b >= 0xE1 && b <= 0xEC) length = 3;
    else if (b == 0xED) length = 3, hi = 0x9F;  // no surrogates
    else if (b >= 0xEE && b <= 0xEF) length = 3;
    else if (b == 0xF0) length = 4, lo = 0x90;
    else if (b >= 0xF1 && b <= 0xF3) length = 4;
    else if (b == 0xF4) length = 4, hi = 0x8F;
    bool valid = length > 0 && i + length <= n;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const unsigned char c = p[i + k];
      valid = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    }
    if (valid) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string decodeReplyText(std::string_view body, std::string_view contentType) {
  const std::string charset = declaredCharset(contentType);
  if (charset == "utf-8" || charset == "utf8") {
    if (startsWith(body, kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
    return repairUtf8(body);
  }
  if (isSingleByteCodePage(charset)) return singleByteToUtf8(body);
  if (!charset.empty()) {
    if (auto text = charsetToUtf8(body, charset)) {
      std::string_view view(*text);
      if (startsWith(view, kUtf8Bom)) return text->substr(kUtf8Bom.size());
      return std::move(*text);
    }
  }
  if (startsWith(body, kUtf8Bom)) return repairUtf8(body.substr(kUtf8Bom.size()));
  if (startsWith(body, "\xFF\xFE")) return charsetToUtf8(body.substr(2), "UTF-16LE").value_or(std::string());
  if (startsWith(body, "\xFE\xFF")) return charsetToUtf8(body.substr(2), "UTF-16BE").value_or(std::string());
  return repairUtf8(body);
}

std::string replyText(const HttpReply& reply) { return decodeReplyText(reply.body, reply.contentType); }

}  // namespace qmx
