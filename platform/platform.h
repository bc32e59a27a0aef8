// The seam between the control and the machine: one interface offering whole
// tasks (read a registry value, replace a file, send a request), so that a
// Windows backend, the POSIX backend and the in-memory test fake can stand in
// for each other. No OS header may appear here.
//
// Paths are the control's own Windows-style text ("C:\Data\12\SavedFiles"),
// UTF-8 encoded; the backend maps them at the last moment. Registry names and
// data cross in the system's single-byte code page (Windows-1252), as the ANSI
// registry functions return them. Failures are AutomationError exceptions;
// routine misses are std::optional.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmx {

// Registry value types as the Windows registry numbers them.
enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

struct RegistryValue {
  std::uint32_t type = kRegNone;
  // The bytes an ANSI query would return: for string types the Windows-1252
  // text including whatever terminator the value was stored with.
  std::string data;
};

// Connected-state bits of the internet layer.
inline constexpr std::uint32_t kInternetStateConnected = 0x1;
inline constexpr std::uint32_t kInternetStateDisconnectedByUser = 0x10;
inline constexpr std::uint32_t kIsoForceDisconnected = 0x1;

struct HttpRequest {
  std::string method;  // "GET" or "POST"
  std::string url;     // sent as written, but for the few bytes that cannot travel
  std::optional<std::string> body;  // bytes; absent means no body at all
  // Header lines of the control's own, sent in this order after those the
  // transport adds itself: (name, value), both plain ASCII.
  std::vector<std::pair<std::string, std::string>> headers = {};
};

struct HttpReply {
  long status = 0;
  std::string contentType;  // the Content-Type header, empty when absent
  std::string body;         // raw bytes
};

// The largest reply the control takes, and so the largest file it reads: a
// cached data file is a reply kept, and nothing bigger is ever written whole.
inline constexpr std::uint64_t kReplySizeCap = 256ull * 1024 * 1024;

// Limits of an HTTP session.
struct HttpLimits {
  std::chrono::seconds connect{60};
  std::chrono::seconds stall{60};  // no byte received for this long ends the request
  std::uint64_t maxReplyBytes = kReplySizeCap;
  // The whole request, from its start to the reply's last byte: a peer
  // that sends a byte now and then stays within the stall limit forever.
  std::chrono::seconds request{30 * 60};
  // Ask for gzip-compressed replies where the transport can decode them; the
  // body handed back is always the decoded one. Off only to measure the difference.
  bool askCompressed = true;
};

// The whole-request limit as the sessions use it: a year at most, so that a
// host's huge value cannot overflow their time arithmetic.
inline std::chrono::seconds wholeRequestLimit(const HttpLimits& limits) {
  return std::clamp(limits.request, std::chrono::seconds(0), std::chrono::seconds(366LL * 24 * 3600));
}

// The largest announced length a session takes before reading the body. A
// compressed reply announces its compressed size, and the cap is on the decoded
// one: refused at once is only what would not decode under the cap even as
// deflate's stored blocks (a few bytes per 64 KiB); the rest is counted as it decodes.
inline std::uint64_t announcedLengthCap(const HttpLimits& limits, bool compressed) {
  const std::uint64_t cap = limits.maxReplyBytes;
  if (!compressed) return cap;
  const std::uint64_t slack = cap / 1024 + 1024;
  return cap > UINT64_MAX - slack ? UINT64_MAX : cap + slack;
}

// One HTTP connection cache (one handle), kept for a control's life so that
// connections are reused.
class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Sends the request and waits for the whole reply. Throws AutomationError with
  // a negative number (minus the transport's error code) and a description naming
  // the address when the transport fails, the stall limit or the request limit
  // ends the call or the reply exceeds the size cap.
  virtual HttpReply send(const HttpRequest& request) = 0;
  virtual void setLimits(const HttpLimits& limits) = 0;
  // Called with (bytes received, bytes announced or 0) while a reply arrives.
  using ProgressHandler = std::function<void(std::uint64_t received, std::uint64_t total)>;
  virtual void setProgressHandler(ProgressHandler handler) { (void)handler; }
};

// Who may read a file the control writes.
enum class FileAccess { Everyone, OwnerOnly };

