#include "app/orlisk_app_delegate.h"

#include <filesystem>

#include "app/work_folder.h"
#include "blackberry/bbb_archive.h"
#include "blackberry/ipd_reader.h"
#include "events/notification_names.h"
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
      context_(std::make_unique<ScanContext>(nc)) {
  gController.store(this);
  nc.addObserver(this, notify::kPRbuttonMouseEntered,
                 [this](const Notification& n) { PRbuttonMouseEnteredHandle(n); });
  nc.addObserver(this, notify::kPRbuttonMouseExited,
                 [this](const Notification& n) { PRbuttonMouseExitedHandle(n); });
  view_->setHintText(kHintDefault);
}

OrliskAppDelegate::~OrliskAppDelegate() {
  requestStop();
  if (scanBackFileThreader.joinable()) scanBackFileThreader.join();
  if (rawScanThreader_.joinable()) {
    stopScan();
    rawScanThreader_.join();
  }
  // The result screen goes first: it waits for a running recovery, whose worker still calls
  // into the disk library, before the library below is closed.
  resultViewController_.reset();
  nc.removeObserver(this);
  OrliskAppDelegate* self = this;
  gController.compare_exchange_strong(self, nullptr);
}

OrliskAppDelegate* OrliskAppDelegate::GetAppControllor() {
  return gController.load();
}

void OrliskAppDelegate::applicationDidFinishLaunching() {
  cleanWorkFolder(workDir_);
}

void OrliskAppDelegate::openPanelDidEnd(const std::string& path, int returnCode) {
  if (returnCode != 1) return;
  bbbackUpFilepath = path;
  OpenBBbackUpFile();
}

void OrliskAppDelegate::OpenBBbackUpFile() {
  view_->setWindowScanSize(true);
  view_->hideMainView();
  brawScan_ = false;
  // The result screen subscribes and resets its counters before the worker posts anything.
  showResultView();
  ScanIOSBackFile(bbbackUpFilepath);
}

void OrliskAppDelegate::ClickRawRecover() {
  view_->hideMainView();
  view_->showDiskView();
}

void OrliskAppDelegate::createResultViewController() {
  if (!resultViewController_) {
    resultViewController_ = std::make_unique<PRResultViewController>(nc, *resultView_, *this);
  }
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
  view_->setWindowScanSize(false);
  view_->showMainView();
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
  if (!row || rawScanning_.load()) return false;
  if (rawScanThreader_.joinable()) rawScanThreader_.join();
  rawStopRequested_ = false;
  // The flag is read when the result screen is prepared; the screen subscribes before the
  // thread posts anything.
  brawScan_ = true;
  createResultViewController();
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

void OrliskAppDelegate::ScanIOSBackFile(const std::string& path) {
  waitForScan();
  context_ = std::make_unique<ScanContext>(nc);
  context_->workDir = workDir_;
  context_->currentNodeIsiOS6Version = currentNodeIsiOS6Version;
  blackberryDatabaseArray.clear();
  removeSomeArray();
  {
    std::lock_guard lock(outcomeMutex_);
    outcome_ = {};
  }
  // The result screen exists (and has subscribed) before the worker posts anything, and the
  // worker only ever reads the pointer, which is never replaced once set.
  createResultViewController();
  scanning_ = true;
  scanBackFileThreader = std::jthread([this, path] { ScanIOSBackUpFilehand(path); });
}

void OrliskAppDelegate::ScanIOSBackUpFilehand(const std::string& path) {
  brawScan_ = false;
  bool winFlag = false;
  std::optional<std::string> ipd = checkTheBackUpFile(path, winFlag);
  if (lastOutcome().readable) {
    if (winFlag) {
      scanBlackBerryWinBackUpThread((workDir_ / "Databases").string());
    } else {
      scanBlackBerryBackUpThread(ipd ? *ipd : path);
    }
  }
  if (resultViewController_) resultViewController_->ScanThreadFinish();
  if (scanThreadFinish) scanThreadFinish();
  removeSomeArray();
  scanning_ = false;
}

std::optional<std::string> OrliskAppDelegate::checkTheBackUpFile(const std::string& path,
                                                                 bool& winFlag) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    std::lock_guard lock(outcomeMutex_);
    outcome_.readable = false;
    outcome_.error = fs::exists(path, ec) ? path + ": not a file" : path + ": no such file";
    return std::nullopt;
  }
  BbbPreparation prep = tamsel::checkTheBackUpFile(path, workDir_);
  std::lock_guard lock(outcomeMutex_);
  outcome_.refusedEntries = prep.refusedEntries;
  if (!prep.error.empty()) {
    outcome_.readable = false;
    outcome_.error = path + ": " + prep.error;
    return prep.ipdPath;
  }
  if (prep.ipdPath && !prep.windowsLayout && !fs::exists(*prep.ipdPath, ec)) {
    outcome_.readable = false;
    outcome_.error = path + ": the archive holds no BlackBerry databases";
  }
  winFlag = prep.windowsLayout;
  outcome_.windowsLayout = winFlag;
  return prep.ipdPath;
}

void OrliskAppDelegate::scanBlackBerryBackUpThread(const std::string& path) {
  IpdReader reader(*context_);
  bool opened = reader.scanBlackBerryBackUpThread(path);
  bool header = opened && IpdReader::hasIpdHeader(path);
  blackberryDatabaseArray = reader.blackberryDatabaseArray;
  bbOffSet = reader.bbOffSet;
  std::lock_guard lock(outcomeMutex_);
  outcome_.recordsPosted += reader.stats.recordsPosted;
  outcome_.truncated = outcome_.truncated || reader.stats.truncated;
  if (!opened) {
    outcome_.readable = false;
    outcome_.error = reader.lastError.empty() ? path + ": cannot be read" : reader.lastError;
  } else if (!header) {
    outcome_.readable = false;
    outcome_.error = path + ": not a BlackBerry backup (no IPD header)";
  }
}

void OrliskAppDelegate::scanBlackBerryWinBackUpThread(const std::string& folder) {
  IpdReader reader(*context_);
  bool ok = reader.scanBlackBerryWinBackUpThread(folder);
  bbOffSet = reader.bbOffSet;
  std::lock_guard lock(outcomeMutex_);
  outcome_.recordsPosted += reader.stats.recordsPosted;
  outcome_.truncated = outcome_.truncated || reader.stats.truncated;
  if (!ok) {
    outcome_.readable = false;
    outcome_.error = reader.lastError.empty() ? folder + ": cannot be read" : reader.lastError;
  }
}

bool OrliskAppDelegate::IOSVersionIOS6(const std::string& version) {
  if (version.empty()) return false;
  return version.substr(0, version.find('.')) == "6";
}

void OrliskAppDelegate::removeSomeArray() {
  contactImageArray.clear();
  context_->contactArray.clear();
  delContactValueArray.clear();
  delContactArray.clear();
  delUnKnowContactArray.clear();
  noteValueArray.clear();
  noteArray.clear();
}

void OrliskAppDelegate::waitForScan() {
  if (scanBackFileThreader.joinable()) scanBackFileThreader.join();
}

void OrliskAppDelegate::requestStop() {
  if (context_) context_->stopRequested = true;
}

BackupScanOutcome OrliskAppDelegate::lastOutcome() const {
  std::lock_guard lock(outcomeMutex_);
  return outcome_;
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
