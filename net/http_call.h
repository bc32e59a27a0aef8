// HTTPCall: the control's general request to a service page, whose outcome the
// control records in its ErrorNumber and ErrorDesc properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/xml_text.h"
#include "net/service_connection.h"

namespace qmx {

// What a call produced, for the control to record: the reply document when its
// status is "Success" (number 0 and empty text), else nullptr with the failure's
// number and text.
struct CallResult {
  XmlDocument document;
  std::int16_t errorNumber = 0;
  std::string errorDesc;
  // The envelope's number when its description then could not be read: the
  // control shows it once before errorNumber replaces it.
  std::optional<std::int16_t> replacedErrorNumber;
};

// Posts nothing to sAction with the access value appended. A failure is the
// envelope's, or the error that kept the reply from being read (transport
// failures as negative numbers). Never throws an AutomationError.
CallResult httpCall(ServiceConnection& connection, Platform& platform, const std::string& sAction);

}  // namespace qmx
