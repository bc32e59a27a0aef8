// The registry module: the installation list and the per-installation settings
// under the settings root of HKEY_LOCAL_MACHINE, and a named value of any key.
// Texts are UTF-8 here and cross to the registry in Windows-1252. None of these
// routines fails: misses come back as empty text or as kKeyNotFoundText.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/variant.h"
#include "platform/platform.h"

namespace qmx {

// The predefined root handle of HKEY_LOCAL_MACHINE, the only root served.
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;

// Where every installation lives, below HKEY_LOCAL_MACHINE (with the final "\").
inline constexpr std::string_view kSettingsRoot = "SOFTWARE\\Velmora Solutions\\Velmora.Net\\";

// GetRegValue's one answer for every failure.
inline constexpr std::string_view kKeyNotFoundText = "Error: Key or Value Not Found.";

// The installation identifiers under the settings root joined by ";", in
// enumeration order; empty text when there are none or the root is missing.
std::string GetInstallList(Platform& platform);

// The default value of basePath + keyPath (of its subkey subkeyName when that is
// not empty); empty text on any failure. An empty basePath (Empty or "") is
// replaced by the settings root, and the replacement written back.
std::string GetRegKey(Platform& platform, const std::string& keyPath, const std::string& subkeyName,
                      Variant& basePath);

// GetRegKey with an empty subkey name and base path: the default value of a key
// below the settings root; empty text on any failure.
std::string GetRegKey(Platform& platform, const std::string& keyPath);

// A named value ("" for the default) of root \ keyPath as text by its type:
// a string's text, a binary value's bytes, a 32-bit number in decimal.
// kKeyNotFoundText for a missing key or value, another root, or data of another type.
std::string GetRegValue(Platform& platform, std::uint32_t root, const std::string& keyPath,
                        const std::string& valueName);

}  // namespace qmx
