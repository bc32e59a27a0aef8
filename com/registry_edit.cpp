// Registry writes with an undo record.
#include "com/registry_edit.h"

namespace qmx::com {

namespace {

struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key) ::RegCloseKey(key);
  }
};

}  // namespace

// One level at a time, so that each key made is known and can be deleted.
bool RegistryEdit::openCreating(REGSAM view, const std::wstring& key, HKEY* out) {
  const REGSAM access = KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE | KEY_SET_VALUE | view;
  HKEY parent = root_;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = key.find(L'\\', start);
    const std::wstring path = key.substr(0, end);
    HKEY child = nullptr;
    DWORD disposition = 0;
    LONG rc = beforeWrite();
    if (rc == ERROR_SUCCESS)
      rc = ::RegCreateKeyExW(parent, path.substr(start).c_str(), 0, nullptr, 0, access, nullptr, &child, &disposition);
    if (parent != root_) ::RegCloseKey(parent);
    if (rc != ERROR_SUCCESS) return false;
    if (disposition == REG_CREATED_NEW_KEY) undo_.push_back({view, path, true, {}, false, 0, {}});
    if (end == std::wstring::npos) {
      *out = child;
      return true;
    }
    parent = child;
    start = end + 1;
  }
}

bool RegistryEdit::setString(REGSAM view, const std::wstring& key, const std::wstring& name,
                             const std::wstring& value) {
  KeyCloser handle;
  if (!openCreating(view, key, &handle.key)) return false;
  Undo entry{view, key, false, name, false, 0, {}};
  DWORD size = 0;
  if (::RegQueryValueExW(handle.key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    entry.data.resize(size);
    if (::RegQueryValueExW(handle.key, name.c_str(), nullptr, &entry.type, entry.data.data(), &size) !=
        ERROR_SUCCESS)
      return false;
    entry.data.resize(size);
    entry.hadValue = true;
  }
  if (beforeWrite() != ERROR_SUCCESS ||
      ::RegSetValueExW(handle.key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
    return false;
  undo_.push_back(std::move(entry));
  return true;
}

void RegistryEdit::rollback() {
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    if (it->created) {
      ::RegDeleteKeyExW(root_, it->key.c_str(), it->view, 0);
      continue;
    }
    KeyCloser handle;
    if (::RegOpenKeyExW(root_, it->key.c_str(), 0, KEY_SET_VALUE | it->view, &handle.key) != ERROR_SUCCESS) continue;
    if (it->hadValue)
      ::RegSetValueExW(handle.key, it->name.c_str(), 0, it->type, it->data.data(), static_cast<DWORD>(it->data.size()));
    else
      ::RegDeleteValueW(handle.key, it->name.c_str());
  }
  undo_.clear();
}

bool RegistryEdit::removeTree(REGSAM view, const std::wstring& key) {
  {
    KeyCloser handle;
    const LONG rc = ::RegOpenKeyExW(root_, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle.key);
    if (rc == ERROR_FILE_NOT_FOUND) return true;
    if (rc != ERROR_SUCCESS || ::RegDeleteTreeW(handle.key, nullptr) != ERROR_SUCCESS) return false;
  }
  const LONG rc = ::RegDeleteKeyExW(root_, key.c_str(), view, 0);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

void RegistryEdit::removeIfEmpty(REGSAM view, const std::wstring& key) {
  KeyCloser handle;
  DWORD subkeys = 0, values = 0;
  if (::RegOpenKeyExW(root_, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle.key) == ERROR_SUCCESS &&
      ::RegQueryInfoKeyW(handle.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      subkeys == 0 && values == 0)
    ::RegDeleteKeyExW(root_, key.c_str(), view, 0);
}

bool RegistryEdit::exists(REGSAM view, const std::wstring& key) const {
  KeyCloser handle;
  return ::RegOpenKeyExW(root_, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle.key) == ERROR_SUCCESS;
}

}  // namespace qmx::com
