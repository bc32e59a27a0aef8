// Files and folders of the Windows platform, and the folder lock.
#include "platform/win/win_files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "platform/temporary_names.h"
#include "platform/win/win_platform.h"
#include "platform/win/win_text.h"

namespace qmx {
namespace win {

int errorNumberForWin32(std::uint32_t error, bool missingIsFile) {
  switch (error) {
    // As on POSIX, where a missing folder on the way is ENOENT too.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return missingIsFile ? kFileNotFound : kPathNotFound;
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

void throwFileError(std::uint32_t error, const std::string& controlPath, bool missingIsFile) {
  const int number = errorNumberForWin32(error, missingIsFile);
  throw AutomationError(number, standardErrorText(number) + ": " + controlPath);
}

bool isStaleTemporary(std::string_view fileName) {
  const std::optional<std::uint64_t> writer = replaceTemporaryWriter(fileName);
  // 0 names no process (it is the folder lock's file, below); larger than a
  // DWORD is no Windows process id.
  if (!writer || *writer == 0 || *writer > 0xFFFFFFFFull) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(*writer));
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  // An ended process whose handle someone still holds keeps its id for a while.
  const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

}  // namespace win

namespace {

using win::throwFileError;
using win::widen;

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesW(widen(path).c_str()); }

std::pair<std::string, std::string> splitFolder(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return {std::string(), path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

// Files, not folders, directly in folder (with its trailing separator or empty).
template <typename Visit>
bool forEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(widen((folder.empty() ? std::string(".\\") : folder) + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    visit(data);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return true;
}

void removeStaleTemporaries(const std::string& folder) {
  std::vector<std::wstring> stale;
  forEachEntry(folder, [&](const WIN32_FIND_DATAW& d) {
    if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && win::isStaleTemporary(win::narrow(d.cFileName)))
      stale.emplace_back(d.cFileName);
  });
  for (const auto& name : stale) ::DeleteFileW((widen(folder) + name).c_str());
}

// A descriptor that lets only this process's user and the system in, not
// inheriting the folder's entries: the credential record must not be readable
// by other users of the machine.
class OwnerOnlyDescriptor {
 public:
  OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t* user = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user)) {
      const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(user) + L")(A;;FA;;;SY)";
      if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_,
                                                                   nullptr))
        descriptor_ = nullptr;
      ::LocalFree(user);
    }
    ::CloseHandle(token);
  }
  ~OwnerOnlyDescriptor() {
    if (descriptor_) ::LocalFree(descriptor_);
  }
  OwnerOnlyDescriptor(const OwnerOnlyDescriptor&) = delete;
  OwnerOnlyDescriptor& operator=(const OwnerOnlyDescriptor&) = delete;
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

class FolderLock : public FileLock {
 public:
  explicit FolderLock(HANDLE file) : file_(file) {}
  ~FolderLock() override {
    OVERLAPPED at{};
    ::UnlockFileEx(file_, 0, 1, 0, &at);
    ::CloseHandle(file_);
  }

 private:
  HANDLE file_;
};

}  // namespace

bool WinPlatform::fileExists(const std::string& path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool WinPlatform::folderExists(const std::string& path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void WinPlatform::createFolder(const std::string& path) {
  if (!::CreateDirectoryW(widen(path).c_str(), nullptr)) throwFileError(::GetLastError(), path, false);
}

std::optional<std::string> WinPlatform::readFile(const std::string& path) {
  // A folder is no file to read.
  if (folderExists(path)) throwFileError(ERROR_INVALID_NAME, path, true);
  Handle file;
  file.h = ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throwFileError(err, path, true);
  }
  std::string out;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.h, &size)) out.reserve(static_cast<std::size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.h, buf, sizeof buf, &n, nullptr)) throwFileError(::GetLastError(), path, true);
    if (n == 0) break;
    out.append(buf, n);
  }
  return out;
}

void WinPlatform::replaceFile(const std::string& path, std::string_view bytes, FileAccess access) {
  replaceFileStreamed(path, [bytes](const ContentSink& sink) { sink(bytes); }, access);
}

