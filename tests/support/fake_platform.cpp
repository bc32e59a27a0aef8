#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "platform/temporary_names.h"

namespace qmx::test {
namespace {

// The folder part of a normalised path ("" for the working directory), and the name.
std::string parentOf(const std::string& key) {
  const auto slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}
std::string nameOf(const std::string& key) { return key.substr(key.rfind('\\') + 1); }

bool isDriveRoot(const std::string& key) {
  return key.empty() || key == "\\" ||
         (key.size() == 2 && key[1] == ':' && std::isalpha(static_cast<unsigned char>(key[0])));
}

class NoLock : public FileLock {};

}  // namespace

class FakeHttpSession : public HttpSession {
 public:
  explicit FakeHttpSession(FakePlatform& owner) : owner_(owner) {}

  HttpReply send(const HttpRequest& request) override {
    owner_.httpRequests.push_back(request);
    if (!owner_.httpHandler_) throw AutomationError(-7, "Couldn't connect to server: " + request.url);
    return owner_.httpHandler_(request);
  }

  void setLimits(const HttpLimits&) override {}

 private:
  FakePlatform& owner_;
};

// ---- Registry.

void FakePlatform::addRegistryKey(std::string_view keyPath) { registry_.create(utf8ToSingleByte(keyPath)); }

void FakePlatform::setRegistryValue(std::string_view keyPath, std::string_view valueName,
                                    RegistryValue value) {
  if (RegistryKey* key = registry_.create(utf8ToSingleByte(keyPath))) {
    key->setValue(utf8ToSingleByte(valueName), std::move(value));
  }
}

void FakePlatform::setRegistryString(std::string_view keyPath, std::string_view valueName,
                                     std::string_view text) {
  std::string data = utf8ToSingleByte(text);
  data.push_back('\0');
  setRegistryValue(keyPath, valueName, RegistryValue{kRegSz, std::move(data)});
}

void FakePlatform::setRegistryDword(std::string_view keyPath, std::string_view valueName,
                                    std::uint32_t number) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>((number >> (8 * i)) & 0xFF);
  setRegistryValue(keyPath, valueName, RegistryValue{kRegDword, std::move(data)});
}

void FakePlatform::addInstallation(std::string_view installId, std::string_view companyId,
                                   std::optional<std::string> location,
                                   std::optional<std::string> machineId,
                                   std::optional<std::string> invoicePreprint,
                                   std::optional<std::string> dataRoot) {
  const std::string key = std::string(kSettingsRootPath) + std::string(installId);
  setRegistryString(key, "", companyId);
  const auto put = [&](const char* sub, const std::optional<std::string>& text) {
    if (text) setRegistryString(key + "\\" + sub, "", *text);
  };
  put("fkLocationID", location);
  put("iKey", machineId);
  put("InvoicePreprint", invoicePreprint);
  put("DataPath", dataRoot);
}

std::optional<std::vector<std::string>> FakePlatform::registrySubkeys(std::string_view keyPath) {
  const RegistryKey* key = registry_.find(keyPath);
  if (!key) return std::nullopt;
  return key->subkeyNames();
}

std::optional<RegistryValue> FakePlatform::registryValue(std::string_view keyPath,
                                                         std::string_view valueName) {
  const RegistryKey* key = registry_.find(keyPath);
  const RegistryValue* value = key ? key->findValue(valueName) : nullptr;
  return value ? std::optional(*value) : std::nullopt;
}

// ---- Files and folders.

std::string FakePlatform::normalisePath(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key.push_back(c);
  }
  if (key.size() > 1 && key.back() == '\\') key.pop_back();
  return key;
}

bool FakePlatform::folderExistsNormalised(const std::string& key) const {
  return isDriveRoot(key) || folders_.count(key) != 0;
}

void FakePlatform::addFolder(std::string_view path) {
  std::string key = normalisePath(path);
  while (!isDriveRoot(key)) {
    folders_.insert(key);
    key = parentOf(key);
  }
}

void FakePlatform::putFile(std::string_view path, std::string_view bytes) {
  const std::string key = normalisePath(path);
  addFolder(parentOf(key));
  files_[key].bytes = std::string(bytes);
  files_[key].quietFor = 0;
}

std::optional<std::string> FakePlatform::file(std::string_view path) const {
  const auto it = files_.find(normalisePath(path));
  if (it == files_.end()) return std::nullopt;
  return it->second.bytes;
}

void FakePlatform::setReadOnly(std::string_view path, bool readOnly) {
  const auto it = files_.find(normalisePath(path));
  if (it != files_.end()) it->second.readOnly = readOnly;
}

std::vector<std::string> FakePlatform::allFiles() const {
  std::vector<std::string> paths;
  for (const auto& [path, file] : files_) paths.push_back(path);
  return paths;
}

