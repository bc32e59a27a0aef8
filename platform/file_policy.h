// The one file policy every backend shares, on a FileSystem's primitives:
// whole-file replacement through a temporary, listings that hide and clear
// temporaries in one order, deletion without forcing, and errors that name the
// control's path.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/platform.h"

namespace qmx {

// The order listings and registry subkeys come in: by name, letters' case
// ignored (upper-case folding, so "z" sorts before "_", as on Windows).
bool listingOrder(const std::string& a, const std::string& b);

// The path of a name inside a folder given with or without its trailing
// separator ("\\" or "/"). Never fails.
std::string pathInFolder(const std::string& folder, const std::string& name);

// Throws the AutomationError of a failed file operation, naming the control
// path; missingIsFile picks 53 rather than 76 for something missing.
[[noreturn]] void throwFileError(FsError error, const std::string& path, bool missingIsFile);

// Replaces the file whole: a temporary beside it, claimed by this writer until
// renamed, is written, flushed, closed and renamed over it, then the folder is
// flushed. Throws AutomationError naming the path: 70 for a read-only target,
// 75 for a folder, 76 when the folder is missing, 61 when the disk is full; the
// old content survives any failure before the rename and no temporary is left.
// An exception of `write` passes on.
void replaceWhole(FileSystem& fs, const std::string& path, const Platform::ContentWriter& write, FileAccess access);

// The names of the files directly in a folder, in listingOrder, temporaries
// hidden and those no writer claims removed once long unchanged; a name
// holding "\\" or "/" is left out (and never removed). Throws 76 when the
// folder is missing.
std::vector<std::string> listFolderFiles(FileSystem& fs, const std::string& folder);

// Removes the temporaries directly in a folder that no writer claims and that
// have long been unchanged. Never fails.
void removeStaleTemporaries(FileSystem& fs, const std::string& folder);

// Deletes a file without forcing. Throws 53 when missing (a folder included),
// 70 when read-only or not allowed.
void deleteWithoutForcing(FileSystem& fs, const std::string& path);

// The whole regular file; nullopt when there is none. Throws 75 for anything
// else (a folder, a FIFO, a device) and for a file over kReplySizeCap, before
// reading; else the read's error.
std::optional<std::string> readWholeFile(FileSystem& fs, const std::string& path);

// Creates one folder level and flushes its parent. Throws 58 when it exists, 76
// when the parent is missing.
void createOneFolder(FileSystem& fs, const std::string& path);

// An exclusive lock tied to the folder. Throws 76 when the folder is missing.
std::unique_ptr<FileLock> lockExistingFolder(FileSystem& fs, const std::string& folder);

}  // namespace qmx
