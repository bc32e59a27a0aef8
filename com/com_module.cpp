// The COM server's shared state: module handle, object counts, type library.
#include "com/com_module.h"

namespace qmx::com {

HINSTANCE moduleHandle = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

std::wstring modulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(moduleHandle, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ITypeLib* typeLibrary() {
  // Loaded once; oleaut32's type libraries may be used from any thread.
  static ITypeLib* library = [] {
    ITypeLib* lib = nullptr;
    if (FAILED(::LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, &lib))) lib = nullptr;
    return lib;
  }();
  if (library) library->AddRef();
  return library;
}

ITypeInfo* typeInfoOf(REFGUID guid) {
  ITypeLib* lib = typeLibrary();
  if (!lib) return nullptr;
  ITypeInfo* info = nullptr;
  if (FAILED(lib->GetTypeInfoOfGuid(guid, &info))) info = nullptr;
  lib->Release();
  return info;
}

}  // namespace qmx::com
