#include "settings/connected_state.h"

namespace qmx {

bool isOffline(Platform& platform) {
  const auto state = platform.queryConnectedState();
  return !state || (*state & kInternetStateConnected) == 0;
}

void switchOffline(Platform& platform, bool offline) {
  if (offline) {
    platform.setConnectedState(kInternetStateDisconnectedByUser, kIsoForceDisconnected);
  } else {
    platform.setConnectedState(kInternetStateConnected, 0);
  }
}

}  // namespace qmx
