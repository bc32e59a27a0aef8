// Paths inside the data directory (the folder DataPath names) and the checks that
// keep a relative name from the host inside its folder. Paths are the control's
// Windows-style text, joined as plain text with one "\".
#pragma once

#include <string>
#include <string_view>

namespace qmx {

class Platform;

// folder + "\" + name, as plain text: nothing is trimmed, added or folded, so a
// folder ending in "\" gives two in a row. Never fails.
std::string joinPath(std::string_view folder, std::string_view name);

// True when a relative name stays inside the folder it is joined to: no leading
// "\" or "/", no ".." segment, no ":" (a drive letter or a stream), no NUL.
// Subfolders ("style\a.xsl") and the empty name are allowed.
bool staysInsideFolder(std::string_view relativeName);

// joinPath for a relative name that came from the host. Throws AutomationError 75
// naming the joined path when the name would lead out of the folder, or when its
// last segment has the form of a replaceFile temporary (".name.tmp1_2").
std::string pathInFolder(std::string_view folder, std::string_view relativeName);

// Creates one folder level; a folder that is already there (another control or
// process made it first) is no failure. Throws as Platform::createFolder otherwise.
void createFolderLevel(Platform& platform, const std::string& path);

// Makes the data directory level by level when it is missing: the path up to each
// separator ("\\" or "/") after the first, then the whole path; the text before the
// first separator is normally a drive and is never made. Throws 9 for an empty
// path, and as createFolderLevel.
void makeDataDirectory(Platform& platform, const std::string& path);

}  // namespace qmx
