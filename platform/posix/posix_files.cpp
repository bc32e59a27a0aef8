#include "platform/posix/posix_files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
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

// A whole-file lock on an open file description (an OFD lock): it belongs to
// the open file, not to a process id, so it is seen from every pid namespace on
// the kernel and, being an fcntl lock, from other NFS clients, where flock may
// be local only; and unlike a classic fcntl lock no other close of the same file
// in this process drops it. F_WRLCK needs a writable fd, F_RDLCK a readable one.
int lockWholeFile(int fd, short type, int command) {
  struct flock whole {};
  whole.l_type = type;
  whole.l_whence = SEEK_SET;
  int result;
  while ((result = ::fcntl(fd, command, &whole)) != 0 && errno == EINTR) {
  }
  return result;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A temporary being written, claimed by an exclusive lock from its creation
// until this object goes: the lock is held on a second descriptor of the same
// open file, so it outlasts close() and covers the rename after it.
class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(UniqueFd fd) : fd_(std::move(fd)), claim_(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0)) {
    // Waits out a cleaner checking it. Without locks (an old kernel, a file
    // system without them) the temporary is left to the cleaners' quiet period.
    if (claim_) (void)lockWholeFile(claim_.get(), F_WRLCK, F_OFD_SETLKW);
  }
  FsError write(std::string_view bytes) override { return writeAll(fd_.get(), bytes, ::write) ? 0 : lastError(); }
  FsError flush() override { return ::fsync(fd_.get()) == 0 ? 0 : lastError(); }
  // The close's own result counts: some network file systems report a failed
  // write only there.
  FsError close() override { return ::close(fd_.release()) == 0 ? 0 : lastError(); }

 private:
  UniqueFd fd_;
  UniqueFd claim_;
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

bool PosixFileSystem::removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) {
  const std::string at = host(path);
  struct stat named {};
  // Only a regular file is opened (opening a device can have effects);
  // O_NOFOLLOW and O_NONBLOCK cover a link or a FIFO swapped in since.
  if (::lstat(at.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  const UniqueFd fd(::open(at.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  // A shared lock cannot be had while a writer holds its exclusive one. Any
  // other failure (no locks here) leaves the quiet period to decide.
  if (lockWholeFile(fd.get(), F_RDLCK, F_OFD_SETLK) != 0 && (errno == EAGAIN || errno == EACCES)) return false;
  struct stat held {};
  if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) || ::time(nullptr) - held.st_mtime < quietSeconds)
    return false;
  // Unlinking goes by name: only while the name still holds the file judged.
  // Between this check and the unlink the name cannot take another file: a
  // temporary is made with O_EXCL, so a new one of this name needs this one
  // gone first, which only a second cleaner racing this one could do; the new
  // writer's rename would then fail and be reported, the old content kept.
  if (::lstat(at.c_str(), &named) != 0 || !sameFile(named, held)) return false;
  return ::unlink(at.c_str()) == 0;
}

}  // namespace qmx::posix
