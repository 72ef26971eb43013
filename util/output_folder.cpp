#include "util/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include "util/file_names.h"
#include "util/log.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

// Creations that found their name taken between the look and the creation, before giving up.
constexpr int kMaxRaces = 1000;

std::string errnoText(int err) {
  return std::strerror(err);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool oneComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

// ------------------------------------------------------------------ NewFile

OutputFolder::NewFile::NewFile(NewFile&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)),
      dirFd_(std::exchange(o.dirFd_, -1)),
      name_(std::move(o.name_)),
      path_(std::move(o.path_)) {}

OutputFolder::NewFile& OutputFolder::NewFile::operator=(NewFile&& o) noexcept {
  if (this != &o) {
    discard();
    fd_ = std::exchange(o.fd_, -1);
    dirFd_ = std::exchange(o.dirFd_, -1);
    name_ = std::move(o.name_);
    path_ = std::move(o.path_);
  }
  return *this;
}

OutputFolder::NewFile::~NewFile() {
  discard();
}

bool OutputFolder::NewFile::finish() {
  if (fd_ < 0) return false;
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) {
    const int err = errno;
    if (dirFd_ >= 0) ::unlinkat(dirFd_, name_.c_str(), 0);
    closeFd(dirFd_);
    errno = err;
    return false;
  }
  closeFd(dirFd_);
  return true;
}

void OutputFolder::NewFile::discard() {
  if (fd_ >= 0) {
    closeFd(fd_);
    // Only this file: the name is ours since the exclusive creation.
    if (dirFd_ >= 0) ::unlinkat(dirFd_, name_.c_str(), 0);
  }
  closeFd(dirFd_);
}

// ------------------------------------------------------------------ OutputFolder

OutputFolder::OutputFolder(OutputFolder&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)),
      path_(std::move(o.path_)),
      parentFd_(std::exchange(o.parentFd_, -1)),
      name_(std::move(o.name_)),
      dev_(o.dev_),
      ino_(o.ino_) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = std::exchange(o.fd_, -1);
    path_ = std::move(o.path_);
    parentFd_ = std::exchange(o.parentFd_, -1);
    name_ = std::move(o.name_);
    dev_ = o.dev_;
    ino_ = o.ino_;
  }
  return *this;
}

OutputFolder::~OutputFolder() {
  close();
}

void OutputFolder::close() {
  closeFd(fd_);
  closeFd(parentFd_);
}

std::optional<OutputFolder> OutputFolder::open(const fs::path& path, std::string* error) {
  std::error_code ec;
  if (!path.empty()) fs::create_directories(path, ec);
  return openExisting(path, error);
}

