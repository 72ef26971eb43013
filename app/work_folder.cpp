#include "app/work_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

constexpr std::string_view kRunPrefix = "run-";

// The inputs of the live scans of this program, as given (absolute) and resolved.
struct InputRegistry {
  std::mutex mutex;
  std::vector<fs::path> paths;
};

// Never destroyed: the signal thread may still read it while the program exits.
InputRegistry& registry() {
  static InputRegistry* r = new InputRegistry;
  return *r;
}

// The run folders of this program that are alive.
struct RunFolderRegistry {
  std::mutex mutex;
  std::vector<RunFolder*> folders;
};

RunFolderRegistry& runFolders() {
  static RunFolderRegistry* r = new RunFolderRegistry;
  return *r;
}

fs::path absoluteForm(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return (ec ? p : a).lexically_normal();
}

// `inner` is `outer` or lies below it, by path text.
bool lexicallyWithin(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin(), i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // the trailing "" of "a/b/"
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

// `inner` or one of its parent folders is the same file-system object as `outer`.
bool equivalentlyWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  if (!fs::exists(outer, ec)) return false;
  for (fs::path p = inner; !p.empty(); p = p.parent_path()) {
    if (fs::equivalent(p, outer, ec)) return true;
    if (p == p.parent_path()) break;
  }
  return false;
}

bool related(const fs::path& a, const fs::path& b) {
  return lexicallyWithin(a, b) || lexicallyWithin(b, a);
}

// Opens `dir` without following a final symbolic link and takes its lock without waiting;
// -1 when it is not a folder or the lock is held.
int lockFolder(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

fs::path defaultWorkDir() {
  if (const char* w = std::getenv("TAMSEL_WORK_DIR"); w != nullptr && *w != '\0') return w;
  fs::path home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = fs::temp_directory_path();
  }
  return home / "Downloads" / "com.Veltrane.Tamsel";
}

// ---------------------------------------------------------------- inputs of live scans

ScannedInput::ScannedInput(const std::string& path) : path_(absoluteForm(path)) {
  {
    std::lock_guard lock(registry().mutex);
    registry().paths.push_back(path_);
  }
  std::error_code ec;
  fs::path real = fs::weakly_canonical(path_, ec);
  if (ec) real = path_;
  for (fs::path dir = real.parent_path(); !dir.empty() && dir != dir.parent_path();
       dir = dir.parent_path()) {
    if (!dir.filename().string().starts_with(kRunPrefix)) continue;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    // A live run holds its own folder exclusively; nothing else removes that one.
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
      heldRunFolders_.push_back(fd);
    } else {
      ::close(fd);
    }
  }
}

ScannedInput::~ScannedInput() {
  for (int fd : heldRunFolders_) ::close(fd);
  std::lock_guard lock(registry().mutex);
  auto& paths = registry().paths;
  if (auto it = std::find(paths.begin(), paths.end(), path_); it != paths.end()) paths.erase(it);
}

bool touchesScannedInput(const fs::path& dir) {
  std::vector<fs::path> inputs;
  {
    std::lock_guard lock(registry().mutex);
    inputs = registry().paths;
  }
  if (inputs.empty()) return false;
  const fs::path given = absoluteForm(dir);
  std::error_code ec;
  fs::path real = fs::weakly_canonical(given, ec);
  if (ec) real = given;
  for (const fs::path& input : inputs) {
    fs::path resolved = fs::weakly_canonical(input, ec);
    if (ec) resolved = input;
    if (related(input, given) || related(input, real) || related(resolved, given) ||
        related(resolved, real)) {
      return true;
    }
    if (equivalentlyWithin(resolved, real) || equivalentlyWithin(real, resolved)) return true;
  }
  return false;
}

// ---------------------------------------------------------------- run folders

std::unique_ptr<RunFolder> RunFolder::create(const fs::path& workDir, std::string* error) {
  std::error_code ec;
  fs::create_directories(workDir, ec);
  if (ec) {
    *error = "cannot create the work folder " + workDir.string() + ": " + ec.message();
    return nullptr;
  }
  // Another program's clean-up may remove the folder between mkdtemp and the lock; the
  // folder is only ours once it is locked and still in place.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::string tmpl = (workDir / (std::string(kRunPrefix) + "XXXXXX")).string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      *error = "cannot create a run folder in " + workDir.string() + ": " + std::strerror(errno);
      return nullptr;
    }
    const int fd = lockFolder(tmpl);
    if (fd < 0) continue;
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::lstat(tmpl.c_str(), &named) == 0 &&
        named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
      std::unique_ptr<RunFolder> folder(new RunFolder(tmpl, fd));
      std::lock_guard lock(runFolders().mutex);
      runFolders().folders.push_back(folder.get());
      return folder;
    }
    ::close(fd);
  }
  *error = "cannot keep a run folder in " + workDir.string();
  return nullptr;
}

RunFolder::~RunFolder() {
  // Removed while still listed: a signal meanwhile waits for this removal to end.
  remove();
  {
    std::lock_guard lock(runFolders().mutex);
    std::erase(runFolders().folders, this);
  }
  if (fd_ >= 0) ::close(fd_);
}

void RunFolder::remove() {
  std::lock_guard lock(mutex_);
  if (removed_) return;
  removed_ = true;
  erase();
}

bool RunFolder::erase() {
  if (touchesScannedInput(path_)) {
    logLine("run folder " + path_.string() + " holds the input of a scan; it is left in place");
    return false;
  }
  // A worker that still writes may add a file to a folder between its listing and its
  // removal: the removal is then tried again.
  std::error_code ec;
  for (int attempt = 0; attempt < 5; ++attempt) {
    ec.clear();
    fs::remove_all(path_, ec);
    if (!ec) return true;
  }
  logLine("cannot remove run folder " + path_.string() + ": " + ec.message());
  return false;
}

int removeLiveRunFolders() {
  int removed = 0;
  std::lock_guard lock(runFolders().mutex);
  for (RunFolder* folder : runFolders().folders) {
    std::lock_guard folderLock(folder->mutex_);
    // A folder removed already is gone, or holds an input.
    if (!folder->removed_ && folder->erase()) ++removed;
  }
  return removed;
}

int cleanWorkFolder(const fs::path& workDir) {
  int removed = 0;
  std::error_code ec;
  fs::directory_iterator it(workDir, ec);
  if (ec) return 0;  // no work folder yet
  std::vector<fs::path> candidates;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (name.rfind(kRunPrefix, 0) == 0 &&
        it->symlink_status(typeError).type() == fs::file_type::directory) {
      candidates.push_back(it->path());
    }
  }
  for (const fs::path& dir : candidates) {
    if (touchesScannedInput(dir)) {
      logLine("left " + dir.string() + " in place: it holds the input of a scan");
      continue;
    }
    const int fd = lockFolder(dir);
    if (fd < 0) continue;  // a live run's folder (or no longer a folder)
    std::error_code removeError;
    fs::remove_all(dir, removeError);
    if (removeError) {
      logLine("cannot remove run folder " + dir.string() + ": " + removeError.message());
    } else {
      ++removed;
    }
    ::close(fd);
  }
  return removed;
}

}  // namespace tamsel
