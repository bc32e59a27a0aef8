#include "base/utf8.h"

#include "base/ascii_text.h"
#include "base/automation_error.h"

namespace qmx {

std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char b = p[pos];
  if (b < 0x80) {
    ++pos;
    return b;
  }
  // The allowed range of the second byte rules out overlong forms, surrogates and
  // values above U+10FFFF in one place.
  std::size_t length = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) length = 2, cp = b & 0x1F;
  else if (b == 0xE0) length = 3, lo = 0xA0, cp = b & 0x0F;
  else if (b >= 0xE1 && b <= 0xEC) length = 3, cp = b & 0x0F;
  else if (b == 0xED) length = 3, hi = 0x9F, cp = b & 0x0F;
  else if (b >= 0xEE && b <= 0xEF) length = 3, cp = b & 0x0F;
  else if (b == 0xF0) length = 4, lo = 0x90, cp = b & 0x07;
  else if (b >= 0xF1 && b <= 0xF3) length = 4, cp = b & 0x07;
  else if (b == 0xF4) length = 4, hi = 0x8F, cp = b & 0x07;
  if (length == 0 || pos + length > text.size()) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = p[pos + k];
    if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) return std::nullopt;
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += length;
  return cp;
}

bool isValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos += asciiPrefixLength(text.data() + pos, text.size() - pos);
    if (pos < text.size() && !decodeUtf8(text, pos)) return false;
  }
  return true;
}

std::u32string utf8ToCodePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto cp = decodeUtf8(text, pos);
    if (!cp) throw AutomationError(kInvalidProcedureCall);
    out.push_back(*cp);
  }
  return out;
}

std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t start = pos;
    if (decodeUtf8(bytes, pos)) {
      out.append(bytes.substr(start, pos - start));
    } else {
      out += "\xEF\xBF\xBD";
      ++pos;
    }
  }
  return out;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size() / 2;
  const auto unit = [&](std::size_t i) -> char32_t {
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    return static_cast<char32_t>(lo | (hi << 8));
  };
  for (std::size_t i = 0; i < n; ++i) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    appendUtf8(out, u);
  }
  if (bytes.size() % 2 != 0) out += "\xEF\xBF\xBD";
  return out;
}

}  // namespace qmx
