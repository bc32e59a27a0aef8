// Runs parsed statements against one control, keeping the script's variables
// and writing every event through an EventWriter.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "control/xmlload.h"
#include "host/event_writer.h"
#include "host/script.h"

namespace qmx::host {

class Interpreter {
 public:
  Interpreter(XMLLoad& control, EventWriter& events) : control_(control), events_(events) {}

  // Runs one statement; a failure is written as an error event and the run goes
  // on. Returns false when the statement failed.
  bool run(const Statement& statement);
  // Runs every statement in order. Returns the number of statements that failed.
  int runAll(const std::vector<Statement>& statements);

  // A variable's value; Empty when it was never set (its assignment failed).
  Variant variable(const std::string& name) const;

 private:
  Variant valueOf(const Argument& argument) const;
  void execute(const Statement& statement);

  XMLLoad& control_;
  EventWriter& events_;
  std::unordered_map<std::string, Variant> variables_;
};

}  // namespace qmx::host