std::optional<OutputFolder> OutputFolder::openExisting(const fs::path& path, std::string* error) {
  fs::path p = path;
  // "out/" names the folder "out": without the trailing slash, so that O_NOFOLLOW applies.
  while (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  if (p.empty()) {
    if (error) *error = "no output folder chosen";
    return std::nullopt;
  }
  const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    // A link to a folder fails as "not a directory" (O_DIRECTORY with O_NOFOLLOW): say why.
    struct stat st {};
    const bool link =
        err == ELOOP || (err == ENOTDIR && ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    if (error) {
      *error = "cannot open the folder " + p.string() + ": " +
               (link ? std::string("it is a symbolic link; give the folder it points to")
                     : errnoText(err));
    }
    return std::nullopt;
  }
  OutputFolder f;
  f.fd_ = fd;
  f.path_ = p;
  return f;
}

std::optional<OutputFolder> OutputFolder::subfolder(std::string_view name,
                                                    std::string* error) const {
  const fs::path target = path_ / std::string(name);
  auto fail = [&](const std::string& why) -> std::optional<OutputFolder> {
    if (error) *error = "cannot create the folder " + target.string() + ": " + why;
    return std::nullopt;
  };
  if (fd_ < 0) return fail("its parent is not open");
  if (!oneComponent(name)) return fail("not a single folder name");
  const std::string n(name);
  if (::mkdirat(fd_, n.c_str(), 0755) != 0 && errno != EEXIST) return fail(errnoText(errno));
  const int fd = ::openat(fd_, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return fail(err == ELOOP || err == ENOTDIR ? "a link or a file is in its place"
                                               : errnoText(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(errnoText(err));
  }
  const int parent = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (parent < 0) {
    const int err = errno;
    ::close(fd);
    return fail(errnoText(err));
  }
  OutputFolder f;
  f.fd_ = fd;
  f.path_ = target;
  f.parentFd_ = parent;
  f.name_ = n;
  f.dev_ = st.st_dev;
  f.ino_ = st.st_ino;
  return f;
}

bool OutputFolder::stillInPlace() const {
  if (fd_ < 0) return false;
  if (parentFd_ < 0) return true;
  struct stat st {};
  if (::fstatat(parentFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_;
}

std::optional<OutputFolder::NewFile> OutputFolder::createFile(std::string_view name,
                                                              std::string* error,
                                                              mode_t mode) const {
  const std::string safe = sanitizeFileName(name);
  if (fd_ < 0) {
    if (error) *error = "cannot create " + (path_ / safe).string() + ": the folder is not open";
    return std::nullopt;
  }
  auto taken = [this, &safe](int n) {
    struct stat st {};
    const std::string variant = numberedFileName(safe, n);
    // Anything but "not there" (an error we cannot see through included) counts as taken.
    return ::fstatat(fd_, variant.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
  };
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    std::optional<int> n = firstFreeNumber(taken);
    if (!n) break;
    std::string variant = numberedFileName(safe, *n);
    const int fd = ::openat(fd_, variant.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // taken since we looked: look again
      if (error) *error = "cannot create " + (path_ / variant).string() + ": " + errnoText(errno);
      return std::nullopt;
    }
    NewFile f;
    f.fd_ = fd;
    f.dirFd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    f.name_ = std::move(variant);
    f.path_ = path_ / f.name_;
    return f;
  }
  if (error) *error = "no free name for " + safe + " in " + path_.string();
  return std::nullopt;
}

std::optional<fs::path> OutputFolder::writeFile(std::string_view name, std::string_view bytes,
                                                std::string* error) const {
  std::optional<NewFile> f = createFile(name, error);
  if (!f) return std::nullopt;
  if (!writeAll(f->fd(), bytes.data(), bytes.size()) || !f->finish()) {
    if (error) *error = "cannot write " + f->path().string() + ": " + errnoText(errno);
    f->discard();
    return std::nullopt;
  }
  return f->path();
}

std::optional<fs::path> OutputFolder::copyFile(const fs::path& source, std::string_view name,
                                               std::string* error, mode_t mode) const {
  // Only stored files and private copies come here: a link in place of one is not followed,
  // and a FIFO is refused instead of waited on (non-blocking).
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (in < 0) {
    if (error) {
      *error = errno == ELOOP ? source.string() + " is a symbolic link: not followed"
                              : "not a readable file: " + source.string();
    }
    return std::nullopt;
  }
  return copyFrom(in, source.string(), name, error, mode);
}

std::optional<fs::path> OutputFolder::copyFrom(int in, const std::string& shownSource,
                                               std::string_view name, std::string* error,
                                               mode_t mode) const {
  struct stat st {};
  if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "not a readable file: " + shownSource;
    closeFd(in);
    return std::nullopt;
  }
  ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
  std::optional<NewFile> f = createFile(name, error, mode);
  if (!f) {
    closeFd(in);
    return std::nullopt;
  }
  constexpr size_t kChunk = size_t{1} << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (;;) {
    ssize_t r = ::read(in, buffer.get(), kChunk);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) break;
    if (r < 0 || !writeAll(f->fd(), buffer.get(), static_cast<size_t>(r))) {
      if (error) {
        *error = "cannot copy " + shownSource + " to " + f->path().string() + ": " +
                 (r < 0 ? "read: " : "write: ") + errnoText(errno);
      }
      closeFd(in);
      f->discard();
      return std::nullopt;
    }
  }
  closeFd(in);
  if (!f->finish()) {
    if (error) *error = "cannot write " + f->path().string() + ": " + errnoText(errno);
    return std::nullopt;
  }
  return f->path();
}

namespace {

// Runs `write` on the existing folder `dir`; logs why nothing was written.
template <class Write>
std::optional<fs::path> intoFolder(const fs::path& dir, Write&& write) {
  std::string error;
  std::optional<fs::path> written;
  if (std::optional<OutputFolder> folder = OutputFolder::openExisting(dir, &error)) {
    written = write(*folder, &error);
  }
  if (!written) logLine(error);
  return written;
}

}  // namespace

std::optional<fs::path> writeNewFile(const fs::path& dir, std::string_view name,
                                     std::string_view bytes) {
  return intoFolder(dir, [&](const OutputFolder& f, std::string* error) {
    return f.writeFile(name, bytes, error);
  });
}

std::optional<fs::path> copyToNewFile(const fs::path& source, const fs::path& dir,
                                      std::string_view name) {
  return intoFolder(dir, [&](const OutputFolder& f, std::string* error) {
    return f.copyFile(source, name, error);
  });
}

}  // namespace tamsel
