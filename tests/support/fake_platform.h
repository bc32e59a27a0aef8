// Test platforms: FakePlatform keeps the whole machine in memory; FaultyPlatform
// wraps any platform and fails its Nth call, so that a scenario can be replayed
// with every call failing in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/automation_error.h"
#include "platform/file_platform.h"
#include "platform/forwarding_platform.h"
#include "platform/platform.h"
#include "platform/registry_tree.h"
#include "settings/reg_main.h"

namespace qmx::test {

// The settings root below HKEY_LOCAL_MACHINE, for tests that build installations.
inline constexpr std::string_view kSettingsRootPath = kSettingsRoot;

class FakePlatform : public FilePlatform {
 public:
  using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

  FakePlatform();

  // ---- Registry. Paths, names and texts are UTF-8 here, stored in Windows-1252.
  void addRegistryKey(std::string_view keyPath);
  // A string value (with its NUL); "" names the default value.
  void setRegistryString(std::string_view keyPath, std::string_view valueName, std::string_view text);
  void setRegistryValue(std::string_view keyPath, std::string_view valueName, RegistryValue value);
  void setRegistryDword(std::string_view keyPath, std::string_view valueName, std::uint32_t number);
  // An installation under the settings root: company identifier, then the
  // subkeys (each omitted when nullopt).
  void addInstallation(std::string_view installId, std::string_view companyId,
                       std::optional<std::string> location, std::optional<std::string> machineId,
                       std::optional<std::string> invoicePreprint, std::optional<std::string> dataRoot);

  // ---- Files and folders, under the shared file policy. "/" counts as "\",
  // repeated and trailing separators are ignored, letter case matters; drive
  // roots and the working directory always exist. Folders are made with their
  // parents; files with their folders.
  void addFolder(std::string_view path);
  void putFile(std::string_view path, std::string_view bytes);
  std::optional<std::string> file(std::string_view path) const;
  void setReadOnly(std::string_view path, bool readOnly = true);
  std::vector<std::string> allFiles() const;  // sorted
  static std::string normalisePath(std::string_view path);
  // The number its temporaries carry; backdate makes a file look long unchanged.
  std::uint64_t writerId = 4242;
  void backdate(std::string_view path, std::int64_t seconds) { files_[normalisePath(path)].quietFor += seconds; }

  // ---- Connected state: nullopt makes the query fail; refuseSet makes a set fail.
  std::optional<std::uint32_t> connectedState = kInternetStateConnected;
  std::uint32_t connectedFlags = 0;
  bool refuseSetConnectedState = false;

  // ---- HTTP: each send calls the handler; without one the connection is refused (-7).
  void setHttpHandler(HttpHandler handler) { httpHandler_ = std::move(handler); }
  // Every request sent, in order.
  std::vector<HttpRequest> httpRequests;

  // ---- Password hashes: "$fake$" and the password's bytes in hex, so tests can
  // read what was hashed. Character sets: UTF-16 in either byte order only.
  static constexpr std::string_view kFakeHashPrefix = "$fake$";

  // ---- Message boxes shown, in order.
  std::vector<std::string> messageBoxes;
  std::function<void(const std::string&)> onMessageBox;

  // ---- Platform.
  std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) override;
  std::optional<RegistryValue> registryValue(std::string_view keyPath, std::string_view valueName) override;
  FileSystem& fileSystem() override { return *fileSystem_; }
  std::optional<std::uint32_t> queryConnectedState() override;
  bool setConnectedState(std::uint32_t state, std::uint32_t flags) override;
  std::unique_ptr<HttpSession> openHttpSession() override;
  void messageBox(const std::string& text) override;
  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override;
  std::string hashPassword(std::string_view password) override;
  bool isPasswordHash(std::string_view text) override;
  bool passwordMatchesHash(std::string_view password, std::string_view storedHash) override;

