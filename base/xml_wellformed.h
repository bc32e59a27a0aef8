// The strict well-formedness check that every document passes before the control
// uses it: pugixml alone lets through text after the root element, a second
// root, undefined entities, duplicate attributes, "<" in attribute values and
// characters XML forbids. The check is libxml2's parser with no tree built.
#pragma once

#include <cstddef>
#include <functional>
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

// UTF-8 text handed over in pieces: each call writes up to `room` bytes of the
// text's next piece at `out` and returns how many; 0 at the end. Must not throw.
using XmlTextSource = std::function<std::size_t(char* out, std::size_t room)>;

// The same check over text read from a source, for text held in another form
// (a file's single-byte bytes converted piece by piece). Throws only
// std::bad_alloc.
bool isWellFormedXml(const XmlTextSource& source, std::string* problem = nullptr);

}  // namespace qmx
