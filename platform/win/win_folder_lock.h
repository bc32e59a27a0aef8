// The Windows backend's folder lock: a named kernel mutex, so that the folder
// holds only the files the control writes there (pages count them) and a holder
// that dies frees the lock with its process. Internal to the backend.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace qmx::win {

// Waits for and takes the machine-wide lock of the folder, one lock for every
// spelling of its path (letter case, trailing separator, relative parts, links).
// The lock is released on the thread that took it. kPermissionDenied when this
// thread holds it already; another error number when the folder cannot be
// opened or the mutex made. Once taken, the empty lock file an earlier version
// left in the folder is removed when nobody has it open.
FsError lockFolderByMutex(const std::string& folder, std::unique_ptr<FileLock>& lock);

}  // namespace qmx::win
