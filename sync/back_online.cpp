#include "sync/back_online.h"

#include <optional>
#include <vector>

#include "base/automation_error.h"
#include "base/sha256.h"
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
  // Names the file that stops the run while the host still hears of it.
  const auto naming = [&](const AutomationError& e, const std::string& path) {
    return trapArmed ? e : AutomationError(e.number(), e.description() + " (saved transaction " + path + ")");
  };
  try {
    if (!names.empty()) {
      const std::unique_ptr<FileLock> identityLock = lockTransactionIdentities(platform, savedFiles);
      forgetStrayIdentities(platform, savedFiles);
    }
    for (const std::string& name : names) {
      const std::string path = joinPath(savedFiles, name);
      // The text and its identity are taken together under the identity lock,
      // which a SaveLocal of the name holds while it replaces the text and drops
      // the record; the post itself goes out without it.
      std::string bytes, digest, identity, address, body;
      {
        const std::unique_ptr<FileLock> identityLock = lockTransactionIdentities(platform, savedFiles);
        bytes = loadSavedTransaction(platform, path, doc);
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
        address = uploadAddress(target.serverBase, screen.value(), target.companyId);
        body = xmlText(doc);
        // The body goes as UTF-8, whatever the file's declaration said.
        replaceDeclaredEncoding(body, "UTF-8");
        try {
          // Recorded before the first post of these bytes and kept until they are
          // confirmed, so that a post repeated after a crash is known to the service.
          digest = sha256Hex(bytes);
          identity = transactionIdentity(platform, savedFiles, name, digest);
        } catch (const AutomationError& e) {
          throw naming(e, path);
        }
      }
      HttpReply reply;
      try {
        reply = connection.send(HttpRequest{"POST", address, std::move(body), {{"Idempotency-Key", identity}}});
      } catch (const AutomationError& e) {
        throw naming(e, path);
      }
      trapArmed = true;

      if (readReplyStatus(platform, reply, address, doc) != kEnvelopeSuccess) {
        platform.messageBox("Error Updating Offline Files - 0");
        return;
      }
      {
        // Only the bytes posted, still under the identity posted, may go; a text
        // saved over them meanwhile is a new transaction, left for the next run.
        // The file goes before its record: a crash in between leaves a record
        // naming no text, never a confirmed text without its identity, which
        // would go up again under a new one.
        const std::unique_ptr<FileLock> identityLock = lockTransactionIdentities(platform, savedFiles);
        std::optional<std::string> now;
        try {
          now = platform.readFile(path);
        } catch (const AutomationError&) {
          // Unreadable: it stays, and goes again under the same identity.
        }
        if (now == bytes && isRecordedIdentity(platform, savedFiles, name, identity, digest)) {
          // A failed deletion posts it again next time, under the same identity.
          platform.deleteFile(path);
          forgetTransactionIdentity(platform, savedFiles, name, false);
        }
      }
      connection.reportProgress(++done, names.size());
    }
  } catch (const AutomationError& e) {
    if (!trapArmed) throw;
    platform.messageBox("Error Updating Offline Files - " + std::to_string(e.number()));
  }
}

}  // namespace qmx
