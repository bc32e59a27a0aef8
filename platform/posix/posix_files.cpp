#include "platform/posix/posix_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "base/automation_error.h"

namespace qmx::posix {

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

namespace {

bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void replaceFileAtomically(const std::string& hostPath, std::string_view bytes, FileAccess access,
                           const std::string& controlPath) {
  static std::atomic<unsigned> counter{0};
  const auto slash = hostPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : hostPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
  if (name.empty()) throwFileError(EISDIR, controlPath, true);
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    throwFileError(EISDIR, controlPath, true);
  }
  const std::string temp = (slash == std::string::npos ? std::string() : folder) + "." + name +
                           ".tmp" + std::to_string(::getpid()) + "_" +
                           std::to_string(counter.fetch_add(1));
  const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throwFileError(errno, controlPath, false);
  if (access == FileAccess::OwnerOnly) ::fchmod(fd, 0600);  // whatever the umask
  if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);  // even if the write failed, close before removing the temporary
    ::unlink(temp.c_str());
    throwFileError(err, controlPath, false);
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throwFileError(err, controlPath, false);
  }
  if (::rename(temp.c_str(), hostPath.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throwFileError(err, controlPath, false);
  }
}

bool isReplaceTemporary(std::string_view fileName) {
  if (fileName.size() < 2 || fileName.front() != '.') return false;
  const auto tmp = fileName.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp < 2) return false;
  const std::string_view counters = fileName.substr(tmp + 4);
  const auto underscore = counters.find('_');
  const auto allDigits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return underscore != std::string_view::npos && allDigits(counters.substr(0, underscore)) &&
         allDigits(counters.substr(underscore + 1));
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
  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throwFileError(err, controlPath, true);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

}  // namespace qmx::posix
