#include "sync/page_loading.h"

#include "store/cached_data_file.h"
#include "store/data_directory.h"

namespace qmx {

DataSetLoad loadDataSet(ServiceConnection& connection, Platform& platform, const DataSetRequest& request) {
  try {
    const bool cached = platform.fileExists(cachedDataFilePath(request.dataPath, request.file));
    if (cached && (request.action != "NEW" || request.offline)) {
      return refreshCachedData(connection, platform, request);
    }
    // The data directory is made before the download decides whether it can go to
    // the server at all, so it exists also offline or before a login.
    makeDataDirectory(platform, request.dataPath);
  } catch (...) {
    DataSetLoad failed;
    failed.failure = std::current_exception();
    return failed;
  }
  return downloadDataSet(connection, platform, request);
}

}  // namespace qmx
