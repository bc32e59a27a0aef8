// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"

namespace qmx {
[[noreturn]] static void notBuilt_Sync(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
XmlDocument XMLLoad::XMLLoad_(std::string&, const std::string&, const std::string&) { notBuilt_Sync("XMLLoad"); }
XmlDocument XMLLoad::UpdateLocalData(std::string&, const std::string&, const std::string&, const std::string&) { notBuilt_Sync("XMLLoad"); }
XmlDocument XMLLoad::DownloadLocalData(std::string&, const std::string&, const std::string&) { notBuilt_Sync("XMLLoad"); }
void XMLLoad::BackOnline() { notBuilt_Sync("BackOnline"); }
}  // namespace qmx
