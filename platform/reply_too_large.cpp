#include "platform/reply_too_large.h"

namespace qmx {

AutomationError replyTooLargeError(std::int32_t transportCode, std::uint64_t cap, const std::string& where) {
  return AutomationError(-transportCode,
                         "The reply is larger than " + std::to_string(cap) + " bytes and was refused (" + where + ")");
}

}  // namespace qmx
