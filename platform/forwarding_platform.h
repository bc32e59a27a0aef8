// A platform that hands every call to another one: the base of wrappers (fault
// injection, recording) that override only the calls they change, so that a
// call added to the seam reaches them without an edit.
#pragma once

#include "platform/platform.h"

namespace qmx {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) override {
    return inner_.registrySubkeys(keyPath);
  }
  std::optional<RegistryValue> registryValue(std::string_view keyPath, std::string_view valueName) override {
    return inner_.registryValue(keyPath, valueName);
  }
  bool fileExists(const std::string& path) override { return inner_.fileExists(path); }
  bool folderExists(const std::string& path) override { return inner_.folderExists(path); }
  void createFolder(const std::string& path) override { inner_.createFolder(path); }
  std::optional<std::string> readFile(const std::string& path) override { return inner_.readFile(path); }
  void replaceFile(const std::string& path, std::string_view bytes, FileAccess access) override {
    inner_.replaceFile(path, bytes, access);
  }
  void replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) override {
    inner_.replaceFileStreamed(path, write, access);
  }
  void deleteFile(const std::string& path) override { inner_.deleteFile(path); }
  std::vector<std::string> listFiles(const std::string& folder) override { return inner_.listFiles(folder); }
  std::unique_ptr<FileLock> lockFolder(const std::string& folder) override { return inner_.lockFolder(folder); }
  std::optional<std::uint32_t> queryConnectedState() override { return inner_.queryConnectedState(); }
  bool setConnectedState(std::uint32_t state, std::uint32_t flags) override {
    return inner_.setConnectedState(state, flags);
  }
  std::unique_ptr<HttpSession> openHttpSession() override { return inner_.openHttpSession(); }
  void messageBox(const std::string& text) override { inner_.messageBox(text); }
  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override {
    return inner_.decodeCharset(bytes, charset);
  }
  std::string hashPassword(std::string_view password) override { return inner_.hashPassword(password); }
  bool isPasswordHash(std::string_view text) override { return inner_.isPasswordHash(text); }
  bool passwordMatchesHash(std::string_view password, std::string_view storedHash) override {
    return inner_.passwordMatchesHash(password, storedHash);
  }

 protected:
  Platform& inner() { return inner_; }

 private:
  Platform& inner_;
};

}  // namespace qmx
