// qmxhost prints texts so that a printed text pasted back into a script reads as
// the same text. Every text literal of a script that parses, and the input
// itself when it is UTF-8, must survive quoteText and the parser unchanged, as
// a print argument and as a variable's value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/utf8.h"
#include "fuzz_check.h"
#include "host/script.h"
#include "host/value_text.h"

namespace {

using qmx::host::parseScript;
using qmx::host::ScriptError;
using qmx::host::Statement;

void checkReadsBack(const std::string& text) {
  const std::string quoted = qmx::host::quoteText(text);
  for (const std::string_view prefix : {std::string_view("print "), std::string_view("$x = ")}) {
    const std::string line = std::string(prefix) + quoted;
    std::vector<Statement> statements;
    try {
      statements = parseScript(line);
    } catch (const ScriptError& e) {
      qmx::fuzz::fail("quoted text does not parse (" + std::string(e.what()) + ")", {{"text", text}, {"script", line}});
    }
    if (statements.size() != 1 || statements[0].arguments.size() != 1 || statements[0].arguments[0].isVariable) {
      qmx::fuzz::fail("quoted text is not one literal", {{"script", line}});
    }
    const auto* back = std::get_if<std::string>(&statements[0].arguments[0].literal);
    if (!back || *back != text) {
      qmx::fuzz::fail("quoted text reads back differently",
                      {{"text", text}, {"script", line}, {"back", back ? *back : std::string("(not a text)")}});
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = qmx::fuzz::asText(data, size);
  std::vector<Statement> statements;
  try {
    statements = parseScript(input);
  } catch (const ScriptError&) {
    // A script that does not parse has no literals to check.
  }
  for (const Statement& st : statements) {
    for (const auto& argument : st.arguments) {
      if (const auto* text = std::get_if<std::string>(&argument.literal); text && !argument.isVariable) {
        checkReadsBack(*text);
      }
    }
  }
  if (qmx::isValidUtf8(input)) checkReadsBack(std::string(input));
  return 0;
}
