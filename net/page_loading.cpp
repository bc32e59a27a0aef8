// XMLLoad: choose between refreshing the cached copy of a data set and
// downloading it afresh.
#include <algorithm>
#include <string>
#include <vector>

#include "control/xmlload.h"
#include "store/cached_data_file.h"
#include "store/data_directory.h"

namespace qmx {

namespace {

std::string upperCased(std::string text) {
  // Only the words "NEW" and "NONE" are ever compared, so ASCII folding suffices.
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
  return text;
}

// The folders to make for a data directory, in order: the path up to each
// separator after the first, then the whole path. The text before the first
// separator is normally a drive and is never made. "/" separates as well as "\\":
// a native path such as "/srv/qmx/data" has no drive, and with "\\" alone it would
// be one piece that is never made.
std::vector<std::string> levelsToMake(const std::string& path) {
  std::vector<std::string> levels;
  std::size_t separator = path.find_first_of("\\/");
  if (separator == std::string::npos) return levels;
  while ((separator = path.find_first_of("\\/", separator + 1)) != std::string::npos)
    levels.push_back(path.substr(0, separator));
  levels.push_back(path);
  return levels;
}

}  // namespace

XmlDocument XMLLoad::XMLLoad_(std::string& sWebService, const std::string& sFile, const std::string& sAction) {
  bOffline = getOffline();
  const bool cached = platform_.fileExists(cachedDataFilePath(get_DataPath(), sFile));
  const std::string action = upperCased(sAction);

  if (cached && (action != "NEW" || bOffline)) {
    return UpdateLocalData(sWebService, get_DataPath(), sFile, action);
  }

  // The data directory is made before the download decides whether it can go to
  // the server at all, so it exists also offline or before a login.
  const std::string dataPath = get_DataPath();
  if (!platform_.folderExists(dataPath)) {
    // Empty text has no first piece to start from, as the runtime's split gives none.
    if (dataPath.empty()) {
      throw AutomationError(kSubscriptOutOfRange,
                            standardErrorText(kSubscriptOutOfRange) + ": DataPath is empty");
    }
    for (const std::string& level : levelsToMake(dataPath)) {
      if (!platform_.folderExists(level)) createFolderLevel(platform_, level);
    }
  }
  return DownloadLocalData(sWebService, get_DataPath(), sFile);
}

}  // namespace qmx
