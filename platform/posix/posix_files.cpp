#include "platform/posix/posix_files.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <limits>

#include "base/automation_error.h"
#include "platform/posix/file_system_calls.h"
#include "platform/temporary_names.h"

namespace qmx::posix {
namespace {

int systemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t systemWrite(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }
int systemFsync(int fd) { return ::fsync(fd); }
int systemClose(int fd) { return ::close(fd); }
int systemRename(const char* from, const char* to) { return ::rename(from, to); }

// Fresh temporary names tried before a write gives up.
constexpr int kTemporaryNameAttempts = 100;

constexpr FileSystemCalls kSystemCalls{systemOpen, systemWrite, systemFsync, systemClose, systemRename};
FileSystemCalls activeCalls = kSystemCalls;

// False with errno set when not every byte could be written.
bool writeAll(const FileSystemCalls& sys, int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = sys.write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A file system that takes nothing and reports no error is out of room
    // (as SQLite reads it); looping on would never end.
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Thrown by the sink of a streamed write when the file system refuses a piece.
struct PieceNotWritten {
  int err;
};

// Removes a temporary that will never be renamed, and reports err for the target.
[[noreturn]] void abandonTemporary(const std::string& temp, int err, const std::string& controlPath) {
  ::unlink(temp.c_str());
  throwFileError(err, controlPath, false);
}

}  // namespace

const FileSystemCalls& fileSystemCalls() { return activeCalls; }

ScopedFileSystemCalls::ScopedFileSystemCalls(const FileSystemCalls& calls) : previous_(activeCalls) {
  activeCalls = calls;
}

ScopedFileSystemCalls::~ScopedFileSystemCalls() { activeCalls = previous_; }

const FileSystemCalls& ScopedFileSystemCalls::real() { return kSystemCalls; }

int errorNumberForErrno(int err, bool missingIsFile) {
  switch (err) {
    case ENOENT: return missingIsFile ? kFileNotFound : kPathNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return kPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    case EEXIST: return kFileAlreadyExists;
    default: return kPathFileAccessError;
  }
}

void throwFileError(int err, const std::string& controlPath, bool missingIsFile) {
  const int number = errorNumberForErrno(err, missingIsFile);
  throw AutomationError(number, standardErrorText(number) + ": " + controlPath);
}

bool isReadOnlyFile(const std::string& hostPath) {
  struct stat st {};
  // The owner's write bit is what a Windows read-only attribute maps to; group
  // and other bits say who else may write, not whether the file may change.
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

void replaceFileAtomically(const std::string& hostPath, std::string_view bytes, FileAccess access,
                           const std::string& controlPath) {
  replaceFileAtomically(hostPath, [bytes](const Platform::ContentSink& sink) { sink(bytes); }, access, controlPath);
}

void replaceFileAtomically(const std::string& hostPath, const Platform::ContentWriter& write, FileAccess access,
                           const std::string& controlPath) {
  static std::atomic<std::uint64_t> counter{0};
  const auto slash = hostPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : hostPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
  if (name.empty()) throwFileError(EISDIR, controlPath, true);
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    throwFileError(EISDIR, controlPath, true);
  }
  // rename() would replace it whatever its mode, since the folder's mode decides;
  // a file marked read-only is refused instead, as deleting it is.
  if (isReadOnlyFile(hostPath)) throwFileError(EACCES, controlPath, false);
  removeStaleTemporaries(folder.empty() ? std::string(".") : folder);

  const FileSystemCalls& sys = fileSystemCalls();
  const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
  std::string temp;
  int fd = -1;
  // A process that died with this process's pid (a container runs its host as
  // the same pid every time) may have left the very name behind; take the next.
  for (int attempt = 0; fd < 0 && attempt < kTemporaryNameAttempts; ++attempt) {
    temp = folder + replaceTemporaryName(name, static_cast<std::uint64_t>(::getpid()), counter.fetch_add(1));
    fd = sys.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throwFileError(errno, controlPath, false);
  if (access == FileAccess::OwnerOnly) ::fchmod(fd, 0600);  // whatever the umask
  try {
    write([&](std::string_view piece) {
      if (!writeAll(sys, fd, piece)) throw PieceNotWritten{errno};
    });
  } catch (const PieceNotWritten& failed) {
    sys.close(fd);  // even if the write failed, close before removing the temporary
    abandonTemporary(temp, failed.err, controlPath);
  } catch (...) {
    // The content could not be made (a character the code page lacks, say).
    sys.close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  if (sys.fsync(fd) != 0) {
    const int err = errno;
    sys.close(fd);
    abandonTemporary(temp, err, controlPath);
  }
  // A close can report a write the fsync did not (some network file systems).
  if (sys.close(fd) != 0) abandonTemporary(temp, errno, controlPath);
  if (sys.rename(temp.c_str(), hostPath.c_str()) != 0) abandonTemporary(temp, errno, controlPath);
}

bool isStaleTemporary(std::string_view fileName) {
  const std::optional<std::uint64_t> writer = replaceTemporaryWriter(fileName);
  // 0 and numbers beyond pid_t would make kill() ask about a process group or
  // another process; such a name is no writer's we can judge.
  if (!writer || *writer == 0 ||
      *writer > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) {
    return false;
  }
  // EPERM means alive but another user's: only "no such process" lets it go.
  return ::kill(static_cast<pid_t>(*writer), 0) == -1 && errno == ESRCH;
}

void removeStaleTemporaries(const std::string& hostFolder) {
  DIR* dir = ::opendir(hostFolder.c_str());
  if (!dir) return;
  const int dirFd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (!isStaleTemporary(entry->d_name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

std::optional<std::string> readWholeFile(const std::string& hostPath, const std::string& controlPath) {
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throwFileError(errno, controlPath, true);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throwFileError(err, controlPath, true);
  }
  // Read straight into the text, sized from the file; a file that grows
  // meanwhile still reads whole.
  std::string out(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throwFileError(err, controlPath, true);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(got);
  return out;
}

}  // namespace qmx::posix
