// Parsing and serialising XML documents the way the control does everywhere:
// no namespace processing, whitespace-only text dropped, raw serialisation with
// no declaration added (one present in the source is kept).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "base/xml_wellformed.h"

namespace qmx {

// The XML document object handed to the host; a null pointer is "Nothing".
using XmlDocument = std::shared_ptr<pugi::xml_document>;

// Parses UTF-8 text into doc. Returns false, with doc left empty, when the text is
// not well-formed XML. Large text is checked on a second thread while pugixml
// parses it; the verdict is the same as checking first.
bool parseXml(pugi::xml_document& doc, std::string_view utf8);

// As parseXml, keeping comments and processing instructions as nodes, for files
// whose last child matters.
bool parseXmlKeepingComments(pugi::xml_document& doc, std::string_view utf8);

// A new document parsed from UTF-8 text; an empty document when the text is not
// well-formed.
XmlDocument parseXmlDocument(std::string_view utf8);

// Text in memory that a document can take over and parse where it lies, which
// saves the copy of a large file's text that parseXml makes.
class XmlTextBuffer {
 public:
  // Room for size bytes of text and `spare` bytes after it that a writer may
  // scribble on. Throws std::bad_alloc.
  explicit XmlTextBuffer(std::size_t size, std::size_t spare = 0);
  XmlTextBuffer(XmlTextBuffer&&) noexcept = default;
  XmlTextBuffer& operator=(XmlTextBuffer&&) noexcept = default;

  char* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  struct Release {
    void operator()(char* p) const;
  };
  friend bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text);
  friend bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text, XmlTextSource sameText);
  std::unique_ptr<char, Release> data_;
  std::size_t size_ = 0;
};

// Text that a document takes over, copied from UTF-8 text. Throws std::bad_alloc.
XmlTextBuffer xmlTextBufferOf(std::string_view utf8);
// A source that reads text where it lies, and one that keeps the text it reads.
XmlTextSource xmlTextSourceOver(std::string_view utf8);
XmlTextSource xmlTextSourceOwning(std::string utf8);
// A source over a copy of the text made in pieces, each freed as soon as it is
// read: a check that lags behind the parse then holds only what it has yet to
// read, and the original text can go at once. Throws std::bad_alloc.
XmlTextSource xmlTextSourceInPieces(std::string_view utf8);

// As parseXml, for text the document takes over.
bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text);
// The same, with the check reading the text from `sameText`, which must give
// exactly text's bytes: pugixml rewrites the buffer as it parses, so a check
// beside it needs a copy of its own. The source is released as soon as the
// check is done, so what it holds need not outlive it.
bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text, XmlTextSource sameText);

// The UTF-8 XML text of a node or document; empty text for an empty document.
std::string xmlText(const pugi::xml_node& node);
// The same text handed to sink in pieces as it is made, for a large document
// that goes straight to a file.
void printXml(const pugi::xml_node& node, const std::function<void(std::string_view)>& sink);

// The encoding named by an XML declaration at the start of the text, lower-cased;
// empty text when there is none. Never fails.
std::string declaredXmlEncoding(std::string_view text);

// Makes an XML declaration at the start of the text that names an encoding name
// this one instead, so that text written in that encoding never claims another.
// Text without such a declaration is left alone. Never fails.
void replaceDeclaredEncoding(std::string& xml, std::string_view encoding);

// The text of every text and CDATA node inside the node, joined in document
// order, as a DOM's text content. Never fails.
std::string textContent(const pugi::xml_node& node);

}  // namespace qmx