// The primitives over the maps: a file being written is in files_ from its
// creation, as on disk, so listings and replays see it.
class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(FakePlatform& owner) : o_(owner) {}

  EntryKind kind(const std::string& path) override {
    const std::string key = FakePlatform::normalisePath(path);
    if (o_.files_.count(key)) return EntryKind::File;
    return o_.folderExistsNormalised(key) ? EntryKind::Folder : EntryKind::None;
  }
  bool isReadOnly(const std::string& path) override {
    const auto it = o_.files_.find(FakePlatform::normalisePath(path));
    return it != o_.files_.end() && it->second.readOnly;
  }
  FsError createFolder(const std::string& path) override {
    const std::string key = FakePlatform::normalisePath(path);
    if (kind(key) != EntryKind::None) return kFileAlreadyExists;
    if (!o_.folderExistsNormalised(parentOf(key))) return kFileNotFound;
    o_.folders_.insert(key);
    return 0;
  }
  FsError createExclusive(const std::string& path, FileAccess, std::unique_ptr<WritableFile>& file) override {
    const std::string key = FakePlatform::normalisePath(path);
    if (kind(key) != EntryKind::None) return kFileAlreadyExists;
    if (!o_.folderExistsNormalised(parentOf(key))) return kFileNotFound;
    file = std::make_unique<File>(o_, key);
    return 0;
  }
  FsError renameOver(const std::string& from, const std::string& to) override {
    const auto it = o_.files_.find(FakePlatform::normalisePath(from));
    const std::string target = FakePlatform::normalisePath(to);
    if (it == o_.files_.end()) return kFileNotFound;
    if (o_.folderExistsNormalised(target)) return kPathFileAccessError;
    StoredFile moved = std::move(it->second);
    o_.files_.erase(it);
    o_.files_[target] = std::move(moved);
    return 0;
  }
  FsError remove(const std::string& path) override {
    return o_.files_.erase(FakePlatform::normalisePath(path)) ? 0 : kFileNotFound;
  }
  FsError flushFolder(const std::string& folder) override {
    return kind(folder) == EntryKind::Folder ? 0 : kFileNotFound;
  }
  FsError listFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
    std::string key = FakePlatform::normalisePath(folder);
    if (key == "." || key == "\\") key.clear();
    if (!o_.folderExistsNormalised(key)) return kFileNotFound;
    for (const auto& entry : o_.files_)
      if (parentOf(entry.first) == key) entries.push_back({nameOf(entry.first), EntryKind::File});
    for (const auto& sub : o_.folders_)
      if (parentOf(sub) == key) entries.push_back({nameOf(sub), EntryKind::Folder});
    return 0;
  }
  FsError readWhole(const std::string& path, std::uint64_t, std::string& bytes) override {
    const auto it = o_.files_.find(FakePlatform::normalisePath(path));
    if (it == o_.files_.end()) return kFileNotFound;
    bytes = it->second.bytes;
    return 0;
  }
  FsError lockFolder(const std::string&, std::unique_ptr<FileLock>& lock) override {
    lock = std::make_unique<NoLock>();
    return 0;
  }
  std::uint64_t writerId() override { return o_.writerId; }
  bool removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) override {
    const auto it = o_.files_.find(FakePlatform::normalisePath(path));
    const bool gone = it != o_.files_.end() && it->second.writer.expired() && it->second.quietFor >= quietSeconds;
    if (gone) o_.files_.erase(it);
    return gone;
  }

 private:
  using StoredFile = FakePlatform::StoredFile;
  class File : public WritableFile {
   public:
    File(FakePlatform& owner, std::string key) : o_(owner), key_(std::move(key)) { o_.files_[key_].writer = claim_; }
    FsError write(std::string_view bytes) override {
      o_.files_[key_].bytes.append(bytes);
      o_.files_[key_].quietFor = 0;
      return 0;
    }
    FsError flush() override { return 0; }
    FsError close() override { return 0; }

   private:
    FakePlatform& o_;
    std::string key_;
    std::shared_ptr<void> claim_ = std::make_shared<int>();  // the file's, past close() as on disk
  };
  FakePlatform& o_;
};

FakePlatform::FakePlatform() : fileSystem_(std::make_unique<FakeFileSystem>(*this)) {}

// ---- Connected state, HTTP, message boxes.

std::optional<std::uint32_t> FakePlatform::queryConnectedState() { return connectedState; }

bool FakePlatform::setConnectedState(std::uint32_t state, std::uint32_t flags) {
  if (refuseSetConnectedState) return false;
  connectedState = state;
  connectedFlags = flags;
  return true;
}

std::unique_ptr<HttpSession> FakePlatform::openHttpSession() {
  return std::make_unique<FakeHttpSession>(*this);
}

void FakePlatform::messageBox(const std::string& text) {
  messageBoxes.push_back(text);
  if (onMessageBox) onMessageBox(text);
}

std::optional<std::string> FakePlatform::decodeCharset(std::string_view bytes, std::string_view charset) {
  if (charset == "utf-16le") return utf16ToUtf8(bytes, false);
  if (charset == "utf-16be") return utf16ToUtf8(bytes, true);
  return std::nullopt;
}

std::string FakePlatform::hashPassword(std::string_view password) {
  std::string hash(kFakeHashPrefix);
  for (const char c : password) hash += hexByte(static_cast<unsigned char>(c));
  return hash;
}

bool FakePlatform::isPasswordHash(std::string_view text) { return text.substr(0, kFakeHashPrefix.size()) == kFakeHashPrefix; }

bool FakePlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return isPasswordHash(storedHash) && hashPassword(password) == storedHash;
}

}  // namespace qmx::test
