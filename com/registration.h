// The registration of the class, its ProgID and its type library, per machine
// (under HKEY_LOCAL_MACHINE) or per user (under HKEY_CURRENT_USER), in the
// registry view of one architecture. The x86 and x64 DLLs each own their
// class key (a key per view on 64-bit Windows) and the win32 or win64 path of
// the type library; the ProgID, the type library and its interfaces are
// shared and go with the last architecture unregistered.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "com/registry_edit.h"

namespace qmx::com {

struct Registration {
  REGSAM view;        // KEY_WOW64_64KEY for the x64 DLL, KEY_WOW64_32KEY for the x86 one
  SYSKIND kind;       // SYS_WIN64 or SYS_WIN32
  std::wstring path;  // the DLL's full path
};

// This DLL's own registration.
Registration thisDll();

// Writes every key and value through the edit; on a failure undoes what it
// wrote and returns SELFREG_E_CLASS or SELFREG_E_TYPELIB.
HRESULT registerServer(const Registration& what, ITypeLib& library, RegistryEdit& edit);
// Removes this architecture's keys, and the shared ones unless the other
// architecture's class is still registered (in the other view).
HRESULT unregisterServer(const Registration& what, ITypeLib& library, RegistryEdit& edit);

}  // namespace qmx::com
