#include "util/beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/fd_io.h"

namespace tamsel {
namespace {

// The components of `relative`; none when one of them is empty, "." or "..".
bool splitRelative(std::string_view relative, std::vector<std::string>* parts) {
  if (relative.empty()) return false;
  size_t start = 0;
  for (;;) {
    const size_t slash = relative.find('/', start);
    const std::string_view part = relative.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    parts->emplace_back(part);
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

EntryKind kindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return EntryKind::regular;
  if (S_ISDIR(st.st_mode)) return EntryKind::folder;
  if (S_ISLNK(st.st_mode)) return EntryKind::link;
  return EntryKind::other;
}

// Walks to the folder that holds the last component of `relative`: `parent` is left open on
// it and `st` holds the last component's own status. Returns the last component's kind.
EntryKind walk(const std::filesystem::path& root, const std::vector<std::string>& parts,
               UniqueFd& parent, struct stat& st) {
  parent.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.get() < 0) return EntryKind::missing;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (::fstatat(parent.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind::missing;
    }
    const EntryKind kind = kindOf(st);
    if (i + 1 == parts.size()) return kind;
    if (kind == EntryKind::link) return EntryKind::link;
    if (kind != EntryKind::folder) return EntryKind::missing;
    const int next =
        ::openat(parent.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return errno == ELOOP || errno == ENOTDIR ? EntryKind::link : EntryKind::missing;
    parent.reset(next);
  }
  return EntryKind::missing;
}

}  // namespace

std::string_view entryKindText(EntryKind kind) {
  switch (kind) {
    case EntryKind::regular:
      return "a regular file";
    case EntryKind::folder:
      return "a folder";
    case EntryKind::link:
      return "a symbolic link";
    case EntryKind::other:
      return "a FIFO, socket or device";
    case EntryKind::missing:
      break;
  }
  return "missing";
}

EntryKind entryKindBeneath(const std::filesystem::path& root, std::string_view relative,
                           uint64_t* size) {
  std::vector<std::string> parts;
  if (!splitRelative(relative, &parts)) return EntryKind::missing;
  UniqueFd parent;
  struct stat st {};
  const EntryKind kind = walk(root, parts, parent, st);
  if (size) *size = kind == EntryKind::regular ? static_cast<uint64_t>(st.st_size) : 0;
  return kind;
}

int openRegularBeneath(const std::filesystem::path& root, std::string_view relative,
                       std::string* error) {
  const std::string shown = (root / std::string(relative)).string();
  auto fail = [&](std::string why) {
    if (error) *error = shown + ": " + why;
    return -1;
  };
  std::vector<std::string> parts;
  if (!splitRelative(relative, &parts)) return fail("not a name inside the folder");
  UniqueFd parent;
  struct stat named {};
  const EntryKind kind = walk(root, parts, parent, named);
  if (kind == EntryKind::missing) return fail("no such file");
  if (kind != EntryKind::regular) {
    return fail(std::string("is ") + std::string(entryKindText(kind)) + ", not a regular file");
  }
  // Non-blocking and without following a link: should the entry have been replaced since it
  // was looked at, a FIFO is not waited on and a link is not followed.
  UniqueFd file(::openat(parent.get(), parts.back().c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return fail(std::strerror(errno));
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
    return fail("changed while it was opened");
  }
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  return file.release();
}

}  // namespace tamsel
