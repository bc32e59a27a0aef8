// BackOnline: post the saved transactions to the form-processing page and
// delete each one the server confirms.
#include <string>
#include <vector>

#include "control/xmlload.h"
#include "net/reply_envelope.h"
#include "platform/codepage.h"
#include "store/data_directory.h"

namespace qmx {

namespace {

// The saved transaction as a document. SaveLocal writes single-byte text, so it
// is read back the same way. A file that cannot be read or parsed leaves the
// document empty, which the next step meets as a missing rs:data (91), whatever
// kept the load from succeeding.
void loadSavedTransaction(Platform& platform, const std::string& path, pugi::xml_document& doc) {
  doc.reset();
  std::optional<std::string> bytes;
  try {
    bytes = platform.readFile(path);
  } catch (const AutomationError&) {
    return;
  }
  if (bytes) parseXml(doc, singleByteToUtf8(*bytes));
}

}  // namespace

void XMLLoad::BackOnline() {
  const std::string savedFiles = joinPath(get_DataPath(), "SavedFiles");
  if (!platform_.folderExists(savedFiles)) createFolderLevel(platform_, savedFiles);

  const std::vector<std::string> names = platform_.listFiles(savedFiles);
  pugi::xml_document doc;
  // Before the first request has gone out, a failure is the call's own; after it
  // the user is told and the call ends quietly, leaving the rest for next time.
  bool trapArmed = false;
  std::uint64_t done = 0;
  try {
    for (const std::string& name : names) {
      const std::string path = joinPath(savedFiles, name);
      loadSavedTransaction(platform_, path, doc);
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
      const std::string address = ProcessFormsPage() + "?pageID=" + screen.value() +
                                  "&CompanyID=" + get_CompanyID() + "&Action=Save";
      const HttpReply reply = http().send(HttpRequest{"POST", address, xmlText(doc)});
      trapArmed = true;

      if (readReplyStatus(reply, address, doc) != kEnvelopeSuccess) {
        platform_.messageBox("Error Updating Offline Files - 0");
        return;
      }
      // Only a confirmed post lets the file go; a failed deletion posts it again next time.
      platform_.deleteFile(path);
      if (progress_) progress_(++done, names.size());
    }
  } catch (const AutomationError& e) {
    if (!trapArmed) throw;
    platform_.messageBox("Error Updating Offline Files - " + std::to_string(e.number()));
  }
}

}  // namespace qmx
