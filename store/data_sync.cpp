// Refresh and first download of a cached data file.
#include <string>

#include "control/xmlload.h"
#include "net/reply_envelope.h"
#include "net/server_pages.h"
#include "store/cached_data_file.h"
#include "store/rowset_merge.h"

namespace qmx {

XmlDocument XMLLoad::UpdateLocalData(std::string& sWebService, const std::string& dataPath,
                                     const std::string& sFile, const std::string& sAction) {
  const std::string path = cachedDataFilePath(dataPath, sFile);
  // Read (and its TimeStamp checked) on every call, refresh or not, so that a
  // broken copy is noticed at once.
  CachedDataFile cached = CachedDataFile::read(platform_, path);
  XmlDocument local = cached.document();

  if (!get_Authenticated() || bOffline || sAction == "NONE") return local;

  sWebService = sWebService + "?Cucumber=" + kAccessValue + "&Time=" + cached.modTime() + "&Data=" + sFile +
                "&MachineID=" + std::to_string(lMachineID) + "&LocationID=" + std::to_string(get_Location()) +
                "&CompanyID=" + get_CompanyID();
  const HttpReply reply = http().send(HttpRequest{"GET", sWebService, std::nullopt});

  auto replyDoc = std::make_shared<pugi::xml_document>();
  const std::string status = readReplyStatus(reply, sWebService, *replyDoc);

  if (status == "NEWDATA") {
    // The caller keeps the copy it asked for; the next load sees the new one.
    CachedDataFile::write(platform_, path, *replyDoc);
  } else if (status == "Success") {
    MergeProgress progress;
    if (progress_) progress = [this](std::uint64_t done, std::uint64_t total) { progress_(done, total); };
    mergeRowset(*local, *replyDoc, path, progress);
    CachedDataFile::write(platform_, path, *local);
  } else if (status == "Failure") {
    platform_.messageBox("Error updating " + sFile);
  }
  // "NODATA" and any other word leave the copy as it is.
  return local;
}

XmlDocument XMLLoad::DownloadLocalData(std::string& sWebService, const std::string& dataPath,
                                       const std::string& sFile) {
  if (!get_Authenticated() || bOffline) return nullptr;
  const std::string path = cachedDataFilePath(dataPath, sFile);

  sWebService = sWebService + "?Time=New&Data=" + sFile + "&MachineID=" + std::to_string(lMachineID) +
                "&LocationID=" + std::to_string(get_Location()) + "&CompanyID=" + get_CompanyID();
  XmlDocument doc = HTTPCall(std::string(), sWebService);
  // HTTPCall has set ErrorNumber and ErrorDesc; the host sees an empty document.
  if (!doc) return std::make_shared<pugi::xml_document>();
  CachedDataFile::write(platform_, path, *doc);
  return doc;
}

}  // namespace qmx
