// The error of an HTTP reply refused for its size, in the same words whichever
// transport refused it.
#pragma once

#include <cstdint>
#include <string>

#include "base/automation_error.h"

namespace qmx {

// The AutomationError for a reply over `cap` bytes from `where` (an address
// fit for messages): numbered minus the transport's own code. Never fails.
AutomationError replyTooLargeError(std::int32_t transportCode, std::uint64_t cap, const std::string& where);

}  // namespace qmx
