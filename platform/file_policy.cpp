#include "platform/file_policy.h"

#include <algorithm>
#include <atomic>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "platform/temporary_names.h"

namespace qmx {
namespace {

// Fresh temporary names tried before a write gives up: a process that died
// with this process's number (a container runs its host as the same pid every
// time) may have left the very name behind.
constexpr int kTemporaryNameAttempts = 100;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The folder part with its trailing separator ("" for the working folder).
std::string folderPart(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The folder a backend is asked about: "" is the working folder.
std::string folderOrWorking(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

// The entries of a folder that are one name each. A listed name is used as one
// segment, but joined to its folder a "\\" or "/" in it (possible on POSIX)
// would be a separator, leading out of the folder: such an entry is never
// opened, uploaded or removed.
FsError listOwnEntries(FileSystem& fs, const std::string& folder, std::vector<FolderEntry>& entries) {
  const FsError e = fs.listFolder(folder, entries);
  const auto leadsOut = [](const FolderEntry& entry) { return entry.name.find_first_of("\\/") != std::string::npos; };
  entries.erase(std::remove_if(entries.begin(), entries.end(), leadsOut), entries.end());
  return e;
}

// How long a temporary nobody claims must have stood unchanged before it goes.
// A writer of this version claims its temporary until it is renamed; one of an
// earlier version claims nothing on POSIX and shows it is at work only by
// writing (quiet at most its stall limit, a minute unless set). The wait also
// covers the instant between creating a temporary and claiming it, and file
// systems that offer no locks.
constexpr std::int64_t kQuietSecondsBeforeRemoval = 10 * 60;

// Removes the entry when it is a temporary that no writer will rename.
void removeIfAbandonedTemporary(FileSystem& fs, const std::string& folder, const FolderEntry& entry) {
  // Writer 0 is no process (an earlier version's folder lock file has that name).
  if (entry.kind != EntryKind::File || !isReplaceTemporaryName(entry.name) ||
      replaceTemporaryWriter(entry.name) == std::uint64_t{0})
    return;
  (void)fs.removeIfAbandoned(pathInFolder(folder, entry.name), kQuietSecondsBeforeRemoval);
}

// Removes a temporary that will never be renamed: while it is still claimed, so
// that no cleaner can take the name in between, then lets the claim go.
void discard(FileSystem& fs, std::unique_ptr<WritableFile>& file, const std::string& temp) {
  const FsError e = fs.remove(temp);
  file.reset();
  if (e != 0) (void)fs.remove(temp);  // a backend that cannot remove an open file
}

// Discards the temporary and reports error for the target.
[[noreturn]] void abandon(FileSystem& fs, std::unique_ptr<WritableFile>& file, const std::string& temp,
                          FsError error, const std::string& path) {
  discard(fs, file, temp);
  throwFileError(error, path, false);
}

}  // namespace

bool listingOrder(const std::string& a, const std::string& b) { return upperAscii(a) < upperAscii(b); }

std::string pathInFolder(const std::string& folder, const std::string& name) {
  if (folder.empty() || isSeparator(folder.back())) return folder + name;
  return folder + "\\" + name;
}

void throwFileError(FsError error, const std::string& path, bool missingIsFile) {
  const std::int32_t number = error == kFileNotFound && !missingIsFile ? kPathNotFound : error;
  throw AutomationError(number, standardErrorText(number) + ": " + path);
}

void replaceWhole(FileSystem& fs, const std::string& path, const Platform::ContentWriter& write, FileAccess access) {
  static std::atomic<std::uint64_t> counter{0};
  const std::string folder = folderPart(path);
  const std::string name = path.substr(folder.size());
  if (name.empty() || fs.kind(path) == EntryKind::Folder) throwFileError(kPathFileAccessError, path, true);
  // A rename would replace it whatever its mark; a read-only file is refused
  // instead, as deleting it is.
  if (fs.isReadOnly(path)) throwFileError(kPermissionDenied, path, false);
  removeStaleTemporaries(fs, folder);

  std::unique_ptr<WritableFile> file;
  std::string temp;
  FsError error = kFileAlreadyExists;
  for (int attempt = 0; error == kFileAlreadyExists && attempt < kTemporaryNameAttempts; ++attempt) {
    temp = folder + replaceTemporaryName(name, fs.writerId(), counter.fetch_add(1));
    error = fs.createExclusive(temp, access, file);
  }
  if (error != 0) throwFileError(error, path, false);

  // Each piece is written as the writer makes it; a writer that cannot finish
  // (a character the code page lacks, say) leaves the old file as it was.
  struct PieceNotWritten {
    FsError error;
  };
  try {
    write([&](std::string_view piece) {
      if (const FsError e = file->write(piece)) throw PieceNotWritten{e};
    });
  } catch (const PieceNotWritten& failed) {
    abandon(fs, file, temp, failed.error, path);
  } catch (...) {
    discard(fs, file, temp);
    throw;
  }
  if (const FsError e = file->flush()) abandon(fs, file, temp, e, path);
  // A close can report a write the flush did not (some network file systems).
  if (const FsError e = file->close()) abandon(fs, file, temp, e, path);
  if (const FsError e = fs.renameOver(temp, path)) abandon(fs, file, temp, e, path);
  file.reset();  // the claim, held until the temporary's name is gone
  // The new content is in place; without this its name may not survive a crash.
  if (const FsError e = fs.flushFolder(folderOrWorking(folder))) throwFileError(e, path, false);
}

std::vector<std::string> listFolderFiles(FileSystem& fs, const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (fs.kind(folder) != EntryKind::Folder) throwFileError(kPathNotFound, folder, false);
  if (const FsError e = listOwnEntries(fs, folder, entries)) throwFileError(e, folder, false);
  std::vector<std::string> names;
  for (FolderEntry& entry : entries) {
    if (entry.kind != EntryKind::File) continue;
    // A write cut short by a crash leaves its temporary behind: it is no file of
    // the folder, and uploading it would post a torn or a doubled transaction.
    // Once no writer claims it nothing will rename it, so it goes.
    if (isReplaceTemporaryName(entry.name)) {
      removeIfAbandonedTemporary(fs, folder, entry);
      continue;
    }
    names.push_back(std::move(entry.name));
  }
  std::sort(names.begin(), names.end(), listingOrder);
  return names;
}

void removeStaleTemporaries(FileSystem& fs, const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (listOwnEntries(fs, folderOrWorking(folder), entries) != 0) return;
  for (const FolderEntry& entry : entries) removeIfAbandonedTemporary(fs, folder, entry);
}

void deleteWithoutForcing(FileSystem& fs, const std::string& path) {
  const EntryKind kind = fs.kind(path);
  if (kind == EntryKind::Folder || kind == EntryKind::Other) throwFileError(kFileNotFound, path, true);
  // Without forcing: a file marked read-only stays, even for root.
  if (fs.isReadOnly(path)) throwFileError(kPermissionDenied, path, true);
  if (const FsError e = fs.remove(path)) throwFileError(e, path, true);
  // A deletion records progress (an upload done, a cache dropped): without this
  // a crash could bring the file back.
  if (const FsError e = fs.flushFolder(folderOrWorking(folderPart(path)))) throwFileError(e, path, true);
}

std::optional<std::string> readWholeFile(FileSystem& fs, const std::string& path) {
  // A FIFO or a device is never opened when it can be told first (opening some
  // has effects); the backend checks the opened handle again.
  const EntryKind kind = fs.kind(path);
  if (kind == EntryKind::Folder || kind == EntryKind::Other) throwFileError(kPathFileAccessError, path, true);
  std::string bytes;
  // The reply cap bounds what is held in memory, as it does for a download.
  const FsError e = fs.readWhole(path, kReplySizeCap, bytes);
  if (e == kFileNotFound || e == kPathNotFound) return std::nullopt;
  if (e == kFileOverCap) {
    throw AutomationError(kPathFileAccessError, standardErrorText(kPathFileAccessError) + ": " + path +
                                                    " is larger than " + std::to_string(kReplySizeCap) +
                                                    " bytes and was not read");
  }
  if (e != 0) throwFileError(e, path, true);
  return bytes;
}

void createOneFolder(FileSystem& fs, const std::string& path) {
  if (const FsError e = fs.createFolder(path)) throwFileError(e, path, false);
  // Files are flushed into the new folder, but without this the folder's own
  // entry may not survive a crash, and everything reported written in it with it.
  std::string own = path;
  while (own.size() > 1 && isSeparator(own.back())) own.pop_back();
  if (const FsError e = fs.flushFolder(folderOrWorking(folderPart(own)))) throwFileError(e, path, false);
}

std::unique_ptr<FileLock> lockExistingFolder(FileSystem& fs, const std::string& folder) {
  if (fs.kind(folder) != EntryKind::Folder) throwFileError(kPathNotFound, folder, false);
  std::unique_ptr<FileLock> lock;
  if (const FsError e = fs.lockFolder(folder, lock)) throwFileError(e, folder, false);
  return lock;
}

}  // namespace qmx
