// SHA-256 on Linux: OpenSSL's libcrypto.
#include "base/sha256.h"

#include <openssl/evp.h>

#include "base/automation_error.h"

namespace qmx {

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1 || length != 32) {
    throw AutomationError(kInvalidProcedureCall, standardErrorText(kInvalidProcedureCall) + ": no SHA-256 digest");
  }
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += "0123456789abcdef"[digest[i] >> 4];
    hex += "0123456789abcdef"[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace qmx
