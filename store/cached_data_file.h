// A cached data file: the rowset document of one data set, kept in the data
// directory as single-byte text and rewritten whole after every change.
#pragma once

#include <optional>
#include <string>

#include "base/xml_text.h"
#include "platform/platform.h"

namespace qmx {

class CachedDataFile {
 public:
  // Reads and parses the file at the control's path. Throws AutomationError 53
  // when the file is missing, 62 when it is empty, 91 when it is not XML or holds
  // no TimeStamp element with a ModTime attribute; the description names the file.
  static CachedDataFile read(Platform& platform, const std::string& path);

  // Writes a document's XML text to the file by atomic replace, as single-byte
  // text with numeric references for characters outside the code page. Throws the
  // platform's AutomationError (76, 70, 61) when it cannot be written; the file
  // then keeps its previous content.
  static void write(Platform& platform, const std::string& path, const pugi::xml_node& doc);

  const XmlDocument& document() const { return document_; }
  // The ModTime of the first TimeStamp element, as read.
  const std::string& modTime() const { return modTime_; }

 private:
  CachedDataFile(XmlDocument document, std::string modTime)
      : document_(std::move(document)), modTime_(std::move(modTime)) {}

  XmlDocument document_;
  std::string modTime_;
};

// The cached data file's path: the data directory, "\" and the host's name.
// Throws AutomationError 75 naming the path when the name leads out of the folder.
std::string cachedDataFilePath(const std::string& dataPath, const std::string& sFile);

// The first TimeStamp element in document order, or an empty node.
pugi::xml_node firstTimeStamp(const pugi::xml_node& doc);

// The ModTime text of the document's first TimeStamp element, or nullopt when
// there is no such element or it has no ModTime attribute.
std::optional<std::string> findModTime(const pugi::xml_node& doc);

}  // namespace qmx
