#include "store/xml_file_text.h"

#include <array>
#include <algorithm>

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "base/xml_text.h"

namespace qmx {
namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool isCodePageLabel(std::string_view label) {
  static constexpr std::array<std::string_view, 9> kLabels = {
      "windows-1252", "cp1252", "x-cp1252", "iso-8859-1", "iso8859-1", "latin1", "l1", "us-ascii", "ascii"};
  return std::find(kLabels.begin(), kLabels.end(), label) != kLabels.end();
}

std::string utf8OrCodePage(std::string_view bytes) {
  return isValidUtf8(bytes) ? std::string(bytes) : singleByteToUtf8(bytes);
}

}  // namespace

std::string xmlFileText(Platform& platform, std::string_view bytes) {
  if (startsWith(bytes, "\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  if (startsWith(bytes, "\xFF\xFE")) return utf16ToUtf8(bytes.substr(2), false);
  if (startsWith(bytes, "\xFE\xFF")) return utf16ToUtf8(bytes.substr(2), true);

  const std::string encoding = declaredXmlEncoding(bytes);
  if (encoding.empty() || encoding == "utf-8" || encoding == "utf8") return utf8OrCodePage(bytes);
  if (isCodePageLabel(encoding)) return singleByteToUtf8(bytes);
  if (auto text = platform.decodeCharset(bytes, encoding)) return repairUtf8(*text);
  return utf8OrCodePage(bytes);
}

}  // namespace qmx
