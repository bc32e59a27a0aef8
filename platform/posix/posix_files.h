// File operations on host paths with the control's error numbers, for the POSIX
// platform's files, registry file and connected state.
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

// True when a file is marked read-only: it has no write permission for its owner,
// whoever runs the process (root included). False when there is no such file.
bool isReadOnlyFile(const std::string& hostPath);

// Atomically replaces hostPath with bytes (temporary file, fsync, rename), after
// clearing the folder's temporaries of writers that died. Throws AutomationError
// naming controlPath: 70 for a read-only target, which keeps its bytes and mode;
// the previous content survives any failure and no temporary is left behind.
void replaceFileAtomically(const std::string& hostPath, std::string_view bytes,
                           FileAccess access, const std::string& controlPath);
// The same with the content written piece by piece as `write` makes it; when
// write throws, the temporary is removed and the exception passes on.
void replaceFileAtomically(const std::string& hostPath, const Platform::ContentWriter& write,
                           FileAccess access, const std::string& controlPath);

// True for the name of a temporary whose writer process no longer exists. A
// writer that is alive, or that this process cannot tell about, keeps its
// temporary. Never fails.
bool isStaleTemporary(std::string_view fileName);

// Removes the stale temporaries directly in a folder; one that cannot be
// removed, or a folder that cannot be read, is left as it is. Never fails.
void removeStaleTemporaries(const std::string& hostFolder);

// The whole content of a file; nullopt when it does not exist.
std::optional<std::string> readWholeFile(const std::string& hostPath, const std::string& controlPath);

}  // namespace qmx::posix
