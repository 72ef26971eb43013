// Reads BlackBerry desktop backups: an IPD file (one container holding many databases) or
// the Windows layout (a folder with one single-database IPD file per database), and hands
// every record of the seven known databases to its decoder, which posts a result record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/events/records.h"
#include "app/events/scan_context.h"

namespace tamsel {

// What one read found; errors are also written to the log with their offsets.
struct IpdScanStats {
  uint64_t recordsRead = 0;     // record headers walked
  uint64_t recordsPosted = 0;   // result records posted
  uint64_t recordsSkipped = 0;  // records of databases we do not decode
  uint64_t bytesRead = 0;       // position reached, summed over files
  bool truncated = false;       // the walk ended on a corrupt or cut-short record
};

class IpdReader {
 public:
  explicit IpdReader(ScanContext& ctx);

  // Reads one IPD file. Returns false, with `lastError` set, when the file cannot be
  // opened; a file that is not an IPD file is read by the same rules (see hasIpdHeader).
  bool scanBlackBerryBackUpThread(const std::string& path);
  // Reads every non-hidden file of a Windows-layout folder.
  bool scanBlackBerryWinBackUpThread(const std::string& folder);
  // Reads one Windows-layout database file.
  bool AnalyWinbackupfilePath(const std::string& path);

  std::optional<std::string> GetDataBaseNameByDatabaseIndex(int32_t index) const;

  // True when `path` begins with the IPD header text.
  static bool hasIpdHeader(const std::string& path);

  uint64_t bbOffSet = 0;
  std::vector<std::shared_ptr<PRBlackBerryDataBaseNode>> blackberryDatabaseArray;
  IpdScanStats stats;
  std::string lastError;

 private:
  ScanContext& ctx_;
};

}  // namespace tamsel
