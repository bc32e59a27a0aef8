#include "store/cached_data_file.h"

#include "base/automation_error.h"
#include "base/codepage.h"
#include "store/data_directory.h"
#include "store/xml_file_text.h"

namespace qmx {

namespace {
constexpr std::int32_t kInputPastEndOfFile = 62;
}  // namespace

std::string cachedDataFilePath(const std::string& dataPath, const std::string& sFile) {
  // The name also comes back from the server's side of the exchange as "Data";
  // it must not reach files outside the data directory.
  return pathInFolder(dataPath, sFile);
}

pugi::xml_node firstTimeStamp(const pugi::xml_node& doc) {
  return doc.find_node([](const pugi::xml_node& n) {
    return n.type() == pugi::node_element && std::string_view(n.name()) == "TimeStamp";
  });
}

std::optional<std::string> findModTime(const pugi::xml_node& doc) {
  const pugi::xml_node stamp = firstTimeStamp(doc);
  if (!stamp) return std::nullopt;
  const pugi::xml_attribute attr = stamp.attribute("ModTime");
  if (!attr) return std::nullopt;
  return std::string(attr.value());
}

CachedDataFile CachedDataFile::read(Platform& platform, const std::string& path) {
  std::optional<std::string> bytes = platform.readFile(path);
  if (!bytes) throw AutomationError(kFileNotFound, "File not found: " + path);
  if (bytes->empty()) {
    throw AutomationError(kInputPastEndOfFile, "Input past end of file: " + path + " is empty");
  }
  auto doc = std::make_shared<pugi::xml_document>();
  const std::string text = xmlFileText(platform, *bytes);
  bytes.reset();
  if (!parseXml(*doc, text)) {
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) +
                                             ": the cached data file " + path + " is not well-formed XML");
  }
  std::optional<std::string> modTime = findModTime(*doc);
  if (!modTime) {
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the cached data file " +
                                             path + " has no TimeStamp element with a ModTime attribute");
  }
  return CachedDataFile(std::move(doc), std::move(*modTime));
}

void CachedDataFile::write(Platform& platform, const std::string& path, const pugi::xml_node& doc) {
  std::string xml = xmlText(doc);
  // The bytes are the code page's; a declaration kept from a UTF-8 reply must say so.
  replaceDeclaredEncoding(xml, "windows-1252");
  platform.replaceFile(path, xmlUtf8ToSingleByte(xml), FileAccess::Everyone);
}

}  // namespace qmx
