#include "host/interpreter.h"

#include <exception>

#include "base/automation_error.h"
#include "control/dispatch.h"

namespace qmx::host {

namespace {
// The runtime's number for a failure that is not an automation error.
constexpr std::int32_t kInternalError = 51;
}  // namespace

Variant Interpreter::variable(const std::string& name) const {
  const auto it = variables_.find(variableKey(name));
  return it == variables_.end() ? Variant{} : it->second;
}

Variant Interpreter::valueOf(const Argument& argument) const {
  return argument.isVariable ? variable(argument.variable) : argument.literal;
}

void Interpreter::execute(const Statement& st) {
  switch (st.kind) {
    case StatementKind::Print:
      events_.result(valueOf(st.arguments.at(0)));
      return;
    case StatementKind::SetVariable:
      variables_[variableKey(st.target)] = valueOf(st.arguments.at(0));
      return;
    case StatementKind::PropertyWrite:
      writeProperty(control_, st.member, valueOf(st.arguments.at(0)));
      return;
    case StatementKind::Invoke: {
      std::vector<Variant> args;
      args.reserve(st.arguments.size());
      for (const Argument& a : st.arguments) args.push_back(valueOf(a));
      const std::vector<Variant> passed = args;
      // By-reference write-back reaches the variables whether or not the call
      // succeeds, as the member's rewrite has already happened; it comes before
      // the result's assignment, which wins when both name the same variable.
      // Only rewritten arguments are written, so that a variable passed twice
      // keeps the rewrite rather than the untouched copy of its other place.
      const auto writeBack = [&] {
        for (std::size_t i = 0; i < st.arguments.size(); ++i) {
          if (st.arguments[i].isVariable && !(args[i] == passed[i])) {
            variables_[variableKey(st.arguments[i].variable)] = args[i];
          }
        }
      };
      Variant result;
      try {
        result = invokeMember(control_, st.member, args);
      } catch (...) {
        writeBack();
        throw;
      }
      writeBack();
      if (st.target.empty()) {
        events_.result(result);
      } else {
        variables_[variableKey(st.target)] = std::move(result);
      }
      return;
    }
  }
}

bool Interpreter::run(const Statement& statement) {
  try {
    execute(statement);
    return true;
  } catch (const AutomationError& e) {
    events_.error(e.number(), e.description(), statement.line);
  } catch (const std::exception& e) {
    events_.error(kInternalError, std::string("Internal error: ") + e.what(), statement.line);
  }
  return false;
}

int Interpreter::runAll(const std::vector<Statement>& statements) {
  int failed = 0;
  for (const Statement& st : statements) {
    if (!run(st)) ++failed;
  }
  return failed;
}

}  // namespace qmx::host
