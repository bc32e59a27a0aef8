// File operations on host paths with the control's error numbers, shared by the
// POSIX platform and by the tools (qmx-server, qmxhost) that write files too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qmx::posix {

// The automation error number for an errno value of a file operation;
// missingIsFile picks 53 (file) rather than 76 (path) for ENOENT.
int errorNumberForErrno(int err, bool missingIsFile);

// Throws the AutomationError for errno, naming the control path in its description.
[[noreturn]] void throwFileError(int err, const std::string& controlPath, bool missingIsFile);

// Atomically replaces hostPath with bytes (temporary file, fsync, rename). Throws
// AutomationError naming controlPath; the previous content survives a failure.
void replaceFileAtomically(const std::string& hostPath, std::string_view bytes,
                           FileAccess access, const std::string& controlPath);

// True for the name of a temporary that replaceFileAtomically makes (".name.tmpPID_N").
// Never fails.
bool isReplaceTemporary(std::string_view fileName);

// The whole content of a file; nullopt when it does not exist.
std::optional<std::string> readWholeFile(const std::string& hostPath, const std::string& controlPath);

}  // namespace qmx::posix
