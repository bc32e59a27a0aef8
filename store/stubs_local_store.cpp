// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"

namespace qmx {
[[noreturn]] static void notBuilt_Store(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
std::string XMLLoad::getKey() { notBuilt_Store("getKey"); }
}  // namespace qmx
