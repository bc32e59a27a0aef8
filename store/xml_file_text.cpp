#include "store/xml_file_text.h"

#include <algorithm>

#include "base/ascii_text.h"
#include "base/charset_labels.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "base/xml_text.h"

namespace qmx {
namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

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
  // A declaration read as ASCII cannot be UTF-16: without a byte-order mark, a
  // file claiming it is read like one that claims nothing.
  const std::optional<Charset> known = charsetForLabel(encoding);
  if (encoding.empty() || known == Charset::Utf8 || known == Charset::Utf16LE || known == Charset::Utf16BE) {
    return utf8OrCodePage(bytes);
  }
  if (known == Charset::Windows1252) return {Reading::AsCodePage, 0, {}};
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
