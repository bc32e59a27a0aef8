// The connected state, message boxes, character sets and password hashes of the
// POSIX platform. Files are posix_files.cpp's primitives under the shared
// policy, the registry lives in posix_registry.cpp, HTTP in curl_http_session.cpp.
#include "platform/posix/posix_platform.h"
#include "platform/posix/iconv_charset.h"

#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <iostream>

#include "base/automation_error.h"
#include "password/password_hash.h"
#include "platform/posix/posix_files.h"

namespace qmx {

PosixPlatform::PosixPlatform(std::string machineRoot, MessageHandler onMessage)
    : drives_(std::move(machineRoot)),
      files_(std::make_unique<posix::PosixFileSystem>(drives_)),
      onMessage_(std::move(onMessage)) {}

PosixPlatform::~PosixPlatform() = default;

FileSystem& PosixPlatform::fileSystem() { return *files_; }

std::string PosixPlatform::registryFilePath() const { return drives_.machineRoot() + "/registry.reg"; }

std::optional<std::uint32_t> readConnectedStateFile(FileSystem& fs, const std::string& path) {
  std::optional<std::string> text;
  try {
    text = readWholeFile(fs, path);
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

bool writeConnectedStateFile(FileSystem& fs, const std::string& path, std::uint32_t state) {
  try {
    const std::string text = std::to_string(state) + "\n";
    replaceWhole(fs, path, [&](const Platform::ContentSink& sink) { sink(text); }, FileAccess::Everyone);
    return true;
  } catch (const AutomationError&) {
    return false;
  }
}

std::optional<std::uint32_t> PosixPlatform::queryConnectedState() {
  return readConnectedStateFile(*files_, drives_.machineRoot() + "/internet-state");
}

bool PosixPlatform::setConnectedState(std::uint32_t state, std::uint32_t /*flags*/) {
  // A fresh machine has no root folder yet; the state must still stick.
  ::mkdir(drives_.machineRoot().c_str(), 0755);
  return writeConnectedStateFile(*files_, drives_.machineRoot() + "/internet-state", state);
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

std::string PosixPlatform::hashPassword(std::string_view password) { return password::hashPassword(password); }

bool PosixPlatform::isPasswordHash(std::string_view text) { return password::isPasswordHash(text); }

bool PosixPlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return password::passwordMatchesHash(password, storedHash);
}

}  // namespace qmx
