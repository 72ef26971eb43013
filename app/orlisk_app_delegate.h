// The application controller: one instance for the life of the program. It chooses the
// source of a chosen path by its content, runs each scan as a ScanRun (its worker thread,
// working lists, outcome and private run folder), and tells the result screen and the
// window when the scan has ended. Front ends (Qt, command line) drive it; the subsystems
// that do the work live in their own folders.
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
#include "app/scan_run.h"
#include "app/scan_sources.h"
#include "events/notification_center.h"
#include "events/records.h"
#include "events/scan_context.h"
#include "events/scan_source.h"
#include "ios/device_list.h"
#include "raw/disklib_loader.h"
#include "results/headless_result_view.h"
#include "results/result_view_controller.h"

namespace tamsel {

// How the last backup scan ended, for the front ends.
using BackupScanOutcome = ScanOutcome;

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
  // Off: the result screen keeps no record of the scans (a front end that streams them
  // elsewhere). On by default.
  void setRetainResults(bool on);
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
  std::string scanSourcePath() const override {
    return brawScan() ? currentDiskName : bbbackUpFilepath;
  }
  // The device name of the phone backup being scanned (listed, or a backup folder chosen by
  // path); empty for other sources.
  std::string scanSourceName() const override;

  // The single live instance (the most recently created one), or null.
  static OrliskAppDelegate* GetAppControllor();

  // Start-up: builds the phone-backup list (showIphoneDiskView), then removes the run
  // folders that crashed runs left in the work folder; none that is, holds or lies inside a
  // listed backup or the input of a live scan.
  void applicationDidFinishLaunching();

  // The phone-backup list: emptied, then filled from the backup root (showIphoneDisk), and
  // handed to the home view's table.
  void showIphoneDiskView();
  // The folder whose subfolders are the phone backups (default: defaultBackupRoot(); an empty
  // path lists none). Takes effect with the next showIphoneDiskView.
  void setBackupRoot(std::filesystem::path root) { backupRoot_ = std::move(root); }
  std::filesystem::path backupRoot() const;
  // The scan of the listed backups: scans the backup of the list's row `row` (the selected
  // one) as ScanIOSBackFile scans a chosen path, with currentNode and
  // currentNodeIsiOS6Version set from it. False when there is no such row or the scan was
  // refused (a worker of the previous scan still runs).
  bool actScanIOSBackupFile(size_t row);

  // The chosen backup file: returnCode 1 keeps the path and starts the scan
  // (OpenBBbackUpFile); any other code does nothing. False when the scan was refused (a
  // worker of the previous scan still runs).
  bool openPanelDidEnd(const std::string& path, int returnCode);
  bool OpenBBbackUpFile();
  // The memory-card button: the home view gives way to the disk view.
  void ClickRawRecover();

  // Drops the previous scan's results (its run and run folder), starts a new run with fresh
  // working lists, makes sure the result screen's presenter exists, and starts the worker on
  // `path` with the source that recognises it. False, with nothing changed, while a worker
  // of an earlier scan (backup or memory card) still runs.
  bool ScanIOSBackFile(const std::string& path);
  // The worker's body: the chosen source reads the input into `run` (or `choice.error` is
  // the outcome), then the result screen, the window and scanThreadFinish learn that the
  // scan has ended, and the working lists are emptied.
  void ScanIOSBackUpFilehand(const std::string& path, ScanRun& run, const SourceChoice& choice);
  // The steps of a BlackBerry scan, on the current run (for callers that drive them one by
  // one; the worker goes through the sources). checkTheBackUpFile unpacks a .bbb into the
  // run folder and returns the IPD file to read, or the database folder with `winFlag` set
  // for the Windows layout; none when it cannot be unpacked (lastOutcome says why).
  std::optional<std::string> checkTheBackUpFile(const std::string& path, bool& winFlag);
  void scanBlackBerryBackUpThread(const std::string& path);
  void scanBlackBerryWinBackUpThread(const std::string& folder);

  static bool IOSVersionIOS6(const std::string& version);

  // Empties the per-scan working lists.
  void removeSomeArray();
  // The results were dropped (Home, program exit): the run's worker is asked to stop and
  // its run folder goes as soon as the worker has ended.
  void dropScanResults();

  // The disk view's scan: runs RawScanThreaderHandle with `row` (a disk or a partition
  // row) on a thread of its own and returns at once; false when a scan still runs.
  bool QuickScanStart(std::shared_ptr<PRDiskInfoNode> row);
  // The raw-scan thread's body: sets brawScan, lets the disk library scan the row's disk
  // (or partition), then tells the result screen that the scan has ended.
  void RawScanThreaderHandle(const PRDiskInfoNode& row);
  // Waits for the running raw scan to end; returns at once when none runs.
  void waitForRawScan();
  bool rawScanRunning() const { return rawScanning_.load(); }