// An advisory lock, released on destruction.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Registry (HKEY_LOCAL_MACHINE), read only. Key paths are relative to the
  // root, "\"-separated, compared case-insensitively.

  // Names of the direct subkeys, in case-insensitive name order; nullopt when the
  // key does not exist.
  virtual std::optional<std::vector<std::string>> registrySubkeys(std::string_view keyPath) = 0;
  // A value of a key; the empty name is the key's default value. nullopt when the
  // key or the value does not exist.
  virtual std::optional<RegistryValue> registryValue(std::string_view keyPath,
                                                     std::string_view valueName) = 0;

  // --- Files and folders.

  virtual bool fileExists(const std::string& path) = 0;
  virtual bool folderExists(const std::string& path) = 0;
  // Creates one folder level. Throws 58 when it exists, 76 when the parent is
  // missing, 70 when not allowed.
  virtual void createFolder(const std::string& path) = 0;
  // The whole file's bytes; nullopt when no file is there. Throws 70/75 when it
  // cannot be read, and 75 naming the path, without waiting or reading a byte,
  // for anything but a regular file (a folder, a FIFO, a device) and for a file
  // larger than kReplySizeCap.
  virtual std::optional<std::string> readFile(const std::string& path) = 0;
  // Replaces the file whole (temporary file in the same folder, flushed, renamed
  // over the target): a failure leaves the previous content intact. Throws 76 when
  // the folder is missing, 70 when not allowed, 61 when the disk is full.
  // A read-only file is refused with 70 and kept as it was, bytes and mark, as
  // deleteFile refuses it: read-only is the Windows attribute, and on POSIX a
  // regular file without its owner's write permission, whoever runs the process.
  virtual void replaceFile(const std::string& path, std::string_view bytes, FileAccess access) = 0;
  // As replaceFile, with the content handed to `sink` piece by piece by `write`
  // while the file is written, so that a large file is never held whole in
  // memory. When write throws, the file keeps its previous content and the
  // exception passes on. This fallback collects the pieces and calls replaceFile;
  // a backend that can write as it goes overrides it.
  using ContentSink = std::function<void(std::string_view piece)>;
  using ContentWriter = std::function<void(const ContentSink& sink)>;
  virtual void replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) {
    std::string bytes;
    write([&bytes](std::string_view piece) { bytes.append(piece); });
    replaceFile(path, bytes, access);
  }
  // Deletes a file without forcing: a read-only file is refused with 70. Throws 53
  // when it is missing.
  virtual void deleteFile(const std::string& path) = 0;
  // Names of the files directly in a folder (no subfolders, no temporaries of an
  // unfinished replaceFile, no name holding "\\" or "/", which joined to the
  // folder would lead out of it), in case-insensitive name order. A temporary whose
  // writer has died may be removed here or by the next replaceFile in the
  // folder; a live writer's never is.
  // Throws 76 when the folder is missing.
  virtual std::vector<std::string> listFiles(const std::string& folder) = 0;
  // Takes an exclusive advisory lock tied to a folder, waiting for other holders
  // (other processes included). Throws 76 when the folder is missing.
  virtual std::unique_ptr<FileLock> lockFolder(const std::string& folder) = 0;

  // --- The internet layer's machine-wide connected state.

  // The connected-state word; nullopt when it cannot be read.
  virtual std::optional<std::uint32_t> queryConnectedState() = 0;
  // Sets the state; false (and the old state kept) when it cannot be written.
  virtual bool setConnectedState(std::uint32_t state, std::uint32_t flags) = 0;

  // --- HTTP: a new session (one connection cache) for one control.
  virtual std::unique_ptr<HttpSession> openHttpSession() = 0;

  // --- The user: a modal message box with an OK button; returns when acknowledged.
  virtual void messageBox(const std::string& text) = 0;

  // --- Character sets the control does not decode itself (it knows UTF-8,
  // UTF-16 and the code page): the bytes as UTF-8, an undecodable sequence as
  // U+FFFD. nullopt when the character set is unknown here.
  virtual std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) = 0;

  // --- Password hashes, so that no password is kept in clear text. A hash text
  // names its scheme ("$y$..." for yescrypt), so a record made on one system is
  // recognised, if not checkable, on another.

  // A new salted hash of the password. Throws AutomationError 5 when none can be made.
  virtual std::string hashPassword(std::string_view password) = 0;
  // True when the text has the form of a hash that hashPassword makes here, the
  // only hashes passwordMatchesHash checks.
  virtual bool isPasswordHash(std::string_view text) = 0;
  // True when the password hashes to the stored hash; false on any failure.
  virtual bool passwordMatchesHash(std::string_view password, std::string_view storedHash) = 0;
};

}  // namespace qmx
