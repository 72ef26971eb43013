#include "cli/scan_session.h"

#include "cli/progress_bar.h"
#include "events/notification_names.h"

namespace tamsel::cli {

ScanSession::ScanSession(std::optional<std::filesystem::path> workDir)
    : controller_(nullptr, std::move(workDir)) {
  // A scan needs no list of the computer's phone backups: the start-up lists no root.
  controller_.setBackupRoot({});
  controller_.applicationDidFinishLaunching();
}

BackupScanOutcome ScanSession::scan(const std::string& path, bool showProgress) {
  ProgressBar bar("Scanning");
  // A phone backup's steps number their progress each on its own scale (the folder listing
  // counts 1 to 29 after the index reached 20): the bar shows the highest value seen.
  int phoneProgress = 0;
  if (showProgress) {
    controller_.nc.addObserver(
        &bar, notify::kBlackBerryRawRecoveryProgress,
        [&bar](const Notification& n) { bar.update(static_cast<int>(n.number())); });
    controller_.nc.addObserver(&bar, notify::kScanProgressInfo,
                               [&bar, &phoneProgress](const Notification& n) {
                                 const int64_t v = n.number();
                                 if (v <= phoneProgress || v > 100) return;
                                 phoneProgress = static_cast<int>(v);
                                 bar.update(phoneProgress);
                               });
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
