// The events of a qmxhost run (results, notifications, message boxes, errors),
// written one line each in the order they happen, as text or as JSON.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string_view>

#include "base/variant.h"

namespace qmx::host {

enum class OutputFormat { Text, Json };

class EventWriter {
 public:
  EventWriter(std::ostream& out, OutputFormat format) : out_(out), format_(format) {}

  // Called before every line, e.g. to clear a progress display on a shared terminal.
  void setBeforeLine(std::function<void()> hook) { beforeLine_ = std::move(hook); }

  // "= VALUE": the result of a call, a property read or print.
  void result(const Variant& value);
  // "~ Name": a property-change notification.
  void notify(std::string_view propertyName);
  // "! msgbox "text"": a message box.
  void messageBox(std::string_view text);
  // "! error N "description"": a failed statement (line 0: the start-up, which
  // has no line; only the JSON form carries the line).
  void error(std::int32_t number, std::string_view description, int line);

 private:
  void emit(const std::string& line);

  std::ostream& out_;
  OutputFormat format_;
  std::function<void()> beforeLine_;
};

}  // namespace qmx::host
