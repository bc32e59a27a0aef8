// The POSIX file primitives under the shared file policy: control paths mapped
// through the drive map, errno values turned into the control's error numbers.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/posix/drive_map.h"

namespace qmx::posix {

// The automation error number for an errno value of a file operation; a
// missing file or folder (ENOENT) is kFileNotFound.
FsError errorNumberForErrno(int err);

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const DriveMap& drives) : drives_(drives) {}

  EntryKind kind(const std::string& path) override;
  // Read-only is a regular file without its owner's write permission, whoever
  // runs the process (root included).
  bool isReadOnly(const std::string& path) override;
  FsError createFolder(const std::string& path) override;
  FsError createExclusive(const std::string& path, FileAccess access, std::unique_ptr<WritableFile>& file) override;
  FsError renameOver(const std::string& from, const std::string& to) override;
  FsError remove(const std::string& path) override;
  // fsync on the folder opened with O_DIRECTORY.
  FsError flushFolder(const std::string& folder) override;
  FsError listFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  FsError readWhole(const std::string& path, std::uint64_t maxBytes, std::string& bytes) override;
  // flock on the folder itself.
  FsError lockFolder(const std::string& folder, std::unique_ptr<FileLock>& lock) override;
  std::uint64_t writerId() override;
  // A writer claims its temporary with an exclusive OFD lock (fcntl); what a
  // shared lock can be had on, and that is still the file of that name, goes.
  bool removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) override;

 private:
  std::string host(const std::string& path) const { return drives_.toHostPath(path); }
  const DriveMap& drives_;
};

}  // namespace qmx::posix
