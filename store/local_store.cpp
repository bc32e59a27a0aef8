#include "store/local_store.h"

#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/xml_text.h"
#include "store/data_directory.h"
#include "store/transaction_identity.h"
#include "store/xml_file_text.h"

namespace qmx {

std::string savedFilesFolder(const std::string& dataPath) { return joinPath(dataPath, "SavedFiles"); }

void saveLocal(Platform& platform, const std::string& dataPath, const std::string& text, const std::string& name) {
  const std::string savedFiles = savedFilesFolder(dataPath);
  // Refuse a name leading elsewhere before any folder is made.
  const std::string target = pathInFolder(savedFiles, name);

  if (!platform.folderExists(savedFiles)) {
    createFolderLevel(platform, savedFiles);
    createFolderLevel(platform, joinPath(savedFiles, "data"));
    createFolderLevel(platform, joinPath(savedFiles, "style"));
  } else {
    for (const char* sub : {"data", "style"}) {
      const std::string folder = joinPath(savedFiles, sub);
      if (!platform.folderExists(folder)) createFolderLevel(platform, folder);
    }
  }

  std::string bytes;
  try {
    bytes = utf8ToSingleByte(text);
  } catch (const AutomationError& e) {
    // Converted before the file is touched, so a previous file of the name survives.
    throw AutomationError(e.number(), standardErrorText(e.number()) + ": " + target);
  }
  // A file directly in SavedFiles is a transaction to upload. Its text is
  // replaced, then the name's identity record dropped, both under the identity
  // lock: a BackOnline posting the earlier text then finds the record gone and
  // leaves the new text for its next run, under a new identity. A crash between
  // the two leaves a record made for the earlier bytes, never used for other
  // ones; dropping the record first could leave an earlier text, perhaps stored
  // already, without its identity, to be stored twice.
  std::unique_ptr<FileLock> identityLock;
  const bool transaction = name.find_first_of("\\/") == std::string::npos;
  if (transaction) identityLock = lockTransactionIdentities(platform, savedFiles);
  platform.replaceFile(target, bytes, FileAccess::Everyone);
  // One that cannot go fails the call: the same bytes saved again would
  // otherwise go up under the earlier text's key and be taken for it.
  if (transaction) forgetTransactionIdentity(platform, savedFiles, name, true);
}

std::string readSavedStyleSheet(Platform& platform, const std::string& dataPath, const std::string& name) {
  const std::string path = pathInFolder(savedFilesFolder(dataPath), name);
  std::optional<std::string> bytes;
  try {
    bytes = platform.readFile(path);
  } catch (const AutomationError&) {
    // A load that fails leaves the document empty; its outcome is not a failure
    // of the call (the empty name, naming the folder itself, lands here too).
    return {};
  }
  if (!bytes) return {};
  pugi::xml_document doc;
  if (!parseXml(doc, xmlFileText(platform, *bytes))) return {};
  return xmlText(doc);
}

std::string loadSavedTransaction(Platform& platform, const std::string& path, pugi::xml_document& doc) {
  doc.reset();
  std::optional<std::string> bytes;
  try {
    bytes = platform.readFile(path);
  } catch (const AutomationError&) {
    return {};
  }
  if (!bytes) return {};
  parseXml(doc, xmlFileText(platform, *bytes));
  return std::move(*bytes);
}

void deleteLocalData(Platform& platform, const std::string& dataPath) {
  if (!platform.folderExists(dataPath)) createFolderLevel(platform, dataPath);
  // Stops at the first file that cannot go: those before it are gone, the rest stay.
  for (const std::string& name : platform.listFiles(dataPath)) {
    platform.deleteFile(joinPath(dataPath, name));
  }
}

}  // namespace qmx
