#include "platform/codepage.h"

#include "platform/automation_error.h"

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
// Throws AutomationError 5 on a malformed, overlong or truncated sequence.
std::size_t decodeOne(std::string_view text, std::size_t i, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  const std::size_t extra = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (extra == 0 || i + extra >= text.size()) {
    throw AutomationError(kInvalidProcedureCall);
  }
  cp = lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) throw AutomationError(kInvalidProcedureCall);
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms would smuggle in ASCII ("\xC0\xAF" as "/", "\xC0\x80" as NUL).
  // Surrogates stay accepted: the XML parser writes them for "&#xD800;", and a
  // document holding one must still reach its file as a reference.
  constexpr char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kShortest[extra]) throw AutomationError(kInvalidProcedureCall);
  return 1 + extra;
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

std::string singleByteToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) appendUtf8(out, singleByteToCodePoint(static_cast<unsigned char>(c)));
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

std::u32string utf8ToCodePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    i += decodeOne(text, i, cp);
    out.push_back(cp);
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  try {
    utf8ToCodePoints(text);
    return true;
  } catch (const AutomationError&) {
    return false;
  }
}

}  // namespace qmx
