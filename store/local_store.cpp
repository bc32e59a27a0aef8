// SaveLocal, GetXSL and DeleteLocalData: the host's operations on the data
// directory's saved files and cached data files.
#include "control/xmlload.h"
#include "platform/codepage.h"
#include "store/data_directory.h"

namespace qmx {

void XMLLoad::SaveLocal(const std::string& sTransXML, const std::string& sFile) {
  const std::string savedFiles = joinPath(get_DataPath(), "SavedFiles");
  // Refuse a name leading elsewhere before any folder is made.
  const std::string target = pathInFolder(savedFiles, sFile);

  if (!platform_.folderExists(savedFiles)) {
    createFolderLevel(platform_, savedFiles);
    createFolderLevel(platform_, joinPath(savedFiles, "data"));
    createFolderLevel(platform_, joinPath(savedFiles, "style"));
  } else {
    for (const char* sub : {"data", "style"}) {
      const std::string folder = joinPath(savedFiles, sub);
      if (!platform_.folderExists(folder)) createFolderLevel(platform_, folder);
    }
  }

  std::string bytes;
  try {
    bytes = utf8ToSingleByte(sTransXML);
  } catch (const AutomationError& e) {
    // Converted before the file is touched, so a previous file of the name survives.
    throw AutomationError(e.number(), standardErrorText(e.number()) + ": " + target);
  }
  platform_.replaceFile(target, bytes);
}

std::string XMLLoad::GetXSL(const Variant& sFileName) {
  const std::string path =
      pathInFolder(joinPath(get_DataPath(), "SavedFiles"), variantToText(sFileName));
  std::optional<std::string> bytes;
  try {
    bytes = platform_.readFile(path);
  } catch (const AutomationError&) {
    // A load that fails leaves the document empty; its outcome is not a failure
    // of the call (the empty name, naming the folder itself, lands here too).
    return {};
  }
  if (!bytes) return {};
  pugi::xml_document doc;
  if (!parseXml(doc, singleByteToUtf8(*bytes))) return {};
  return xmlText(doc);
}

void XMLLoad::DeleteLocalData() {
  const std::string dataPath = get_DataPath();
  if (!platform_.folderExists(dataPath)) createFolderLevel(platform_, dataPath);
  // Stops at the first file that cannot go: those before it are gone, the rest stay.
  for (const std::string& name : platform_.listFiles(dataPath)) {
    platform_.deleteFile(joinPath(dataPath, name));
  }
}

}  // namespace qmx
