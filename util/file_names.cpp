#include "util/file_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include "util/log.h"
#include "util/text.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

// A suffix longer than this (dot included) is treated as part of the stem when a name is
// cut or numbered, so that the stem always keeps room.
constexpr size_t kMaxSuffixBytes = 32;
// Highest variant number tried before giving up on a name.
constexpr int kMaxVariants = 1 << 30;
// Moves into a name that was free when looked at but taken when moved into, before giving up.
constexpr int kMaxRaces = 1000;

std::pair<std::string_view, std::string_view> splitSuffix(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxSuffixBytes) {
    return {name, {}};
  }
  return {name.substr(0, dot), name.substr(dot)};
}

// At most `max` bytes of `s`, never ending inside a UTF-8 sequence of valid text.
std::string_view cutUtf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80;
       ++back) {
    --end;
  }
  // Not UTF-8 at all (a long run of continuation bytes): cut at the limit.
  if ((static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) end = max;
  return s.substr(0, end);
}

bool somethingAt(const fs::path& p) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(p, ec);
  // Anything but "not there" (including an error we cannot see through) counts as taken.
  return st.type() != fs::file_type::not_found;
}

// Moves `from` to `to` unless something is already at `to`. Returns 0 or an errno value
// (EEXIST when the name is taken).
int moveNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int err = errno;
  if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
  // The file system cannot refuse a replacing rename by itself: a hard link can.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  err = errno;
  if (err == EEXIST) return err;
  // No hard links either (FAT cards and sticks): look, then rename.
  if (somethingAt(to)) return EEXIST;
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  return errno;
}

struct TempFile {
  int fd = -1;
  fs::path path;
};

std::optional<TempFile> makeTemp(const fs::path& dir) {
  std::string tmpl = (dir / ".tamsel-XXXXXX").string();
  int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) {
    logLine("cannot create a file in " + dir.string() + ": " + std::strerror(errno));
    return std::nullopt;
  }
  ::fchmod(fd, 0644);
  return TempFile{fd, fs::path(tmpl)};
}

std::optional<int> freeVariant(const fs::path& dir, std::string_view name) {
  return firstFreeNumber([&](int n) { return somethingAt(dir / numberedFileName(name, n)); });
}

// Gives the finished temporary file its final name: `name` or a free numbered variant.
std::optional<fs::path> commit(const fs::path& tmp, const fs::path& dir, const std::string& name) {
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    std::optional<int> n = freeVariant(dir, name);
    if (!n) break;
    fs::path target = dir / numberedFileName(name, *n);
    int err = moveNoReplace(tmp, target);
    if (err == 0) return target;
    if (err == EEXIST) continue;  // taken meanwhile: look again
    logLine("cannot write " + target.string() + ": " + std::strerror(err));
    ::unlink(tmp.c_str());
    return std::nullopt;
  }
  logLine("no free name for " + name + " in " + dir.string());
  ::unlink(tmp.c_str());
  return std::nullopt;
}

}  // namespace

std::optional<int> firstFreeNumber(const std::function<bool(int)>& taken) {
  if (!taken(1)) return 1;
  int highestTaken = 1;
  int probe = 2;
  while (taken(probe)) {
    if (probe > kMaxVariants / 2) return std::nullopt;
    highestTaken = probe;
    probe *= 2;
  }
  while (probe - highestTaken > 1) {
    int mid = highestTaken + (probe - highestTaken) / 2;
    if (taken(mid)) {
      highestTaken = mid;
    } else {
      probe = mid;
    }
  }
  return probe;
}

std::string sanitizeFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    char32_t cp = 0;
    const size_t len = decodeUtf8At(name, i, &cp);
    if (len == 0 || cp == '/' || isControlOrBidi(cp)) {
      // A byte that is no text, a separator, or a character that would act on a terminal
      // or reorder the name when it is shown.
      out += '_';
      i += len == 0 ? 1 : len;
      continue;
    }
    out.append(name.substr(i, len));
    i += len;
  }
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  if (out.size() <= kMaxFileNameBytes) return out;
  auto [stem, suffix] = splitSuffix(out);
  std::string cut(cutUtf8(stem, kMaxFileNameBytes - suffix.size()));
  cut += suffix;
  return cut;
}

std::string lastPathComponent(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path);
}

std::string numberedFileName(std::string_view name, int n) {
  if (n <= 1) return std::string(name);
  std::string marker = " (" + std::to_string(n) + ")";
  auto [stem, suffix] = splitSuffix(name);
  size_t room = kMaxFileNameBytes - suffix.size() - marker.size();
  std::string out(cutUtf8(stem, room));
  out += marker;
  out += suffix;
  return out;
}

fs::path uniquePath(const fs::path& dir, std::string_view name) {
  std::optional<int> n = freeVariant(dir, name);
  if (!n) return {};
  return dir / numberedFileName(name, *n);
}

namespace {

// Writes all of `bytes` to `fd`; false (errno set) when a write fails.
bool writeAll(int fd, const char* p, size_t left) {
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  return true;
}

// Closes and removes a temporary file that will not be kept.
void discard(const TempFile& tmp) {
  ::close(tmp.fd);
  ::unlink(tmp.path.c_str());
}

}  // namespace

std::optional<fs::path> writeNewFile(const fs::path& dir, std::string_view name,
                                     std::string_view bytes) {
  std::string safe = sanitizeFileName(name);
  std::optional<TempFile> tmp = makeTemp(dir);
  if (!tmp) return std::nullopt;
  if (!writeAll(tmp->fd, bytes.data(), bytes.size())) {
    logLine("cannot write " + (dir / safe).string() + ": " + std::strerror(errno));
    discard(*tmp);
    return std::nullopt;
  }
  if (::close(tmp->fd) != 0) {
    logLine("cannot write " + (dir / safe).string() + ": " + std::strerror(errno));
    ::unlink(tmp->path.c_str());
    return std::nullopt;
  }
  return commit(tmp->path, dir, safe);
}

std::optional<fs::path> copyToNewFile(const fs::path& source, const fs::path& dir,
                                      std::string_view name) {
  std::string safe = sanitizeFileName(name);
  // The copy is written through the temporary file's own descriptor, never reopened by
  // name, and gets the mode of every other recovered file: the source's mode bits (set-user-
  // ID, executable) are not carried over from a backup.
  // Non-blocking, so that a FIFO planted in a backup is refused instead of waited on.
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    logLine("not copied, not a readable file: " + source.string());
    if (in >= 0) ::close(in);
    return std::nullopt;
  }
  std::optional<TempFile> tmp = makeTemp(dir);
  if (!tmp) {
    ::close(in);
    return std::nullopt;
  }
  constexpr size_t kChunk = size_t{1} << 23;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (;;) {
    ssize_t r = ::read(in, buffer.get(), kChunk);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) break;
    if (r < 0 || !writeAll(tmp->fd, buffer.get(), static_cast<size_t>(r))) {
      const bool reading = r < 0;
      logLine("cannot copy " + source.string() + " to " + (dir / safe).string() + ": " +
              (reading ? "read: " : "write: ") + std::strerror(errno));
      ::close(in);
      discard(*tmp);
      return std::nullopt;
    }
  }
  ::close(in);
  if (::close(tmp->fd) != 0) {
    logLine("cannot copy " + source.string() + " to " + (dir / safe).string() + ": " +
            std::strerror(errno));
    ::unlink(tmp->path.c_str());
    return std::nullopt;
  }
  return commit(tmp->path, dir, safe);
}

}  // namespace tamsel
