// This system's password scheme on Linux: yescrypt through libxcrypt.
#include <crypt.h>

#include <algorithm>
#include <memory>

#include "base/automation_error.h"
#include "password/password_hash.h"
#include "password/password_record.h"

namespace qmx::password {
namespace {

constexpr std::string_view kPrefix = "$y$";

// crypt() with its own work area: the plain form shares a static one.
// A password with a NUL would be hashed only up to it, so it gets no hash at all.
std::string cryptWith(std::string_view password, const std::string& setting) {
  if (password.find('\0') != std::string_view::npos) return {};
  auto data = std::make_unique<crypt_data>();
  const std::string phrase(password);
  const char* out = crypt_rn(phrase.c_str(), setting.c_str(), data.get(), sizeof(crypt_data));
  // A failed crypt may also return a short failure token starting with "*".
  if (!out || out[0] == '*') return {};
  return out;
}

}  // namespace

std::string hashPassword(std::string_view password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(kPrefix.data(), 0, nullptr, 0, setting, sizeof setting))
    throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  std::string hash = cryptWith(password, setting);
  if (hash.empty()) throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  return hash;
}

bool isPasswordHash(std::string_view text) { return hasYescryptForm(text); }

bool passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  const std::string computed = cryptWith(password, std::string(storedHash));
  return !computed.empty() && equalInConstantTime(computed, storedHash);
}

}  // namespace qmx::password
