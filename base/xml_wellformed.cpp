#include "base/xml_wellformed.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace qmx {
namespace {

struct CheckState {
  xmlParserCtxtPtr context = nullptr;
  const XmlTextSource* source = nullptr;
  bool doctype = false;
  bool fatal = false;
  std::string problem;
};

// Every callback receives the user data the context was created with: the check's state.
void onDoctype(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
  CheckState& state = *static_cast<CheckState*>(data);
  state.doctype = true;
  xmlStopParser(state.context);
}

// The parser pulls the text through this reader.
int readText(void* data, char* buffer, int length) {
  if (length <= 0) return 0;
  const std::size_t n = (*static_cast<CheckState*>(data)->source)(buffer, static_cast<std::size_t>(length));
  return static_cast<int>(std::min(n, static_cast<std::size_t>(length)));
}

// libxml2 2.12 made the error it passes const.
#if LIBXML_VERSION >= 21200
using ParserError = const xmlError*;
#else
using ParserError = xmlErrorPtr;
#endif

// A structured handler receives every report and keeps libxml2 from printing to
// standard error. A fatal one is what breaks well-formedness (a namespace error
// or a warning does not); the first report of any kind is the reason given.
void onError(void* data, ParserError error) {
  CheckState& state = *static_cast<CheckState*>(data);
  if (!error) return;
  if (error->level == XML_ERR_FATAL) state.fatal = true;
  if (state.problem.empty() && error->message) {
    state.problem = error->message;
    while (!state.problem.empty() && state.problem.back() == '\n') state.problem.pop_back();
    state.problem += " (line " + std::to_string(error->line) + ")";
  }
}

// No network, no entity substitution, no size limits on single text nodes (a
// large data set is one document), and the text is UTF-8 whatever it declares.
constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC;

}  // namespace

bool isWellFormedXml(std::string_view utf8, std::string* problem) {
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
    if (problem) *problem = "the document is too large";
    return false;
  }
  const XmlTextSource source = [&utf8](char* out, std::size_t room) {
    const std::size_t n = std::min(utf8.size(), room);
    std::memcpy(out, utf8.data(), n);
    utf8.remove_prefix(n);
    return n;
  };
  return isWellFormedXml(source, problem);
}

bool isWellFormedXml(const XmlTextSource& source, std::string* problem) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  // Every callback is null but the doctype's and the error's: the parser checks,
  // builds nothing. The text is UTF-8 whatever its declaration names.
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.internalSubset = onDoctype;
  sax.serror = onError;
  CheckState state;
  state.source = &source;
  state.context = xmlCreateIOParserCtxt(&sax, &state, readText, nullptr, &state, XML_CHAR_ENCODING_UTF8);
  if (!state.context) {
    if (problem) *problem = "out of memory";
    return false;
  }
#if LIBXML_VERSION >= 21300
  xmlCtxtSetOptions(state.context, kOptions);
#else
  xmlCtxtUseOptions(state.context, kOptions);
#endif
  xmlParseDocument(state.context);
  const bool wellFormed = !state.fatal && !state.doctype;
  xmlFreeParserCtxt(state.context);

  if (!wellFormed && problem) {
    *problem = state.doctype ? "a document type declaration is not accepted"
                             : (state.problem.empty() ? "not well-formed" : state.problem);
  }
  return wellFormed;
}

}  // namespace qmx
