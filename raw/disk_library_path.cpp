#include "raw/disk_library_path.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace tamsel {

std::vector<fs::path> diskLibraryCandidates() {
  if (const char* env = std::getenv("TAMSEL_DISKLIB"); env != nullptr && *env != '\0') {
    return {fs::path(env)};
  }
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {fs::path("bblib.so")};
  fs::path dir = exe.parent_path();
  return {dir / ".." / "lib" / "tamsel" / "bblib.so", dir / "bblib.so",
          dir / ".." / "disklib" / "bblib.so"};
}

fs::path findDiskLibrary() {
  std::vector<fs::path> candidates = diskLibraryCandidates();
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p.lexically_normal();
  }
  return candidates.front();
}

}  // namespace tamsel