 private:
  friend class FakeHttpSession;
  friend class FakeFileSystem;
  struct StoredFile {
    std::string bytes;
    bool readOnly = false;
    std::int64_t quietFor = 0;
    std::weak_ptr<void> writer;  // claimed while it lives
  };
  bool folderExistsNormalised(const std::string& key) const;

  RegistryTree registry_;
  std::map<std::string, StoredFile> files_;
  std::set<std::string> folders_;
  HttpHandler httpHandler_;
  std::unique_ptr<FileSystem> fileSystem_;
};

// The platform calls FaultyPlatform counts, one per member of Platform, and the
// sends of the HTTP sessions it opens.
enum class PlatformCall {
  RegistrySubkeys, RegistryValue, FileExists, FolderExists, CreateFolder, ReadFile,
  ReplaceFile, DeleteFile, ListFiles, LockFolder, QueryConnectedState, SetConnectedState,
  OpenHttpSession, MessageBox, DecodeCharset, HashPassword, IsPasswordHash, PasswordMatchesHash,
  HttpSend, FilePrimitive,
};

// Wraps a platform and fails its Nth counted call (1-based): a call that can
// throw throws AutomationError (fileError naming the path; an HTTP send -7), a
// query answers as a miss. Opening a session and message boxes never fail.
class FaultyPlatform : public ForwardingPlatform {
 public:
  explicit FaultyPlatform(Platform& inner) : ForwardingPlatform(inner) {}
  // Also counts and fails each file primitive the file policy of `backend` makes.
  FaultyPlatform(Platform& inner, FilePlatform& backend);
  ~FaultyPlatform() override;
  FaultyPlatform(const FaultyPlatform&) = delete;
  FaultyPlatform& operator=(const FaultyPlatform&) = delete;

  // Fails the Nth counted call from now on (counting restarts at 0).
  void failAt(std::size_t n, std::int32_t fileError = kDiskFull);
  // Stops failing; counting goes on.
  void disarm() { failAt_ = 0; }
  // Counts only these kinds of call (all kinds when empty).
  void countOnly(std::set<PlatformCall> kinds) { countOnly_ = std::move(kinds); }

  // Counted calls since the last failAt (or creation).
  std::size_t calls() const { return count_; }
  // How many calls were made to fail.
  std::size_t faultsInjected() const { return injected_; }

  // Records the call; true when it is to fail. Public for the HTTP sessions.
  bool shouldFail(PlatformCall kind);

  std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) override;
  std::optional<RegistryValue> registryValue(std::string_view keyPath, std::string_view valueName) override;
  bool fileExists(const std::string& path) override;
  bool folderExists(const std::string& path) override;
  void createFolder(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;
  void replaceFile(const std::string& path, std::string_view bytes, FileAccess access) override;
  void replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) override;
  void deleteFile(const std::string& path) override;
  std::vector<std::string> listFiles(const std::string& folder) override;
  std::unique_ptr<FileLock> lockFolder(const std::string& folder) override;
  std::optional<std::uint32_t> queryConnectedState() override;
  bool setConnectedState(std::uint32_t state, std::uint32_t flags) override;
  std::unique_ptr<HttpSession> openHttpSession() override;
  void messageBox(const std::string& text) override;
  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override;
  std::string hashPassword(std::string_view password) override;
  bool isPasswordHash(std::string_view text) override;
  bool passwordMatchesHash(std::string_view password, std::string_view storedHash) override;

 private:
  [[noreturn]] void throwFileFault(const std::string& path) const;

  FilePlatform* backend_ = nullptr;
  std::unique_ptr<FileSystem> primitives_;

  std::set<PlatformCall> countOnly_;
  std::size_t count_ = 0;
  std::size_t failAt_ = 0;
  std::int32_t fileError_ = kDiskFull;
  std::size_t injected_ = 0;
};

// The number of the AutomationError that f throws; 0 when it throws none.
template <typename F>
std::int32_t errorNumberOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace qmx::test
