// The POSIX registry: <root>/registry.reg, parsed again whenever the file
// changes, so that every read reflects the file as it is now.
#include <sys/stat.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/posix_platform.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/unique_fd.h"

namespace qmx {
namespace {

// What identifies one version of the file. The change time moves on every
// write even when a writer restores the modification time.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileStamp stampOf(const struct stat& st) {
  return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct CacheEntry {
  FileStamp stamp;
  std::shared_ptr<const ParsedRegistry> registry;
};

// Shared by every platform object in the process (tests make many over a few
// roots); entries are immutable once made, so readers may keep them unlocked.
std::mutex cacheMutex;
std::map<std::string, CacheEntry> cache;
constexpr std::size_t kMaxCachedFiles = 16;

std::shared_ptr<const ParsedRegistry> emptyRegistry() {
  static const auto empty = std::make_shared<const ParsedRegistry>();
  return empty;
}

// The parsed registry file; an empty registry when it is missing or unreadable.
std::shared_ptr<const ParsedRegistry> loadRegistry(const std::string& hostPath) {
  // Not blocking: a FIFO in its place must not hang every registry read.
  const posix::UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return emptyRegistry();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kReplySizeCap)
    return emptyRegistry();
  // Stamp taken before reading: the bytes read are at least as new as the stamp,
  // so a change during the read shows as a new stamp on the next call.
  const FileStamp stamp = stampOf(st);
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto it = cache.find(hostPath);
    if (it != cache.end() && it->second.stamp == stamp) return it->second.registry;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return emptyRegistry();
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
    if (bytes.size() > kReplySizeCap) return emptyRegistry();
  }
  auto parsed = std::make_shared<const ParsedRegistry>(parseRegistryFile(bytes));
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cache.size() >= kMaxCachedFiles && cache.find(hostPath) == cache.end()) cache.erase(cache.begin());
  cache[hostPath] = CacheEntry{stamp, parsed};
  return parsed;
}

}  // namespace

std::optional<std::vector<std::string>> PosixPlatform::registrySubkeys(std::string_view keyPath) {
  const auto registry = loadRegistry(registryFilePath());
  const RegistryKey* key = registry->tree.find(keyPath);
  if (!key) return std::nullopt;
  return key->subkeyNames();
}

std::optional<RegistryValue> PosixPlatform::registryValue(std::string_view keyPath,
                                                          std::string_view valueName) {
  const auto registry = loadRegistry(registryFilePath());
  const RegistryKey* key = registry->tree.find(keyPath);
  if (!key) return std::nullopt;
  const RegistryValue* value = key->findValue(valueName);
  if (!value) return std::nullopt;
  return *value;
}

}  // namespace qmx
