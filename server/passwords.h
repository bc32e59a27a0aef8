// Password hashing for the service's users: yescrypt through libxcrypt, so the
// database never holds a password in clear text.
#pragma once

#include <string>
#include <string_view>

namespace qmx::server {

// A new salted yescrypt hash of the password. Throws std::runtime_error when the
// library cannot make one (no randomness, or a password with a NUL character).
std::string hashPassword(std::string_view password);

// True when the password matches the stored hash; false for a malformed hash or a
// password with a NUL character.
bool verifyPassword(std::string_view password, const std::string& storedHash);

}  // namespace qmx::server
