// The start-up that runs when the host creates the control: reset the login,
// set the default server, and pick up the installations found in the registry.
#include "control/xmlload.h"
#include "settings/reg_main.h"

namespace qmx {

void XMLLoad::runStartup() {
  put_Authenticated(false);
  serverBase_ = kDefaultServerBase;  // directly: no trimming, no notification

  const std::string list = GetInstallList(platform_);
  if (list.empty()) {
    put_Configured("False");
    put_Location(0);
    return;
  }
  if (list.find(';') == std::string::npos) {
    ChooseInstall(list);
  } else {
    // The host shows the list from CompanyID and calls ChooseInstall with its pick.
    put_Configured("Multi");
    put_CompanyID(list);
  }
}

}  // namespace qmx
