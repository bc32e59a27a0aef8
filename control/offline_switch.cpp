// The machine-wide online/offline switch of the internet layer. The control
// keeps no copy: every getOffline asks the platform again.
#include "control/xmlload.h"

namespace qmx {

void XMLLoad::SetOffline(bool bOff) {
  // A refused set leaves the state as it was; the switch reports nothing.
  if (bOff) {
    platform_.setConnectedState(kInternetStateDisconnectedByUser, kIsoForceDisconnected);
  } else {
    platform_.setConnectedState(kInternetStateConnected, 0);
  }
}

bool XMLLoad::getOffline() {
  // A state that cannot be read counts as offline; only the connected bit matters.
  const auto state = platform_.queryConnectedState();
  return !state || (*state & kInternetStateConnected) == 0;
}

}  // namespace qmx
