#include "events/scan_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tamsel {

std::string readFileHead(const std::string& path, size_t count) {
  // O_NONBLOCK: a FIFO passed as a path must not stall the probe; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return {};
  std::string head;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    head.resize(count);
    size_t got = 0;
    while (got < count) {
      const ssize_t n = ::read(fd, head.data() + got, count - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    head.resize(got);
  }
  ::close(fd);
  return head;
}

}  // namespace tamsel
