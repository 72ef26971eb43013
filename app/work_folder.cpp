#include "app/work_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "util/log.h"

namespace tamsel {

std::filesystem::path defaultWorkDir() {
  if (const char* w = std::getenv("TAMSEL_WORK_DIR"); w != nullptr && *w != '\0') return w;
  std::filesystem::path home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = std::filesystem::temp_directory_path();
  }
  return home / "Downloads" / "com.Veltrane.Tamsel";
}

void cleanWorkFolder(const std::filesystem::path& workDir) {
  std::error_code ec;
  std::filesystem::remove_all(workDir / "Databases", ec);
  if (ec) logLine("cannot remove " + (workDir / "Databases").string() + ": " + ec.message());
  for (const char* name : {"BlackBerry_Backup.xml", "BlackBerry.zip"}) {
    std::filesystem::remove(workDir / name, ec);
    if (ec) logLine("cannot remove " + (workDir / name).string() + ": " + ec.message());
  }
}

}  // namespace tamsel
