// Platform services not built yet.
#include "platform/automation_error.h"
#include "platform/posix/posix_platform.h"

namespace qmx {

std::optional<std::vector<std::string>> PosixPlatform::registrySubkeys(std::string_view) { return std::nullopt; }
std::optional<RegistryValue> PosixPlatform::registryValue(std::string_view, std::string_view) { return std::nullopt; }
std::unique_ptr<HttpSession> PosixPlatform::openHttpSession() {
  throw AutomationError(kInvalidProcedureCall, "HTTP is not available in this build");
}

}  // namespace qmx
