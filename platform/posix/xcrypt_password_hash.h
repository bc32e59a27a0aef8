// Password hashes through libxcrypt's yescrypt: the POSIX backend's hashes, and
// qmx-server's for its users, so both agree on one format ("$y$...").
#pragma once

#include <string>
#include <string_view>

namespace qmx::posix {

// A new salted yescrypt hash. Throws AutomationError 5 when none can be made (no
// randomness, or a password holding a NUL character).
std::string yescryptHash(std::string_view password);

// True when the text has the exact form of a yescrypt hash.
bool isYescryptHash(std::string_view text);

// True when the password hashes to the stored hash; false on any failure.
bool matchesYescryptHash(std::string_view password, std::string_view storedHash);

}  // namespace qmx::posix
