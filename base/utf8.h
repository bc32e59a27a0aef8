// UTF-8, the control's text, with one rule everywhere: shortest form only, no
// surrogates, nothing above U+10FFFF. Also UTF-16 to UTF-8 for the few places
// that meet UTF-16 bytes (registry exports, replies with a byte-order mark).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// The character starting at text[pos], advancing pos past it; nullopt (pos left
// alone) when no well-formed sequence starts there.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos);

// True when the whole text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The code points of the text. Throws AutomationError 5 when it is not well-formed.
std::u32string utf8ToCodePoints(std::string_view text);

// Valid UTF-8 of possibly malformed UTF-8: every byte that does not belong to a
// well-formed sequence becomes U+FFFD. Never fails.
std::string repairUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t cp);

// UTF-8 of UTF-16 code units in the given byte order; unpaired surrogates and an
// odd last byte become U+FFFD. Never fails.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

}  // namespace qmx