void WinPlatform::replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) {
  static std::atomic<std::uint64_t> counter{0};
  const auto [folder, name] = splitFolder(path);
  const DWORD a = attributesOf(path);
  if (name.empty() || (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)))
    throwFileError(ERROR_INVALID_NAME, path, true);
  // MoveFileEx would replace it whatever its mark; a read-only file is refused,
  // as deleting it is.
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) throwFileError(ERROR_ACCESS_DENIED, path, false);
  removeStaleTemporaries(folder);

  OwnerOnlyDescriptor ownerOnly;
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  if (access == FileAccess::OwnerOnly) {
    // Better no record than one every user of the machine can read.
    if (!ownerOnly.get()) throwFileError(ERROR_ACCESS_DENIED, path, false);
    security.lpSecurityDescriptor = ownerOnly.get();
  }
  std::wstring temp;
  Handle file;
  for (int attempt = 0; file.h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    temp = widen(folder + replaceTemporaryName(name, ::GetCurrentProcessId(), counter.fetch_add(1)));
    file.h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file.h == INVALID_HANDLE_VALUE) throwFileError(::GetLastError(), path, false);

  auto abandon = [&](DWORD err) {
    ::CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE));
    ::DeleteFileW(temp.c_str());
    throwFileError(err, path, false);
  };
  // Each piece is written as the writer makes it; a writer that cannot finish
  // (a character the code page lacks, say) leaves the old file as it was.
  try {
    write([&](std::string_view bytes) {
      std::size_t done = 0;
      while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file.h, bytes.data() + done, chunk, &written, nullptr)) abandon(::GetLastError());
        if (written == 0) abandon(ERROR_DISK_FULL);
        done += written;
      }
    });
  } catch (...) {
    if (file.h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE));
      ::DeleteFileW(temp.c_str());
    }
    throw;
  }
  if (!::FlushFileBuffers(file.h)) abandon(::GetLastError());
  if (!::CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE))) {
    const DWORD err = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    throwFileError(err, path, false);
  }
  if (!::MoveFileExW(temp.c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    throwFileError(err, path, false);
  }
}

void WinPlatform::deleteFile(const std::string& path) {
  const DWORD a = attributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) throwFileError(::GetLastError(), path, true);
  if (a & FILE_ATTRIBUTE_DIRECTORY) throwFileError(ERROR_FILE_NOT_FOUND, path, true);
  if (a & FILE_ATTRIBUTE_READONLY) throwFileError(ERROR_ACCESS_DENIED, path, true);
  if (!::DeleteFileW(widen(path).c_str())) throwFileError(::GetLastError(), path, true);
}

std::vector<std::string> WinPlatform::listFiles(const std::string& folder) {
  if (!folderExists(folder)) throwFileError(ERROR_PATH_NOT_FOUND, folder, false);
  const std::string prefix = folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
  std::vector<std::string> names;
  bool staleTemporaries = false;
  forEachEntry(prefix, [&](const WIN32_FIND_DATAW& d) {
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    std::string name = win::narrow(d.cFileName);
    // A write cut short leaves its temporary: no file of the folder (uploading it
    // would post a torn or doubled transaction), and cleared once its writer is gone.
    if (isReplaceTemporaryName(name)) {
      staleTemporaries = staleTemporaries || win::isStaleTemporary(name);
      return;
    }
    names.push_back(std::move(name));
  });
  if (staleTemporaries) removeStaleTemporaries(prefix);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return upperAscii(a) < upperAscii(b); });
  return names;
}

std::unique_ptr<FileLock> WinPlatform::lockFolder(const std::string& folder) {
  if (!folderExists(folder)) throwFileError(ERROR_PATH_NOT_FOUND, folder, false);
  // A directory handle takes no byte-range lock, so the lock lives on a file in
  // the folder, named like a temporary of writer 0: listings hide it, hosts
  // cannot name it, and no clean-up takes it for a dead writer's.
  const std::string prefix = folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
  const std::wstring lockPath = widen(prefix + replaceTemporaryName("lock", 0, 0));
  HANDLE file = ::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) throwFileError(::GetLastError(), folder, false);
  OVERLAPPED at{};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(file);
    throwFileError(err, folder, false);
  }
  return std::make_unique<FolderLock>(file);
}

}  // namespace qmx
