#include "base/codepage.h"

#include "base/automation_error.h"
#include "base/utf8.h"

namespace qmx {
namespace {

// Windows-1252 bytes 0x80-0x9F; the unassigned ones map to the C1 control of the
// same number, as Windows does.
constexpr char32_t kHighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum class Unmappable { Fail, Question };

// Decodes the UTF-8 sequence starting at text[i] into cp; returns its length.
// Throws AutomationError 5 on a sequence that is not well-formed UTF-8.
std::size_t decodeOne(std::string_view text, std::size_t i, char32_t& cp) {
  std::size_t next = i;
  const auto decoded = decodeUtf8(text, next);
  if (!decoded) throw AutomationError(kInvalidProcedureCall);
  cp = *decoded;
  return next - i;
}

std::string encode(std::string_view text, Unmappable mode) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {  // the common case, kept fast for large documents
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    char32_t cp = 0;
    i += decodeOne(text, i, cp);
    if (auto b = codePointToSingleByte(cp)) {
      out.push_back(static_cast<char>(*b));
    } else if (mode == Unmappable::Question) {
      out.push_back('?');
    } else {
      throw AutomationError(kInvalidProcedureCall);
    }
  }
  return out;
}

}  // namespace

std::optional<unsigned char> codePointToSingleByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (int k = 0; k < 32; ++k) {
    if (kHighTable[k] == cp) return static_cast<unsigned char>(0x80 + k);
  }
  return std::nullopt;
}

char32_t singleByteToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighTable[byte - 0x80];
  return byte;
}

std::string singleByteToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  // Most bytes are ASCII: copy them in runs, not one by one.
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t end = i;
    while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) < 0x80) ++end;
    out.append(bytes, i, end - i);
    if (end == bytes.size()) break;
    appendUtf8(out, singleByteToCodePoint(static_cast<unsigned char>(bytes[end])));
    i = end + 1;
  }
  return out;
}

std::string utf8ToSingleByte(std::string_view text) { return encode(text, Unmappable::Fail); }

std::string utf8ToSingleByteLossy(std::string_view text) {
  return encode(text, Unmappable::Question);
}

std::string xmlUtf8ToSingleByte(std::string_view xml) {
  // A reference stands for its character only in text and attribute values. In a
  // name it would break the file, and in CDATA, a comment or a declaration it
  // would come back as the reference's own letters, so there the write fails as
  // for any other text file.
  enum class Where { Text, Tag, Value, Literal };
  Where where = Where::Text;
  std::string_view literalEnd;
  std::string out;
  out.reserve(xml.size());
  std::size_t i = 0;
  while (i < xml.size()) {
    const char c = xml[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      if (where == Where::Text && c == '<') {
        where = Where::Literal;
        if (xml.substr(i, 9) == "<![CDATA[") {
          literalEnd = "]]>";
        } else if (xml.substr(i, 4) == "<!--") {
          literalEnd = "-->";
        } else if (xml.substr(i, 2) == "<?") {
          literalEnd = "?>";
        } else if (xml.substr(i, 2) == "<!") {
          literalEnd = ">";
        } else {
          where = Where::Tag;
        }
      } else if (where == Where::Tag && (c == '"' || c == '>')) {
        where = c == '"' ? Where::Value : Where::Text;
      } else if (where == Where::Value && c == '"') {
        where = Where::Tag;
      } else if (where == Where::Literal && xml.substr(i, literalEnd.size()) == literalEnd) {
        out.append(literalEnd);
        i += literalEnd.size();
        where = Where::Text;
        continue;
      }
      out.push_back(c);
      ++i;
      continue;
    }
    char32_t cp = 0;
    i += decodeOne(xml, i, cp);
    if (auto b = codePointToSingleByte(cp)) {
      out.push_back(static_cast<char>(*b));
    } else if (where == Where::Text || where == Where::Value) {
      out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    } else {
      throw AutomationError(kInvalidProcedureCall);
    }
  }
  return out;
}

}  // namespace qmx
