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

// How a file's bytes become its text.
struct Reading {
  enum Kind { AsUtf8, AsCodePage, Decoded } kind;
  std::size_t skip = 0;  // a byte-order mark before UTF-8
  std::string decoded;   // the text, for Decoded
};

Reading utf8OrCodePage(std::string_view bytes) {
  return {isValidUtf8(bytes) ? Reading::AsUtf8 : Reading::AsCodePage, 0, {}};
}

Reading howToRead(Platform& platform, std::string_view bytes) {
  if (startsWith(bytes, "\xEF\xBB\xBF")) return {Reading::AsUtf8, 3, {}};
  if (startsWith(bytes, "\xFF\xFE")) return {Reading::Decoded, 0, utf16ToUtf8(bytes.substr(2), false)};
  if (startsWith(bytes, "\xFE\xFF")) return {Reading::Decoded, 0, utf16ToUtf8(bytes.substr(2), true)};

  const std::string encoding = declaredXmlEncoding(bytes);
  if (encoding.empty() || encoding == "utf-8" || encoding == "utf8") return utf8OrCodePage(bytes);
  if (isCodePageLabel(encoding)) return {Reading::AsCodePage, 0, {}};
  if (auto text = platform.decodeCharset(bytes, encoding)) return {Reading::Decoded, 0, repairUtf8(*text)};
  return utf8OrCodePage(bytes);
}

XmlTextBuffer copied(std::string_view text) {
  XmlTextBuffer buffer(text.size());
  std::copy(text.begin(), text.end(), buffer.data());
  return buffer;
}

}  // namespace

std::string xmlFileText(Platform& platform, std::string_view bytes) {
  Reading reading = howToRead(platform, bytes);
  switch (reading.kind) {
    case Reading::AsUtf8: return std::string(bytes.substr(reading.skip));
    case Reading::AsCodePage: return singleByteToUtf8(bytes);
    case Reading::Decoded: break;
  }
  return std::move(reading.decoded);
}

XmlTextBuffer xmlFileTextBuffer(Platform& platform, std::string_view bytes) {
  const Reading reading = howToRead(platform, bytes);
  switch (reading.kind) {
    case Reading::AsUtf8: return copied(bytes.substr(reading.skip));
    case Reading::AsCodePage: {
      XmlTextBuffer buffer(singleByteUtf8Size(bytes), kUtf8WriteSlack);
      writeSingleByteAsUtf8(bytes, buffer.data());
      return buffer;
    }
    case Reading::Decoded: break;
  }
  return copied(reading.decoded);
}

}  // namespace qmx
