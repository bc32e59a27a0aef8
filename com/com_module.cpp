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

ComPtr<ITypeLib> typeLibrary() {
  // Loaded once and kept for the process's life (never given back: at exit
  // oleaut32 may be gone); its type libraries may be used from any thread.
  static ITypeLib* const library = [] {
    ComPtr<ITypeLib> lib;
    if (FAILED(::LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put()))) lib.reset();
    return lib.detach();
  }();
  return ComPtr<ITypeLib>(library);
}

ComPtr<ITypeInfo> typeInfoOf(REFGUID guid) {
  const ComPtr<ITypeLib> lib = typeLibrary();
  ComPtr<ITypeInfo> info;
  if (lib && FAILED(lib->GetTypeInfoOfGuid(guid, info.put()))) info.reset();
  return info;
}

}  // namespace qmx::com
