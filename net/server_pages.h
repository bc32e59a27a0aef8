// What every exchange with the service's pages shares.
#pragma once

namespace qmx {

// The fixed access value sent as "cucumber" (by HTTPCall) and "Cucumber" (first
// key of a refresh); the upload sends none.
inline constexpr const char* kAccessValue = "73518";

}  // namespace qmx
