// The POSIX backend of the platform seam: everything machine-wide lives in one
// folder, the machine root (registry.reg, drive_c/..., internet-state).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/file_platform.h"
#include "platform/posix/drive_map.h"

namespace qmx {
namespace posix {
class PosixFileSystem;
}

// The connected state kept as text in a file ("16\n"). Read: the connected state
// when there is no file, nullopt when it cannot be read or holds no number.
// Write: replaces the file whole; false when it could not.
std::optional<std::uint32_t> readConnectedStateFile(FileSystem& fs, const std::string& path);
bool writeConnectedStateFile(FileSystem& fs, const std::string& path, std::uint32_t state);

class PosixPlatform : public FilePlatform {
 public:
  using MessageHandler = std::function<void(const std::string& text)>;

  // A platform over the machine root; message boxes go to the handler (to standard
  // error when none is given).
  explicit PosixPlatform(std::string machineRoot, MessageHandler onMessage = {});
  ~PosixPlatform() override;

  void setMessageHandler(MessageHandler onMessage) { onMessage_ = std::move(onMessage); }
  const DriveMap& driveMap() const { return drives_; }
  // The registry file's host path.
  std::string registryFilePath() const;

  std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) override;
  std::optional<RegistryValue> registryValue(std::string_view keyPath,
                                             std::string_view valueName) override;

  FileSystem& fileSystem() override;

  std::optional<std::uint32_t> queryConnectedState() override;
  bool setConnectedState(std::uint32_t state, std::uint32_t flags) override;

  std::unique_ptr<HttpSession> openHttpSession() override;

  void messageBox(const std::string& text) override;

  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override;
  std::string hashPassword(std::string_view password) override;
  bool isPasswordHash(std::string_view text) override;
  bool passwordMatchesHash(std::string_view password, std::string_view storedHash) override;

 private:
  DriveMap drives_;
  std::unique_ptr<posix::PosixFileSystem> files_;
  MessageHandler onMessage_;
};

}  // namespace qmx
