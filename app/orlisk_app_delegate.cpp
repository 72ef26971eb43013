#include "app/orlisk_app_delegate.h"

#include <filesystem>
#include <list>

#include "app/work_folder.h"
#include "blackberry/bbb_archive.h"
#include "blackberry/blackberry_source.h"
#include "events/notification_names.h"
#include "ios/backup_crypto.h"
#include "ios/iphone_source.h"
#include "raw/disk_tree.h"
#include "raw/raw_scan.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

std::atomic<OrliskAppDelegate*> gController{nullptr};

constexpr const char* kHintDefault =
    "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.";
constexpr const char* kHintBackupButton =
    "* This option will scan your BlackBerry's .BBB or .IPD backup files.";
constexpr const char* kHintCardButton =
    "* Please plug the external memory card into the computer before scanning.";
constexpr const char* kHintCardExit =
    "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.\n* Recover "
    "deleted Photos, Videos, Audios, Document and others from BlackBerry's external memory "
    "card.";

}  // namespace

OrliskAppDelegate::OrliskAppDelegate(MainView* view, std::optional<fs::path> workDir)
    : view_(view != nullptr ? view : &nullView_),
      workDir_(workDir ? *workDir : defaultWorkDir()),
      sources_(makeScanSources([this] { return diskLibrary_.table(); })),
      run_(std::make_unique<ScanRun>(nc, std::filesystem::path(), std::string())) {
  gController.store(this);
  nc.addObserver(this, notify::kPRbuttonMouseEntered,
                 [this](const Notification& n) { PRbuttonMouseEnteredHandle(n); });
  nc.addObserver(this, notify::kPRbuttonMouseExited,
                 [this](const Notification& n) { PRbuttonMouseExitedHandle(n); });
  view_->setHintText(kHintDefault);
}

OrliskAppDelegate::~OrliskAppDelegate() {
  requestStop();
  for (auto& run : dropped_) run->requestStop();
  waitForScan();
  if (rawScanThreader_.joinable()) {
    stopScan();
    rawScanThreader_.join();
  }
  // The result screen goes first: it waits for a running recovery, whose worker still calls
  // into the disk library and may read the run's files, before the library and the runs
  // below go.
  resultViewController_.reset();
  dropped_.clear();
  run_.reset();
  nc.removeObserver(this);
  OrliskAppDelegate* self = this;
  gController.compare_exchange_strong(self, nullptr);
}

OrliskAppDelegate* OrliskAppDelegate::GetAppControllor() {
  return gController.load();
}

void OrliskAppDelegate::applicationDidFinishLaunching() {
  showIphoneDiskView();
  // A listed backup is the user's, wherever it lies: a folder named like a run folder in the
  // work folder (or one inside such a folder) is not taken for one that a crash left.
  std::list<ScannedInput> listed;
  for (const auto& node : deviceController.nodes()) {
    if (node && !node->backUpFilePath.empty()) listed.emplace_back(node->backUpFilePath);
  }
  const int removed = cleanWorkFolder(workDir_);
  if (removed > 0) {
    logLine("removed " + std::to_string(removed) + " run folder(s) left by earlier runs");
  }
}

std::filesystem::path OrliskAppDelegate::backupRoot() const {
  return backupRoot_ ? *backupRoot_ : defaultBackupRoot();
}

void OrliskAppDelegate::showIphoneDiskView() {
  const std::filesystem::path root = backupRoot();
  deviceController.removeAll();
  if (!root.empty()) showIphoneDisk(root, deviceController);
  view_->showBackupList(deviceController.nodes(), root.string());
}

bool OrliskAppDelegate::actScanIOSBackupFile(size_t row) {
  if (row >= deviceController.count()) {
    logLine("no phone backup in row " + std::to_string(row) + " of the backup list");
    return false;
  }
  // The row the user selected, not the list's first entry.
  std::shared_ptr<PRIOSDeviceNode> node = deviceController.at(row);
  if (previousScanEnding(node->backUpFilePath)) return false;
  currentNode = node;
  currentNodeIsiOS6Version = IOSVersionIOS6(node->strIOSVersion);
  view_->setWindowScanSize(true);
  view_->hideMainView();
  brawScan_ = false;
  // The result screen subscribes and resets its counters before the worker posts anything.
  showResultView();
  return ScanIOSBackFile(node->backUpFilePath);
}

