#include "net/reply_text.h"

#include <algorithm>
#include <array>

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"

namespace qmx {
namespace {

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
    const std::string_view param = trimmed(rest.substr(0, rest.find(';')), " \t");
    const auto eq = param.find('=');
    if (eq == std::string_view::npos || lowerAscii(trimmed(param.substr(0, eq), " \t")) != "charset") continue;
    std::string_view value = trimmed(param.substr(eq + 1), " \t");
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return lowerAscii(trimmed(value, " \t"));
  }
}

std::string decodeReplyText(Platform& platform, std::string_view body, std::string_view contentType) {
  const std::string charset = declaredCharset(contentType);
  if (charset == "utf-8" || charset == "utf8") {
    if (startsWith(body, kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
    return repairUtf8(body);
  }
  if (isSingleByteCodePage(charset)) return singleByteToUtf8(body);
  if (!charset.empty()) {
    if (auto text = platform.decodeCharset(body, charset)) {
      // A label the system resolves to UTF-8 itself ("utf-8//") converts nothing,
      // so what comes back is checked like any other UTF-8.
      std::string_view view(*text);
      if (startsWith(view, kUtf8Bom)) view.remove_prefix(kUtf8Bom.size());
      return repairUtf8(view);
    }
  }
  if (startsWith(body, kUtf8Bom)) return repairUtf8(body.substr(kUtf8Bom.size()));
  if (startsWith(body, "\xFF\xFE")) return utf16ToUtf8(body.substr(2), false);
  if (startsWith(body, "\xFE\xFF")) return utf16ToUtf8(body.substr(2), true);
  return repairUtf8(body);
}

std::string replyText(Platform& platform, const HttpReply& reply) {
  return decodeReplyText(platform, reply.body, reply.contentType);
}

}  // namespace qmx
