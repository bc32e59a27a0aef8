// The host's own files in the data directory: saved transactions and style
// sheets under "SavedFiles", and the clearing of the cached data files.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "platform/platform.h"

namespace qmx {

// The folder of saved transactions in a data directory. Never fails.
std::string savedFilesFolder(const std::string& dataPath);

// Writes text as single-byte text to SavedFiles\name, making SavedFiles with its
// "data" and "style" subfolders as needed. Throws 75 (naming the path) for a name
// leading out of the folder, 5 for a character outside the code page (the previous
// file then stays), and the platform's errors. A transaction (a name directly in
// SavedFiles) is written with its identity record dropped, under the short
// identity lock only, so a save never waits for a BackOnline's posts.
void saveLocal(Platform& platform, const std::string& dataPath, const std::string& text, const std::string& name);

// The XML text of SavedFiles\name; empty text when it cannot be read or parsed.
// Throws 75 for a name leading out of the folder.
std::string readSavedStyleSheet(Platform& platform, const std::string& dataPath, const std::string& name);

// Loads a saved transaction into doc, read by its encoding (see xmlFileText), and
// returns the file's bytes. A file that cannot be read or parsed leaves doc empty
// (and one that cannot be read, the bytes too); never fails.
std::string loadSavedTransaction(Platform& platform, const std::string& path, pugi::xml_document& doc);

// Deletes every file directly in the data directory (made first when missing);
// subfolders stay. Stops at the first file that cannot go, with its error.
void deleteLocalData(Platform& platform, const std::string& dataPath);

}  // namespace qmx
