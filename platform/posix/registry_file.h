// Reads registry.reg, the machine root's stand-in for HKEY_LOCAL_MACHINE, in
// either Windows export format ("Windows Registry Editor Version 5.00" as
// UTF-16LE or UTF-8, "REGEDIT4" as Windows-1252), and prints a parsed tree back
// as an export for an administrator to check.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_tree.h"

namespace qmx {

struct ParsedRegistry {
  // HKEY_LOCAL_MACHINE; names and string data in Windows-1252, as the ANSI
  // registry functions return them.
  RegistryTree tree;
  // One "line N: ..." text for every line that was skipped or only partly read.
  std::vector<std::string> warnings;
};

// The tree a registry export describes. Never fails: an unreadable line is
// skipped with a warning, an unreadable file gives an empty tree.
ParsedRegistry parseRegistryFile(std::string_view bytes);

// The tree as a "Windows Registry Editor Version 5.00" export in UTF-8, every
// key in enumeration order; parsing it gives the same tree back. The warnings
// are not included: the caller prints them.
std::string formatRegistry(const ParsedRegistry& registry);

}  // namespace qmx
