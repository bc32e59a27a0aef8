// The system calls that write a file whole, gathered in one table so that a
// test can fail any one of them (a short write, a full disk at fsync) and check
// that the target and its folder come out clean. Internal to the backend: not
// installed, and nothing but tests may change the table.
#pragma once

#include <sys/types.h>

namespace qmx::posix {

struct FileSystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
};

// The calls replaceFileAtomically makes, the real ones unless a test swapped them.
const FileSystemCalls& fileSystemCalls();

// For tests: puts a table in place for as long as the object lives, then the
// previous one back. Not thread-safe; swap only while no file is being written.
class ScopedFileSystemCalls {
 public:
  explicit ScopedFileSystemCalls(const FileSystemCalls& calls);
  ~ScopedFileSystemCalls();
  ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
  ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;

  // The system's own calls, to forward to from a test's replacement.
  static const FileSystemCalls& real();

 private:
  FileSystemCalls previous_;
};

}  // namespace qmx::posix
