// Small text helpers for protocol words, names and numbers written in ASCII:
// letter case folded for A-Z only (whatever the locale), blanks trimmed, hex digits.
// Shared by the library, qmxhost and qmx-server so that all of them agree.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// The blanks a runtime's numeric reading tolerates around a number.
inline constexpr std::string_view kBlanks = " \t\r\n\v\f";

// True when two texts are equal with A-Z folded to a-z. Never fails.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// True when text starts with prefix, A-Z folded. Never fails.
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);
// The text with A-Z turned to a-z (or a-z to A-Z); other bytes stay. Never fails.
std::string lowerAscii(std::string_view text);
std::string upperAscii(std::string_view text);

// The text without the given characters at either end. Never fails.
std::string_view trimmed(std::string_view text, std::string_view blanks = kBlanks);

// The value of a hexadecimal digit (either case); -1 when it is none.
int hexDigitValue(char c);
// Upper-case hexadecimal digits of a byte, two of them.
std::string hexByte(unsigned char byte);
// Upper-case hexadecimal digits of a number, at least width of them.
std::string hexNumber(unsigned long value, int width);

// The number of bytes before the first one above 0x7F (size when there is none),
// eight at a time, since most text the control moves is ASCII. Never fails.
std::size_t asciiPrefixLength(const char* text, std::size_t size);

}  // namespace qmx
