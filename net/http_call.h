// HTTPCall: the control's general request to a service page, whose outcome the
// control records in its ErrorNumber and ErrorDesc properties.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/xml_text.h"
#include "net/service_connection.h"

namespace qmx {

// Where a call records its outcome, in the order the host is told of it.
struct CallOutcome {
  std::function<void(std::int16_t number)> setErrorNumber;
  std::function<void(const std::string& description)> setErrorDesc;
};

// Posts nothing to sAction with the access value appended and returns the reply
// document when its status is "Success" (number 0 and empty text recorded), else
// nullptr with the failure's number and text recorded: the envelope's, or the
// error that kept the reply from being read (transport failures as negative
// numbers). Never throws an AutomationError.
XmlDocument httpCall(ServiceConnection& connection, const std::string& sAction, const CallOutcome& outcome);

}  // namespace qmx
