#include "cli/scan_session.h"

#include "cli/progress_bar.h"
#include "events/notification_names.h"

namespace tamsel::cli {

ScanSession::ScanSession(std::optional<std::filesystem::path> workDir)
    : controller_(nullptr, std::move(workDir)) {
  controller_.applicationDidFinishLaunching();
}

BackupScanOutcome ScanSession::scan(const std::string& path, bool showProgress) {
  ProgressBar bar("Scanning");
  if (showProgress) {
    controller_.nc.addObserver(
        &bar, notify::kBlackBerryRawRecoveryProgress,
        [&bar](const Notification& n) { bar.update(static_cast<int>(n.number())); });
  }
  const bool started = controller_.openPanelDidEnd(path, 1);
  controller_.waitForScan();
  controller_.nc.removeObserver(&bar);
  bar.finish();
  if (!started) {
    BackupScanOutcome refused;
    refused.fail(path + ": not scanned: the previous scan is still ending");
    return refused;
  }
  return controller_.lastOutcome();
}

ResultLists ScanSession::lists() {
  auto* results = controller_.resultViewController();
  return results != nullptr ? results->snapshot() : ResultLists{};
}

}  // namespace tamsel::cli
