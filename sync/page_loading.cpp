#include "sync/page_loading.h"

#include "store/cached_data_file.h"
#include "store/data_directory.h"

namespace qmx {

XmlDocument loadDataSet(ServiceConnection& connection, const CallOutcome& outcome, std::string& sWebService,
                        const DataSetRequest& request) {
  Platform& platform = connection.platform();
  const bool cached = platform.fileExists(cachedDataFilePath(request.dataPath, request.file));
  if (cached && (request.action != "NEW" || request.offline)) {
    return refreshCachedData(connection, sWebService, request);
  }
  // The data directory is made before the download decides whether it can go to
  // the server at all, so it exists also offline or before a login.
  makeDataDirectory(platform, request.dataPath);
  return downloadDataSet(connection, outcome, sWebService, request);
}

}  // namespace qmx
