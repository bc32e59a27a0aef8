// The Windows file primitives and the owner-only descriptor.
#include "platform/win/win_files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "base/automation_error.h"
#include "base/unique_handle.h"
#include "platform/file_policy.h"
#include "platform/win/win_folder_lock.h"
#include "platform/win/win_text.h"

namespace qmx::win {
namespace {

// Plain functions: an imported function's address is no constant to pass on.
void closeHandle(HANDLE h) { ::CloseHandle(h); }
void closeFind(HANDLE h) { ::FindClose(h); }
void freeLocal(HLOCAL h) { ::LocalFree(h); }
using FileHandle = UniqueHandle<HANDLE, closeHandle>;
using FindHandle = UniqueHandle<HANDLE, closeFind>;
using LocalMemory = UniqueHandle<HLOCAL, freeLocal>;

FsError lastError() { return errorNumberForWin32(::GetLastError()); }

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesW(widen(path).c_str()); }

// A descriptor that lets only this process's user and the system in, not
// inheriting the folder's entries: the credential record must not be readable
// by other users of the machine. Empty when it cannot be made.
LocalMemory ownerOnlyDescriptor() {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
  const FileHandle token(rawToken);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  wchar_t* rawUser = nullptr;
  if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &rawUser))
    return {};
  const LocalMemory user(rawUser);
  const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(rawUser) + L")(A;;FA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return {};
  return LocalMemory(descriptor);
}

// A temporary being written. Its writer's claim is a second handle, open until
// this object goes: a cleaner opens the file unshared, which fails while any
// handle is open, so the claim outlasts close() and covers the rename after it.
class WinWritableFile : public WritableFile {
 public:
  WinWritableFile(FileHandle file, FileHandle claim) : file_(std::move(file)), claim_(std::move(claim)) {}
  FsError write(std::string_view bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes.data() + done, chunk, &written, nullptr)) return lastError();
      if (written == 0) return kDiskFull;
      done += written;
    }
    return 0;
  }
  FsError flush() override { return ::FlushFileBuffers(file_.get()) ? 0 : lastError(); }
  FsError close() override { return ::CloseHandle(file_.release()) ? 0 : lastError(); }

 private:
  FileHandle file_;
  FileHandle claim_;
};

std::int64_t ticksOf(const FILETIME& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

}  // namespace

FsError errorNumberForWin32(std::uint32_t error) {
  switch (error) {
    // As on POSIX, where a missing folder on the way is ENOENT too.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kFileNotFound;
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return kPermissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return kDiskFull;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return kFileAlreadyExists;
    default: return kPathFileAccessError;
  }
}

EntryKind WinFileSystem::kind(const std::string& path) {
  const DWORD a = attributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::None;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

bool WinFileSystem::isReadOnly(const std::string& path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_READONLY);
}

FsError WinFileSystem::createFolder(const std::string& path) {
  return ::CreateDirectoryW(widen(path).c_str(), nullptr) ? 0 : lastError();
}

FsError WinFileSystem::createExclusive(const std::string& path, FileAccess access,
                                       std::unique_ptr<WritableFile>& file) {
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  LocalMemory ownerOnly;
  if (access == FileAccess::OwnerOnly) {
    // Better no record than one every user of the machine can read.
    ownerOnly = ownerOnlyDescriptor();
    if (!ownerOnly) return kPermissionDenied;
    security.lpSecurityDescriptor = ownerOnly.get();
  }
  // Shared for deletion so that this writer can rename it with its claim open
  // (a rename needs delete access); a cleaner's unshared open still fails.
  const std::wstring wide = widen(path);
  FileHandle handle(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &security,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return lastError();
  // Without a claim (it cannot fail short of handles running out) the
  // temporary is left to the cleaners' quiet period.
  FileHandle claim(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  file = std::make_unique<WinWritableFile>(std::move(handle), std::move(claim));
  return 0;
}

FsError WinFileSystem::renameOver(const std::string& from, const std::string& to) {
  return ::MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : lastError();
}

FsError WinFileSystem::remove(const std::string& path) { return ::DeleteFileW(widen(path).c_str()) ? 0 : lastError(); }

FsError WinFileSystem::flushFolder(const std::string&) { return 0; }

FsError WinFileSystem::listFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  WIN32_FIND_DATAW data;
  const FindHandle find(::FindFirstFileW(widen(pathInFolder(folder, "*")).c_str(), &data));
  if (!find) return lastError();
  do {
    std::string name = narrow(data.cFileName);
    if (name == "." || name == "..") continue;
    entries.push_back({std::move(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder
                                                                                             : EntryKind::File});
  } while (::FindNextFileW(find.get(), &data));
  return 0;
}

FsError WinFileSystem::readWhole(const std::string& path, std::uint64_t maxBytes, std::string& bytes) {
  const FileHandle file(::CreateFileW(widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lastError();
  // A pipe or a device ("NUL", "CON", "\\.\pipe\...") may never end or never answer.
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return kPathFileAccessError;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return lastError();
  if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return kFileOverCap;
  bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buf, sizeof buf, &n, nullptr)) return lastError();
    if (n == 0) break;
    bytes.append(buf, n);
    if (bytes.size() > maxBytes) return kFileOverCap;  // it grew while read
  }
  return 0;
}

FsError WinFileSystem::lockFolder(const std::string& folder, std::unique_ptr<FileLock>& lock) {
  return lockFolderByMutex(folder, lock);
}

std::uint64_t WinFileSystem::writerId() { return ::GetCurrentProcessId(); }

bool WinFileSystem::removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) {
  // Unshared: the open fails while anyone has the file open, its writer (of
  // this version or an earlier one) above all. The deletion goes through this
  // handle, so it removes the file judged whatever has become of the name.
  const FileHandle file(::CreateFileW(widen(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return false;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  if (ticksOf(now) - ticksOf(info.ftLastWriteTime) < quietSeconds * 10'000'000) return false;  // 100 ns ticks
  FILE_DISPOSITION_INFO dispose{TRUE};
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

}  // namespace qmx::win
