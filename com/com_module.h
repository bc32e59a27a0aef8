// What the COM server's pieces share: the DLL's own handle and path, the
// count of live objects and server locks (for DllCanUnloadNow), the type
// library embedded in the DLL, and the identity of the control's class.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <string>

#include "com/com_ptr.h"

namespace qmx::com {

inline constexpr const wchar_t* kProgId = L"QMXProdActiveX.XMLLoad";
inline constexpr const char* kErrorSource = "QMXProdActiveX.XMLLoad";

extern HINSTANCE moduleHandle;
extern std::atomic<long> liveObjects;
extern std::atomic<long> serverLocks;

// The DLL's full path. Empty when it cannot be told.
std::wstring modulePath();

// The type library embedded in the DLL; null when it cannot be loaded.
ComPtr<ITypeLib> typeLibrary();

// The type information of a GUID in that library; null when none.
ComPtr<ITypeInfo> typeInfoOf(REFGUID guid);

}  // namespace qmx::com