bool OrliskAppDelegate::openPanelDidEnd(const std::string& path, int returnCode) {
  if (returnCode != 1 || previousScanEnding(path)) return false;
  bbbackUpFilepath = path;
  return OpenBBbackUpFile();
}

bool OrliskAppDelegate::OpenBBbackUpFile() {
  if (previousScanEnding(bbbackUpFilepath)) return false;
  // A path chosen by hand is no entry of the backup list: a phone backup's folder gives its
  // own system version.
  currentNode.reset();
  currentNodeIsiOS6Version = false;
  const SourceChoice choice = chooseScanSource(sources_, bbbackUpFilepath);
  view_->setWindowScanSize(true);
  view_->hideMainView();
  // The flag is read when the result screen is prepared: a memory-card image fills the
  // found-file categories.
  brawScan_ = choice.source != nullptr && choice.source->findsFiles();
  // An image file is the card being scanned from the start (the result screen names it).
  if (brawScan_) currentDiskName = bbbackUpFilepath;
  // The result screen subscribes and resets its counters before the worker posts anything.
  showResultView();
  return startScan(bbbackUpFilepath, choice);
}

std::string OrliskAppDelegate::scanSourceName() const {
  if (brawScan()) return {};
  if (currentNode) return currentNode->strDeviceName;
  std::error_code ec;
  if (bbbackUpFilepath.empty() || !std::filesystem::is_directory(bbbackUpFilepath, ec)) return {};
  std::optional<PRIOSDeviceNode> node = readDeviceNode(bbbackUpFilepath);
  return node ? node->strDeviceName : std::string();
}

void OrliskAppDelegate::ClickRawRecover() {
  view_->hideMainView();
  view_->showDiskView();
}

void OrliskAppDelegate::createResultViewController() {
  if (!resultViewController_) {
    resultViewController_ = std::make_unique<PRResultViewController>(nc, *resultView_, *this);
    resultViewController_->setRetainRecords(retainResults_);
  }
}

void OrliskAppDelegate::setRetainResults(bool on) {
  retainResults_ = on;
  if (resultViewController_) resultViewController_->setRetainRecords(on);
}

void OrliskAppDelegate::showResultView() {
  createResultViewController();
  resultViewController_->showView();
  view_->showResultView();
}

bool OrliskAppDelegate::initDll(const std::filesystem::path& libraryPath) {
  if (!diskLibrary_.load(libraryPath)) return false;
  // The library's diagnostics go to the program's log.
  if (const export_function_table* t = diskLibrary_.table(); t->setLogFunction != nullptr) {
    t->setLogFunction([](const char* line) { logLine(line != nullptr ? line : ""); });
  }
  return true;
}

void OrliskAppDelegate::stopScan() {
  requestStop();
  rawStopRequested_ = true;
  if (const export_function_table* t = diskLibrary_.table(); t != nullptr && t->stopScan) {
    t->stopScan();
  }
}

void OrliskAppDelegate::showMainView() {
  // Home: the scan's results are dropped, and its run folder with them.
  dropScanResults();
  view_->setWindowScanSize(false);
  // A backup made while the program was open is listed when the user comes back.
  showIphoneDiskView();
  view_->showMainView();
}

void OrliskAppDelegate::dropScanResults() {
  sweepDroppedRuns();
  if (run_->context().runDir.empty() && !run_->workerAlive()) {
    run_->clearLists();
    run_->context().blackberryDatabaseArray.clear();
    return;
  }
  run_->dropWhenDone();
  dropped_.push_back(std::move(run_));
  run_ = std::make_unique<ScanRun>(nc, std::filesystem::path(), std::string());
  sweepDroppedRuns();
}

void OrliskAppDelegate::sweepDroppedRuns() {
  std::erase_if(dropped_, [](const std::unique_ptr<ScanRun>& run) { return !run->workerAlive(); });
}

