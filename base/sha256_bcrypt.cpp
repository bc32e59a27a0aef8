// SHA-256 on Windows: BCrypt.
#include "base/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstddef>

#include "base/automation_error.h"
#include "base/unique_handle.h"

namespace qmx {
namespace {

void closeAlgorithm(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
void closeHash(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }

[[noreturn]] void fail() {
  throw AutomationError(kInvalidProcedureCall, standardErrorText(kInvalidProcedureCall) + ": no SHA-256 digest");
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) fail();
  const UniqueHandle<BCRYPT_ALG_HANDLE, closeAlgorithm> algorithm(rawAlgorithm);
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0))) fail();
  const UniqueHandle<BCRYPT_HASH_HANDLE, closeHash> hash(rawHash);
  // In pieces a ULONG can count; BCrypt takes a non-const buffer it does not write.
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t piece = std::min<std::size_t>(bytes.size() - at, 1u << 30);
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)),
                                         static_cast<ULONG>(piece), 0)))
      fail();
    at += piece;
  }
  unsigned char digest[32];
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) fail();
  std::string hex;
  for (const unsigned char b : digest) {
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 0xF];
  }
  return hex;
}

}  // namespace qmx
