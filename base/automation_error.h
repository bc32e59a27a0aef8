// The one way failures travel inside the control and out to the host: an
// automation error number with its description, as the host's runtime shows it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qmx {

// Standard automation error numbers used by the control.
enum StandardError : std::int32_t {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kFileAlreadyExists = 58,
  kDiskFull = 61,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kObjectNotSet = 91,
  kInvalidUseOfNull = 94,
};

// The runtime's standard text for a number; "Application-defined or object-defined error"
// for numbers it has no text for.
std::string standardErrorText(std::int32_t number);

class AutomationError : public std::runtime_error {
 public:
  AutomationError(std::int32_t number, std::string description);
  // An error with the runtime's standard description for the number.
  explicit AutomationError(std::int32_t number);

  std::int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

}  // namespace qmx
