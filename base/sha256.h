// SHA-256 through the system's own cryptography: OpenSSL's libcrypto on Linux,
// BCrypt on Windows; each platform's source stays out of the other's build.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// The digest of the bytes as 64 lowercase hexadecimal digits. Throws
// AutomationError 5 when the library cannot make one.
std::string sha256Hex(std::string_view bytes);

}  // namespace qmx
