// The script language of qmxhost: one statement a line (member calls, property
// reads and writes, variables, print). The whole script is parsed before any
// statement runs, so a typo on the last line costs nothing.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"

namespace qmx::host {

// An argument as written: a literal value or a variable.
struct Argument {
  bool isVariable = false;
  Variant literal;       // when not a variable
  std::string variable;  // the name as written, without "$"
};

enum class StatementKind {
  Invoke,         // Member arg ...   or   $name = Member arg ...
  PropertyWrite,  // Property = value
  SetVariable,    // $name = value
  Print,          // print value
};

struct Statement {
  int line = 0;
  StatementKind kind = StatementKind::Invoke;
  std::string member;  // Invoke, PropertyWrite: the member name as written
  std::string target;  // Invoke (optional), SetVariable: the variable, without "$"
  std::vector<Argument> arguments;  // Invoke: the call's; others: exactly one value
};

// A script that cannot be parsed: the 1-based line and what is wrong there.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, const std::string& message);
  int line() const noexcept { return line_; }
  const std::string& message() const noexcept { return message_; }

 private:
  int line_;
  std::string message_;
};

// The statements of a UTF-8 script (a leading byte-order mark and CR LF line ends
// are accepted). Throws ScriptError for the first line that cannot be parsed or
// that uses a variable no earlier line assigns.
std::vector<Statement> parseScript(std::string_view text);

// The lookup key of a variable name: variables, like members, ignore letter case.
std::string variableKey(std::string_view name);

}  // namespace qmx::host
