// The COM object as a C++ host sees it: the type library against the member
// table, errors, property change notifications through IPropertyNotifySink,
// calls refused, and a failed start-up refusing creation.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>
#include <olectl.h>
#include <urlmon.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "com/com_ptr.h"
#include "com/qmxprodax_idl.h"
#include "com/xmlload_object.h"
#include "control/member_table.h"
#include "control/xmlload.h"
#include "platform/win/win_platform.h"

namespace qmx {
namespace {

std::wstring besideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

class ComHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    dll_ = ::LoadLibraryW(besideThisProgram(L"qmxprodax.dll").c_str());
    ASSERT_NE(dll_, nullptr);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(dll_, "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    ASSERT_EQ(get(CLSID_XMLLoad, IID_IClassFactory, reinterpret_cast<void**>(&factory_)), S_OK);
  }
  void TearDown() override {
    if (factory_) factory_->Release();
    ::CoUninitialize();
  }
  IDispatch* create() {
    IDispatch* d = nullptr;
    EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    return d;
  }
  // Named arguments (their dispatch ids) come first in argsLastFirst.
  HRESULT call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> argsLastFirst, VARIANT* result,
               EXCEPINFO* info, std::vector<DISPID> named = {}) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    if (flags == DISPATCH_PROPERTYPUT) named = {DISPID_PROPERTYPUT};
    DISPPARAMS params{argsLastFirst.data(), named.data(), static_cast<UINT>(argsLastFirst.size()),
                      static_cast<UINT>(named.size())};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, info, &argError_);
  }
  static VARIANT text(const wchar_t* s) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(s);
    return v;
  }

  HMODULE dll_ = nullptr;
  IClassFactory* factory_ = nullptr;
  UINT argError_ = 0;
};

TEST_F(ComHost, TypeLibraryDescribesExactlyTheMemberTable) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(::LoadTypeLibEx(besideThisProgram(L"qmxprodax.dll").c_str(), REGKIND_NONE, &lib), S_OK);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__XMLLoad, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  std::size_t expected = 0;
  for (const MemberInfo& m : memberTable()) expected += m.kind == MemberKind::Property ? 2 : 1;
  // Some compilers list IDispatch's seven inherited functions first.
  const UINT inherited = attr->cFuncs - static_cast<UINT>(expected);
  ASSERT_TRUE(inherited == 0 || inherited == 7) << attr->cFuncs << " functions";
  for (UINT i = inherited; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    BSTR name = nullptr;
    UINT count = 0;
    info->GetNames(f->memid, &name, 1, &count);
    std::string narrow;
    for (const wchar_t* p = name; p && *p; ++p) narrow += static_cast<char>(*p);
    ::SysFreeString(name);
    const MemberInfo* m = findMemberById(f->memid);
    ASSERT_NE(m, nullptr) << narrow << " has a dispatch id the control does not know";
    EXPECT_EQ(m->name, narrow);
    BSTR help = nullptr;
    info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
    EXPECT_GT(::SysStringLen(help), 0u) << narrow << " has no help string";
    ::SysFreeString(help);
    if (m->kind == MemberKind::Method) {
      EXPECT_EQ(f->invkind, INVOKE_FUNC) << narrow;
      ASSERT_EQ(static_cast<std::size_t>(f->cParams), m->arguments.size()) << narrow;
      for (std::size_t k = 0; k < m->arguments.size(); ++k) {
        const USHORT flags = f->lprgelemdescParam[k].paramdesc.wParamFlags;
        EXPECT_EQ((flags & PARAMFLAG_FOUT) != 0, m->arguments[k].byRef) << narrow << " argument " << k;
        EXPECT_EQ((flags & PARAMFLAG_FOPT) != 0, m->arguments[k].optional) << narrow << " argument " << k;
      }
    } else {
      EXPECT_TRUE(f->invkind == INVOKE_PROPERTYGET || (f->invkind == INVOKE_PROPERTYPUT && m->write)) << narrow;
    }
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  info->Release();
  lib->Release();
}

