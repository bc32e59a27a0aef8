#include "sync/data_sync.h"

#include "net/reply_envelope.h"
#include "store/cached_data_file.h"
#include "store/rowset_merge.h"

namespace qmx {

XmlDocument refreshCachedData(ServiceConnection& connection, std::string& sWebService,
                              const DataSetRequest& request) {
  Platform& platform = connection.platform();
  const std::string path = cachedDataFilePath(request.dataPath, request.file);
  // Read (and its TimeStamp checked) on every call, refresh or not, so that a
  // broken copy is noticed at once.
  CachedDataFile cached = CachedDataFile::read(platform, path);
  XmlDocument local = cached.document();

  if (!request.authenticated || request.offline || request.action == "NONE") return local;

  sWebService = sWebService + refreshQuery(cached.modTime(), request.file, request.requester);
  const HttpReply reply = connection.send(HttpRequest{"GET", sWebService, std::nullopt});

  auto replyDoc = std::make_shared<pugi::xml_document>();
  const std::string status = readReplyStatus(platform, reply, sWebService, *replyDoc);

  if (status == "NEWDATA") {
    // The caller keeps the copy it asked for; the next load sees the new one.
    CachedDataFile::write(platform, path, *replyDoc);
  } else if (status == "Success") {
    MergeProgress progress;
    if (connection.wantsProgress()) {
      progress = [&connection](std::uint64_t done, std::uint64_t total) { connection.reportProgress(done, total); };
    }
    mergeRowset(*local, *replyDoc, path, progress);
    CachedDataFile::write(platform, path, *local);
  } else if (status == "Failure") {
    platform.messageBox("Error updating " + request.file);
  }
  // "NODATA" and any other word leave the copy as it is.
  return local;
}

XmlDocument downloadDataSet(ServiceConnection& connection, const CallOutcome& outcome, std::string& sWebService,
                            const DataSetRequest& request) {
  if (!request.authenticated || request.offline) return nullptr;
  const std::string path = cachedDataFilePath(request.dataPath, request.file);

  sWebService = sWebService + downloadQuery(request.file, request.requester);
  XmlDocument doc = httpCall(connection, sWebService, outcome);
  // HTTPCall has recorded ErrorNumber and ErrorDesc; the host sees an empty document.
  if (!doc) return std::make_shared<pugi::xml_document>();
  CachedDataFile::write(connection.platform(), path, *doc);
  return doc;
}

}  // namespace qmx
