// Registration as the registry sees it: the x86 and x64 classes side by side
// in their two views, each removable in either order, and a registration
// failing at any write leaving the registry exactly as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <string>

#include "com/com_ptr.h"
#include "com/registration.h"

namespace qmx::com {
namespace {

const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kClass = kClasses + L"CLSID\\{117224C4-21F9-4A8E-83B8-C5878C84C3E0}";
const std::wstring kTypeLib = kClasses + L"TypeLib\\{C84D86A1-C391-45D5-AE21-D07F6D2E2879}";
const std::wstring kLibrary = kTypeLib + L"\\1.0\\0\\";
const std::wstring kInterfaces[] = {kClasses + L"Interface\\{6984521A-5664-4A3C-A7EB-E155A37A3D5D}",
                                    kClasses + L"Interface\\{223971BA-EA2F-4BC2-B350-95FC0A56DCA0}"};

// Every key and value of a subtree, as lines of text.
void dump(HKEY key, const std::wstring& path, std::wstring& out) {
  out += path + L"\n";
  wchar_t name[256];
  BYTE data[2048];
  for (DWORD i = 0, n = 256, size = sizeof data;
       ::RegEnumValueW(key, i, name, &n, nullptr, nullptr, data, &size) == ERROR_SUCCESS;
       ++i, n = 256, size = sizeof data)
    out += L"  " + std::wstring(name, n) + L"=" + reinterpret_cast<const wchar_t*>(data) + L"\n";
  for (DWORD i = 0, n = 256; ::RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, n = 256) {
    HKEY sub = nullptr;
    if (::RegOpenKeyExW(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    dump(sub, path + L"\\" + name, out);
    ::RegCloseKey(sub);
  }
}

// The control's subtrees of HKEY_LOCAL_MACHINE in both views.
std::wstring snapshot() {
  std::wstring out;
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (const std::wstring& tree : {kClass, kClasses + L"QMXProdActiveX.XMLLoad", kTypeLib,
                                     kInterfaces[0], kInterfaces[1]}) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, tree.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
      dump(key, (view == KEY_WOW64_32KEY ? L"32:" : L"64:") + tree, out);
      ::RegCloseKey(key);
    }
  return out;
}

bool has(REGSAM view, const std::wstring& key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  ::RegCloseKey(handle);
  return true;
}

// Refuses every recorded write after the first `allowed` ones.
class FailingEdit : public RegistryEdit {
 public:
  explicit FailingEdit(int allowed) : RegistryEdit(HKEY_LOCAL_MACHINE), allowed_(allowed) {}

 protected:
  LONG createKey(HKEY parent, const std::wstring& name, REGSAM access, HKEY* out, DWORD* disposition) override {
    return allowed_-- > 0 ? RegistryEdit::createKey(parent, name, access, out, disposition) : ERROR_ACCESS_DENIED;
  }
  LONG setValue(HKEY key, const std::wstring& name, DWORD type, const BYTE* data, DWORD size) override {
    return allowed_-- > 0 ? RegistryEdit::setValue(key, name, type, data, size) : ERROR_ACCESS_DENIED;
  }

 private:
  int allowed_;
};

class Registration64And32 : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t path[MAX_PATH];
    std::wstring dll(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"qmxprodax.dll";
    ASSERT_EQ(::LoadTypeLibEx(dll.c_str(), REGKIND_NONE, lib_.put()), S_OK);
    before_ = snapshot();
    if (!before_.empty()) GTEST_SKIP() << "the control is registered on this machine";
  }
  HRESULT run(const Registration& what, bool install, int allowed = 1 << 20) {
    FailingEdit edit(allowed);
    return install ? registerServer(what, *lib_.get(), edit) : unregisterServer(what, *lib_.get(), edit);
  }

  ComPtr<ITypeLib> lib_;
  std::wstring before_;
  const Registration x64_{KEY_WOW64_64KEY, SYS_WIN64, L"C:\\x64\\qmxprodax.dll"};
  const Registration x86_{KEY_WOW64_32KEY, SYS_WIN32, L"C:\\x86\\qmxprodax.dll"};
};

TEST_F(Registration64And32, EachArchitectureRemovableInEitherOrderTheLastTakingEverything) {
  for (const bool x64First : {true, false}) {
    const Registration& first = x64First ? x64_ : x86_;
    const Registration& last = x64First ? x86_ : x64_;
    ASSERT_EQ(run(x86_, true), S_OK);
    ASSERT_EQ(run(x64_, true), S_OK);
    const std::wstring both = snapshot();
    EXPECT_NE(both.find(L"32:" + kClass + L"\\InprocServer32\n  =C:\\x86\\qmxprodax.dll\n"), std::wstring::npos);
    EXPECT_NE(both.find(L"64:" + kClass + L"\\InprocServer32\n  =C:\\x64\\qmxprodax.dll\n"), std::wstring::npos);
    ASSERT_EQ(run(first, false), S_OK);
    EXPECT_FALSE(has(first.view, kClass));
    EXPECT_TRUE(has(last.view, kClass + L"\\InprocServer32"));
    EXPECT_TRUE(has(last.view, kClasses + L"QMXProdActiveX.XMLLoad\\CLSID"));
    EXPECT_TRUE(has(last.view, kLibrary + (x64First ? L"win32" : L"win64")));
    EXPECT_FALSE(has(last.view, kLibrary + (x64First ? L"win64" : L"win32")));
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
      for (const std::wstring& i : kInterfaces) EXPECT_TRUE(has(view, i + L"\\TypeLib"));
    ASSERT_EQ(run(last, false), S_OK);
    EXPECT_EQ(snapshot(), before_) << "x64 first: " << x64First;
  }
}

TEST_F(Registration64And32, AFailureAtAnyWriteLeavesTheRegistryAsItWas) {
  // From nothing (keys made) and over the other architecture and an older
  // registration of this one elsewhere (values replaced).
  for (const bool over : {false, true}) {
    if (over) {
      ASSERT_EQ(run({KEY_WOW64_64KEY, SYS_WIN64, L"C:\\old\\qmxprodax.dll"}, true), S_OK);
      ASSERT_EQ(run(x86_, true), S_OK);
    }
    const std::wstring was = snapshot();
    int allowed = 0;
    for (HRESULT hr; (hr = run(x64_, true, allowed)) != S_OK; ++allowed) {
      ASSERT_TRUE(hr == SELFREG_E_CLASS || hr == SELFREG_E_TYPELIB) << allowed;
      ASSERT_EQ(snapshot(), was) << "failing after " << allowed << " writes";
    }
    EXPECT_GT(allowed, 30);
    ASSERT_EQ(run(x86_, false), S_OK);
    ASSERT_EQ(run(x64_, false), S_OK);
    EXPECT_EQ(snapshot(), before_);
  }
}

}  // namespace
}  // namespace qmx::com