// What Windows shows as the file's properties, and installers compare: the project's version.
TEST(VersionResource, CarriesTheProjectsVersionAndNames) {
  const std::wstring dll = besideThisProgram(L"qmxprodax.dll");
  std::vector<char> info(::GetFileVersionInfoSizeW(dll.c_str(), nullptr));
  ASSERT_TRUE(!info.empty() && ::GetFileVersionInfoW(dll.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  void* p = nullptr;
  UINT n = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &p, &n));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
  const DWORD high = MAKELONG(QMX_VERSION_MINOR, QMX_VERSION_MAJOR), low = MAKELONG(0, QMX_VERSION_PATCH);
  EXPECT_TRUE(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low && fixed->dwProductVersionMS == high &&
              fixed->dwProductVersionLS == low);
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &p, &n));
  wchar_t block[40];
  std::swprintf(block, 40, L"\\StringFileInfo\\%04X%04X\\", static_cast<WORD*>(p)[0], static_cast<WORD*>(p)[1]);
  std::wstring strings;
  for (const wchar_t* name : {L"ProductVersion", L"FileVersion", L"CompanyName", L"ProductName", L"OriginalFilename"}) {
    const bool found = ::VerQueryValueW(info.data(), (block + std::wstring(name)).c_str(), &p, &n);
    strings += (found ? static_cast<const wchar_t*>(p) : L"(none)") + std::wstring(L"|");
  }
  EXPECT_EQ(strings, L"" QMX_VERSION "|" QMX_VERSION ".0|Velmora Solutions|QMXProdActiveX|qmxprodax.dll|");
}

// The scripts under Wine check the numbers, sources, types and by-reference
// rewrites they see; what they cannot tell apart is checked here.
TEST_F(ComHost, ErrorsAndTypesScriptsCannotTellApart) {
  IDispatch* d = create();
  ASSERT_NE(d, nullptr);
  // Login(sPassword:="pw") skips a required argument; Login("u", sUserName:="pw") repeats one.
  EXCEPINFO skipped{};
  EXPECT_EQ(call(d, L"Login", DISPATCH_METHOD, {text(L"pw")}, nullptr, &skipped, {1}), DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<std::uint32_t>(skipped.scode), 0x800A01C1u);
  EXPECT_EQ(call(d, L"Login", DISPATCH_METHOD, {text(L"u"), text(L"pw")}, nullptr, nullptr, {0}), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argError_, 0u);
  // No object the script engines refuse to create.
  IUnknown* site = nullptr;
  EXPECT_EQ(d->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site)), E_NOINTERFACE);
  d->Release();
}

class RecordingSink final : public IPropertyNotifySink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyNotifySink) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP OnChanged(DISPID id) override {
    changed.push_back(id);
    return S_OK;
  }
  STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }
  ULONG refs = 1;
  std::vector<DISPID> changed;
};

TEST_F(ComHost, PropertyChangesReachEverySinkInTheControlsOrder) {
  IDispatch* d = create();
  ASSERT_NE(d, nullptr);
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &point), S_OK);
  RecordingSink sink, second;
  DWORD cookie = 0, cookie2 = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  ASSERT_EQ(point->Advise(&second, &cookie2), S_OK);

  // What the control itself announces for the same writes, by name.
  WinPlatform platform([](const std::string&) {});
  std::vector<DISPID> expected;
  XMLLoad direct(platform, [&](const std::string& name) { expected.push_back(findMember(name)->dispid); });
  expected.clear();
  direct.put_Location(12);
  direct.put_ErrorDesc("x");
  direct.put_ServerBase("http://127.0.0.1:1/");
  try {
    direct.ChooseInstall("{00000000-0000-0000-0000-000000000000}");  // fails on the missing values
  } catch (const AutomationError&) {
  }
  ASSERT_GE(expected.size(), 3u);

  VARIANT v;
  V_VT(&v) = VT_I2;
  V_I2(&v) = 12;
  ASSERT_EQ(call(d, L"Location", DISPATCH_PROPERTYPUT, {v}, nullptr, nullptr), S_OK);
  ASSERT_EQ(call(d, L"ErrorDesc", DISPATCH_PROPERTYPUT, {text(L"x")}, nullptr, nullptr), S_OK);
  ASSERT_EQ(call(d, L"ServerBase", DISPATCH_PROPERTYPUT, {text(L"http://127.0.0.1:1/")}, nullptr, nullptr), S_OK);
  VARIANT result;
  ::VariantInit(&result);
  EXCEPINFO info{};
  call(d, L"ChooseInstall", DISPATCH_METHOD, {text(L"{00000000-0000-0000-0000-000000000000}")}, &result, &info);
  EXPECT_EQ(sink.changed, expected);
  EXPECT_EQ(second.changed, expected);

  // After Unadvise a sink hears nothing more, and its reference is given back; a
  // result VARIANT seeming to hold it (uninitialised memory) is overwritten, not released.
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  V_VT(&result) = VT_UNKNOWN;
  V_UNKNOWN(&result) = &sink;
  ASSERT_EQ(call(d, L"CompanyID", DISPATCH_PROPERTYGET, {}, &result, nullptr), S_OK);
  EXPECT_EQ(V_VT(&result), VT_BSTR);
  EXPECT_EQ(sink.refs, 1u);
  ASSERT_EQ(call(d, L"ErrorDesc", DISPATCH_PROPERTYPUT, {text(L"y")}, nullptr, nullptr), S_OK);
  EXPECT_EQ(sink.changed.size(), expected.size());
  EXPECT_EQ(second.changed.back(), 0x68030000);
  point->Unadvise(cookie2);
  point->Release();
  container->Release();
  d->Release();
}

