// The credential record "c:\123.xml" that the last successful online login
// leaves on drive C, so that the same user can log in while offline. It holds a
// hash of the password, never the password, and only its owner may read it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace qmx {

inline constexpr const char* kCredentialRecordPath = "c:\\123.xml";

struct CredentialRecord {
  std::string userName;
  std::string password;  // a hash, or clear text in a record written before hashing
  std::string levelText;
};

// The record's bytes as single-byte text, values escaped so that any name reads
// back exactly. Throws AutomationError 5 when a value cannot be written.
std::string credentialRecordBytes(const std::string& userName, const std::string& passwordHash,
                                  std::int16_t level);

// Replaces the record whole, readable by its owner only. Throws the platform's
// AutomationError (76, 70, 61); the previous record then stays.
void writeCredentialRecord(Platform& platform, const std::string& bytes);

// Reads the record. Throws 91 when it is missing, unreadable, not well-formed or
// lacks an element.
CredentialRecord readCredentialRecord(Platform& platform);

// True when the password is the record's: through the platform's hash, or as
// text for a record of clear text. Throws 70 for a record holding a hash this
// platform cannot check (another scheme, or a damaged one); false on any other
// failure.
bool passwordMatchesRecord(Platform& platform, const CredentialRecord& record, const std::string& password);

}  // namespace qmx
