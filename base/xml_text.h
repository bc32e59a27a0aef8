// Parsing and serialising XML documents the way the control does everywhere:
// no namespace processing, whitespace-only text dropped, raw serialisation with
// no declaration added (one present in the source is kept).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace qmx {

// The XML document object handed to the host; a null pointer is "Nothing".
using XmlDocument = std::shared_ptr<pugi::xml_document>;

// Parses UTF-8 text into doc. Returns false, with doc left empty, when the text is
// not well-formed XML.
bool parseXml(pugi::xml_document& doc, std::string_view utf8);

// As parseXml, keeping comments and processing instructions as nodes, for files
// whose last child matters.
bool parseXmlKeepingComments(pugi::xml_document& doc, std::string_view utf8);

// A new document parsed from UTF-8 text; an empty document when the text is not
// well-formed.
XmlDocument parseXmlDocument(std::string_view utf8);

// The UTF-8 XML text of a node or document; empty text for an empty document.
std::string xmlText(const pugi::xml_node& node);

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
