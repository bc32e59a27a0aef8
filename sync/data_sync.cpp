#include "sync/data_sync.h"

#include "net/reply_envelope.h"
#include "store/cached_data_file.h"
#include "store/rowset_merge.h"

namespace qmx {

DataSetLoad refreshCachedData(ServiceConnection& connection, Platform& platform, const DataSetRequest& request) {
  DataSetLoad load;
  try {
    const std::string path = cachedDataFilePath(request.dataPath, request.file);
    // Read (and its TimeStamp checked) on every call, refresh or not, so that a
    // broken copy is noticed at once.
    CachedDataFile cached = CachedDataFile::read(platform, path);
    XmlDocument local = cached.document();

    if (request.authenticated && !request.offline && request.action != "NONE") {
      const std::string& address = load.requestAddress.emplace(
          request.page + refreshQuery(cached.modTime(), request.file, request.requester));
      auto replyDoc = std::make_shared<pugi::xml_document>();
      // The reply's bytes go before its parse: they are not kept beside the merge.
      const std::string status =
          readReplyStatus(platform, connection.send(HttpRequest{"GET", address, std::nullopt}), address, *replyDoc);

      if (status == "NEWDATA") {
        // The caller keeps the copy it asked for; the next load sees the new one.
        CachedDataFile::write(platform, path, *replyDoc);
      } else if (status == "Success") {
        MergeProgress progress;
        if (connection.wantsProgress()) {
          progress = [&connection](std::uint64_t done, std::uint64_t total) {
            connection.reportProgress(done, total);
          };
        }
        mergeRowsetConsumingReply(*local, *replyDoc, path, progress);
        CachedDataFile::write(platform, path, *local);
      } else if (status == "Failure") {
        platform.messageBox("Error updating " + request.file);
      }
      // "NODATA" and any other word leave the copy as it is.
    }
    load.document = std::move(local);
  } catch (...) {
    load.failure = std::current_exception();
  }
  return load;
}

DataSetLoad downloadDataSet(ServiceConnection& connection, Platform& platform, const DataSetRequest& request) {
  DataSetLoad load;
  if (!request.authenticated || request.offline) return load;
  try {
    const std::string path = cachedDataFilePath(request.dataPath, request.file);
    const std::string& address =
        load.requestAddress.emplace(request.page + downloadQuery(request.file, request.requester));
    const CallResult& call = load.recorded.emplace(httpCall(connection, platform, address));
    // The failure is recorded for the host; it sees an empty document.
    if (!call.document) {
      load.document = std::make_shared<pugi::xml_document>();
    } else {
      CachedDataFile::write(platform, path, *call.document);
      load.document = call.document;
    }
  } catch (...) {
    load.failure = std::current_exception();
  }
  return load;
}

}  // namespace qmx
