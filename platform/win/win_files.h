// The Win32 file primitives under the shared file policy: paths used as the
// control writes them, Win32 errors turned into the control's error numbers.
// Internal to the backend.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace qmx::win {

// The automation error number for a Win32 error of a file operation; a missing
// file or folder is kFileNotFound.
FsError errorNumberForWin32(std::uint32_t error);

class WinFileSystem : public FileSystem {
 public:
  EntryKind kind(const std::string& path) override;
  // The read-only attribute.
  bool isReadOnly(const std::string& path) override;
  FsError createFolder(const std::string& path) override;
  // OwnerOnly gives the file a descriptor letting in only this user and the
  // system. The file stays open, claimed, until `file` goes.
  FsError createExclusive(const std::string& path, FileAccess access, std::unique_ptr<WritableFile>& file) override;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
  FsError renameOver(const std::string& from, const std::string& to) override;
  FsError remove(const std::string& path) override;
  // A no-op: Windows has no folder flush; the write-through rename stands for it.
  FsError flushFolder(const std::string& folder) override;
  FsError listFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  FsError readWhole(const std::string& path, std::uint64_t maxBytes, std::string& bytes) override;
  // A named mutex (win_folder_lock.h): nothing is written in the folder.
  FsError lockFolder(const std::string& folder, std::unique_ptr<FileLock>& lock) override;
  std::uint64_t writerId() override;
  // A writer's claim is its open handles; what opens unshared and has been
  // quiet long enough is deleted through that handle.
  bool removeIfAbandoned(const std::string& path, std::int64_t quietSeconds) override;
};

}  // namespace qmx::win
