// XML files read the way an XML parser reads them, so that a file written by
// another program in UTF-8 or UTF-16 reads as it was meant, and what the control
// writes itself (Windows-1252, usually without a declaration) reads as before.
#pragma once

#include <string>
#include <string_view>

#include "base/xml_text.h"
#include "platform/platform.h"

namespace qmx {

// The file's text as UTF-8: by its byte-order mark (UTF-8, UTF-16LE, UTF-16BE);
// else by the encoding its declaration names (the code page's labels as the code
// page, other labels through the platform); else as UTF-8 when the bytes are
// valid UTF-8; else as Windows-1252. A declaration naming UTF-8 over bytes that
// are not UTF-8, or an encoding nobody here knows, falls back to that last rule:
// files written by earlier versions of the control carry such declarations.
// Never fails.
std::string xmlFileText(Platform& platform, std::string_view bytes);

// The same text in a buffer a document can take over (a cached data file is
// large: it is converted straight into the buffer, with no copy in between),
// and again as a source that reads it from the file's bytes (which it takes
// over), for the strict check that runs while the buffer is parsed in place.
struct XmlFileTextToParse {
  XmlTextBuffer text;
  XmlTextSource sameText;
};
XmlFileTextToParse xmlFileTextToParse(Platform& platform, std::string bytes);

}  // namespace qmx
