#include "platform/posix/posix_files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <memory>

#include "base/automation_error.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/write_all.h"

namespace qmx::posix {
namespace {

FsError lastError() { return errorNumberForErrno(errno); }

EntryKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  return S_ISDIR(mode) ? EntryKind::Folder : EntryKind::Other;
}

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(UniqueFd fd) : fd_(std::move(fd)) {}
  FsError write(std::string_view bytes) override { return writeAll(fd_.get(), bytes, ::write) ? 0 : lastError(); }
  FsError flush() override { return ::fsync(fd_.get()) == 0 ? 0 : lastError(); }
  // The close's own result counts: some network file systems report a failed
  // write only there.
  FsError close() override { return ::close(fd_.release()) == 0 ? 0 : lastError(); }

 private:
  UniqueFd fd_;
};

class FolderLock : public FileLock {
 public:
  explicit FolderLock(UniqueFd fd) : fd_(std::move(fd)) {}
  ~FolderLock() override { ::flock(fd_.get(), LOCK_UN); }

 private:
  UniqueFd fd_;
};

}  // namespace

bool writeAll(int fd, std::string_view bytes, WriteCall write) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
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

FsError errorNumberForErrno(int err) {
  switch (err) {
    case 0: return kPathFileAccessError;  // a failure that left no reason
    case ENOENT: return kFileNotFound;
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

EntryKind PosixFileSystem::kind(const std::string& path) {
  struct stat st {};
  return ::stat(host(path).c_str(), &st) == 0 ? kindOf(st.st_mode) : EntryKind::None;
}

bool PosixFileSystem::isReadOnly(const std::string& path) {
  struct stat st {};
  // The owner's write bit is what a Windows read-only attribute maps to; group
  // and other bits say who else may write, not whether the file may change.
  return ::stat(host(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

FsError PosixFileSystem::createFolder(const std::string& path) {
  return ::mkdir(host(path).c_str(), 0755) == 0 ? 0 : lastError();
}

FsError PosixFileSystem::createExclusive(const std::string& path, FileAccess access,
                                         std::unique_ptr<WritableFile>& file) {
  const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
  UniqueFd fd(::open(host(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) return lastError();
  if (access == FileAccess::OwnerOnly) ::fchmod(fd.get(), 0600);  // whatever the umask
  file = std::make_unique<PosixWritableFile>(std::move(fd));
  return 0;
}

FsError PosixFileSystem::renameOver(const std::string& from, const std::string& to) {
  return ::rename(host(from).c_str(), host(to).c_str()) == 0 ? 0 : lastError();
}

FsError PosixFileSystem::remove(const std::string& path) {
  return ::unlink(host(path).c_str()) == 0 ? 0 : lastError();
}

FsError PosixFileSystem::flushFolder(const std::string& folder) {
  const UniqueFd fd(::open(host(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return lastError();
  // Some file systems cannot sync a folder at all; that is no failed write.
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP) return lastError();
  return 0;
}

FsError PosixFileSystem::listFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(host(folder).c_str()), ::closedir);
  if (!dir) return lastError();
  const int dirFd = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    // A link counts as what it points to, as opening it would.
    entries.push_back({name, ::fstatat(dirFd, entry->d_name, &st, 0) == 0 ? kindOf(st.st_mode) : EntryKind::None});
  }
  return 0;
}

FsError PosixFileSystem::readWhole(const std::string& path, std::uint64_t maxBytes, std::string& bytes) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come;
  // a regular file reads the same either way.
  const UniqueFd fd(::open(host(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return lastError();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return lastError();
  // A device such as /dev/zero never ends; only a regular file has a size to trust.
  if (!S_ISREG(st.st_mode)) return kPathFileAccessError;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return kFileOverCap;
  // Read straight into the text, sized from the file; a file that grows
  // meanwhile still reads whole, up to the cap.
  bytes.assign(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got > maxBytes) return kFileOverCap;
    if (got == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return 0;
}

FsError PosixFileSystem::lockFolder(const std::string& folder, std::unique_ptr<FileLock>& lock) {
  UniqueFd fd(::open(host(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return lastError();
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return lastError();
  }
  lock = std::make_unique<FolderLock>(std::move(fd));
  return 0;
}

std::uint64_t PosixFileSystem::writerId() { return static_cast<std::uint64_t>(::getpid()); }

bool PosixFileSystem::writerAlive(std::uint64_t writer) {
  // Numbers beyond pid_t would make kill() ask about a process group or
  // another process; such a name is no writer's we can judge.
  if (writer == 0 || writer > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) return true;
  // EPERM means alive but another user's: only "no such process" lets it go.
  return !(::kill(static_cast<pid_t>(writer), 0) == -1 && errno == ESRCH);
}

}  // namespace qmx::posix
