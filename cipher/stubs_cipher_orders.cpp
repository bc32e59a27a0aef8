// Members not built yet: each fails with a clear error. Delete this file when they are built.
#include "control/xmlload.h"

namespace qmx {
[[noreturn]] static void notBuilt_CipherOrders(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
bool XMLLoad::SaveElectronicPurchaseOrder(std::string, std::string) { notBuilt_CipherOrders("SaveElectronicPurchaseOrder"); }
}  // namespace qmx