// Calls that must not enter: from outside the object's apartment, or from inside its message
// box, where reads (property-change sinks) are answered. A held factory keeps the DLL loaded.
TEST_F(ComHost, CallsFromAnotherThreadOrFromInsideAMessageBoxAreRefused) {
  IDispatch* d = create();
  ASSERT_NE(d, nullptr);
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  ASSERT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &point), S_OK);
  container->Release();
  RecordingSink sink;
  DWORD cookie = 0;
  HRESULT invoked = S_OK, advised = S_OK;
  std::thread([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    invoked = call(d, L"ErrorDesc", DISPATCH_PROPERTYPUT, {text(L"x")}, nullptr, nullptr);
    advised = point->Advise(&sink, &cookie);
    ::CoUninitialize();
  }).join();
  EXPECT_EQ(invoked, RPC_E_WRONG_THREAD);
  EXPECT_EQ(advised, RPC_E_WRONG_THREAD);
  point->Release();
  d->Release();
  using CanUnload = HRESULT(WINAPI*)();
  auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(::GetProcAddress(dll_, "DllCanUnloadNow")));
  EXPECT_EQ(canUnload(), S_FALSE);
  factory_->Release();
  factory_ = nullptr;
  EXPECT_EQ(canUnload(), S_OK);

  HRESULT read = E_FAIL, put = S_OK;
  EXCEPINFO refused{};
  VARIANT value;
  ASSERT_EQ(com::createXMLLoadObject(IID_IDispatch, reinterpret_cast<void**>(&d), [&](const std::string&) {
    read = call(d, L"CompanyID", DISPATCH_PROPERTYGET, {}, &value, nullptr);
    call(d, L"getOffline", DISPATCH_METHOD, {}, nullptr, &refused);
    put = call(d, L"ErrorDesc", DISPATCH_PROPERTYPUT, {text(L"x")}, nullptr, nullptr);
  }), S_OK);
  // No order data: the message is shown.
  ASSERT_EQ(call(d, L"SaveElectronicPurchaseOrder", DISPATCH_METHOD, {text(L""), text(L"1")}, nullptr, nullptr), S_OK);
  EXPECT_EQ(read, S_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(refused.scode), 0x800A0011u);
  EXPECT_EQ(put, DISP_E_EXCEPTION);
  EXPECT_EQ(call(d, L"ErrorDesc", DISPATCH_PROPERTYPUT, {text(L"x")}, nullptr, nullptr), S_OK);
  d->Release();
}

// Only where no installation is configured: the test puts a broken one in place.
TEST_F(ComHost, AFailedStartUpRefusesCreationWithItsError) {
  const char* root = "SOFTWARE\\Velmora Solutions\\Velmora.Net";
  HKEY existing = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, KEY_READ | KEY_WOW64_32KEY, &existing) == ERROR_SUCCESS) {
    ::RegCloseKey(existing);
    GTEST_SKIP() << "this machine has settings of its own";
  }
  HKEY key = nullptr;
  const std::string install = std::string(root) + "\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\fkLocationID";
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, install.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("twelve"), 7);
  ::RegCloseKey(key);

  IDispatch* d = nullptr;
  const HRESULT hr = factory_->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d));
  HKEY vendor = nullptr;  // only what the test made: the vendor key may hold the site lock's list
  ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora Solutions", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &vendor);
  ::RegDeleteTreeA(vendor, "Velmora.Net");
  ::RegCloseKey(vendor);

  EXPECT_EQ(static_cast<std::uint32_t>(hr), 0x800A000Du);  // type mismatch converting the location
  EXPECT_EQ(d, nullptr);
  IErrorInfo* error = nullptr;
  ASSERT_EQ(::GetErrorInfo(0, &error), S_OK);
  BSTR source = nullptr;
  error->GetSource(&source);
  EXPECT_STREQ(source, L"QMXProdActiveX.XMLLoad");
  ::SysFreeString(source);
  error->Release();
}

