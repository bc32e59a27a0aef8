// The key log "log\log.xml" of a data directory: one logEvent per temporary key
// issued, whose running number continues from the last entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx {

class Platform;

// Where a damaged key log is kept before a fresh one replaces it, relative to the
// data directory.
inline constexpr std::string_view kDamagedKeyLogName = "log\\log.xml.damaged";

// Records the next running number in the key log of the data directory and
// returns it once the log is written. The read-modify-write holds the log folder's
// lock, so two processes never take the same number. A missing, empty or
// unparsable log starts again at 1 (an unparsable one is first copied to
// kDamagedKeyLogName). Throws AutomationError, leaving the log as it was: 6 after
// 32767, 13/6 when the last entry's first attribute is not a 16-bit number, 91
// when the last entry is not an element with an attribute, 76 when the data
// directory is missing, and the platform's error when the log cannot be read or written.
std::int16_t recordNextRunningNumber(Platform& platform, const std::string& dataPath);

// The temporary key "<machine>-<location>-<running number>" in decimal.
std::string temporaryKey(std::int32_t machineId, std::int16_t location, std::int16_t runningNumber);

}  // namespace qmx
