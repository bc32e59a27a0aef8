// The machine-wide online/offline switch of the internet layer. Nothing keeps a
// copy: every question asks the platform again.
#pragma once

#include "platform/platform.h"

namespace qmx {

// True when the machine is offline: the connected bit is clear, or the state
// cannot be read at all. Never fails.
bool isOffline(Platform& platform);

// Switches the machine offline (by the user) or back online. A refused set leaves
// the state as it was; never fails.
void switchOffline(Platform& platform, bool offline);

}  // namespace qmx
