// The strict well-formedness check that every document passes before pugixml
// builds it: pugixml alone lets through text after the root element, a second
// root, undefined entities, duplicate attributes, "<" in attribute values and
// characters XML forbids. The check is libxml2's parser with no tree built.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// True when the UTF-8 text is one well-formed XML document (any encoding named
// in its declaration is ignored: the text is UTF-8 by now). A document type
// declaration is refused too: its entities would be expanded by a conforming
// parser but not by pugixml, so the two would read different documents. On a
// refusal, problem (when given) receives the parser's reason with its line.
// Never throws.
bool isWellFormedXml(std::string_view utf8, std::string* problem = nullptr);

}  // namespace qmx
