// Password hashes, so that no password is kept in clear text: yescrypt through
// libxcrypt on Linux (the POSIX backend's and qmx-server's), PBKDF2 through
// BCrypt on Windows. A hash text names its scheme.
#pragma once

#include <string>
#include <string_view>

namespace qmx::password {

// A new salted hash in this system's scheme. Throws AutomationError 5 when none
// can be made (no randomness, or a password holding a NUL character).
std::string hashPassword(std::string_view password);

// True when the text has the exact form of a hash this system makes and checks.
bool isPasswordHash(std::string_view text);

// True when the password hashes to the stored hash; false on any failure.
bool passwordMatchesHash(std::string_view password, std::string_view storedHash);

}  // namespace qmx::password
