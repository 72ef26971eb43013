// The application controller: one instance for the life of the program. It owns the scan
// state and the working lists the scanners share, starts each backup scan on its worker
// thread, and tells the result screen when the scan has ended. Front ends (Qt, command
// line) drive it; the subsystems that do the work live in their own folders.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_view.h"
#include "events/notification_center.h"
#include "events/records.h"
#include "events/scan_context.h"
#include "raw/disklib_loader.h"
#include "results/headless_result_view.h"
#include "results/result_view_controller.h"

namespace tamsel {

// How the last backup scan ended, for front ends that report errors (the command line).
struct BackupScanOutcome {
  bool readable = true;  // false: the input could not be read as a backup at all
  std::string error;     // one clear line when !readable
  bool windowsLayout = false;
  uint64_t recordsPosted = 0;
  bool truncated = false;  // a corrupt record ended a walk early
  int refusedEntries = 0;  // archive entries refused for leaving the work folder
};

class OrliskAppDelegate : public ResultHost {
 public:
  // `view` may be null (headless). The work folder defaults to defaultWorkDir().
  explicit OrliskAppDelegate(MainView* view = nullptr,
                             std::optional<std::filesystem::path> workDir = std::nullopt);
  ~OrliskAppDelegate() override;
  OrliskAppDelegate(const OrliskAppDelegate&) = delete;
  OrliskAppDelegate& operator=(const OrliskAppDelegate&) = delete;

  // The result screen's view; set before the first scan or showResultView (default:
  // headless).
  void setResultView(ResultView* view) {
    resultView_ = view != nullptr ? view : &headlessResultView_;
  }
  // Creates the result screen's presenter on first use and prepares it for a scan.
  void showResultView();
  PRResultViewController* resultViewController() { return resultViewController_.get(); }

  // Loads the disk library (closing a copy loaded before); false when it cannot be used.
  bool initDll(const std::filesystem::path& libraryPath);

  // ResultHost: what the result screen asks of the controller.
  bool brawScan() const override { return brawScan_.load(); }
  void stopScan() override;
  void showMainView() override;
  bool readFoundFile(void* buffer, _rec_file_ele* ele) override;
  const export_function_table* diskTable() const override { return diskLibrary_.table(); }
  list_disk_struct* currentDisk() override;

  // The single live instance (the most recently created one), or null.
  static OrliskAppDelegate* GetAppControllor();

  // Start-up: removes the previous run's work files from the work folder.
  void applicationDidFinishLaunching();

  // The chosen backup file: returnCode 1 keeps the path and starts the scan
  // (OpenBBbackUpFile); any other code does nothing.
  void openPanelDidEnd(const std::string& path, int returnCode);
  void OpenBBbackUpFile();
  // The memory-card button: the home view gives way to the disk view.
  void ClickRawRecover();

  // Creates the working lists anew (the database table included), makes sure the result
  // screen's presenter exists, and starts the backup-scan worker on `path`.
  void ScanIOSBackFile(const std::string& path);
  // The worker's body: prepare the backup, read it, report the end, clean up.
  void ScanIOSBackUpFilehand(const std::string& path);
  // Unpacks a .bbb into the work folder; returns the IPD path to read (none when `path`
  // is read directly) and sets `winFlag` for the Windows layout.
  std::optional<std::string> checkTheBackUpFile(const std::string& path, bool& winFlag);
  void scanBlackBerryBackUpThread(const std::string& path);
  void scanBlackBerryWinBackUpThread(const std::string& folder);

  static bool IOSVersionIOS6(const std::string& version);

  // Empties the per-scan working lists.
  void removeSomeArray();

  // The disk view's scan: runs RawScanThreaderHandle with `row` (a disk or a partition
  // row) on a thread of its own and returns at once; false when a raw scan still runs.
  bool QuickScanStart(std::shared_ptr<PRDiskInfoNode> row);
  // The raw-scan thread's body: sets brawScan, lets the disk library scan the row's disk
  // (or partition), then tells the result screen that the scan has ended.
  void RawScanThreaderHandle(const PRDiskInfoNode& row);
  // Waits for the running raw scan to end; returns at once when none runs.
  void waitForRawScan();
  bool rawScanRunning() const { return rawScanning_.load(); }

  // Waits for the running backup scan to end; returns at once when none runs.
  void waitForScan();
  // Asks the running scan to stop between records.
  void requestStop();
  bool scanRunning() const { return scanning_.load(); }

  // Hover notifications of the home view's two source buttons.
  void PRbuttonMouseEnteredHandle(const Notification& n);
  void PRbuttonMouseExitedHandle(const Notification& n);

  NotificationCenter& notificationCenter() { return nc; }
  const std::filesystem::path& workDir() const { return workDir_; }
  BackupScanOutcome lastOutcome() const;

  // Called on the worker when a scan has ended, after the result screen's ScanThreadFinish.
  std::function<void()> scanThreadFinish;

  // Controller state.
  std::string bbbackUpFilepath;
  bool currentNodeIsiOS6Version = false;
  std::atomic<bool> brawScan_{false};  // brawScan: true while a raw scan's results are shown
  std::string currentDiskName;
  // The disks the library listed, in its order (filled by the disk view).
  std::vector<list_disk_struct*> diskHandles;
  uint64_t bbOffSet = 0;
  NotificationCenter nc;

  // Working lists of one scan.
  std::vector<std::shared_ptr<PRBlackBerryDataBaseNode>> blackberryDatabaseArray;
  std::vector<std::shared_ptr<PRContactImageNode>> contactImageArray;
  std::vector<std::shared_ptr<DelContactValue>> delContactValueArray;
  std::vector<std::shared_ptr<PRContactNode>> delContactArray;
  std::vector<std::shared_ptr<PRContactNode>> delUnKnowContactArray;
  std::vector<std::shared_ptr<PRNoteValueNode>> noteValueArray;
  std::vector<std::shared_ptr<PRNoteNode>> noteArray;

  // The running scan's context (its contactArray is the shared contact list).
  ScanContext& scanContext() { return *context_; }

 private:
  static void hintForButton(MainView* view, std::string_view button, bool entered);
  // Creates the result screen's presenter on first use (it subscribes when created).
  void createResultViewController();

  MainView* view_;
  MainView nullView_;
  HeadlessResultView headlessResultView_;
  ResultView* resultView_ = &headlessResultView_;
  std::unique_ptr<PRResultViewController> resultViewController_;
  DiskLibrary diskLibrary_;
  std::filesystem::path workDir_;
  std::unique_ptr<ScanContext> context_;
  std::jthread scanBackFileThreader;
  std::atomic<bool> scanning_{false};
  std::jthread rawScanThreader_;
  std::atomic<bool> rawScanning_{false};
  std::atomic<bool> rawStopRequested_{false};  // set by stopScan until the next raw scan
  mutable std::mutex outcomeMutex_;
  BackupScanOutcome outcome_;
};

}  // namespace tamsel
