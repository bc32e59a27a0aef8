// The in-process server: the DLL's entry points, the class factory and the
// registration of the class, its ProgID and its type library.
#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>

#include "com/com_module.h"
#include "com/page_site.h"
#include "com/qmxprodax_idl.h"
#include "com/xmlload_object.h"

namespace qmx::com {

namespace {

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory for the DLL's life; a host holding a reference to it
  // keeps the DLL loaded (DllCanUnloadNow counts them).
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs_); }
  bool referenced() const { return refs_ > 0; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out) *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return createXMLLoadObject(riid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }

 private:
  std::atomic<long> refs_{0};
};

ClassFactory factory;

std::wstring guidText(REFGUID guid) {
  wchar_t text[64];
  return ::StringFromGUID2(guid, text, 64) ? std::wstring(text) : std::wstring();
}

// Writes a string value (the default one for an empty name) into HKEY_CLASSES_ROOT.
bool setClassValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const LONG rc = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

}  // namespace
}  // namespace qmx::com

using namespace qmx::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleHandle = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_XMLLoad) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 && !factory.referenced() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  const std::wstring path = modulePath();
  const std::wstring clsid = guidText(CLSID_XMLLoad);
  const std::wstring libid = guidText(LIBID_QMXProdActiveX);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring progId = kProgId;
  // A browser that reads the MiscStatus gives the control its page's site
  // before asking whether it is safe. No component category is registered: the
  // safe-for-scripting ones would make the control safe on every page.
  const std::wstring misc = std::to_wstring(kMiscStatus);
  if (path.empty() || !setClassValue(classKey, nullptr, L"XMLLoad") ||
      !setClassValue(classKey + L"\\InprocServer32", nullptr, path) ||
      !setClassValue(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") ||
      !setClassValue(classKey + L"\\ProgID", nullptr, progId) ||
      !setClassValue(classKey + L"\\VersionIndependentProgID", nullptr, progId) ||
      !setClassValue(classKey + L"\\TypeLib", nullptr, libid) ||
      !setClassValue(classKey + L"\\Version", nullptr, L"1.0") ||
      !setClassValue(classKey + L"\\MiscStatus", nullptr, misc) ||
      !setClassValue(classKey + L"\\MiscStatus\\1", nullptr, misc) ||
      !setClassValue(progId, nullptr, L"XMLLoad") || !setClassValue(progId + L"\\CLSID", nullptr, clsid))
    return SELFREG_E_CLASS;
  ComPtr<ITypeLib> lib;
  if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, lib.put()))) return SELFREG_E_TYPELIB;
  return S_OK;
}

STDAPI DllUnregisterServer() {
  const std::wstring clsid = guidText(CLSID_XMLLoad);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
#ifdef _WIN64
  const SYSKIND kind = SYS_WIN64;
#else
  const SYSKIND kind = SYS_WIN32;
#endif
  ::UnRegisterTypeLib(LIBID_QMXProdActiveX, 1, 0, LOCALE_NEUTRAL, kind);
  return S_OK;
}
