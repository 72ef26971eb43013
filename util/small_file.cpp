#include "util/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/log.h"

namespace tamsel {

std::optional<std::string> readSmallFile(const std::filesystem::path& path, uint64_t cap) {
  // Only a backup's own files are read here: a link in place of one is not followed.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    logLine("cannot open " + path.string() +
            (errno == ELOOP ? ": a symbolic link, not followed" : ""));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > cap) {
    logLine(path.string() + ": not read (not a file, or larger than " + std::to_string(cap) +
            " bytes)");
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank: keep what was there
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return bytes;
}

}  // namespace tamsel
