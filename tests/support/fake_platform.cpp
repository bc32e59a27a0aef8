#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "platform/temporary_names.h"

namespace qmx::test {
namespace {

[[noreturn]] void fail(std::int32_t number, const std::string& path) {
  throw AutomationError(number, standardErrorText(number) + ": " + path);
}

// The folder part of a normalised path ("" for the working directory).
std::string parentOf(const std::string& key) {
  const auto slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

std::string nameOf(const std::string& key) {
  const auto slash = key.rfind('\\');
  return slash == std::string::npos ? key : key.substr(slash + 1);
}

bool isDriveRoot(const std::string& key) {
  return key.empty() || key == "\\" ||
         (key.size() == 2 && key[1] == ':' && std::isalpha(static_cast<unsigned char>(key[0])));
}

// The same listing order as the POSIX platform: case-insensitive by name.
bool listingOrder(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
  });
}

class NoLock : public FileLock {};

}  // namespace

class FakeHttpSession : public HttpSession {
 public:
  explicit FakeHttpSession(FakePlatform& owner) : owner_(owner) {}

  HttpReply send(const HttpRequest& request) override {
    owner_.httpRequests.push_back(request);
    if (!owner_.httpHandler_) {
      throw AutomationError(-7, "Couldn't connect to server: " + request.url);
    }
    return owner_.httpHandler_(request);
  }

  void setLimits(const HttpLimits&) override {}

 private:
  FakePlatform& owner_;
};

FakePlatform::FakePlatform() = default;

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
  if (!key) return std::nullopt;
  const RegistryValue* value = key->findValue(valueName);
  if (!value) return std::nullopt;
  return *value;
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
  for (const auto& entry : files_) paths.push_back(entry.first);
  return paths;
}

bool FakePlatform::fileExists(const std::string& path) { return files_.count(normalisePath(path)) != 0; }

bool FakePlatform::folderExists(const std::string& path) {
  return folderExistsNormalised(normalisePath(path));
}

void FakePlatform::createFolder(const std::string& path) {
  const std::string key = normalisePath(path);
  if (folderExistsNormalised(key) || files_.count(key)) fail(kFileAlreadyExists, path);
  if (!folderExistsNormalised(parentOf(key))) fail(kPathNotFound, path);
  folders_.insert(key);
}

std::optional<std::string> FakePlatform::readFile(const std::string& path) {
  const std::string key = normalisePath(path);
  if (folders_.count(key)) fail(kPathFileAccessError, path);
  const auto it = files_.find(key);
  if (it == files_.end()) return std::nullopt;
  return it->second.bytes;
}

void FakePlatform::replaceFile(const std::string& path, std::string_view bytes, FileAccess) {
  const std::string key = normalisePath(path);
  if (folderExistsNormalised(key)) fail(kPathFileAccessError, path);
  if (!folderExistsNormalised(parentOf(key))) fail(kPathNotFound, path);
  auto it = files_.find(key);
  if (it != files_.end() && it->second.readOnly) fail(kPermissionDenied, path);
  files_[key].bytes = std::string(bytes);
}

void FakePlatform::deleteFile(const std::string& path) {
  const auto it = files_.find(normalisePath(path));
  if (it == files_.end()) fail(kFileNotFound, path);
  if (it->second.readOnly) fail(kPermissionDenied, path);
  files_.erase(it);
}

std::vector<std::string> FakePlatform::listFiles(const std::string& folder) {
  const std::string key = normalisePath(folder);
  if (!folderExistsNormalised(key)) fail(kPathNotFound, folder);
  std::vector<std::string> names;
  for (const auto& entry : files_) {
    if (parentOf(entry.first) != (key == "\\" ? std::string() : key)) continue;
    // A temporary of an unfinished write is no file of the folder, as on disk.
    const std::string name = nameOf(entry.first);
    if (!isReplaceTemporaryName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), listingOrder);
  return names;
}

std::unique_ptr<FileLock> FakePlatform::lockFolder(const std::string& folder) {
  if (!folderExistsNormalised(normalisePath(folder))) fail(kPathNotFound, folder);
  return std::make_unique<NoLock>();
}

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
  if (refuseHashing) throw AutomationError(kInvalidProcedureCall, "No password hash could be made");
  std::string hash(kFakeHashPrefix);
  for (const char c : password) hash += hexByte(static_cast<unsigned char>(c));
  return hash;
}

bool FakePlatform::isPasswordHash(std::string_view text) { return text.substr(0, kFakeHashPrefix.size()) == kFakeHashPrefix; }

bool FakePlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return isPasswordHash(storedHash) && hashPassword(password) == storedHash;
}

}  // namespace qmx::test
