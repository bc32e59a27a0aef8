#include "base/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "base/ascii_text.h"
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

// The byte of a two-byte sequence for U+00A0-U+00FF (the usual accented letters,
// which are their own bytes) starting at p[i]; -1 for anything else.
int latin1LetterAt(const unsigned char* p, std::size_t i, std::size_t size) {
  if ((p[i] != 0xC2 && p[i] != 0xC3) || i + 1 >= size || (p[i + 1] & 0xC0) != 0x80) return -1;
  const unsigned cp = ((p[i] & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
  return cp >= 0xA0 ? static_cast<int>(cp) : -1;
}

std::string encode(std::string_view text, Unmappable mode) {
  // The single-byte text is never longer than its UTF-8.
  std::string out(text.size(), '\0');
  char* end = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t run = asciiPrefixLength(text.data() + i, text.size() - i);
    std::memcpy(end, p + i, run);
    end += run;
    i += run;
    if (i == text.size()) break;
    if (const int letter = latin1LetterAt(p, i, text.size()); letter >= 0) {
      *end++ = static_cast<char>(letter);
      i += 2;
      continue;
    }
    char32_t cp = 0;
    i += decodeOne(text, i, cp);
    if (auto b = codePointToSingleByte(cp)) {
      *end++ = static_cast<char>(*b);
    } else if (mode == Unmappable::Question) {
      *end++ = '?';
    } else {
      throw AutomationError(kInvalidProcedureCall);
    }
  }
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

// The UTF-8 bytes of every code page byte, worked out once; four bytes in all, so
// that one copy moves any of them.
struct Utf8OfByte {
  char bytes[3] = {};
  unsigned char size = 0;
};

const std::array<Utf8OfByte, 256>& utf8OfBytes() {
  static const std::array<Utf8OfByte, 256> table = [] {
    std::array<Utf8OfByte, 256> t{};
    for (int b = 0; b < 256; ++b) {
      std::string utf8;
      appendUtf8(utf8, singleByteToCodePoint(static_cast<unsigned char>(b)));
      t[b].size = static_cast<unsigned char>(utf8.size());
      std::memcpy(t[b].bytes, utf8.data(), utf8.size());
    }
    return t;
  }();
  return table;
}

// True when one of the eight bytes at p is above 0x7F.
bool hasHighByte(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return (word & 0x8080808080808080ull) != 0;
}

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that cannot lead.
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Per state of the XML encoder, the bytes that end a run copied unchanged.
struct StopBytes {
  std::array<bool, 256> text{}, tag{}, value{};
  StopBytes() {
    for (int b = 0x80; b < 256; ++b) text[b] = tag[b] = value[b] = true;
    text['<'] = true;
    tag['"'] = tag['>'] = true;
    value['"'] = true;
  }
};

const StopBytes& stopBytes() {
  static const StopBytes stops;
  return stops;
}

constexpr std::string_view kCdataOpening = "<![CDATA[";

// Single-byte text converted at a time through a buffer on the stack.
constexpr std::size_t kChunk = 4096;

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

std::size_t singleByteUtf8Size(std::string_view bytes) {
  const auto& table = utf8OfBytes();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t size = n;
  std::size_t i = 0;
  while (i < n) {
    if (n - i >= 8 && !hasHighByte(p + i)) {
      i += 8;
      continue;
    }
    size += table[p[i]].size - 1u;
    ++i;
  }
  return size;
}

char* writeSingleByteAsUtf8(std::string_view bytes, char* out) {
  static_assert(sizeof(Utf8OfByte) == 4);
  const auto& table = utf8OfBytes();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Most text is ASCII: eight bytes at a time where it is.
    if (n - i >= 8 && !hasHighByte(p + i)) {
      std::memcpy(out, p + i, 8);
      out += 8;
      i += 8;
      continue;
    }
    // Elsewhere (scrambled text), byte by byte without a branch: all four bytes
    // of the entry are copied, and the pointer moves by the character's size.
    for (const std::size_t stop = std::min(n, i + 8); i < stop; ++i) {
      const Utf8OfByte& utf8 = table[p[i]];
      std::memcpy(out, &utf8, 4);
      out += utf8.size;
    }
  }
  return out;
}

std::string singleByteToUtf8(std::string_view bytes) {
  // Converted through a small buffer and appended: no zero-filled copy of a
  // large text, and the string is sized from the text's own share of ASCII.
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  char buffer[3 * kChunk + kUtf8WriteSlack];
  for (std::size_t i = 0; i < bytes.size(); i += kChunk) {
    const char* end = writeSingleByteAsUtf8(bytes.substr(i, kChunk), buffer);
    out.append(buffer, static_cast<std::size_t>(end - buffer));
  }
  return out;
}

std::string utf8ToSingleByte(std::string_view text) { return encode(text, Unmappable::Fail); }

std::string utf8ToSingleByteLossy(std::string_view text) {
  return encode(text, Unmappable::Question);
}

std::string xmlUtf8ToSingleByte(std::string_view xml) {
  XmlSingleByteEncoder encoder;
  std::string out;
  out.reserve(xml.size());
  // In slices, so that the room each piece needs stays small.
  constexpr std::size_t kSlice = 64 * 1024;
  for (std::size_t i = 0; i < xml.size(); i += kSlice) encoder.feed(xml.substr(i, kSlice), out);
  encoder.finish();
  return out;
}

// A reference stands for its character only in text and attribute values. In a
// name it would break the file, and in CDATA, a comment or a declaration it would
// come back as the reference's own letters, so there the write fails as for any
// other text file.
char* XmlSingleByteEncoder::takeCharacter(char32_t cp, char* out) {
  // Markup words are ASCII: any other character settles what a "<" began.
  switch (state_) {
    case State::LessThan: state_ = State::Tag; break;
    case State::Bang:
    case State::BangDash:
    case State::CdataOpening: state_ = State::Literal, literalEnd_ = ">", matched_ = 0; break;
    case State::Literal: matched_ = 0; break;
    default: break;
  }
  if (auto b = codePointToSingleByte(cp)) {
    *out++ = static_cast<char>(*b);
  } else if (state_ == State::Text || state_ == State::Value) {
    const std::string reference = "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    out = std::copy(reference.begin(), reference.end(), out);
  } else {
    throw AutomationError(kInvalidProcedureCall);
  }
  return out;
}

char* XmlSingleByteEncoder::takeAscii(char c, char* out) {
  *out++ = c;
  for (;;) {  // a character that settles a pending "<" is then taken in the settled state
    switch (state_) {
      case State::Text:
        if (c == '<') state_ = State::LessThan;
        return out;
      case State::LessThan:
        if (c == '!') {
          state_ = State::Bang;
        } else if (c == '?') {
          state_ = State::Literal, literalEnd_ = "?>", matched_ = 1;
        } else {
          state_ = State::Tag;
          continue;
        }
        return out;
      case State::Bang:
        if (c == '-') {
          state_ = State::BangDash;
        } else if (c == '[') {
          state_ = State::CdataOpening, matched_ = 3;
        } else {
          state_ = State::Literal, literalEnd_ = ">", matched_ = 0;
          continue;
        }
        return out;
      case State::BangDash:
        if (c == '-') {
          state_ = State::Literal, literalEnd_ = "-->", matched_ = 2;
          return out;
        }
        state_ = State::Literal, literalEnd_ = ">", matched_ = 0;
        continue;
      case State::CdataOpening:
        if (c == kCdataOpening[matched_]) {
          if (++matched_ == kCdataOpening.size()) state_ = State::Literal, literalEnd_ = "]]>", matched_ = 0;
          return out;
        }
        state_ = State::Literal, literalEnd_ = ">", matched_ = 0;
        continue;
      case State::Tag:
        if (c == '"') state_ = State::Value;
        else if (c == '>') state_ = State::Text;
        return out;
      case State::Value:
        if (c == '"') state_ = State::Tag;
        return out;
      case State::Literal:
        if (c == literalEnd_[matched_]) {
          if (++matched_ == literalEnd_.size()) state_ = State::Text;
          return out;
        }
        // The longest end of what was seen that still begins the closing word
        // ("]]]>" closes a CDATA section).
        {
          std::string seen(literalEnd_.substr(0, matched_));
          seen.push_back(c);
          matched_ = 0;
          for (std::size_t k = seen.size(); k > 0; --k) {
            if (literalEnd_.substr(0, k) == std::string_view(seen).substr(seen.size() - k)) {
              matched_ = k;
              break;
            }
          }
        }
        return out;
    }
  }
}

void XmlSingleByteEncoder::feed(std::string_view piece, std::string& out) {
  // Written through a pointer into room made first: no character grows by more
  // than a reference ("&#2047;" for two bytes), and a character begun in the
  // previous piece adds at most ten bytes more.
  const std::size_t base = out.size();
  out.resize(base + 4 * piece.size() + 16);
  char* end = out.data() + base;
  try {
    std::size_t i = 0;
    if (!partial_.empty()) {  // finish the character the previous piece began
      const std::size_t length = sequenceLength(static_cast<unsigned char>(partial_[0]));
      const std::size_t take = std::min(length - partial_.size(), piece.size());
      partial_.append(piece.substr(0, take));
      i = take;
      if (partial_.size() == length) {
        char32_t cp = 0;
        decodeOne(partial_, 0, cp);
        partial_.clear();
        end = takeCharacter(cp, end);
      }
    }
    if (partial_.empty()) encode(piece, i, end);
  } catch (...) {
    out.resize(base);
    throw;
  }
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void XmlSingleByteEncoder::encode(std::string_view piece, std::size_t i, char*& out) {
  const StopBytes& stops = stopBytes();
  const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
  const std::size_t size = piece.size();
  while (i < size) {
    // Runs of plain text, tag and value bytes are copied as they are scanned.
    const std::array<bool, 256>* stop = state_ == State::Text  ? &stops.text
                                        : state_ == State::Tag ? &stops.tag
                                        : state_ == State::Value ? &stops.value
                                                                 : nullptr;
    if (stop) {
      while (i < size && !(*stop)[bytes[i]]) *out++ = static_cast<char>(bytes[i++]);
      if (i == size) break;
    }
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      // The stops of the three common states, taken here rather than in takeAscii.
      if (state_ == State::Tag && lead == '"') {
        state_ = State::Value;
        *out++ = '"';
      } else if (state_ == State::Value || (state_ == State::Tag && lead == '>')) {
        state_ = state_ == State::Value ? State::Tag : State::Text;
        *out++ = static_cast<char>(lead);
      } else {
        out = takeAscii(static_cast<char>(lead), out);
      }
      ++i;
      continue;
    }
    // In text, values and tags such a letter settles nothing and is its own byte.
    if (state_ == State::Text || state_ == State::Value || state_ == State::Tag) {
      if (const int letter = latin1LetterAt(bytes, i, size); letter >= 0) {
        *out++ = static_cast<char>(letter);
        i += 2;
        continue;
      }
    }
    const std::size_t length = sequenceLength(lead);
    if (length == 0) throw AutomationError(kInvalidProcedureCall);
    if (i + length > size) {
      partial_.assign(piece.substr(i));
      return;
    }
    char32_t cp = 0;
    i += decodeOne(piece, i, cp);
    out = takeCharacter(cp, out);
  }
}

void XmlSingleByteEncoder::finish() const {
  if (!partial_.empty()) throw AutomationError(kInvalidProcedureCall);
}

}  // namespace qmx
