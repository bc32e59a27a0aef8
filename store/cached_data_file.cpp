#include "store/cached_data_file.h"

#include "base/automation_error.h"
#include "base/codepage.h"
#include "store/data_directory.h"
#include "store/xml_file_text.h"

namespace qmx {

namespace {
constexpr std::int32_t kInputPastEndOfFile = 62;
// What the file is written in: large enough to keep system calls few, small
// enough not to matter beside the document.
constexpr std::size_t kPieceSize = 256 * 1024;
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
  // The bytes go to the check that reads them beside the parse, and with it as
  // soon as it is done: a large file's bytes are not kept beside the document.
  XmlFileTextToParse text = xmlFileTextToParse(platform, std::move(*bytes));
  bytes.reset();
  if (!parseXmlInPlace(*doc, std::move(text.text), std::move(text.sameText))) {
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
  // Serialised, converted and written as it goes: a large document's text is
  // never held whole beside it.
  platform.replaceFileStreamed(
      path,
      [&doc](const Platform::ContentSink& sink) {
        XmlSingleByteEncoder encoder;
        std::string piece;
        piece.reserve(kPieceSize + kPieceSize / 8);
        const std::function<void(std::string_view)> take = [&](std::string_view utf8) {
          encoder.feed(utf8, piece);
          if (piece.size() >= kPieceSize) {
            sink(piece);
            piece.clear();
          }
        };
        // A document's children one by one, so that its declaration can be
        // rewritten: the bytes are the code page's, and a declaration kept from
        // a UTF-8 reply must say so.
        if (doc.type() != pugi::node_document) {
          printXml(doc, take);
        } else {
          for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_declaration) {
              printXml(child, take);
              continue;
            }
            std::string declaration = xmlText(child);
            replaceDeclaredEncoding(declaration, "windows-1252");
            take(declaration);
          }
        }
        encoder.finish();
        if (!piece.empty()) sink(piece);
      },
      FileAccess::Everyone);
}

}  // namespace qmx
