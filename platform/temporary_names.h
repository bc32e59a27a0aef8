// The names of the temporary files written beside a file being replaced
// (".name.tmpPID_N"), known in one place: the file policy makes, hides and
// clears them, and the files layer refuses to let a host name a file that way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// The temporary that writer (a process id) uses, for its sequence-th write, to
// replace the file called name. Never fails.
std::string replaceTemporaryName(std::string_view name, std::uint64_t writer, std::uint64_t sequence);

// True when a file name (one segment, no folder) has the form of such a
// temporary: ".", a non-empty name, ".tmp", digits, "_", digits; letter case
// matters. Never fails.
bool isReplaceTemporaryName(std::string_view fileName);

// The writer a temporary's name records; nullopt for a name of another form or
// a writer number beyond 64 bits.
std::optional<std::uint64_t> replaceTemporaryWriter(std::string_view fileName);

}  // namespace qmx
