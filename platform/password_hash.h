// Salted one-way hashes of passwords, so that the credential record on disk never
// holds a password in clear text.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// A new salted hash of the password ("$y$..."). Throws AutomationError 5 when the
// system cannot make one.
std::string hashPassword(std::string_view password);

// True when the text has the exact form of a hash that hashPassword makes.
bool isPasswordHash(std::string_view text);

// True when the password hashes to the stored hash; false on any failure.
bool passwordMatchesHash(std::string_view password, std::string_view storedHash);

}  // namespace qmx
