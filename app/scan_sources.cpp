#include "app/scan_sources.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "blackberry/blackberry_source.h"
#include "ios/iphone_source.h"
#include "raw/raw_scan.h"

namespace tamsel {

ScanSources makeScanSources(std::function<const export_function_table*()> diskTable) {
  ScanSources s;
  s.push_back(std::make_unique<IpdFileSource>());
  s.push_back(std::make_unique<BbbArchiveSource>());
  s.push_back(std::make_unique<IphoneBackupSource>());
  s.push_back(std::make_unique<MemoryCardSource>(std::move(diskTable)));
  return s;
}

SourceChoice chooseScanSource(const ScanSources& sources, const std::string& path) {
  SourceChoice choice;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    choice.error =
        path + (errno == ENOENT ? ": no such file" : ": " + std::string(std::strerror(errno)));
    return choice;
  }
  // Folders reach the probes too: a phone backup is a folder.
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) && !S_ISDIR(st.st_mode)) {
    choice.error = path + ": not a file";
    return choice;
  }
  std::vector<ScanSource*> claims;
  for (const auto& source : sources) {
    if (source->probe(path)) claims.push_back(source.get());
  }
  if (claims.empty() && S_ISDIR(st.st_mode)) {
    choice.error = path +
                   ": a folder that holds no backup (a phone backup folder holds Info.plist, "
                   "Manifest.plist, Manifest.db or Manifest.mbdb)";
  } else if (claims.empty()) {
    choice.error = path +
                   ": not a backup (neither a BlackBerry IPD file, a .bbb archive, a memory "
                   "card image nor a phone backup folder)";
  } else if (claims.size() > 1) {
    choice.error = path + ": it reads as more than one kind of input (";
    for (size_t i = 0; i < claims.size(); ++i) {
      choice.error.append(i ? ", " : "").append(claims[i]->name());
    }
    choice.error += "); it is not scanned";
  } else {
    choice.source = claims.front();
  }
  return choice;
}

}  // namespace tamsel
