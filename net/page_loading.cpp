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

std::vector<std::string> splitAtBackslash(const std::string& text) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;  // as the runtime's split: empty text has no pieces
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\\', start);
    pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return pieces;
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
    const std::vector<std::string> pieces = splitAtBackslash(dataPath);
    if (pieces.empty()) {
      throw AutomationError(kSubscriptOutOfRange,
                            standardErrorText(kSubscriptOutOfRange) + ": DataPath is empty");
    }
    // The first piece is normally a drive, which is never tested or made.
    std::string path = pieces.front();
    for (std::size_t i = 1; i < pieces.size(); ++i) {
      path += "\\" + pieces[i];
      if (!platform_.folderExists(path)) createFolderLevel(platform_, path);
    }
  }
  return DownloadLocalData(sWebService, get_DataPath(), sFile);
}

}  // namespace qmx
