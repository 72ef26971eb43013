// Whole writes to a file descriptor: write(2) may take fewer bytes than asked, or be
// interrupted by a signal, and every writer of the program needs the same loop around it.
#pragma once

#include <unistd.h>

#include <cstddef>

namespace tamsel {

// Writes all `size` bytes to `fd`, retrying short and interrupted writes; false (errno set,
// EIO for a write that makes no progress) when a write fails.
bool writeAll(int fd, const void* data, size_t size);

// An open file descriptor, closed when this goes; -1 holds none.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (if any) and holds `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace tamsel
