#include "host/event_writer.h"

#include <string>

#include "host/value_text.h"

namespace qmx::host {

void EventWriter::emit(const std::string& line) {
  if (beforeLine_) beforeLine_();
  // Flushed per line: a message box may wait for the user, and a reader of a
  // pipe should see every event that happened before it.
  out_ << line << '\n' << std::flush;
}

void EventWriter::result(const Variant& value) {
  if (format_ == OutputFormat::Json) {
    emit(R"({"event":"result",)" + jsonTypedValue(value) + "}");
  } else {
    emit("= " + formatValue(value));
  }
}

void EventWriter::notify(std::string_view propertyName) {
  if (format_ == OutputFormat::Json) {
    emit(R"({"event":"notify","name":)" + jsonString(propertyName) + "}");
  } else {
    emit("~ " + std::string(propertyName));
  }
}

void EventWriter::messageBox(std::string_view text) {
  if (format_ == OutputFormat::Json) {
    emit(R"({"event":"msgbox","text":)" + jsonString(text) + "}");
  } else {
    emit("! msgbox " + quoteText(text));
  }
}

void EventWriter::error(std::int32_t number, std::string_view description, int line) {
  if (format_ == OutputFormat::Json) {
    std::string json = R"({"event":"error","number":)" + std::to_string(number) +
                       R"(,"description":)" + jsonString(description);
    if (line > 0) json += R"(,"line":)" + std::to_string(line);
    emit(json + "}");
  } else {
    emit("! error " + std::to_string(number) + " " + quoteText(description));
  }
}

}  // namespace qmx::host
