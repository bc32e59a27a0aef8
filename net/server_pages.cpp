#include "net/server_pages.h"

#include "base/request_address.h"

namespace qmx {
namespace {

std::string requesterKeys(const DataSetRequester& who) {
  return "&MachineID=" + std::to_string(who.machineId) + "&LocationID=" + std::to_string(who.location) +
         "&CompanyID=" + queryValue(who.companyId);
}

}  // namespace

std::string loginAddress(const std::string& serverBase, const std::string& userName,
                         const std::string& password, const std::string& companyId) {
  return serverBase + "Bus_ChkComp.asp?Action=Login&Username=" + queryValue(userName) +
         "&Pwd=" + queryValue(password) + "&CompanyID=" + queryValue(companyId);
}

std::string uploadAddress(const std::string& serverBase, const std::string& screen, const std::string& companyId) {
  return serverBase + "processForms.asp?pageID=" + queryValue(screen) + "&CompanyID=" + queryValue(companyId) +
         "&Action=Save";
}

std::string refreshQuery(const std::string& modTime, const std::string& file, const DataSetRequester& who) {
  return std::string("?Cucumber=") + kAccessValue + "&Time=" + queryValue(modTime) + "&Data=" + queryValue(file) +
         requesterKeys(who);
}

std::string downloadQuery(const std::string& file, const DataSetRequester& who) {
  return "?Time=New&Data=" + queryValue(file) + requesterKeys(who);
}

}  // namespace qmx
