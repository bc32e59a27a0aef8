// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"

namespace qmx {
[[noreturn]] static void notBuilt_Foundation(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
void XMLLoad::runStartup() { notBuilt_Foundation("start-up"); }
void XMLLoad::ChooseInstall(const std::string&) { notBuilt_Foundation("ChooseInstall"); }
void XMLLoad::put_Location(std::int16_t) { notBuilt_Foundation("Location"); }
void XMLLoad::SetOffline(bool) { notBuilt_Foundation("SetOffline"); }
bool XMLLoad::getOffline() { notBuilt_Foundation("getOffline"); }
std::optional<std::vector<std::string>> PosixPlatform::registrySubkeys(std::string_view) { return std::nullopt; }
std::optional<RegistryValue> PosixPlatform::registryValue(std::string_view, std::string_view) { return std::nullopt; }
}  // namespace qmx
