// The Windows backend of the platform seam: the machine's own registry, drives,
// WinInet connected state, WinHTTP and message boxes. Paths are used as the
// control writes them (a relative one against the working folder).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/file_platform.h"
#include "platform/win/win_files.h"

namespace qmx {

class WinPlatform : public FilePlatform {
 public:
  using MessageHandler = std::function<void(const std::string& text)>;
  using OwnerWindow = std::function<HWND()>;

  // Message boxes go to the handler when one is given, else to MessageBoxW.
  explicit WinPlatform(MessageHandler onMessage = {});

  // The window a message box belongs to, asked each time one is shown. Without
  // one (or when it gives none) the box is task-modal: no window of the thread
  // takes input while it is up.
  void setOwnerWindow(OwnerWindow owner) { ownerWindow_ = std::move(owner); }
  // True while a message box (or the handler standing in for it) is up: the
  // box runs a message loop, through which the host may call back.
  bool showingMessage() const { return messagesShown_ > 0; }

  std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) override;
  std::optional<RegistryValue> registryValue(std::string_view keyPath,
                                             std::string_view valueName) override;

  FileSystem& fileSystem() override { return files_; }

  std::optional<std::uint32_t> queryConnectedState() override;
  bool setConnectedState(std::uint32_t state, std::uint32_t flags) override;

  std::unique_ptr<HttpSession> openHttpSession() override;

  void messageBox(const std::string& text) override;

  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override;
  std::string hashPassword(std::string_view password) override;
  bool isPasswordHash(std::string_view text) override;
  bool passwordMatchesHash(std::string_view password, std::string_view storedHash) override;

 private:
  MessageHandler onMessage_;
  OwnerWindow ownerWindow_;
  int messagesShown_ = 0;
  win::WinFileSystem files_;
};

}  // namespace qmx