  // Waits for the running backup scan (and one whose results were dropped) to end; returns
  // at once when none runs. Not from the UI thread while a worker waits for it.
  void waitForScan();
  // Asks the running scan to stop between records.
  void requestStop();
  bool scanRunning() const;

  // Hover notifications of the home view's two source buttons.
  void PRbuttonMouseEnteredHandle(const Notification& n);
  void PRbuttonMouseExitedHandle(const Notification& n);

  NotificationCenter& notificationCenter() { return nc; }
  const std::filesystem::path& workDir() const { return workDir_; }
  // The outcome of the current run (default while none ran or after Home).
  BackupScanOutcome lastOutcome() const;
  // The current run's folder (empty when there is none).
  std::filesystem::path runFolder() const { return run_->context().runDir; }

  // Called on the worker when a scan has ended, after the result screen's ScanThreadFinish.
  std::function<void()> scanThreadFinish;
  // The password of the encrypted phone backup about to be scanned: handed to the next scan
  // only (its run wipes it once used) and wiped here when that scan starts.
  void setBackupPassword(std::string password);
  // Called on the worker while an encrypted backup is opened (ScanContext::preparationProgress).
  std::function<void(std::string_view stage, uint64_t done, uint64_t total)> preparationProgress;

  // Controller state.
  std::string bbbackUpFilepath;
  // The listed phone backup being scanned; null while the scanned input was chosen by path.
  std::shared_ptr<PRIOSDeviceNode> currentNode;
  bool currentNodeIsiOS6Version = false;
  // The phone backups found under the backup root (UI thread).
  PRIOSDeviceController deviceController;
  std::atomic<bool> brawScan_{false};  // brawScan: true while a raw scan's results are shown
  std::string currentDiskName;
  // The disks the library listed, in its order (filled by the disk view).
  std::vector<list_disk_struct*> diskHandles;
  uint64_t bbOffSet = 0;
  NotificationCenter nc;

  // Working lists of the current scan (they belong to its run).
  std::vector<std::shared_ptr<PRBlackBerryDataBaseNode>>& blackberryDatabaseArray() {
    return run_->context().blackberryDatabaseArray;
  }
  std::vector<std::shared_ptr<PRContactImageNode>>& contactImageArray() {
    return run_->context().contactImageArray;
  }
  std::vector<std::shared_ptr<DelContactValue>>& delContactValueArray() {
    return run_->delContactValueArray;
  }
  std::vector<std::shared_ptr<PRContactNode>>& delContactArray() { return run_->delContactArray; }
  std::vector<std::shared_ptr<PRContactNode>>& delUnKnowContactArray() {
    return run_->delUnKnowContactArray;
  }
  std::vector<std::shared_ptr<PRNoteValueNode>>& noteValueArray() { return run_->noteValueArray; }
  std::vector<std::shared_ptr<PRNoteNode>>& noteArray() { return run_->noteArray; }

  // The current scan's context (its contactArray is the shared contact list).
  ScanContext& scanContext() { return run_->context(); }

 private:
  static void hintForButton(MainView* view, std::string_view button, bool entered);
  // True (and logged) while a worker of an earlier scan lives: `path` is then not scanned.
  bool previousScanEnding(const std::string& path);
  // Starts a new run on `path` with the source chosen for it; the callers have checked that
  // no earlier worker lives.
  bool startScan(const std::string& path, const SourceChoice& choice);
  // True while a worker of any backup scan lives (the current run's or a dropped one's).
  bool backupWorkerAlive() const;
  // Destroys the dropped runs whose worker has ended (their folders go with them).
  void sweepDroppedRuns();
  // After a memory-card image was scanned as the chosen file: the disk table and current
  // disk name, so that its found files can be read back.
  void useScannedImage(const std::string& path);
  // Creates the result screen's presenter on first use (it subscribes when created).
  void createResultViewController();

  MainView* view_;
  MainView nullView_;
  HeadlessResultView headlessResultView_;
  ResultView* resultView_ = &headlessResultView_;
  std::unique_ptr<PRResultViewController> resultViewController_;
  bool retainResults_ = true;
  DiskLibrary diskLibrary_;
  std::filesystem::path workDir_;
  std::optional<std::filesystem::path> backupRoot_;  // none: defaultBackupRoot()
  ScanSources sources_;
  std::unique_ptr<ScanRun> run_;                   // never null; a blank run before any scan
  std::vector<std::unique_ptr<ScanRun>> dropped_;  // results dropped, worker maybe still ending
  std::jthread rawScanThreader_;
  std::atomic<bool> rawScanning_{false};
  std::atomic<bool> rawStopRequested_{false};  // set by stopScan until the next raw scan
  std::string backupPassword_;                 // for the next scan only
};

}  // namespace tamsel
