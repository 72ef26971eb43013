#include "ios/backup_files.h"

#include <sys/stat.h>

#include <string>

namespace tamsel {
namespace {

bool isRegularFile(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<std::filesystem::path> findStoredFile(const std::filesystem::path& backup,
                                                    std::string_view name) {
  // A name is one path component: nothing that could climb out of the backup folder.
  if (name.size() < 2 || name.find('/') != std::string_view::npos || name == "..") {
    return std::nullopt;
  }
  std::filesystem::path flat = backup / std::string(name);
  if (isRegularFile(flat)) return flat;
  std::filesystem::path nested = backup / std::string(name.substr(0, 2)) / std::string(name);
  if (isRegularFile(nested)) return nested;
  return std::nullopt;
}

}  // namespace tamsel
