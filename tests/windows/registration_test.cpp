// Registration as the registry sees it: x86 and x64 side by side in their two
// views, removed in either order, and a registration failing at any write undone.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include "com/com_ptr.h"
#include "com/registration.h"

namespace qmx::com {
namespace {

const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kClass = kClasses + L"CLSID\\{117224C4-21F9-4A8E-83B8-C5878C84C3E0}";
const std::wstring kTypeLib = kClasses + L"TypeLib\\{C84D86A1-C391-45D5-AE21-D07F6D2E2879}";
const std::wstring kInterface = kClasses + L"Interface\\{6984521A-5664-4A3C-A7EB-E155A37A3D5D}";

// Every key of a subtree as a line, each followed by its values.
void dump(HKEY key, const std::wstring& path, std::wstring& out) {
  out += path + L"\n";
  wchar_t name[256];
  BYTE data[2048];
  for (DWORD i = 0, n = 256, size = sizeof data;
       ::RegEnumValueW(key, i, name, &n, nullptr, nullptr, data, &size) == ERROR_SUCCESS;
       ++i, n = 256, size = sizeof data)
    out += L"  " + std::wstring(name, n) + L"=" + reinterpret_cast<const wchar_t*>(data) + L"\n";
  HKEY sub = nullptr;
  for (DWORD i = 0, n = 256; ::RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, n = 256)
    if (::RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS)
      dump(sub, path + L"\\" + name, out), ::RegCloseKey(sub);
}

// The control's subtrees of HKEY_LOCAL_MACHINE, each line tagged with its view.
std::wstring snapshot() {
  std::wstring out;
  HKEY key = nullptr;
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (const std::wstring& tree : {kClass, kClasses + L"QMXProdActiveX.XMLLoad", kTypeLib, kInterface,
                                     kClasses + L"Interface\\{223971BA-EA2F-4BC2-B350-95FC0A56DCA0}"})
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, tree.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS)
        dump(key, (view == KEY_WOW64_32KEY ? L"32:" : L"64:") + tree, out), ::RegCloseKey(key);
  return out;
}
bool has(const std::wstring& lines) { return snapshot().find(lines + L"\n") != std::wstring::npos; }

struct FailingEdit : RegistryEdit {  // refuses every write after the first `allowed` ones
  explicit FailingEdit(int allowed) : RegistryEdit(HKEY_LOCAL_MACHINE), allowed(allowed) {}
  LONG beforeWrite() override { return allowed-- > 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED; }
  int allowed;
};

TEST(Registration, X86AndX64SideBySideRemovableInEitherOrderAndAFailedOneUndone) {
  ComPtr<ITypeLib> lib;  // found beside this program
  ASSERT_EQ(::LoadTypeLibEx(L"qmxprodax.dll", REGKIND_NONE, lib.put()), S_OK);
  const std::wstring before = snapshot();
  if (!before.empty()) GTEST_SKIP() << "the control is registered on this machine";
  const auto run = [&](const Registration& what, bool install, int allowed = 1 << 20) {
    FailingEdit edit(allowed);
    return install ? registerServer(what, *lib.get(), edit) : unregisterServer(what, *lib.get(), edit);
  };
  const Registration x64{KEY_WOW64_64KEY, SYS_WIN64, L"C:\\x64\\qmxprodax.dll"};
  const Registration x86{KEY_WOW64_32KEY, SYS_WIN32, L"C:\\x86\\qmxprodax.dll"};
  for (const bool x64First : {true, false}) {
    const std::wstring stays = x64First ? L"32:" : L"64:";
    ASSERT_TRUE(run(x86, true) == S_OK && run(x64, true) == S_OK);
    EXPECT_TRUE(has(L"32:" + kClass + L"\\InprocServer32\n  =C:\\x86\\qmxprodax.dll") &&
                has(L"64:" + kClass + L"\\InprocServer32\n  =C:\\x64\\qmxprodax.dll"));
    ASSERT_EQ(run(x64First ? x64 : x86, false), S_OK);
    EXPECT_TRUE(!has((x64First ? L"64:" : L"32:") + kClass) && has(stays + kClass + L"\\InprocServer32") &&
                has(stays + kClasses + L"QMXProdActiveX.XMLLoad\\CLSID"));
    EXPECT_TRUE(has(stays + kTypeLib + L"\\1.0\\0\\" + (x64First ? L"win32" : L"win64")) &&
                !has(stays + kTypeLib + L"\\1.0\\0\\" + (x64First ? L"win64" : L"win32")));
    EXPECT_TRUE(has(L"32:" + kInterface + L"\\TypeLib") && has(L"64:" + kInterface + L"\\TypeLib"));
    ASSERT_EQ(run(x64First ? x86 : x64, false), S_OK);
    EXPECT_EQ(snapshot(), before) << "x64 first: " << x64First;
  }
  // Over the x86 class: this view's keys are made, shared values (HELPDIR) replaced.
  ASSERT_EQ(run(x86, true), S_OK);
  const std::wstring was = snapshot();
  int allowed = 0;
  for (HRESULT hr; (hr = run(x64, true, allowed)) != S_OK; ++allowed) {
    ASSERT_TRUE(hr == SELFREG_E_CLASS || hr == SELFREG_E_TYPELIB) << allowed;
    ASSERT_EQ(snapshot(), was) << "failing after " << allowed << " writes";
  }
  EXPECT_TRUE(run(x86, false) == S_OK && run(x64, false) == S_OK && allowed > 30) << allowed;
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace qmx::com
