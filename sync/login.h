// Login's two halves that reach beyond the wire: turning the login page's reply
// into the credential record, and checking a user against that record offline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/xml_text.h"
#include "platform/platform.h"

namespace qmx {

// The record an accepted online login keeps, and the level it grants.
struct AcceptedLogin {
  std::string recordBytes;
  std::int16_t level = 0;
};

// From the reply of an accepted login (ErrorNumber 0). Throws 91 when there is no
// reply document (a failure reply claiming number 0), 94 when the status has no
// levelNum, 13/6 when it is not a 16-bit number, 5 when the password cannot be
// hashed. Nothing is written.
AcceptedLogin acceptedLogin(Platform& platform, const XmlDocument& reply, const std::string& userName,
                            const std::string& password);

// The level of the credential record when its user name and password are these,
// nullopt when they are not. Throws 91 for a missing or broken record, 13/6 for a
// level that is not a 16-bit number.
std::optional<std::int16_t> offlineLogin(Platform& platform, const std::string& userName,
                                         const std::string& password);

}  // namespace qmx
