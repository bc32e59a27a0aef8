// Conversion of text in a named character set to UTF-8, for replies in
// character sets the code page module does not cover (UTF-16, ISO-8859-15, ...).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// The bytes, taken as text in the named character set, as UTF-8; a byte sequence
// that cannot be decoded becomes U+FFFD. nullopt when the character set is unknown.
std::optional<std::string> charsetToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace qmx
