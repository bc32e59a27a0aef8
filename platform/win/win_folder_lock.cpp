#include "platform/win/win_folder_lock.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "base/automation_error.h"
#include "base/unique_handle.h"
#include "platform/file_policy.h"
#include "platform/temporary_names.h"
#include "platform/win/win_files.h"
#include "platform/win/win_text.h"

namespace qmx::win {
namespace {

void closeHandle(HANDLE h) { ::CloseHandle(h); }
void freeLocal(HLOCAL h) { ::LocalFree(h); }
using Handle = UniqueHandle<HANDLE, closeHandle>;
using LocalMemory = UniqueHandle<HLOCAL, freeLocal>;

FsError lastError() { return errorNumberForWin32(::GetLastError()); }

// In the machine's namespace: the data folders are shared by every session and user.
constexpr std::wstring_view kNamePrefix = L"Global\\QMXProdActiveX.FolderLock.";
// A kernel object's name is at most MAX_PATH characters.
constexpr std::size_t kLongestName = MAX_PATH - 1;

// Text a call writes into a buffer, given the buffer and its size: the length
// written, or the size needed (with its terminator) when the buffer is too
// small, or 0 on failure. Empty on failure.
template <typename Fill>
std::wstring filled(const Fill& fill) {
  std::wstring text(MAX_PATH, L'\0');
  DWORD n = fill(text.data(), static_cast<DWORD>(text.size()));
  if (n >= text.size()) {
    text.resize(n);
    n = fill(text.data(), n);
  }
  text.resize(n < text.size() ? n : 0);
  return text;
}

// The folder's path as the file system knows it (relative parts, short names
// and links resolved), upper-cased, without the "\\?\" prefix or a trailing
// separator: every spelling of one folder gives the same text.
FsError canonicalPath(const std::wstring& folder, std::wstring& path) {
  const Handle directory(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!directory) return lastError();
  path = filled([&](wchar_t* buffer, DWORD size) {
    return ::GetFinalPathNameByHandleW(directory.get(), buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  // Some network redirectors cannot tell; the full path as written stands in,
  // the same text for the usual spellings once the prefix is gone.
  if (path.empty()) {
    path = filled([&](wchar_t* buffer, DWORD size) {
      return ::GetFullPathNameW(folder.c_str(), size, buffer, nullptr);
    });
  }
  if (path.empty()) return lastError();
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    path.erase(2, 6);
  } else if (path.rfind(L"\\\\?\\", 0) == 0) {
    path.erase(0, 4);
  }
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  // The invariant locale's upper case, as the file system compares names.
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()),
                                nullptr, 0, nullptr, nullptr, 0);
  std::wstring upper(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n <= 0 || ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(),
                                static_cast<int>(path.size()), upper.data(), n, nullptr, nullptr, 0) != n) {
    return lastError();
  }
  path = std::move(upper);
  return 0;
}

// "\" is the namespace separator in object names, and a canonical path has no
// "/", so the path is kept readable with "/" for "\". A path too long for a
// name goes by its 64-bit FNV-1a hash after "#", which no path starts with: two
// folders sharing one would only wait for each other.
std::wstring lockName(const std::wstring& canonical) {
  std::wstring name(kNamePrefix);
  if (name.size() + canonical.size() <= kLongestName) {
    for (const wchar_t c : canonical) name.push_back(c == L'\\' ? L'/' : c);
    return name;
  }
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t c : canonical) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ull;
  }
  name.push_back(L'#');
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(L"0123456789ABCDEF"[(hash >> shift) & 0xF]);
  return name;
}

// The locks this process's threads hold. A mutex lets its owner thread in
// again, so a call made from inside a locked run (a script's event handler,
// say) would work on the folder beside it; it is refused instead.
std::mutex heldGuard;
std::vector<std::pair<DWORD, std::wstring>> held;

bool holds(const std::wstring& name) {
  const std::lock_guard<std::mutex> guard(heldGuard);
  return std::find(held.begin(), held.end(), std::make_pair(::GetCurrentThreadId(), name)) != held.end();
}

class MutexLock : public FileLock {
 public:
  MutexLock(Handle mutex, std::wstring name) : mutex_(std::move(mutex)), name_(std::move(name)) {
    const std::lock_guard<std::mutex> guard(heldGuard);
    held.emplace_back(::GetCurrentThreadId(), name_);
  }
  ~MutexLock() override {
    {
      const std::lock_guard<std::mutex> guard(heldGuard);
      const auto entry = std::find(held.begin(), held.end(), std::make_pair(::GetCurrentThreadId(), name_));
      if (entry != held.end()) held.erase(entry);
    }
    // Only the thread that took it can: the lock lives within one call.
    ::ReleaseMutex(mutex_.get());
  }

 private:
  Handle mutex_;
  std::wstring name_;
};

// The earlier version locked a hidden empty file ".lock.tmp0_0" in the folder,
// which pages counted. It goes only while nobody has it open (the exclusive
// open fails otherwise): a process still running that version holds it open
// while it locks, and would fail to open it again once it is being deleted.
// Hosts cannot name a file so, and writer 0 is no process's temporary.
void removeEarlierLockFile(const std::string& folder) {
  const Handle file(::CreateFileW(widen(pathInFolder(folder, replaceTemporaryName("lock", 0, 0))).c_str(),
                                  DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart != 0) return;
  FILE_DISPOSITION_INFO dispose{TRUE};
  ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

FsError lockFolderByMutex(const std::string& folder, std::unique_ptr<FileLock>& lock) {
  std::wstring path;
  if (const FsError e = canonicalPath(widen(folder), path)) return e;
  std::wstring name = lockName(path);
  if (holds(name)) return kPermissionDenied;
  // Any user may wait for and release it, nobody may change it.
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1,
                                                              &rawDescriptor, nullptr)) {
    return lastError();
  }
  const LocalMemory descriptor(rawDescriptor);
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), rawDescriptor, FALSE};
  Handle mutex(::CreateMutexExW(&security, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
  if (!mutex) return lastError();
  // WAIT_ABANDONED: the holder ended without letting go. What it guarded is
  // sound all the same: the writers under it replace files whole, so each file
  // is its old or its new self, a torn temporary is cleared once its writer is
  // gone, and an upload it posted but did not delete goes again under the same
  // identity.
  const DWORD waited = ::WaitForSingleObject(mutex.get(), INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return lastError();
  lock = std::make_unique<MutexLock>(std::move(mutex), std::move(name));
  removeEarlierLockFile(folder);
  return 0;
}

}  // namespace qmx::win
