// An in-memory registry hive: keys with named values and subkeys, names in the
// system's single-byte code page compared case-insensitively, subkeys kept in
// the order the Windows registry enumerates them. Shared by the registry file
// reader and the test platform.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qmx {

// Orders names as the registry enumerates them: by upper-cased character,
// Windows-1252 letters included.
struct RegistryNameLess {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};

// True when two registry names are equal ignoring letter case.
bool registryNamesEqual(std::string_view a, std::string_view b);

class RegistryKey {
 public:
  // The direct subkey of that name; nullptr when none.
  const RegistryKey* findSubkey(std::string_view name) const;
  RegistryKey* findSubkey(std::string_view name);
  // The direct subkey of that name, created when missing (keeping the spelling given first).
  RegistryKey& subkey(std::string_view name);

  // A value by name ("" is the default value); nullptr when none.
  const RegistryValue* findValue(std::string_view name) const;
  // Sets or replaces a value; a replaced value keeps its place and first spelling.
  void setValue(std::string_view name, RegistryValue value);

  // Subkey names as first spelt, in enumeration order.
  std::vector<std::string> subkeyNames() const;
  // Values in the order they were first set, with their names as first spelt.
  const std::vector<std::pair<std::string, RegistryValue>>& values() const { return values_; }
  // Subkeys in enumeration order, keyed by name as first spelt.
  const std::map<std::string, std::unique_ptr<RegistryKey>, RegistryNameLess>& subkeys() const {
    return subkeys_;
  }

 private:
  std::vector<std::pair<std::string, RegistryValue>> values_;
  std::map<std::string, std::unique_ptr<RegistryKey>, RegistryNameLess> subkeys_;
};

// One hive (HKEY_LOCAL_MACHINE). Paths are "\"-separated and relative to the
// hive; the empty path is the hive itself. One trailing "\" is allowed, as the
// registry allows it; any other empty component names no key.
class RegistryTree {
 public:
  // The key at the path; nullptr when it does not exist or the path is malformed.
  const RegistryKey* find(std::string_view path) const;
  // The key at the path, created with its missing parents; nullptr when malformed.
  RegistryKey* create(std::string_view path);

  const RegistryKey& root() const { return root_; }
  RegistryKey& root() { return root_; }

 private:
  RegistryKey root_;
};

// The deepest key path the registry holds, as Windows limits it.
inline constexpr std::size_t kMaxRegistryDepth = 512;

// The components of a key path; nullopt when an empty component other than one
// trailing "\" makes it malformed, or when it is deeper than kMaxRegistryDepth.
std::optional<std::vector<std::string_view>> splitRegistryPath(std::string_view path);

}  // namespace qmx
