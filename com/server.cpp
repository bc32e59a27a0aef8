// The in-process server: the DLL's entry points and the class factory;
// registration per machine or per user goes through com/registration.
#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <cwchar>
#include <new>

#include "com/com_module.h"
#include "com/qmxprodax_idl.h"
#include "com/registration.h"
#include "com/registry_edit.h"
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

// Registers (or unregisters) this DLL under a root: HKEY_LOCAL_MACHINE per
// machine, HKEY_CURRENT_USER per user, nothing outside it.
HRESULT registerUnder(HKEY root, bool install) {
  const ComPtr<ITypeLib> library = typeLibrary();
  if (!library) return SELFREG_E_TYPELIB;
  RegistryEdit edit(root);
  return install ? registerServer(thisDll(), *library.get(), edit) : unregisterServer(thisDll(), *library.get(), edit);
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

STDAPI DllRegisterServer() { return registerUnder(HKEY_LOCAL_MACHINE, true); }

STDAPI DllUnregisterServer() { return registerUnder(HKEY_LOCAL_MACHINE, false); }

// regsvr32 /n /i:user registers for the current user only (/u /n /i:user
// removes it); an empty command line or "machine" does what DllRegisterServer does.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
  if (!commandLine || !*commandLine || ::_wcsicmp(commandLine, L"machine") == 0)
    return registerUnder(HKEY_LOCAL_MACHINE, install != FALSE);
  if (::_wcsicmp(commandLine, L"user") == 0) return registerUnder(HKEY_CURRENT_USER, install != FALSE);
  return E_INVALIDARG;
}
