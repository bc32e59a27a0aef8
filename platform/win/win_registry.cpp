// The Windows platform's registry: HKEY_LOCAL_MACHINE through the ANSI advapi32
// calls, read only. Names and data cross in the system's ANSI code page, which
// is Windows-1252 on the Western systems the control was made for.
//
// Both DLLs read the 32-bit view of the registry (KEY_WOW64_32KEY; ignored on
// 32-bit Windows): the installers and the QMX Client that write these settings
// are 32-bit programs, so that is where they are, and a host loading the 64-bit
// DLL must see the same installation as one loading the 32-bit DLL.
#include <windows.h>

#include <algorithm>

#include "platform/file_policy.h"
#include "base/unique_handle.h"
#include "platform/win/win_platform.h"

namespace qmx {
namespace {

constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_32KEY;

void closeKey(HKEY key) { ::RegCloseKey(key); }
using KeyHandle = UniqueHandle<HKEY, closeKey>;

// The key opened for reading; empty when it cannot be.
KeyHandle openKey(const std::string& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, kReadAccess, &key) != ERROR_SUCCESS) return {};
  return KeyHandle(key);
}

// The registry's own paths have no leading or doubled separators.
std::string cleanPath(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

}  // namespace

std::optional<std::vector<std::string>> WinPlatform::registrySubkeys(std::string_view keyPath) {
  const KeyHandle key = openKey(cleanPath(keyPath));
  if (!key) return std::nullopt;
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];  // a key name has at most 255 characters
    DWORD length = sizeof name;
    const LONG rc = ::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end(), listingOrder);
  return names;
}

std::optional<RegistryValue> WinPlatform::registryValue(std::string_view keyPath, std::string_view valueName) {
  const KeyHandle key = openKey(cleanPath(keyPath));
  if (!key) return std::nullopt;
  const std::string name(valueName);
  const char* namePtr = name.empty() ? nullptr : name.c_str();
  RegistryValue value;
  DWORD size = 0;
  DWORD type = 0;
  if (::RegQueryValueExA(key.get(), namePtr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  // The value may grow between the two calls; ask again with the new size.
  for (int attempt = 0; attempt < 8; ++attempt) {
    value.data.assign(size, '\0');
    const LONG rc = ::RegQueryValueExA(key.get(), namePtr, nullptr, &type,
                                       reinterpret_cast<BYTE*>(value.data.data()), &size);
    if (rc == ERROR_SUCCESS) {
      value.data.resize(size);
      value.type = type;
      return value;
    }
    if (rc != ERROR_MORE_DATA) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace qmx
