// The string cipher behind FileEncodeAndDecode: a keystream from the host
// runtime's random-number generator XORed over the single-byte codes of a text,
// so that the same call with the same key scrambles and unscrambles.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// Marks an escape pair in scrambled text: the next character, code 10 or 11,
// stands for code 0 or 1.
inline constexpr char kEscapeMarker = '\x01';

// How the keystream passes over the draws it discards.
enum class Stepping {
  Jump,      // one affine jump per skip
  OneByOne,  // every discarded value drawn; the plain reference for the jump
};

// Single-byte text with every escape pair replaced by the character it stands
// for (the code after the marker minus 10). Throws AutomationError 5 when a
// marker ends the text, is followed by another marker or by a code below 10.
std::string resolveEscapePairs(std::string_view scrambled);

// Scrambles single-byte text (escape pairs already resolved) with a single-byte
// key; the result is escaped so that it holds no code 0 and code 1 only as a
// marker. Empty text gives empty text. Throws AutomationError 5 when the key is
// empty and the text is not.
std::string scrambleCodes(std::string_view text, std::string_view key,
                          Stepping stepping = Stepping::Jump);

// The whole method on UTF-8 text: scrambles or unscrambles the input with the
// key. The input is first rewritten in place with its escape pairs resolved
// (also when the scrambling then fails on an empty key). Throws AutomationError
// 5 for a character outside the single-byte code page (input or key, checked
// before anything is rewritten), for a malformed escape pair, and for an empty
// key with non-empty text.
std::string fileEncodeAndDecode(std::string& inputString, const std::string& passwordKey);

}  // namespace qmx
