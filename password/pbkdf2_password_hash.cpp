// This system's password scheme on Windows: PBKDF2-HMAC-SHA256 through BCrypt.
#include "password/pbkdf2.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/automation_error.h"
#include "base/unique_handle.h"
#include "password/password_hash.h"
#include "password/password_record.h"

namespace qmx::password {
namespace {

constexpr std::string_view kPrefix = "$pbkdf2-sha256$";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
// Far above what hashPassword uses, low enough that a forged record cannot
// keep a login busy for hours.
constexpr std::uint32_t kMaxRounds = 10000000;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789./";

std::string encode(std::string_view bytes) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (unsigned char b : bytes) {
    bits = (bits << 8) | b;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += kAlphabet[(bits >> count) & 0x3F];
    }
  }
  if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
  return out;
}

std::optional<std::string> decode(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const char* at = std::find(kAlphabet, kAlphabet + 64, c);
    if (at == kAlphabet + 64) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(at - kAlphabet);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  // Left-over bits must be zero, or two texts would name one hash.
  if (count >= 6 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
  return out;
}

void closeAlgorithm(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
using Algorithm = UniqueHandle<BCRYPT_ALG_HANDLE, closeAlgorithm>;

struct Parsed {
  std::uint32_t rounds;
  std::string salt;
  std::string hash;
};

std::optional<Parsed> parse(std::string_view text) {
  if (text.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  text.remove_prefix(kPrefix.size());
  const auto d1 = text.find('$');
  if (d1 == std::string_view::npos) return std::nullopt;
  const auto d2 = text.find('$', d1 + 1);
  if (d2 == std::string_view::npos || text.find('$', d2 + 1) != std::string_view::npos) return std::nullopt;
  Parsed p{};
  const std::string_view rounds = text.substr(0, d1);
  const auto [end, ec] = std::from_chars(rounds.data(), rounds.data() + rounds.size(), p.rounds);
  if (rounds.empty() || rounds[0] == '0' || ec != std::errc() || end != rounds.data() + rounds.size())
    return std::nullopt;
  auto salt = decode(text.substr(d1 + 1, d2 - d1 - 1));
  auto hash = decode(text.substr(d2 + 1));
  if (!salt || !hash || salt->empty() || hash->size() != kHashBytes) return std::nullopt;
  p.salt = std::move(*salt);
  p.hash = std::move(*hash);
  return p;
}

}  // namespace

std::string pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t rounds,
                         std::size_t length) {
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG)))
    return {};
  const Algorithm algorithm(rawAlgorithm);
  std::string key(length, '\0');
  // BCrypt takes non-const buffers it does not write.
  std::string pw(password), sl(salt);
  const NTSTATUS status = ::BCryptDeriveKeyPBKDF2(
      algorithm.get(), reinterpret_cast<PUCHAR>(pw.data()), static_cast<ULONG>(pw.size()),
      reinterpret_cast<PUCHAR>(sl.data()), static_cast<ULONG>(sl.size()), rounds,
      reinterpret_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()), 0);
  SecureZeroMemory(pw.data(), pw.size());
  return BCRYPT_SUCCESS(status) ? key : std::string();
}

std::string pbkdf2Hash(std::string_view password) {
  if (password.find('\0') != std::string_view::npos)
    throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  std::string salt(kSaltBytes, '\0');
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(salt.data()),
                                        static_cast<ULONG>(salt.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  const std::string hash = pbkdf2Sha256(password, salt, kPbkdf2Rounds, kHashBytes);
  if (hash.size() != kHashBytes) throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  return std::string(kPrefix) + std::to_string(kPbkdf2Rounds) + "$" + encode(salt) + "$" + encode(hash);
}

bool isPbkdf2Hash(std::string_view text) { return parse(text).has_value(); }

bool matchesPbkdf2Hash(std::string_view password, std::string_view storedHash) {
  const auto stored = parse(storedHash);
  if (!stored || stored->rounds > kMaxRounds || password.find('\0') != std::string_view::npos) return false;
  const std::string computed = pbkdf2Sha256(password, stored->salt, stored->rounds, kHashBytes);
  if (computed.size() != kHashBytes) return false;
  return equalInConstantTime(computed, stored->hash);
}

std::string hashPassword(std::string_view password) { return pbkdf2Hash(password); }

// Only what this system can check: a yescrypt record from a Linux machine is a
// hash too, and the credential record refuses it as one.
bool isPasswordHash(std::string_view text) { return isPbkdf2Hash(text); }

bool passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return matchesPbkdf2Hash(password, storedHash);
}

}  // namespace qmx::password