bool OrliskAppDelegate::backupWorkerAlive() const {
  if (run_->workerAlive()) return true;
  for (const auto& run : dropped_) {
    if (run->workerAlive()) return true;
  }
  return false;
}

bool OrliskAppDelegate::scanRunning() const {
  return backupWorkerAlive();
}

list_disk_struct* OrliskAppDelegate::currentDisk() {
  return getCurrentDisk(diskLibrary_.table(), diskHandles, currentDiskName);
}

bool OrliskAppDelegate::readFoundFile(void* buffer, _rec_file_ele* ele) {
  const export_function_table* t = diskLibrary_.table();
  if (t == nullptr || t->readFoundFile == nullptr) return false;
  list_disk_struct* disk = currentDisk();
  if (disk == nullptr) return false;
  t->readFoundFile(disk, buffer, ele);
  return true;
}

bool OrliskAppDelegate::QuickScanStart(std::shared_ptr<PRDiskInfoNode> row) {
  if (!row || previousScanEnding(row->diskdev)) return false;
  if (rawScanThreader_.joinable()) rawScanThreader_.join();
  dropScanResults();  // a backup scan's results, if any, go with their run folder
  rawStopRequested_ = false;
  // The flag is read when the result screen is prepared; the screen subscribes before the
  // thread posts anything.
  brawScan_ = true;
  createResultViewController();
  resultViewController_->beginScan();
  rawScanning_ = true;
  rawScanThreader_ = std::jthread([this, row] { RawScanThreaderHandle(*row); });
  return true;
}

void OrliskAppDelegate::RawScanThreaderHandle(const PRDiskInfoNode& row) {
  brawScan_ = true;
  RawScanSession session(nc, diskLibrary_.table(), &rawStopRequested_);
  if (!rawStopRequested_.load()) session.run(row.diskdev, row.deviceIndex);
  if (resultViewController_) resultViewController_->ScanThreadFinish();
  if (scanThreadFinish) scanThreadFinish();
  rawScanning_ = false;
}

void OrliskAppDelegate::waitForRawScan() {
  if (rawScanThreader_.joinable()) rawScanThreader_.join();
}

void OrliskAppDelegate::setBackupPassword(std::string password) {
  wipeSecret(backupPassword_);
  backupPassword_ = password;
  wipeSecret(password);
}

bool OrliskAppDelegate::ScanIOSBackFile(const std::string& path) {
  if (previousScanEnding(path)) return false;
  return startScan(path, chooseScanSource(sources_, path));
}

bool OrliskAppDelegate::previousScanEnding(const std::string& path) {
  sweepDroppedRuns();
  if (!backupWorkerAlive() && !rawScanning_.load()) return false;
  logLine(path + " is not scanned: the previous scan is still ending");
  return true;
}

bool OrliskAppDelegate::startScan(const std::string& path, const SourceChoice& choice) {
  // The new run exists (and guards its input) before the previous run's folder goes, so a
  // file chosen from inside that folder is not removed under the new scan.
  const bool card = choice.source != nullptr && choice.source->findsFiles();
  std::string input = path;
  if (card) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (!ec) input = absolute.lexically_normal().string();
  }
  auto run = std::make_unique<ScanRun>(nc, workDir_, input);
  run->context().currentNodeIsiOS6Version = currentNodeIsiOS6Version;
  run->context().backupPassword = backupPassword_;
  wipeSecret(backupPassword_);
  run->context().preparationProgress = preparationProgress;
  std::swap(run, run_);
  run.reset();
  dropped_.clear();
  // The result screen exists (and has subscribed) before the worker posts anything, and the
  // worker only ever reads the pointer, which is never replaced once set.
  createResultViewController();
  resultViewController_->beginScan();
  ScanRun* current = run_.get();
  return current->start(
      [this, current, input, choice] { ScanIOSBackUpFilehand(input, *current, choice); });
}

