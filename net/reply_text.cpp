#include "net/reply_text.h"

#include "base/ascii_text.h"
#include "base/charset_labels.h"
#include "base/codepage.h"
#include "base/utf8.h"

namespace qmx {
namespace {

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
  const std::optional<Charset> known = charsetForLabel(charset);
  if (known == Charset::Utf8) {
    if (startsWith(body, kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
    return repairUtf8(body);
  }
  if (known == Charset::Windows1252) return singleByteToUtf8(body);
  if (known == Charset::Utf16LE || known == Charset::Utf16BE) {
    // A byte-order mark outweighs the label's byte order.
    if (startsWith(body, "\xFF\xFE")) return utf16ToUtf8(body.substr(2), false);
    if (startsWith(body, "\xFE\xFF")) return utf16ToUtf8(body.substr(2), true);
    return utf16ToUtf8(body, known == Charset::Utf16BE);
  }
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

namespace qmx {

std::optional<std::string> replyTextUnlessBody(Platform& platform, const HttpReply& reply) {
  const std::string_view body = reply.body;
  const std::string charset = declaredCharset(reply.contentType);
  // Only where decoding comes down to repairing UTF-8 and nothing is stripped.
  const bool utf8 = charset.empty() || charsetForLabel(charset) == Charset::Utf8;
  if (utf8 && !startsWith(body, kUtf8Bom) && !startsWith(body, "\xFF\xFE") && !startsWith(body, "\xFE\xFF") &&
      isValidUtf8(body)) {
    return std::nullopt;
  }
  return replyText(platform, reply);
}

}  // namespace qmx
