// Win32 file operations with the control's error numbers. Internal to the backend.
#pragma once

#include <cstdint>
#include <string>

namespace qmx::win {

// The automation error number for a Win32 error of a file operation;
// missingIsFile picks 53 (file) rather than 76 (path) for a missing file.
int errorNumberForWin32(std::uint32_t error, bool missingIsFile);

// Throws the AutomationError for a Win32 error, naming the control path.
[[noreturn]] void throwFileError(std::uint32_t error, const std::string& controlPath, bool missingIsFile);

// True for the name of a temporary whose writer process has ended. A live
// writer's, or one this process cannot ask about, is kept. Never fails.
bool isStaleTemporary(std::string_view fileName);

}  // namespace qmx::win
