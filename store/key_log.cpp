#include "store/key_log.h"

#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/conversions.h"
#include "base/xml_text.h"
#include "platform/platform.h"
#include "store/data_directory.h"
#include "store/xml_file_text.h"

namespace qmx {
namespace {

[[noreturn]] void throwMalformedEntry(const std::string& logPath) {
  throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": " + logPath);
}

// The running number after the one the root's last child records.
std::int16_t nextAfterLastEntry(const pugi::xml_node& root, const std::string& logPath) {
  const pugi::xml_node last = root.last_child();
  if (last.type() != pugi::node_element) throwMalformedEntry(logPath);
  const pugi::xml_attribute first = last.first_attribute();
  if (!first) throwMalformedEntry(logPath);
  const std::int16_t previous = textToInteger(first.value());
  if (previous == INT16_MAX) {
    throw AutomationError(kOverflow, standardErrorText(kOverflow) + ": the key log " + logPath +
                                         " has issued its last running number");
  }
  return static_cast<std::int16_t>(previous + 1);
}

}  // namespace

std::int16_t recordNextRunningNumber(Platform& platform, const std::string& dataPath) {
  const std::string logFolder = joinPath(dataPath, "log");
  const std::string logPath = joinPath(logFolder, "log.xml");

  // The folder must exist before it can be locked; two processes may both find it
  // missing.
  if (!platform.folderExists(logFolder)) createFolderLevel(platform, logFolder);
  const auto lock = platform.lockFolder(logFolder);

  const std::optional<std::string> bytes = platform.readFile(logPath);
  pugi::xml_document doc;
  std::int16_t number = 1;
  if (bytes && parseXmlKeepingComments(doc, xmlFileText(platform, *bytes)) && doc.document_element()) {
    number = nextAfterLastEntry(doc.document_element(), logPath);
  } else {
    if (bytes && !bytes->empty()) {
      // The damaged log is all that records which numbers were issued; keep it so
      // that someone can find where numbering stood before it restarts at 1.
      platform.replaceFile(joinPath(dataPath, kDamagedKeyLogName), *bytes, FileAccess::Everyone);
    }
    doc.reset();
    doc.append_child("xml");
  }

  doc.document_element().append_child("logEvent").append_attribute("TempKey").set_value(number);
  std::string xml = xmlText(doc);
  replaceDeclaredEncoding(xml, "windows-1252");
  platform.replaceFile(logPath, xmlUtf8ToSingleByte(xml), FileAccess::Everyone);
  return number;
}

std::string temporaryKey(std::int32_t machineId, std::int16_t location, std::int16_t runningNumber) {
  return std::to_string(machineId) + "-" + std::to_string(location) + "-" +
         std::to_string(runningNumber);
}

}  // namespace qmx
