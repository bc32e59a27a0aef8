// The small file operations a backend offers (create exclusively, write, flush,
// rename over, remove, flush a folder, lock, enumerate, remove what no writer
// claims), with no policy of their own: file_policy.h builds whole-file
// replacement, listings and clean-up on them once for every backend. No OS
// header may appear here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qmx {

// 0 when the operation was done, else the automation error number it failed
// with; a missing file or folder is reported as kFileNotFound, whatever was
// missing, and the policy tells a missing path from a missing file.
using FsError = std::int32_t;

// A file over the size a read was given: the policy words it, naming the path.
inline constexpr FsError kFileOverCap = -1;

enum class EntryKind { None, File, Folder, Other };

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::None;
};

// A file being written, open for writing only. Destroying it closes it
// without checking.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes every byte (a full disk included); an error number when not all went.
  virtual FsError write(std::string_view bytes) = 0;
  // Flushes the file's bytes to the disk; an error number on failure.
  virtual FsError flush() = 0;
  // Closes; an error number when the close reports a write that failed.
  virtual FsError close() = 0;
};

// Paths are the control's own text; the backend maps them.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // What is at the path; None when nothing is or it cannot be told.
  virtual EntryKind kind(const std::string& path) = 0;
  // True for a file marked read-only; false when there is no such file.
  virtual bool isReadOnly(const std::string& path) = 0;
  // Creates one folder level; an error number on failure.
  virtual FsError createFolder(const std::string& path) = 0;
  // Creates a new file that must not exist yet (kFileAlreadyExists when it
  // does), readable by everyone or by its owner only; an error number on failure.
  // The file is claimed by its writer until `file` is destroyed, past its close,
  // so that the rename after the close is covered too: removeIfAbandoned leaves
  // it alone, from any process, container or machine sharing the folder.
  virtual FsError createExclusive(const std::string& path, FileAccess access, std::unique_ptr<WritableFile>& file) = 0;
  // Renames a file over another, replacing it; an error number on failure.
  virtual FsError renameOver(const std::string& from, const std::string& to) = 0;
  // Removes a file; an error number on failure.
  virtual FsError remove(const std::string& path) = 0;
  // Makes a rename in the folder durable; an error number on failure.
  virtual FsError flushFolder(const std::string& folder) = 0;
  // The entries directly in a folder, "." and ".." left out, names as the file
  // system holds them; an error number on failure.
  virtual FsError listFolder(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
  // A regular file's whole content. Anything else at the path (a folder, a
  // FIFO, a device) is kPathFileAccessError and a file over maxBytes is
  // kFileOverCap, both told from the opened handle without waiting and before
  // any byte is read; else an error number on failure.
  virtual FsError readWhole(const std::string& path, std::uint64_t maxBytes, std::string& bytes) = 0;
  // An exclusive lock tied to a folder, waiting for other holders; an error number on failure.
  virtual FsError lockFolder(const std::string& folder, std::unique_ptr<FileLock>& lock) = 0;
  // This process's number, which the names of its temporaries carry to keep
  // them apart from other processes' (it says nothing of liveness: another pid
  // namespace may reuse it). Never fails.
  virtual std::uint64_t writerId() = 0;
  // Removes the regular file at the path when no writer claims it (see
  // createExclusive) and nothing has changed it for quietSeconds; true when it
  // went. Anything else at the path (a link, a folder) stays. Never fails.
  virtual bool removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) = 0;
};

}  // namespace qmx
