#include "base/automation_error.h"

namespace qmx {

std::string standardErrorText(std::int32_t number) {
  switch (number) {
    case kInvalidProcedureCall: return "Invalid procedure call or argument";
    case kOverflow: return "Overflow";
    case kSubscriptOutOfRange: return "Subscript out of range";
    case kTypeMismatch: return "Type mismatch";
    case kFileNotFound: return "File not found";
    case kFileAlreadyExists: return "File already exists";
    case kDiskFull: return "Disk full";
    case kPermissionDenied: return "Permission denied";
    case kPathFileAccessError: return "Path/File access error";
    case kPathNotFound: return "Path not found";
    case kObjectNotSet: return "Object variable or With block variable not set";
    case kInvalidUseOfNull: return "Invalid use of Null";
    default: return "Application-defined or object-defined error";
  }
}

AutomationError::AutomationError(std::int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

AutomationError::AutomationError(std::int32_t number)
    : AutomationError(number, standardErrorText(number)) {}

}  // namespace qmx
