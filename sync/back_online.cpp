#include "sync/back_online.h"

#include <vector>

#include "base/automation_error.h"
#include "base/xml_text.h"
#include "net/reply_envelope.h"
#include "net/server_pages.h"
#include "store/data_directory.h"
#include "store/local_store.h"
#include "store/transaction_identity.h"

namespace qmx {

void uploadSavedTransactions(ServiceConnection& connection, Platform& platform, const UploadTarget& target) {
  const std::string savedFiles = savedFilesFolder(target.dataPath);
  if (!platform.folderExists(savedFiles)) createFolderLevel(platform, savedFiles);
  // One run at a time per folder: another process's run would post the same
  // files and then fail to delete the ones this run deleted first.
  const std::unique_ptr<FileLock> lock = platform.lockFolder(savedFiles);

  const std::vector<std::string> names = platform.listFiles(savedFiles);
  pugi::xml_document doc;
  // Before the first request has gone out, a failure is the call's own; after it
  // the user is told and the call ends quietly, leaving the rest for next time.
  bool trapArmed = false;
  std::uint64_t done = 0;
  try {
    for (const std::string& name : names) {
      const std::string path = joinPath(savedFiles, name);
      loadSavedTransaction(platform, path, doc);
      const pugi::xml_node data = doc.select_node("xml/rs:data").node();
      if (!data) {
        throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the saved transaction " +
                                                 path +
                                                 (doc.document_element() ? " has no xml/rs:data element"
                                                                         : " could not be read as XML"));
      }
      const pugi::xml_attribute screen = data.attribute("Screen");
      if (!screen) {
        throw AutomationError(kInvalidUseOfNull, standardErrorText(kInvalidUseOfNull) +
                                                     ": the saved transaction " + path +
                                                     " has no Screen attribute on xml/rs:data");
      }
      const std::string address = uploadAddress(target.serverBase, screen.value(), target.companyId);
      std::string body = xmlText(doc);
      // The body goes as UTF-8, whatever the file's declaration said.
      replaceDeclaredEncoding(body, "UTF-8");
      HttpReply reply;
      try {
        // Fixed before the first post of this file and kept until it is confirmed,
        // so that a post repeated after a crash is known to the service.
        const std::string identity = transactionIdentity(platform, savedFiles, name);
        reply = connection.send(HttpRequest{"POST", address, std::move(body), {{"Idempotency-Key", identity}}});
      } catch (const AutomationError& e) {
        if (trapArmed) throw;
        // The host hears of it: name the file that stops the run.
        throw AutomationError(e.number(), e.description() + " (saved transaction " + path + ")");
      }
      trapArmed = true;

      if (readReplyStatus(platform, reply, address, doc) != kEnvelopeSuccess) {
        platform.messageBox("Error Updating Offline Files - 0");
        return;
      }
      // Only a confirmed post lets the file go; a failed deletion posts it again next time.
      platform.deleteFile(path);
      forgetTransactionIdentity(platform, savedFiles, name);
      connection.reportProgress(++done, names.size());
    }
  } catch (const AutomationError& e) {
    if (!trapArmed) throw;
    platform.messageBox("Error Updating Offline Files - " + std::to_string(e.number()));
  }
}

}  // namespace qmx
