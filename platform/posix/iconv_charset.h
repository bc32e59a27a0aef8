// Character sets through the C library's iconv, for replies in character sets
// the control does not decode itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx::posix {

// The bytes, taken as text in the named character set, as UTF-8; a byte sequence
// that cannot be decoded becomes U+FFFD. nullopt when iconv does not know the set.
std::optional<std::string> iconvToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace qmx::posix
