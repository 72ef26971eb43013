#include "cli/json_export.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "cli/record_json.h"
#include "util/fd_io.h"
#include "util/text.h"

namespace tamsel::cli {
namespace {

namespace fs = std::filesystem;

std::string errnoText(int e) {
  return std::strerror(e);
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `dest` names the scanned input (or a link to it).
bool isInput(const std::string& dest, const std::string& input) {
  struct stat d {
  }, i{};
  return ::stat(dest.c_str(), &d) == 0 && ::stat(input.c_str(), &i) == 0 && sameFile(d, i);
}

// The first of `files` that `dest` names, or null.
const std::string* readFileNamed(const std::string& dest, const std::vector<std::string>& files) {
  for (const std::string& f : files) {
    if (!f.empty() && isInput(dest, f)) return &f;
  }
  return nullptr;
}

// Buffered writes to a descriptor; the first failure is kept and every later write skipped.
class FdWriter {
 public:
  explicit FdWriter(int fd) : fd_(fd) { buffer_.reserve(kBuffer); }

  bool write(std::string_view text) {
    if (!error_.empty()) return false;
    if (buffer_.size() + text.size() > kBuffer && !flush()) return false;
    if (text.size() >= kBuffer) return writeOut(text);
    buffer_.append(text);
    return true;
  }
  bool flush() {
    if (!error_.empty()) return false;
    const bool ok = writeOut(buffer_);
    buffer_.clear();
    return ok;
  }
  const std::string& error() const { return error_; }
  void fail(std::string error) {
    if (error_.empty()) error_ = std::move(error);
  }

 private:
  static constexpr size_t kBuffer = size_t{1} << 20;

  bool writeOut(std::string_view text) {
    if (writeAll(fd_, text.data(), text.size())) return true;
    fail(errnoText(errno));
    return false;
  }

  int fd_;
  std::string buffer_;
  std::string error_;
};

// Byte fields that could no longer be read (the input shrank or went away since the scan):
// the first few are named on stderr, then only counted, so a pulled card does not flood the
// terminal; any of them makes the export partial (exit status 3).
constexpr int kExitPartial = 3;
constexpr int kWarningsShown = 10;
int gUnreadableFields = 0;

// Writes the document through `out`; false when a write failed.
bool writeDocument(FdWriter& out, const DocumentFn& produce) {
  const bool ok = produce([&out](std::string_view text) { return out.write(text); });
  if (gUnreadableFields > kWarningsShown) {
    std::fprintf(stderr, "tamsel-cli: warning: %d more byte fields could not be read\n",
                 gUnreadableFields - kWarningsShown);
  }
  return ok && out.flush();
}

// 0, or the status of an export whose byte fields could not all be read.
int exportStatus() {
  return gUnreadableFields > 0 ? kExitPartial : 0;
}

int fail(const std::string& dest, const std::string& why) {
  std::fprintf(stderr, "tamsel-cli: cannot write the JSON export to %s: %s\n", dest.c_str(),
               why.c_str());
  return 1;
}

// Moves the finished temporary file to `dest`: over an existing entry only when forced.
bool moveIntoPlace(const std::string& temp, const std::string& dest, bool force,
                   std::string* error) {
  if (force) {
    if (::rename(temp.c_str(), dest.c_str()) == 0) return true;
    *error = errnoText(errno);
    return false;
  }
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dest.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EEXIST) {
    *error = "it was created during the scan (use --force to replace it)";
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    *error = errnoText(errno);
    return false;
  }
  // A file system without that rename: a hard link never replaces anything either.
  if (::link(temp.c_str(), dest.c_str()) != 0) {
    *error = errno == EEXIST ? "it was created during the scan (use --force to replace it)"
                             : errnoText(errno);
    return false;
  }
  ::unlink(temp.c_str());
  return true;
}

// The file a destination names: the target of a link to an existing file, so that the
// file is replaced, not the link (which may live in a system folder, as /dev/stdout does).
std::string realDestination(const std::string& dest) {
  struct stat st {};
  if (::lstat(dest.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return dest;
  std::error_code ec;
  fs::path real = fs::canonical(dest, ec);
  return ec ? dest : real.string();
}

int writeFile(const std::string& shownDest, bool force, const std::string& input,
              const DocumentFn& produce, const std::vector<std::string>& alsoRead) {
  const std::string dest = realDestination(shownDest);
  const fs::path target(dest);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return fail(shownDest, "no temporary file beside it: " + errnoText(errno));
  const std::string temp = pattern;
  // mkstemp makes the file private; the export gets the mode a new file would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);

  FdWriter out(fd);
  bool ok = writeDocument(out, produce);
  // A full disk may only show when the data reaches it.
  if (ok && ::fsync(fd) != 0) {
    out.fail(errnoText(errno));
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    out.fail(errnoText(errno));
    ok = false;
  }
  std::string error = out.error();
  if (ok && isInput(dest, input)) {
    error = "it is the scanned input";
    ok = false;
  } else if (const std::string* read = ok ? readFileNamed(dest, alsoRead) : nullptr) {
    error = "it is " + *read + ", which was read";
    ok = false;
  }
  if (ok && !moveIntoPlace(temp, dest, force, &error)) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return fail(shownDest, error);
  }
  return exportStatus();
}

// A FIFO or character device: written in place.
int writeStream(const std::string& dest, const DocumentFn& produce) {
  const int fd = ::open(dest.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(dest, errnoText(errno));
  FdWriter out(fd);
  bool ok = writeDocument(out, produce);
  if (::close(fd) != 0 && ok) {
    out.fail(errnoText(errno));
    ok = false;
  }
  return ok ? exportStatus() : fail(dest, out.error());
}

}  // namespace

bool liesWithinFolder(const std::string& path, const std::string& folder) {
  struct stat f {};
  if (::stat(folder.c_str(), &f) != 0 || !S_ISDIR(f.st_mode)) return false;
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec).lexically_normal();
  if (ec) return false;
  // The path as written and as resolved: a link on the way may lead into the folder.
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  if (ec) resolved = absolute;
  for (const fs::path& start : {absolute, resolved}) {
    for (fs::path p = start; !p.empty(); p = p.parent_path()) {
      struct stat st {};
      if (::stat(p.c_str(), &st) == 0 && sameFile(st, f)) return true;
      if (p == p.parent_path()) break;
    }
  }
  return false;
}

std::string checkJsonDestination(const std::string& dest, const std::string& input, bool force,
                                 const std::vector<std::string>& alsoRead) {
  if (dest == "-") return {};
  if (isInput(dest, input)) return dest + " is the scanned input; it is never written";
  if (const std::string* read = readFileNamed(dest, alsoRead)) {
    return dest + " is " + *read + ", which is read with the input; it is never written";
  }
  if (liesWithinFolder(dest, input)) {
    return dest + " lies inside the scanned folder " + input + "; nothing is written there";
  }
  struct stat st {};
  if (::stat(dest.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return dest + " is a folder";
    if (!S_ISREG(st.st_mode)) return dest + " is not a regular file";
    if (!force) return dest + " exists; use --force to replace it";
    return {};
  }
  if (::lstat(dest.c_str(), &st) == 0 && !force) {
    return dest + " exists (a link to nothing); use --force to replace it";
  }
  return {};
}

void reportUnreadableField(const std::string& line) {
  if (++gUnreadableFields <= kWarningsShown) {
    std::fprintf(stderr, "tamsel-cli: warning: %s\n", escapeForTerminal(line).c_str());
  }
}

int writeJsonExport(const std::string& dest, bool force, const std::string& input,
                    std::string_view kind, const ResultLists& lists) {
  gUnreadableFields = 0;
  return writeJsonDocument(dest, force, input, [&](const Writer& write) {
    return writeRecordsJson(input, kind, lists, write, reportUnreadableField);
  });
}

int writeJsonDocument(const std::string& dest, bool force, const std::string& input,
                      const DocumentFn& produce, const std::vector<std::string>& alsoRead) {
  if (std::string refused = checkJsonDestination(dest, input, force, alsoRead); !refused.empty()) {
    std::fprintf(stderr, "tamsel-cli: %s\n", refused.c_str());
    return 1;
  }
  if (dest == "-") {
    std::fflush(stdout);
    FdWriter out(STDOUT_FILENO);
    return writeDocument(out, produce) ? exportStatus() : fail("standard output", out.error());
  }
  struct stat st {};
  if (::stat(dest.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    return writeStream(dest, produce);
  }
  return writeFile(dest, force, input, produce, alsoRead);
}

}  // namespace tamsel::cli
