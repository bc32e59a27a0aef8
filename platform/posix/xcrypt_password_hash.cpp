#include <crypt.h>

#include <algorithm>
#include <memory>

#include "base/automation_error.h"
#include "platform/posix/xcrypt_password_hash.h"

namespace qmx::posix {
namespace {

constexpr std::string_view kPrefix = "$y$";

bool isHashAlphabet(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '/';
}

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

std::string yescryptHash(std::string_view password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(kPrefix.data(), 0, nullptr, 0, setting, sizeof setting))
    throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  std::string hash = cryptWith(password, setting);
  if (hash.empty()) throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  return hash;
}

bool isYescryptHash(std::string_view text) {
  // "$y$" parameters "$" salt "$" hash: four "$" and a non-empty hash part.
  if (text.substr(0, kPrefix.size()) != kPrefix) return false;
  if (std::count(text.begin(), text.end(), '$') != 4) return false;
  const std::string_view hash = text.substr(text.rfind('$') + 1);
  return !hash.empty() && std::all_of(hash.begin(), hash.end(), isHashAlphabet);
}

bool matchesYescryptHash(std::string_view password, std::string_view storedHash) {
  const std::string stored(storedHash);
  const std::string computed = cryptWith(password, stored);
  if (computed.size() != stored.size() || computed.empty()) return false;
  // Compare in full so that the time taken does not hint at the matching prefix.
  unsigned char difference = 0;
  for (std::size_t i = 0; i < stored.size(); ++i)
    difference |= static_cast<unsigned char>(computed[i] ^ stored[i]);
  return difference == 0;
}

}  // namespace qmx::posix
