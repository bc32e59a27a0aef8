// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"

namespace qmx {
[[noreturn]] static void notBuilt_Net(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
bool XMLLoad::Login(const std::string&, const std::string&) { notBuilt_Net("Login"); }
}  // namespace qmx
