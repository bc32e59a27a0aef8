#include "server/passwords.h"

#include <crypt.h>

#include <memory>
#include <optional>
#include <stdexcept>

namespace qmx::server {

namespace {

// crypt_rn keeps its work area in the caller's buffer, so concurrent requests are safe.
std::optional<std::string> cryptWith(std::string_view password, const char* setting) {
  if (password.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string phrase(password);
  auto data = std::make_unique<crypt_data>();
  const char* out = crypt_rn(phrase.c_str(), setting, data.get(), sizeof(crypt_data));
  // A failed call returns null or a text starting with "*".
  if (!out || out[0] == '*') return std::nullopt;
  return std::string(out);
}

}  // namespace

std::string hashPassword(std::string_view password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) {
    throw std::runtime_error("cannot make a password salt");
  }
  auto hash = cryptWith(password, setting);
  if (!hash) throw std::runtime_error("cannot hash the password");
  return *hash;
}

bool verifyPassword(std::string_view password, const std::string& storedHash) {
  const auto computed = cryptWith(password, storedHash.c_str());
  if (!computed || computed->size() != storedHash.size()) return false;
  // Compare in constant time so that the reply time tells nothing about the hash.
  unsigned char diff = 0;
  for (size_t i = 0; i < storedHash.size(); ++i) {
    diff |= static_cast<unsigned char>((*computed)[i] ^ storedHash[i]);
  }
  return diff == 0;
}

}  // namespace qmx::server