void OrliskAppDelegate::ScanIOSBackUpFilehand(const std::string& path, ScanRun& run,
                                              const SourceChoice& choice) {
  ScanOutcome outcome;
  if (choice.source == nullptr) {
    outcome.fail(choice.error);
  } else {
    outcome = choice.source->scan(path, run.context());
    outcome.source = std::string(choice.source->name());
    if (!outcome.readable && run.context().runDir.empty() && !run.folderError().empty()) {
      outcome.error += " (" + run.folderError() + ")";
    }
    if (outcome.readable && choice.source->findsFiles()) useScannedImage(path);
  }
  run.setOutcome(outcome);
  if (!outcome.readable) logLine(outcome.error);
  for (const std::string& w : outcome.warnings) logDebug("warning: " + w);
  bbOffSet = outcome.bytesRead;
  if (resultViewController_) resultViewController_->ScanThreadFinish();
  view_->scanEnded(outcome);
  if (scanThreadFinish) scanThreadFinish();
  run.clearLists();
}

void OrliskAppDelegate::useScannedImage(const std::string& path) {
  PRDiskFileController disks(diskLibrary_.table(),
                             [](const std::string&) { return std::vector<std::string>{}; });
  if (disks.initDisk() == 0) return;
  diskHandles = disks.disks();
  currentDiskName = path;
}

std::optional<std::string> OrliskAppDelegate::checkTheBackUpFile(const std::string& path,
                                                                 bool& winFlag) {
  ScanContext& ctx = run_->context();
  BbbPreparation prep = tamsel::checkTheBackUpFile(path, ctx.runDir, &ctx.stopRequested);
  ScanOutcome o = run_->outcome();
  for (std::string& w : prep.warnings) o.warnings.push_back(path + ": " + std::move(w));
  winFlag = prep.windowsLayout;
  o.windowsLayout = winFlag;
  if (!prep.error.empty()) o.fail(path + ": " + prep.error);
  run_->setOutcome(std::move(o));
  if (!prep.error.empty()) return std::nullopt;
  return winFlag ? std::optional<std::string>(prep.databasesFolder) : prep.ipdPath;
}

void OrliskAppDelegate::scanBlackBerryBackUpThread(const std::string& path) {
  ScanOutcome o = scanIpdFile(path, run_->context());
  bbOffSet = o.bytesRead;
  run_->setOutcome(std::move(o));
}

void OrliskAppDelegate::scanBlackBerryWinBackUpThread(const std::string& folder) {
  ScanOutcome o = scanWindowsFolder(folder, run_->context());
  bbOffSet = o.bytesRead;
  run_->setOutcome(std::move(o));
}

bool OrliskAppDelegate::IOSVersionIOS6(const std::string& version) {
  return isIos6Version(version);
}

void OrliskAppDelegate::removeSomeArray() {
  run_->clearLists();
}

void OrliskAppDelegate::waitForScan() {
  run_->join();
  for (auto& run : dropped_) run->join();
}

void OrliskAppDelegate::requestStop() {
  run_->requestStop();
}

BackupScanOutcome OrliskAppDelegate::lastOutcome() const {
  return run_->outcome();
}

void OrliskAppDelegate::hintForButton(MainView* view, std::string_view button, bool entered) {
  if (button == kBackupFileButton) {
    view->setButtonPictures(button, entered ? "firstBtnDown" : "firstBtn",
                            entered ? "ipdBtnDown" : "ipdBtn");
    view->setHintText(entered ? kHintBackupButton : kHintDefault);
  } else if (button == kMemoryCardButton) {
    view->setButtonPictures(button, entered ? "firstBtnDown" : "firstBtn",
                            entered ? "cardBtnDown" : "cardBtn");
    view->setHintText(entered ? kHintCardButton : kHintCardExit);
  }
}

void OrliskAppDelegate::PRbuttonMouseEnteredHandle(const Notification& n) {
  if (auto s = std::get_if<std::string>(&n.object)) hintForButton(view_, *s, true);
}

void OrliskAppDelegate::PRbuttonMouseExitedHandle(const Notification& n) {
  if (auto s = std::get_if<std::string>(&n.object)) hintForButton(view_, *s, false);
}

}  // namespace tamsel
