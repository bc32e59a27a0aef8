// Files, folders, the connected state and message boxes of the POSIX platform.
// The registry lives in posix_registry.cpp, HTTP in curl_http_session.cpp.
#include "platform/posix/posix_platform.h"
#include "platform/posix/iconv_charset.h"
#include "platform/posix/xcrypt_password_hash.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "platform/posix/posix_files.h"
#include "platform/temporary_names.h"

namespace qmx {
namespace {

class FolderLock : public FileLock {
 public:
  explicit FolderLock(int fd) : fd_(fd) {}
  ~FolderLock() override {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

 private:
  int fd_;
};

bool isKind(const std::string& hostPath, mode_t kind) {
  struct stat st {};
  return ::stat(hostPath.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

// Folders list their files in case-insensitive name order, as NTFS does, so that
// the order is the same on every machine.
bool listingOrder(const std::string& a, const std::string& b) {
  return upperAscii(a) < upperAscii(b);
}

}  // namespace

PosixPlatform::PosixPlatform(std::string machineRoot, MessageHandler onMessage)
    : drives_(std::move(machineRoot)), onMessage_(std::move(onMessage)) {}

std::string PosixPlatform::registryFilePath() const { return drives_.machineRoot() + "/registry.reg"; }

bool PosixPlatform::fileExists(const std::string& path) {
  return isKind(drives_.toHostPath(path), S_IFREG);
}

bool PosixPlatform::folderExists(const std::string& path) {
  return isKind(drives_.toHostPath(path), S_IFDIR);
}

void PosixPlatform::createFolder(const std::string& path) {
  if (::mkdir(drives_.toHostPath(path).c_str(), 0755) != 0) posix::throwFileError(errno, path, false);
}

std::optional<std::string> PosixPlatform::readFile(const std::string& path) {
  return posix::readWholeFile(drives_.toHostPath(path), path);
}

void PosixPlatform::replaceFile(const std::string& path, std::string_view bytes, FileAccess access) {
  posix::replaceFileAtomically(drives_.toHostPath(path), bytes, access, path);
}

void PosixPlatform::replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) {
  posix::replaceFileAtomically(drives_.toHostPath(path), write, access, path);
}

void PosixPlatform::deleteFile(const std::string& path) {
  const std::string host = drives_.toHostPath(path);
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) posix::throwFileError(errno, path, true);
  if (!S_ISREG(st.st_mode)) posix::throwFileError(ENOENT, path, true);
  // Without forcing: a file marked read-only stays, even for root.
  if ((st.st_mode & S_IWUSR) == 0) posix::throwFileError(EACCES, path, true);
  if (::unlink(host.c_str()) != 0) posix::throwFileError(errno, path, true);
}

std::vector<std::string> PosixPlatform::listFiles(const std::string& folder) {
  const std::string host = drives_.toHostPath(folder);
  DIR* dir = ::opendir(host.c_str());
  if (!dir) posix::throwFileError(errno, folder, false);
  std::vector<std::string> names;
  bool staleTemporaries = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // A write cut short by a crash leaves its temporary behind: it is no file of
    // the folder, and uploading it would post a torn or a doubled transaction.
    // Once its writer is gone nothing will rename it, so it goes (below).
    if (isReplaceTemporaryName(name)) {
      staleTemporaries = staleTemporaries || posix::isStaleTemporary(name);
      continue;
    }
    if (isKind(host + "/" + name, S_IFREG)) names.push_back(name);
  }
  ::closedir(dir);
  if (staleTemporaries) posix::removeStaleTemporaries(host);
  std::sort(names.begin(), names.end(), listingOrder);
  return names;
}

std::unique_ptr<FileLock> PosixPlatform::lockFolder(const std::string& folder) {
  const int fd = ::open(drives_.toHostPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) posix::throwFileError(errno, folder, false);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int err = errno;
      ::close(fd);
      posix::throwFileError(err, folder, false);
    }
  }
  return std::make_unique<FolderLock>(fd);
}

std::optional<std::uint32_t> PosixPlatform::queryConnectedState() {
  const std::string host = drives_.machineRoot() + "/internet-state";
  std::optional<std::string> text;
  try {
    text = posix::readWholeFile(host, host);
  } catch (const AutomationError&) {
    return std::nullopt;  // unreadable: the query failed
  }
  if (!text) return kInternetStateConnected;  // no file: the platform's default
  std::string_view s = *text;
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

bool PosixPlatform::setConnectedState(std::uint32_t state, std::uint32_t /*flags*/) {
  const std::string host = drives_.machineRoot() + "/internet-state";
  // A fresh machine has no root folder yet; the state must still stick.
  ::mkdir(drives_.machineRoot().c_str(), 0755);
  try {
    posix::replaceFileAtomically(host, std::to_string(state) + "\n", FileAccess::Everyone, host);
    return true;
  } catch (const AutomationError&) {
    return false;
  }
}

void PosixPlatform::messageBox(const std::string& text) {
  if (onMessage_) {
    onMessage_(text);
  } else {
    std::cerr << text << std::endl;
  }
}

std::optional<std::string> PosixPlatform::decodeCharset(std::string_view bytes, std::string_view charset) {
  return posix::iconvToUtf8(bytes, charset);
}

std::string PosixPlatform::hashPassword(std::string_view password) { return posix::yescryptHash(password); }

bool PosixPlatform::isPasswordHash(std::string_view text) { return posix::isYescryptHash(text); }

bool PosixPlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return posix::matchesYescryptHash(password, storedHash);
}

}  // namespace qmx
