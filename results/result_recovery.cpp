// The result screen's recover button: the save panel, the worker that writes the ticked
// records, the 1-second progress tick and the end of the run (the folder then holds the
// receipt, report.html and manifest.csv, and the view shows what was written and failed).
#include <ctime>

#include "results/recovery_entries.h"
#include "results/result_view_controller.h"
#include "results/result_view_detail.h"
#include "util/log.h"

namespace tamsel {

void PRResultViewController::actRecovery() {
  if (recovering_.load()) return;  // the progress sheet is modal: one run at a time
  recovredFilesNum_ = 0;
  view_.setSaveProgress(0, "0%");
  view_.runSavePanel(proposedFolderName(std::time(nullptr)),
                     [this](int code, const std::string& path) { savePanelDidEnd(code, path); });
}

void PRResultViewController::savePanelDidEnd(int returnCode, const std::string& path) {
  if (returnCode != 1 || path.empty()) return;
  if (recovering_.exchange(true)) return;
  if (recoverThread_) recoverThread_->wait();  // the previous run has ended; reap it
  recoverPath_ = path;
  recovredFilesNum_ = 0;
  view_.setSaveSheetVisible(true);
  recoverThread_ = std::make_unique<RecoveryWriter>(snapshot(), host_.brawScan(), path,
                                                    host_.diskTable(), host_.currentDisk());
  recoverThread_->setSelectedFilesNum(selectedFilesNum_.load());
  recoverThread_->setSourceName(host_.scanSourcePath());
  recoverThread_->start(this);
}

void PRResultViewController::progress(int recovered, int /*total*/) {
  recovredFilesNum_ = recovered;
  view_.runOnUiThread([this, recovered] { IphonerecoveryTimer_hander(recovered); });
}

void PRResultViewController::IphonerecoveryTimer_hander(int recovered) {
  const int percent = progressPercent(recovered, selectedFilesNum_.load());
  view_.setSaveProgress(percent, std::to_string(percent) + "%");
}

void PRResultViewController::finished(const RecoveryReport& report) {
  {
    std::lock_guard lock(reportMutex_);
    lastReport_ = report;
  }
  // Each line says itself whether the thing was not written or written incomplete.
  for (const auto& line : report.failures) logLine("recovery: " + line);
  logLine("recovery: " + recoverySummary(report));
  // This runs on the worker; the view is touched from the UI thread only.
  view_.runOnUiThreadAndWait([this, report] {
    saveProgressorHanderToMainThread();
    view_.showRecoveryReceipt(report);
  });
  recovering_ = false;
}

void ResultView::showRecoveryReceipt(const RecoveryReport& report) {
  openFolder(report.recoverPath.string());
}

void PRResultViewController::saveProgressorHanderToMainThread() {
  view_.setSaveSheetVisible(false);
  view_.setSaveProgress(0, "0%");
  recovredFilesNum_ = 0;
}

void PRResultViewController::waitForRecovery() {
  if (recoverThread_) recoverThread_->wait();
}

RecoveryReport PRResultViewController::lastRecoveryReport() const {
  std::lock_guard lock(reportMutex_);
  return lastReport_;
}

int PRResultViewController::selectPhoneRecords(Category c, bool on, bool deletedOnly) {
  const auto& info = detail::categoryInfo(c);
  if (!info.phone) return 0;
  ResultRows rows;
  for (const auto& rec : detail::rowsOf(*info.phone, snapshot())) {
    Flag* f = rec ? detail::deletedFlagOf(*rec) : nullptr;
    if (!deletedOnly || (f != nullptr && f->get())) rows.push_back(rec);
  }
  const int delta = tickRecords(rows, on);
  updateSelectionState();
  return delta;
}

}  // namespace tamsel
