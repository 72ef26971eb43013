// Whole writes to a file descriptor: write(2) may take fewer bytes than asked, or be
// interrupted by a signal, and every writer of the program needs the same loop around it.
#pragma once

#include <cstddef>

namespace tamsel {

// Writes all `size` bytes to `fd`, retrying short and interrupted writes; false (errno set,
// EIO for a write that makes no progress) when a write fails.
bool writeAll(int fd, const void* data, size_t size);

}  // namespace tamsel
