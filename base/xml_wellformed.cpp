#include "base/xml_wellformed.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <mutex>

namespace qmx {
namespace {

struct CheckState {
  bool doctype = false;
  std::string problem;
};

// Callbacks receive the parser context (its userData is left pointing at itself);
// the check's own state hangs off its _private field.
CheckState& stateOf(void* context) {
  return *static_cast<CheckState*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void onDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  stateOf(context).doctype = true;
  xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

// Structured errors keep libxml2 from printing to standard error; the first one is the reason.
void onError(void* context, xmlErrorPtr error) {
  CheckState& state = stateOf(context);
  if (state.problem.empty() && error && error->message) {
    state.problem = error->message;
    while (!state.problem.empty() && state.problem.back() == '\n') state.problem.pop_back();
    state.problem += " (line " + std::to_string(error->line) + ")";
  }
}

}  // namespace

bool isWellFormedXml(std::string_view utf8, std::string* problem) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
    if (problem) *problem = "the document is too large";
    return false;
  }

  // Every callback is null but the doctype's: the parser checks, builds nothing.
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.internalSubset = onDoctype;
  sax.serror = onError;

  xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(utf8.data(), static_cast<int>(utf8.size()));
  if (!context) {
    if (problem) *problem = "out of memory";
    return false;
  }
  CheckState state;
  xmlSAXHandlerPtr ownSax = context->sax;
  context->sax = &sax;
  context->userData = context;
  context->_private = &state;
  // No network, no entity substitution, no size limits on single text nodes (a
  // large data set is one document), and the text is UTF-8 whatever it declares.
  xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR |
                                 XML_PARSE_NOWARNING);
  xmlSwitchEncoding(context, XML_CHAR_ENCODING_UTF8);
  xmlParseDocument(context);
  const bool wellFormed = context->wellFormed && !state.doctype;
  context->sax = ownSax;
  xmlFreeParserCtxt(context);

  if (!wellFormed && problem) {
    *problem = state.doctype ? "a document type declaration is not accepted"
                             : (state.problem.empty() ? "not well-formed" : state.problem);
  }
  return wellFormed;
}

}  // namespace qmx
