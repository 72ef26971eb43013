// One headless backup scan: the application controller runs its worker on the chosen
// backup while this session files the posted records and draws progress on stderr.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "app/orlisk_app_delegate.h"
#include "results/result_lists.h"

namespace tamsel::cli {

struct ScanResult {
  BackupScanOutcome outcome;
  ResultLists lists;
};

// Scans `path` with a controller whose work folder is `workDir` (default when none).
ScanResult runBackupScan(const std::string& path, std::optional<std::filesystem::path> workDir,
                         bool showProgress);

}  // namespace tamsel::cli
