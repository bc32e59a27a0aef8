// A platform whose file and folder calls all go through the one file policy
// (file_policy.h) over the backend's FileSystem: what every backend and the
// test fake derive from, so that none of them writes the policy again.
#pragma once

#include "platform/file_policy.h"
#include "platform/file_system.h"
#include "platform/platform.h"

namespace qmx {

class FilePlatform : public Platform {
 public:
  // For tests: the policy uses `wrapper` (which forwards to fileSystem() as it
  // likes) until called again with nullptr.
  void interposeFileSystem(FileSystem* wrapper) { wrapper_ = wrapper; }
  // The backend's own primitives.
  virtual FileSystem& fileSystem() = 0;

  bool fileExists(const std::string& path) override { return files().kind(path) == EntryKind::File; }
  bool folderExists(const std::string& path) override { return files().kind(path) == EntryKind::Folder; }
  void createFolder(const std::string& path) override { createOneFolder(files(), path); }
  std::optional<std::string> readFile(const std::string& path) override { return readWholeFile(files(), path); }
  void replaceFile(const std::string& path, std::string_view bytes, FileAccess access) override {
    replaceWhole(files(), path, [bytes](const ContentSink& sink) { sink(bytes); }, access);
  }
  void replaceFileStreamed(const std::string& path, const ContentWriter& write, FileAccess access) override {
    replaceWhole(files(), path, write, access);
  }
  void deleteFile(const std::string& path) override { deleteWithoutForcing(files(), path); }
  std::vector<std::string> listFiles(const std::string& folder) override { return listFolderFiles(files(), folder); }
  std::unique_ptr<FileLock> lockFolder(const std::string& folder) override {
    return lockExistingFolder(files(), folder);
  }

 private:
  FileSystem& files() { return wrapper_ ? *wrapper_ : fileSystem(); }
  FileSystem* wrapper_ = nullptr;
};

}  // namespace qmx
