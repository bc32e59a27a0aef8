// The allow-list read and the address match of the site lock.
#include "com/site_lock.h"

#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include "base/unique_handle.h"
#include "com/com_ptr.h"

namespace qmx::com {
namespace {

constexpr const wchar_t* kKey = L"SOFTWARE\\Velmora Solutions\\QMXProdActiveX";
constexpr const wchar_t* kValue = L"AllowedSites";

void closeKey(HKEY key) { ::RegCloseKey(key); }
using KeyHandle = UniqueHandle<HKEY, closeKey>;

// The parts of an address the lock compares.
struct Address {
  std::wstring scheme;
  std::wstring host;
  DWORD port = 0;  // the scheme's default when none is written; 0 for schemes without ports
  std::wstring path;
};

std::wstring take(BSTR text) {
  std::wstring out(text ? text : L"", text ? ::SysStringLen(text) : 0);
  ::SysFreeString(text);
  return out;
}

std::optional<Address> parse(const std::wstring& text) {
  ComPtr<IUri> uri;
  // A DOS path reads as the file: address a browser shows for it.
  const DWORD flags = Uri_CREATE_ALLOW_IMPLICIT_FILE_SCHEME | Uri_CREATE_CANONICALIZE | Uri_CREATE_NO_DECODE_EXTRA_INFO;
  if (text.empty() || FAILED(::CreateUri(text.c_str(), flags, 0, uri.put())) || !uri) return std::nullopt;
  Address a;
  BSTR part = nullptr;
  if (FAILED(uri->GetSchemeName(&part))) return std::nullopt;
  a.scheme = take(part);
  part = nullptr;
  if (FAILED(uri->GetHost(&part))) return std::nullopt;
  a.host = take(part);
  part = nullptr;
  if (FAILED(uri->GetPath(&part))) return std::nullopt;
  a.path = take(part);
  if (uri->GetPort(&a.port) != S_OK) a.port = 0;
  if (a.scheme.empty()) return std::nullopt;
  return a;
}

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether path is prefix or lies below it; the path compares exactly, case included.
bool pathUnder(std::wstring_view path, std::wstring_view prefix) {
  while (!prefix.empty() && prefix.back() == L'/') prefix.remove_suffix(1);
  if (path.substr(0, prefix.size()) != prefix) return false;
  return path.size() == prefix.size() || path[prefix.size()] == L'/';
}

bool allows(const std::optional<Address>& entry, const Address& page) {
  return entry && sameIgnoringCase(entry->scheme, page.scheme) && sameIgnoringCase(entry->host, page.host) &&
         entry->port == page.port && pathUnder(page.path, entry->path);
}

}  // namespace

std::vector<std::wstring> allowedSites() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS) return {};
  const KeyHandle key(raw);
  std::wstring data;
  DWORD type = REG_NONE;
  // The value may grow between the two calls; ask again with the new size.
  for (int attempt = 0;; ++attempt) {
    DWORD size = 0;
    if (attempt == 8 || ::RegQueryValueExW(key.get(), kValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return {};
    data.assign(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG rc =
        ::RegQueryValueExW(key.get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (rc == ERROR_SUCCESS) {
      data.resize(size / sizeof(wchar_t));
      break;
    }
    if (rc != ERROR_MORE_DATA) return {};
  }
  if (type != REG_MULTI_SZ) return {};
  // Strings end at NULs; the last may lack its own. A string may hold several
  // addresses separated by spaces (an address has none), as an installer
  // property that is one string gives them.
  std::vector<std::wstring> entries;
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t end = std::min(data.find_first_of(L"\0 \t", at, 3), data.size());
    if (end > at) entries.emplace_back(data, at, end - at);
    at = end + 1;
  }
  return entries;
}

bool pageAllowed(const std::wstring& page) {
  const std::optional<Address> at = parse(page);
  if (!at) return false;
  for (const std::wstring& entry : allowedSites()) {
    if (allows(parse(entry), *at)) return true;
  }
  return false;
}

}  // namespace qmx::com
