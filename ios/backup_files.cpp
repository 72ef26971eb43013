#include "ios/backup_files.h"

#include <string>

namespace tamsel {
namespace {

bool isTwoHexDigits(std::string_view name) {
  auto hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  return name.size() == 2 && hex(name[0]) && hex(name[1]);
}

}  // namespace

StoredFileLookup lookupStoredFile(const std::filesystem::path& backup, std::string_view name) {
  StoredFileLookup out;
  // A name is one path component: nothing that could climb out of the backup folder.
  if (name.size() < 2 || name.find('/') != std::string_view::npos || name == "..") return out;
  const std::string flat(name);
  const std::string nested = std::string(name.substr(0, 2)) + "/" + flat;
  for (const std::string& relative : {flat, nested}) {
    const EntryKind kind = entryKindBeneath(backup, relative);
    if (kind == EntryKind::regular) return {backup / relative, {}, EntryKind::missing};
    if (kind != EntryKind::missing && !out.refused()) {
      out.refusedPath = backup / relative;
      out.refusedKind = kind;
    }
  }
  return out;
}

std::string StoredFileLookup::refusal() const {
  if (!refused()) return {};
  return refusedEntryText("the stored file " + splitStoredPath(refusedPath).second, refusedKind);
}

std::string refusedEntryText(std::string_view entry, EntryKind kind) {
  return std::string(entry) + " is " + std::string(entryKindText(kind)) +
         ", not a regular file: not read";
}

std::optional<std::filesystem::path> findStoredFile(const std::filesystem::path& backup,
                                                    std::string_view name) {
  return lookupStoredFile(backup, name).path;
}

std::pair<std::filesystem::path, std::string> splitStoredPath(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  const std::string name = path.filename().string();
  const std::string folder = parent.filename().string();
  if (isTwoHexDigits(folder) && name.compare(0, 2, folder) == 0) {
    return {parent.parent_path(), folder + "/" + name};
  }
  return {parent, name};
}

int openStoredFile(const std::filesystem::path& path, std::string* error) {
  const auto [root, relative] = splitStoredPath(path);
  return openRegularBeneath(root, relative, error);
}

EntryKind storedEntryKind(const std::filesystem::path& path, uint64_t* size) {
  const auto [root, relative] = splitStoredPath(path);
  return entryKindBeneath(root, relative, size);
}

}  // namespace tamsel