// A browser's client site: its container's moniker names the page (none: no address).
struct PageClientSite final : IOleClientSite {
  explicit PageClientSite(const wchar_t* url) {
    EXPECT_TRUE(!url || ::CreateURLMonikerEx(nullptr, url, page_.put(), URL_MK_UNIFORM) == S_OK) << url;
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = riid == IID_IUnknown || riid == IID_IOleClientSite ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD which, IMoniker** out) override {
    *out = which == OLEWHICHMK_CONTAINER ? com::ComPtr<IMoniker>(page_).detach() : nullptr;
    return *out ? S_OK : E_FAIL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override { return *out = nullptr, E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  com::ComPtr<IMoniker> page_;
};

// A browser, with the site lock's list in place for the test's length.
class Browser : public ComHost {
 protected:
  void SetUp() override {
    ComHost::SetUp();
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora Solutions\\QMXProdActiveX", 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    if (::RegQueryValueExW(key_, L"AllowedSites", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      ::RegCloseKey(std::exchange(key_, nullptr));
      GTEST_SKIP() << "this machine has an allow-list of its own";
    }
    // One entry per string or several split by spaces; the unreadable one first spoils none of the others.
    const wchar_t list[] = L"no url\0https://erp.example.com/store/\0http://intranet:8080 HTTPS://UP.Example.com\0";
    ASSERT_EQ(RegSetValueExW(key_, L"AllowedSites", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_) ::RegDeleteValueW(key_, L"AllowedSites"), ::RegCloseKey(key_);
    ComHost::TearDown();
  }
  static void site(IDispatch* d, IOleClientSite* s) {
    com::ComPtr<IOleObject> ole;
    ASSERT_EQ(d->QueryInterface(IID_IOleObject, ole.putVoid()), S_OK);
    EXPECT_EQ(ole->SetClientSite(s), S_OK);
  }
  // Asks as a browser does; true when the control says it is safe for untrusted callers.
  static bool safe(IDispatch* d) {
    com::ComPtr<IObjectSafety> safety;
    DWORD supported = 0, enabled = 0;
    if (FAILED(d->QueryInterface(IID_IObjectSafety, safety.putVoid())) ||
        FAILED(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled)))
      return false;
    EXPECT_EQ(supported, DWORD{INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA});
    const DWORD ask = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    return safety->SetInterfaceSafetyOptions(IID_IDispatch, ask, ask) == S_OK;
  }
  // Whether a script's property read gets through; a refusal is "Permission denied".
  bool scriptable(IDispatch* d) {
    VARIANT v{};
    EXCEPINFO info{};
    const HRESULT hr = call(d, L"LevelNum", DISPATCH_PROPERTYGET, {}, &v, &info);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), hr == S_OK ? 0u : 0x800A0046u);
    ::SysFreeString(info.bstrSource), ::SysFreeString(info.bstrDescription);
    return hr == S_OK;
  }

  HKEY key_ = nullptr;
};

TEST_F(Browser, SafeOnlyOnAllowedPagesInEitherOrder) {
  const std::pair<const wchar_t*, bool> pages[] = {
      {L"https://erp.example.com/store/order.htm", true},      {L"https://ERP.example.com:443/store", true},
      {L"https://erp.example.com/shop/../store/a.htm", true},  {L"http://intranet:8080/any/page.htm", true},
      {L"https://up.example.com/x", true},                     {L"https://erp.example.com@evil.test/store/", false},
      {L"https://erp.example.com:8443/store/", false},         {L"https://erp.example.com/storefront/", false},
      {L"https://erp.example.com/store/../admin/", false},     {L"http://erp.example.com/store/", false},
      {L"https://erp.example.com.evil.test/store/", false},    {L"http://intranet/", false},
      {L"file:///C:/store/page.htm", false},                   {L"about:blank", false},
  };
  for (const auto& [url, allowed] : pages) {  // the site first, as MiscStatus asks
    IDispatch* d = create();
    PageClientSite page(url);
    site(d, &page);
    EXPECT_EQ(safe(d), allowed) << url;
    EXPECT_EQ(scriptable(d), allowed) << url;  // also for a host that ignores the answer
    d->Release();
  }
  // The question first: no address, not safe; a site on an allowed page and a
  // new question make it safe; moved to a refused page, it is refused again.
  IDispatch* d = create();
  EXPECT_FALSE(safe(d) || scriptable(d));
  PageClientSite allowed(L"https://erp.example.com/store/"), refused(L"https://evil.test/"), none(nullptr);
  site(d, &allowed);
  EXPECT_TRUE(safe(d) && scriptable(d));
  site(d, &refused);
  EXPECT_FALSE(scriptable(d));
  site(d, &none);
  EXPECT_FALSE(safe(d));
  d->Release();
  // A host that never asks scripts the control on any page, as before.
  IDispatch* desktop = create();
  site(desktop, &refused);
  EXPECT_TRUE(scriptable(desktop));
  desktop->Release();
}

}  // namespace
}  // namespace qmx
