// The rows of the class, its ProgID and its type library. The type library's
// rows are written here rather than by RegisterTypeLib(ForUser): Wine's
// per-user call writes machine-wide, UnRegisterTypeLib deletes the interface
// keys the other architecture still uses, and writes of our own can be undone.
#include "com/registration.h"

#include <olectl.h>

#include <cwchar>
#include <vector>

#include "com/com_module.h"
#include "com/com_ptr.h"
#include "com/page_site.h"
#include "com/qmxprodax_idl.h"

namespace qmx::com {

namespace {

const std::wstring kClasses = L"Software\\Classes\\";
// The marshallers of dispatch interfaces and of automation-compatible ones.
const wchar_t* const kPSDispatch = L"{00020420-0000-0000-C000-000000000046}";
const wchar_t* const kPSOAInterface = L"{00020424-0000-0000-C000-000000000046}";

std::wstring guidText(REFGUID guid) {
  wchar_t text[64];
  return ::StringFromGUID2(guid, text, 64) ? std::wstring(text) : std::wstring();
}

REGSAM otherView(REGSAM view) { return view == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

struct Interface {
  std::wstring iid, name, proxy;
};

struct Library {
  std::wstring key;  // TypeLib\{libid}\major.minor under the classes key
  std::wstring help;
  std::wstring flags;
  std::wstring lcid;
  std::vector<Interface> interfaces;
};

// What RegisterTypeLib would register: the library and its dispatch and
// automation interfaces.
bool describe(ITypeLib& lib, Library& out) {
  TLIBATTR* attr = nullptr;
  if (FAILED(lib.GetLibAttr(&attr))) return false;
  wchar_t text[64];
  std::swprintf(text, 64, L"%x.%x", attr->wMajorVerNum, attr->wMinorVerNum);
  out.key = kClasses + L"TypeLib\\" + guidText(attr->guid) + L"\\" + text;
  // The disk-image flag is the loader's own, not the library's.
  out.flags = std::to_wstring(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
  std::swprintf(text, 64, L"%lx", static_cast<unsigned long>(attr->lcid));
  out.lcid = text;
  lib.ReleaseTLibAttr(attr);
  BSTR help = nullptr;
  if (SUCCEEDED(lib.GetDocumentation(-1, nullptr, &help, nullptr, nullptr)) && help) out.help = help;
  ::SysFreeString(help);
  for (UINT i = 0, n = lib.GetTypeInfoCount(); i < n; ++i) {
    ComPtr<ITypeInfo> info;
    TYPEATTR* type = nullptr;
    if (FAILED(lib.GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&type))) return false;
    const bool automation = (type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
    if (type->typekind == TKIND_DISPATCH || (type->typekind == TKIND_INTERFACE && automation)) {
      BSTR name = nullptr;
      if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) && name)
        out.interfaces.push_back({guidText(type->guid), name, automation ? kPSOAInterface : kPSDispatch});
      ::SysFreeString(name);
    }
    info->ReleaseTypeAttr(type);
  }
  return true;
}

const wchar_t* kindName(SYSKIND kind) { return kind == SYS_WIN64 ? L"win64" : L"win32"; }

bool writeClass(const Registration& what, RegistryEdit& edit) {
  const std::wstring key = kClasses + L"CLSID\\" + guidText(CLSID_XMLLoad);
  const std::wstring progId = kProgId;
  // A browser that reads the MiscStatus gives the control its page's site
  // before asking whether it is safe. No component category is registered: the
  // safe-for-scripting ones would make the control safe on every page.
  const std::wstring misc = std::to_wstring(kMiscStatus);
  const REGSAM v = what.view;
  return !what.path.empty() && edit.setString(v, key, L"", L"XMLLoad") &&
         edit.setString(v, key + L"\\InprocServer32", L"", what.path) &&
         edit.setString(v, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         edit.setString(v, key + L"\\ProgID", L"", progId) &&
         edit.setString(v, key + L"\\VersionIndependentProgID", L"", progId) &&
         edit.setString(v, key + L"\\TypeLib", L"", guidText(LIBID_QMXProdActiveX)) &&
         edit.setString(v, key + L"\\Version", L"", L"1.0") && edit.setString(v, key + L"\\MiscStatus", L"", misc) &&
         edit.setString(v, key + L"\\MiscStatus\\1", L"", misc) &&
         edit.setString(v, kClasses + progId, L"", L"XMLLoad") &&
         edit.setString(v, kClasses + progId + L"\\CLSID", L"", guidText(CLSID_XMLLoad));
}

// The interfaces go into both views, as RegisterTypeLib does on 64-bit
// systems, so that either architecture's hosts marshal them.
bool writeLibrary(const Registration& what, const Library& lib, RegistryEdit& edit) {
  const REGSAM v = what.view;
  const std::wstring folder = what.path.substr(0, what.path.find_last_of(L'\\'));
  if (!edit.setString(v, lib.key, L"", lib.help) ||
      !edit.setString(v, lib.key + L"\\" + lib.lcid + L"\\" + kindName(what.kind), L"", what.path) ||
      !edit.setString(v, lib.key + L"\\FLAGS", L"", lib.flags) ||
      !edit.setString(v, lib.key + L"\\HELPDIR", L"", folder))
    return false;
  const std::wstring libid = guidText(LIBID_QMXProdActiveX);
  for (const REGSAM view : {v, otherView(v)}) {
    for (const Interface& i : lib.interfaces) {
      const std::wstring key = kClasses + L"Interface\\" + i.iid;
      if (!edit.setString(view, key, L"", i.name) || !edit.setString(view, key + L"\\ProxyStubClsid", L"", i.proxy) ||
          !edit.setString(view, key + L"\\ProxyStubClsid32", L"", i.proxy) ||
          !edit.setString(view, key + L"\\TypeLib", L"", libid) ||
          !edit.setString(view, key + L"\\TypeLib", L"Version", L"1.0"))
        return false;
    }
  }
  return true;
}

}  // namespace

Registration thisDll() {
#ifdef _WIN64
  return {KEY_WOW64_64KEY, SYS_WIN64, modulePath()};
#else
  return {KEY_WOW64_32KEY, SYS_WIN32, modulePath()};
#endif
}

HRESULT registerServer(const Registration& what, ITypeLib& library, RegistryEdit& edit) {
  Library lib;
  HRESULT hr = S_OK;
  if (!writeClass(what, edit))
    hr = SELFREG_E_CLASS;
  else if (!describe(library, lib) || !writeLibrary(what, lib, edit))
    hr = SELFREG_E_TYPELIB;
  if (FAILED(hr)) edit.rollback();
  return hr;
}

HRESULT unregisterServer(const Registration& what, ITypeLib& library, RegistryEdit& edit) {
  Library lib;
  if (!describe(library, lib)) return SELFREG_E_TYPELIB;
  const std::wstring classKey = kClasses + L"CLSID\\" + guidText(CLSID_XMLLoad);
  bool ok = edit.removeTree(what.view, classKey);
  // Asked after this view's class is gone: where the two views share the
  // class key (32-bit Windows, Wine's HKEY_CURRENT_USER) there is no other.
  if (edit.exists(otherView(what.view), classKey + L"\\InprocServer32")) {
    const std::wstring lcidKey = lib.key + L"\\" + lib.lcid;
    ok = edit.removeTree(what.view, lcidKey + L"\\" + kindName(what.kind)) && ok;
    return ok ? S_OK : SELFREG_E_CLASS;
  }
  for (const REGSAM view : {what.view, otherView(what.view)}) {
    ok = edit.removeTree(view, kClasses + kProgId) && ok;
    ok = edit.removeTree(view, lib.key) && ok;
    // Other versions of the library, if any, keep their key.
    edit.removeIfEmpty(view, lib.key.substr(0, lib.key.find_last_of(L'\\')));
    for (const Interface& i : lib.interfaces) ok = edit.removeTree(view, kClasses + L"Interface\\" + i.iid) && ok;
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace qmx::com
