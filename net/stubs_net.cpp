// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"

namespace qmx {
[[noreturn]] static void notBuilt_Net(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
XmlDocument XMLLoad::HTTPCall(const std::string&, const std::string&) { notBuilt_Net("HTTPCall"); }
bool XMLLoad::Login(const std::string&, const std::string&) { notBuilt_Net("Login"); }
HttpSession& XMLLoad::http() { notBuilt_Net("HTTP"); }
std::unique_ptr<HttpSession> PosixPlatform::openHttpSession() { notBuilt_Net("HTTP"); }
}  // namespace qmx
