#include "store/xml_file_text.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

// Text read from what it was made of: UTF-8 as it lies, or single-byte bytes
// converted a few kilobytes at a time (the whole conversion would be another
// copy of the file). What it was made of is held in pieces that go as they are
// read, so that a check lagging behind the parse does not keep the whole file.
class SourceText {
 public:
  SourceText(std::string owned, std::size_t skip, bool singleByte)
      : raw_(xmlTextSourceInPieces(std::string_view(owned).substr(skip))), singleByte_(singleByte) {}

  std::size_t read(char* out, std::size_t room) {
    if (!singleByte_) return raw_(out, room);
    if (staged_.empty()) {
      char bytes[kPiece];
      const std::size_t got = raw_(bytes, kPiece);
      staged_ = std::string_view(staging_, static_cast<std::size_t>(
                                               writeSingleByteAsUtf8({bytes, got}, staging_) - staging_));
    }
    const std::size_t n = std::min(staged_.size(), room);
    std::memcpy(out, staged_.data(), n);
    staged_.remove_prefix(n);
    return n;
  }

 private:
  static constexpr std::size_t kPiece = 4096;
  XmlTextSource raw_;
  bool singleByte_;
  std::string_view staged_;
  char staging_[3 * kPiece + kUtf8WriteSlack];
};

// The bytes are copied into the source's pieces and go when it returns.
XmlTextSource sourceOf(std::string owned, std::size_t skip, bool singleByte) {
  auto source = std::make_shared<SourceText>(std::move(owned), skip, singleByte);
  return [source](char* out, std::size_t room) { return source->read(out, room); };
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

XmlFileTextToParse xmlFileTextToParse(Platform& platform, std::string bytes) {
  Reading reading = howToRead(platform, bytes);
  switch (reading.kind) {
    case Reading::AsUtf8: {
      XmlTextBuffer text = copied(std::string_view(bytes).substr(reading.skip));
      return {std::move(text), sourceOf(std::move(bytes), reading.skip, false)};
    }
    case Reading::AsCodePage: {
      XmlTextBuffer text(singleByteUtf8Size(bytes), kUtf8WriteSlack);
      writeSingleByteAsUtf8(bytes, text.data());
      return {std::move(text), sourceOf(std::move(bytes), 0, true)};
    }
    case Reading::Decoded: break;
  }
  XmlTextBuffer text = copied(reading.decoded);
  bytes = std::string();  // the decoded text stands in for them
  return {std::move(text), sourceOf(std::move(reading.decoded), 0, false)};
}

}  // namespace qmx
