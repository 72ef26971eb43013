#include "cli/scan_session.h"

#include "app/events/notification_names.h"
#include "cli/progress_bar.h"

namespace tamsel::cli {
namespace {

// Files every record the scan posts into `lists` (one scan thread posts; the lock keeps
// the lists consistent for the reader that takes them afterwards).
class Collector {
 public:
  Collector(NotificationCenter& nc, ResultLists& lists) : nc_(nc), lists_(lists) {
    add<PRBlackBerryContactNode>(notify::kBlacBerryContactInfo, &ResultLists::bbContactArray);
    add<PRBlackBerryCallNode>(notify::kBlacBerryCallLogInfo, &ResultLists::bbCallArray);
    add<PRBlackBerrySMSMessageNode>(notify::kBlackBerrySMSMessageInfo, &ResultLists::bbSMSArray);
    add<PRBlackBerryMMSMessageNode>(notify::kBlackBerryMMSMessageInfo, &ResultLists::bbMMSArray);
    add<PRBlackBerryNoteNode>(notify::kBlackBerryNoteInfo, &ResultLists::bbNoteArray);
    add<PRBlackBerryCalenderNode>(notify::kBlackBerryCalenderInfo, &ResultLists::bbCalderArray);
    add<PRBlackBerryContentNode>(notify::kBlackBerryContentStoreInfo,
                                 &ResultLists::bbContentStoreArray);
  }
  ~Collector() { nc_.removeObserver(this); }

 private:
  template <class T>
  void add(std::string_view name, RecordList<T> ResultLists::*list) {
    nc_.addObserver(this, name, [this, list](const Notification& n) {
      if (auto r = n.record<T>()) {
        std::lock_guard lock(mutex_);
        (lists_.*list).push_back(std::move(r));
      }
    });
  }
  NotificationCenter& nc_;
  ResultLists& lists_;
  std::mutex mutex_;
};

}  // namespace

ScanResult runBackupScan(const std::string& path, std::optional<std::filesystem::path> workDir,
                         bool showProgress) {
  ScanResult result;
  OrliskAppDelegate controller(nullptr, workDir);
  controller.applicationDidFinishLaunching();
  Collector collector(controller.nc, result.lists);
  ProgressBar bar("Scanning");
  if (showProgress) {
    controller.nc.addObserver(
        &bar, notify::kBlackBerryRawRecoveryProgress,
        [&bar](const Notification& n) { bar.update(static_cast<int>(n.number())); });
  }
  controller.openPanelDidEnd(path, 1);
  controller.waitForScan();
  controller.nc.removeObserver(&bar);
  bar.finish();
  result.outcome = controller.lastOutcome();
  return result;
}

}  // namespace tamsel::cli
