// Writing a whole buffer through write(2), which may take part of it, be
// interrupted, or take nothing on a full disk. Separate so that tests can hand
// in a write call that misbehaves.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace qmx::posix {

using WriteCall = ssize_t (*)(int fd, const void* buffer, size_t count);

// True when every byte went; false with errno set otherwise (ENOSPC when a
// write took nothing). Retries after EINTR.
bool writeAll(int fd, std::string_view bytes, WriteCall write);

}  // namespace qmx::posix
