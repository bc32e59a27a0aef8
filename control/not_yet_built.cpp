// Members whose subsystem is not built yet: each fails with a clear error until
// its real definition replaces the line here.
#include "control/xmlload.h"

namespace qmx {
namespace {
[[noreturn]] void notBuilt(const char* member) {
  throw AutomationError(kInvalidProcedureCall, std::string(member) + " is not available in this build");
}
}  // namespace

void XMLLoad::runStartup() { notBuilt("start-up"); }
void XMLLoad::ChooseInstall(const std::string&) { notBuilt("ChooseInstall"); }
void XMLLoad::put_Location(std::int16_t) { notBuilt("Location"); }
void XMLLoad::SetOffline(bool) { notBuilt("SetOffline"); }
bool XMLLoad::getOffline() { notBuilt("getOffline"); }
std::string XMLLoad::FileEncodeAndDecode(std::string&, const std::string&) { notBuilt("FileEncodeAndDecode"); }
bool XMLLoad::SaveElectronicPurchaseOrder(std::string, std::string) { notBuilt("SaveElectronicPurchaseOrder"); }
void XMLLoad::SaveLocal(const std::string&, const std::string&) { notBuilt("SaveLocal"); }
std::string XMLLoad::GetXSL(const Variant&) { notBuilt("GetXSL"); }
void XMLLoad::DeleteLocalData() { notBuilt("DeleteLocalData"); }
std::string XMLLoad::getKey() { notBuilt("getKey"); }
XmlDocument XMLLoad::HTTPCall(const std::string&, const std::string&) { notBuilt("HTTPCall"); }
bool XMLLoad::Login(const std::string&, const std::string&) { notBuilt("Login"); }
HttpSession& XMLLoad::http() { notBuilt("HTTP"); }
XmlDocument XMLLoad::XMLLoad_(std::string&, const std::string&, const std::string&) { notBuilt("XMLLoad"); }
XmlDocument XMLLoad::UpdateLocalData(std::string&, const std::string&, const std::string&, const std::string&) { notBuilt("XMLLoad"); }
XmlDocument XMLLoad::DownloadLocalData(std::string&, const std::string&, const std::string&) { notBuilt("XMLLoad"); }
void XMLLoad::BackOnline() { notBuilt("BackOnline"); }

}  // namespace qmx
