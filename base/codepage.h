// The system's single-byte code page (Windows-1252) and UTF-8, the control's
// text. Every byte 0-255 round-trips: the five bytes Windows-1252 leaves
// unassigned map to U+0081, U+008D, U+008F, U+0090 and U+009D, as Windows maps them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// UTF-8 text of single-byte text. Never fails.
std::string singleByteToUtf8(std::string_view bytes);
// The size of singleByteToUtf8(bytes), and the same text written to `out`, which
// has room for that many bytes and kUtf8WriteSlack more (written over, not part
// of the text); returns the end of the text. For callers that convert into a
// buffer of their own.
inline constexpr std::size_t kUtf8WriteSlack = 3;
std::size_t singleByteUtf8Size(std::string_view bytes);
char* writeSingleByteAsUtf8(std::string_view bytes, char* out);

// Single-byte text of UTF-8 text. Throws AutomationError 5 when a character has no
// byte in the code page or the UTF-8 is malformed.
std::string utf8ToSingleByte(std::string_view text);

// As utf8ToSingleByte, but a character outside the code page becomes '?' (as the
// ANSI conversion of the platform does for registry paths).
std::string utf8ToSingleByteLossy(std::string_view text);

// As utf8ToSingleByte, for XML text that the control writes to its own files: a
// character outside the code page becomes a numeric character reference "&#N;" in
// text and attribute values. Throws AutomationError 5 for such a character in a
// name, CDATA, a comment or a declaration, where no reference can stand for it.
std::string xmlUtf8ToSingleByte(std::string_view xml);

// xmlUtf8ToSingleByte for text that arrives in pieces (a document serialised
// straight to a file), each piece split anywhere, even inside a character or a
// markup word; the bytes are the same as for the whole text at once.
class XmlSingleByteEncoder {
 public:
  // Appends the code page's bytes of the next piece to out. Throws
  // AutomationError 5 as xmlUtf8ToSingleByte does.
  void feed(std::string_view piece, std::string& out);
  // Ends the text; throws AutomationError 5 when it stopped inside a character.
  void finish() const;

 private:
  enum class State { Text, LessThan, Bang, BangDash, CdataOpening, Tag, Value, Literal };
  // Both write at `out` and return the end of what they wrote.
  char* takeAscii(char c, char* out);
  char* takeCharacter(char32_t cp, char* out);
  void encode(std::string_view piece, std::size_t i, char*& out);

  State state_ = State::Text;
  std::string_view literalEnd_;  // what ends the comment, CDATA, declaration or instruction
  std::size_t matched_ = 0;      // of literalEnd_, or of "<![CDATA[" while opening
  std::string partial_;          // the first bytes of a character split between pieces
};

// The code page byte of one Unicode code point; nullopt when it has none.
std::optional<unsigned char> codePointToSingleByte(char32_t cp);
// The Unicode code point of one code page byte.
char32_t singleByteToCodePoint(unsigned char byte);

}  // namespace qmx
