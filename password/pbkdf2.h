// Password hashes of the Windows platform: PBKDF2-HMAC-SHA256 through BCrypt,
// in the form "$pbkdf2-sha256$ROUNDS$SALT$HASH" (salt and hash in the adapted
// base64 of that common format: "." for "+", no padding), so the record names
// its scheme and other tools can check it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx::password {

inline constexpr std::uint32_t kPbkdf2Rounds = 600000;

// A new hash with a fresh 16-byte random salt. Throws AutomationError 5 when none
// can be made (no randomness, or a password holding a NUL character, which other
// implementations would cut off there).
std::string pbkdf2Hash(std::string_view password);

// True when the text has the exact form of such a hash.
bool isPbkdf2Hash(std::string_view text);

// True when the password hashes to the stored hash; false on any failure,
// including a round count beyond what this backend will spend time on.
bool matchesPbkdf2Hash(std::string_view password, std::string_view storedHash);

// The raw derived key, for checks against published vectors; empty on failure.
std::string pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t rounds,
                         std::size_t length);

}  // namespace qmx::password
