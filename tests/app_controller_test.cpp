#include "app/orlisk_app_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "app/work_folder.h"
#include "events/notification_names.h"
#include "ios/encrypted_backup.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/zip_writer.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

class RecordingView : public MainView {
 public:
  void hideMainView() override { calls.push_back("hide"); }
  void setWindowScanSize(bool scanning) override {
    calls.push_back(scanning ? "size:scan" : "size:home");
  }
  void showResultView() override { calls.push_back("result"); }
  void showDiskView() override { calls.push_back("disk"); }
  void setHintText(const std::string& text) override { hint = text; }
  void setButtonPictures(std::string_view, const std::string& frame,
                         const std::string& picture) override {
    pictures = frame + "," + picture;
  }
  void showBackupList(const std::vector<std::shared_ptr<PRIOSDeviceNode>>& nodes,
                      const std::string& root) override {
    listed = nodes.size();
    listedRoot = root;
  }
  std::vector<std::string> calls;
  std::string hint, pictures;
  size_t listed = 0;
  std::string listedRoot;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tamsel-ctl-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    previous_ = setLogSink({});
  }
  void TearDown() override {
    setLogSink(previous_);
    fs::remove_all(root_);
  }
  fs::path root_;
  LogSink previous_;
};

TEST_F(ControllerTest, VersionSixIsTheFirstPieceOnly) {
  EXPECT_TRUE(OrliskAppDelegate::IOSVersionIOS6("6.1.3"));
  EXPECT_TRUE(OrliskAppDelegate::IOSVersionIOS6("6"));
  EXPECT_FALSE(OrliskAppDelegate::IOSVersionIOS6("5.1.1"));
  EXPECT_FALSE(OrliskAppDelegate::IOSVersionIOS6("16.0"));
  EXPECT_FALSE(OrliskAppDelegate::IOSVersionIOS6(""));
}

TEST_F(ControllerTest, CancelledChooserStartsNothing) {
  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  app.openPanelDidEnd((root_ / "x.ipd").string(), 0);
  EXPECT_FALSE(app.scanRunning());
  EXPECT_TRUE(view.calls.empty());
  EXPECT_EQ(app.bbbackUpFilepath, "");
}

TEST_F(ControllerTest, MissingFileStillReachesTheFinishingStep) {
  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  EXPECT_EQ(OrliskAppDelegate::GetAppControllor(), &app);
  int finished = 0;
  app.scanThreadFinish = [&] { ++finished; };
  app.openPanelDidEnd((root_ / "absent.ipd").string(), 1);
  app.waitForScan();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"size:scan", "hide", "result"}));
  BackupScanOutcome o = app.lastOutcome();
  EXPECT_FALSE(o.readable);
  EXPECT_NE(o.error.find("no such file"), std::string::npos);
  EXPECT_FALSE(app.brawScan());
}

// Inputs that are not backups: a clear line, nothing posted, and no run folder left behind
// once the results are dropped.
TEST_F(ControllerTest, InputsThatAreNotBackupsPostNothing) {
  struct Case {
    std::string name;
    std::string bytes;  // written as the file's content
    std::string error;
  };
  fixtures::IpdWriter memo;
  memo.addRecord(memo.addDatabase("Memos"), {fixtures::textField(1, "never posted")});
  std::vector<uint8_t> damagedHeader = memo.bytes();
  damagedHeader[6] ^= 0x20;  // "Inter@Ctive ...": the records behind it are intact
  fs::path archive = root_ / "other.zip";
  fixtures::writeZip(archive, {{"readme.txt", fixtures::bytesOf("hello")}});
  std::ifstream zipIn(archive, std::ios::binary);
  const std::string zipBytes{std::istreambuf_iterator<char>(zipIn), {}};
  const Case cases[] = {
      {"bad.bbb", "garbage", "not a backup"},
      {"pk.bbb", "PK but not a local header", "not a backup"},
      {"notes.ipd", std::string(200, 'z'), "not a backup"},
      {"damaged-header.ipd", std::string(damagedHeader.begin(), damagedHeader.end()),
       "not a backup"},
      {"other.bbb", zipBytes, "holds no BlackBerry databases"},
      {"cut.bbb", zipBytes.substr(0, 40), "not a ZIP archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path file = root_ / c.name;
    std::ofstream(file, std::ios::binary) << c.bytes;
    OrliskAppDelegate app(nullptr, root_ / "work");
    int posts = 0;
    app.nc.addObserver(notify::kBlackBerryNoteInfo, [&](const Notification&) { ++posts; });
    ASSERT_TRUE(app.ScanIOSBackFile(file.string()));
    app.waitForScan();
    BackupScanOutcome o = app.lastOutcome();
    EXPECT_FALSE(o.readable);
    EXPECT_NE(o.error.find(c.error), std::string::npos) << o.error;
    EXPECT_EQ(o.error.find(file.string()), 0u) << o.error;
    EXPECT_EQ(posts, 0);
    const fs::path run = app.runFolder();
    EXPECT_FALSE(run.empty());
    app.showMainView();
    EXPECT_FALSE(fs::exists(run));
  }
}

// The source is chosen by content, whatever the name says.
TEST_F(ControllerTest, SourceIsChosenByContentNotByName) {
  fixtures::IpdWriter w;
  w.addRecord(w.addDatabase("Memos"), {fixtures::textField(1, "found")});
  struct Case {
    const char* name;
    bool archive;
  };
  for (const Case& c : {Case{"ipd-named.bbb", false}, Case{"CAPS.BBB", true},
                        Case{"zip-named.ipd", true}, Case{"no-suffix", false}}) {
    SCOPED_TRACE(c.name);
    fs::path file = root_ / c.name;
    if (c.archive) {
      fixtures::writeMacBbb(file, w.bytes());
    } else {
      w.writeFile(file);
    }
    OrliskAppDelegate app(nullptr, root_ / "work");
    ASSERT_TRUE(app.ScanIOSBackFile(file.string()));
    app.waitForScan();
    BackupScanOutcome o = app.lastOutcome();
    EXPECT_TRUE(o.readable) << o.error;
    EXPECT_EQ(o.source, c.archive ? "BlackBerry .bbb archive" : "BlackBerry IPD file");
    EXPECT_EQ(o.recordsPosted, 1u);
  }
}

// A file two sources recognise is an error, not a guess: an IPD file that also carries a
// boot sector's signature and a partition table.
TEST_F(ControllerTest, InputClaimedByTwoSourcesIsRefused) {
  fixtures::IpdWriter w;
  w.addRecord(w.addDatabase("Memos"), {fixtures::textField(1, std::string(600, 'm'))});
  std::vector<uint8_t> bytes = w.bytes();
  ASSERT_GT(bytes.size(), 512u);
  for (size_t i = 446; i < 510; ++i) bytes[i] = 0;
  bytes[446 + 4] = 0x0C;  // one FAT32 partition
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  fs::path file = root_ / "both.ipd";
  fixtures::writeBytes(file, bytes);
  OrliskAppDelegate app(nullptr, root_ / "work");
  int posts = 0;
  app.nc.addObserver(notify::kBlackBerryNoteInfo, [&](const Notification&) { ++posts; });
  ASSERT_TRUE(app.ScanIOSBackFile(file.string()));
  app.waitForScan();
  BackupScanOutcome o = app.lastOutcome();
  EXPECT_FALSE(o.readable);
  EXPECT_NE(o.error.find("more than one kind"), std::string::npos) << o.error;
  EXPECT_NE(o.error.find("memory card"), std::string::npos) << o.error;
  EXPECT_EQ(posts, 0);
}

// Older versions' work files are no longer removed at start-up: they may be what the user
// scans. Only run folders whose lock is free go.
TEST_F(ControllerTest, StartUpRemovesOnlyAbandonedRunFolders) {
  fs::path work = root_ / "work";
  fs::create_directories(work / "Databases" / "sub");
  fs::create_directories(work / "run-crashed" / "Databases");
  std::ofstream(work / "run-crashed" / "Databases" / "1.dat") << "x";
  std::ofstream(work / "Databases" / "sub" / "1.dat") << "x";
  std::ofstream(work / "BlackBerry.zip") << "x";
  std::ofstream(work / "keep.txt") << "x";
  fs::create_directories(root_ / "elsewhere");
  fs::create_directory_symlink(root_ / "elsewhere", work / "run-link");
  OrliskAppDelegate app(nullptr, work);
  app.applicationDidFinishLaunching();
  EXPECT_FALSE(fs::exists(work / "run-crashed"));
  for (const char* kept : {"Databases/sub/1.dat", "BlackBerry.zip", "keep.txt"}) {
    EXPECT_TRUE(fs::exists(work / kept)) << kept;
  }
  EXPECT_TRUE(fs::is_symlink(work / "run-link"));  // not a folder of ours: not followed
  EXPECT_TRUE(fs::exists(root_ / "elsewhere"));
  app.applicationDidFinishLaunching();  // nothing left to remove: no error
  EXPECT_TRUE(fs::exists(work / "keep.txt"));
}

TEST_F(ControllerTest, WorkFolderFollowsTheEnvironment) {
  const char* old = std::getenv("TAMSEL_WORK_DIR");
  std::string saved = old ? old : "";
  setenv("TAMSEL_WORK_DIR", (root_ / "elsewhere").c_str(), 1);
  EXPECT_EQ(defaultWorkDir(), root_ / "elsewhere");
  unsetenv("TAMSEL_WORK_DIR");
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(defaultWorkDir(), fs::path(home) / "Downloads" / "com.Veltrane.Tamsel");
  }
  if (old) setenv("TAMSEL_WORK_DIR", saved.c_str(), 1);
}

TEST_F(ControllerTest, HoverTextsFollowTheButton) {
  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  EXPECT_EQ(view.hint,
            "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.");
  app.nc.post(notify::kPRbuttonMouseEntered, std::string(kMemoryCardButton));
  EXPECT_EQ(view.hint, "* Please plug the external memory card into the computer before scanning.");
  EXPECT_EQ(view.pictures, "firstBtnDown,cardBtnDown");
  app.nc.post(notify::kPRbuttonMouseExited, std::string(kMemoryCardButton));
  EXPECT_EQ(view.hint,
            "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.\n"
            "* Recover deleted Photos, Videos, Audios, Document and others from BlackBerry's "
            "external memory card.");
  app.nc.post(notify::kPRbuttonMouseEntered, std::string(kBackupFileButton));
  EXPECT_EQ(view.hint, "* This option will scan your BlackBerry's .BBB or .IPD backup files.");
  EXPECT_EQ(view.pictures, "firstBtnDown,ipdBtnDown");
}

// An IPD backup with `memos` memo records.
fs::path writeMemoBackup(const fs::path& path, int memos) {
  fixtures::IpdWriter w;
  uint16_t db = w.addDatabase("Memos");
  for (int i = 0; i < memos; ++i) {
    w.addRecord(db, {fixtures::textField(1, "memo " + std::to_string(i))});
  }
  w.writeFile(path);
  return path;
}

TEST_F(ControllerTest, MemoryCardButtonShowsTheDiskView) {
  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  app.ClickRawRecover();
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide", "disk"}));
  EXPECT_FALSE(app.scanRunning());
}

// The result screen files every record even when a scan is started without showing it
// first, and the worker still reaches the screen's finishing step.
TEST_F(ControllerTest, ScanStartedDirectlyFilesEveryRecord) {
  fs::path ipd = writeMemoBackup(root_ / "memos.ipd", 3);
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.ScanIOSBackFile(ipd.string());
  app.waitForScan();
  ASSERT_NE(app.resultViewController(), nullptr);
  auto lists = app.resultViewController()->snapshot();
  ASSERT_EQ(lists.bbNoteArray.size(), 3u);
  EXPECT_EQ(lists.bbNoteArray[0]->noteTittle, "memo 0");
  EXPECT_TRUE(app.lastOutcome().readable);
  EXPECT_EQ(app.lastOutcome().recordsPosted, 3u);
  EXPECT_FALSE(fs::exists(root_ / "work" / "BlackBerry.zip"));  // an .ipd is read in place
  EXPECT_TRUE(fs::is_empty(app.runFolder()));
}

TEST_F(ControllerTest, EachScanStartsWithFreshWorkingLists) {
  fs::path ipd = writeMemoBackup(root_ / "memos.ipd", 1);
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.ScanIOSBackFile(ipd.string());
  app.waitForScan();
  ASSERT_EQ(app.blackberryDatabaseArray().size(), 1u);  // kept after the scan for lookups
  EXPECT_EQ(app.blackberryDatabaseArray()[0]->databaseName, "Memos");

  // The end-of-scan hook runs before the clean-up, which empties the lists it fills.
  app.scanThreadFinish = [&app] {
    app.scanContext().contactArray.push_back(std::make_shared<PRContactNode>());
    app.noteArray().push_back(std::make_shared<PRNoteNode>());
    app.contactImageArray().push_back(std::make_shared<PRContactImageNode>());
  };
  app.ScanIOSBackFile((root_ / "absent.ipd").string());
  app.waitForScan();
  EXPECT_TRUE(app.blackberryDatabaseArray().empty());  // not the previous backup's table
  EXPECT_TRUE(app.scanContext().contactArray.empty());
  EXPECT_TRUE(app.noteArray().empty());
  EXPECT_TRUE(app.contactImageArray().empty());
}

TEST_F(ControllerTest, WindowsArchiveTakesTheFolderPath) {
  fixtures::IpdWriter w;
  uint16_t db = w.addDatabase("Memos");
  w.addRecord(db, {fixtures::textField(1, "from windows")});
  fs::path bbb = root_ / "win.bbb";
  fixtures::writeZip(bbb, {{"Databases/1.dat", w.bytes()}});
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.openPanelDidEnd(bbb.string(), 1);
  app.waitForScan();
  BackupScanOutcome o = app.lastOutcome();
  EXPECT_TRUE(o.readable) << o.error;
  EXPECT_TRUE(o.windowsLayout);
  auto lists = app.resultViewController()->snapshot();
  ASSERT_EQ(lists.bbNoteArray.size(), 1u);
  EXPECT_EQ(lists.bbNoteArray[0]->noteTittle, "from windows");
  // Unpacked into the run's own folder, which lives as long as the results.
  EXPECT_FALSE(fs::exists(root_ / "work" / "BlackBerry.zip"));
  const fs::path run = app.runFolder();
  EXPECT_EQ(run.parent_path(), root_ / "work");
  EXPECT_TRUE(fs::exists(run / "Databases" / "1.dat"));
  app.showMainView();  // Home: the results and the run folder go
  EXPECT_FALSE(fs::exists(run));
}

// Closing the program while a scan runs: the worker is asked to stop, still reaches its
// finishing step once, and everything it touches outlives it.
TEST_F(ControllerTest, DestroyedDuringAScan) {
  fs::path ipd = writeMemoBackup(root_ / "many.ipd", 2000);
  int finished = 0;
  {
    OrliskAppDelegate app(nullptr, root_ / "work");
    app.scanThreadFinish = [&] { ++finished; };
    app.openPanelDidEnd(ipd.string(), 1);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(OrliskAppDelegate::GetAppControllor(), nullptr);
}

// A Mac-layout .bbb whose memos are all titled `title`.
fs::path writeMemoArchive(const fs::path& path, const std::string& title, int memos) {
  fixtures::IpdWriter w;
  uint16_t db = w.addDatabase("Memos");
  for (int i = 0; i < memos; ++i) w.addRecord(db, {fixtures::textField(1, title)});
  fixtures::writeMacBbb(path, w.bytes());
  return path;
}

std::vector<std::string> memoTitles(OrliskAppDelegate& app) {
  std::vector<std::string> titles;
  for (const auto& n : app.resultViewController()->snapshot().bbNoteArray) {
    titles.push_back(n->noteTittle);
  }
  return titles;
}

// Two scans that share the work folder never see each other's backup: each run unpacks into
// a folder of its own. (With one fixed unpack folder they swapped archives.)
TEST_F(ControllerTest, ParallelScansSharingTheWorkFolderKeepTheirOwnRecords) {
  const fs::path work = root_ / "work";
  const fs::path first = writeMemoArchive(root_ / "first.bbb", "first", 40);
  const fs::path second = writeMemoArchive(root_ / "second.bbb", "second", 25);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    OrliskAppDelegate a(nullptr, work), b(nullptr, work);
    a.applicationDidFinishLaunching();
    ASSERT_TRUE(a.ScanIOSBackFile(first.string()));
    b.applicationDidFinishLaunching();
    ASSERT_TRUE(b.ScanIOSBackFile(second.string()));
    a.waitForScan();
    b.waitForScan();
    EXPECT_TRUE(a.lastOutcome().readable) << a.lastOutcome().error;
    EXPECT_TRUE(b.lastOutcome().readable) << b.lastOutcome().error;
    EXPECT_EQ(memoTitles(a), std::vector<std::string>(40, "first"));
    EXPECT_EQ(memoTitles(b), std::vector<std::string>(25, "second"));
    EXPECT_NE(a.runFolder(), b.runFolder());
  }
  // Every run folder went with its controller.
  EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 0);
}

// The input is never removed by a clean-up, even when it sits in the work folder under the
// names older versions used for their own files.
TEST_F(ControllerTest, InputInTheWorkFolderUnderLegacyNamesIsKept) {
  const fs::path work = root_ / "work";
  fs::create_directories(work / "Databases");
  writeMemoArchive(work / "BlackBerry.zip", "zip", 2);
  writeMemoBackup(work / "Databases" / "Databases.ipd", 3);
  struct Case {
    fs::path input;
    size_t records;
  };
  for (const Case& c :
       {Case{work / "BlackBerry.zip", 2}, Case{work / "Databases" / "Databases.ipd", 3}}) {
    SCOPED_TRACE(c.input);
    OrliskAppDelegate app(nullptr, work);
    app.applicationDidFinishLaunching();
    ASSERT_TRUE(app.ScanIOSBackFile(c.input.string()));
    OrliskAppDelegate other(nullptr, work);
    other.applicationDidFinishLaunching();
    app.waitForScan();
    EXPECT_TRUE(app.lastOutcome().readable) << app.lastOutcome().error;
    EXPECT_EQ(memoTitles(app).size(), c.records);
    app.showMainView();
    EXPECT_TRUE(fs::exists(c.input));
  }
}

// A file chosen from inside an abandoned run folder: the folder stays while that scan lives,
// whichever controller cleans up; it goes once the results are dropped.
TEST_F(ControllerTest, RunFolderHoldingALiveInputIsKept) {
  const fs::path work = root_ / "work";
  const fs::path stale = work / "run-stale";
  fs::create_directories(stale);
  const fs::path input = writeMemoBackup(stale / "copy.ipd", 1);
  fs::create_directory_symlink(stale, root_ / "link");
  OrliskAppDelegate app(nullptr, work);
  ASSERT_TRUE(app.ScanIOSBackFile((root_ / "link" / "copy.ipd").string()));
  app.waitForScan();
  OrliskAppDelegate other(nullptr, work);
  other.applicationDidFinishLaunching();
  EXPECT_TRUE(fs::exists(input));
  EXPECT_EQ(memoTitles(app).size(), 1u);
  app.showMainView();
  other.applicationDidFinishLaunching();
  EXPECT_FALSE(fs::exists(stale));
}

// A listed phone backup is the user's even where a run folder would be: in the work folder
// under a run folder's name, or inside a folder with one. The start-up clean-up keeps it.
TEST_F(ControllerTest, StartUpKeepsListedBackupsThatLookLikeRunFolders) {
  const fs::path work = root_ / "work";
  const struct {
    fs::path root;  // the backup root
    fs::path backup;
  } cases[] = {
      {work, work / "run-0a1b2c"},
      {work / "run-abc123", work / "run-abc123" / "0a1b2c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.backup);
    fs::remove_all(work);
    testing::writeSampleBackup(c.backup);
    fs::create_directories(work / "run-crashed");
    OrliskAppDelegate app(nullptr, work);
    app.setBackupRoot(c.root);
    app.applicationDidFinishLaunching();
    ASSERT_EQ(app.deviceController.count(), 1u);
    EXPECT_TRUE(fs::exists(c.backup / "Info.plist"));
    EXPECT_FALSE(fs::exists(work / "run-crashed"));  // an abandoned run folder still goes
  }
}

// Stop ends the derivation of an encrypted backup's key between two chunks of rounds, not
// after the keybag's (however many) rounds.
TEST_F(ControllerTest, StopEndsTheKeyDerivation) {
  testing::SampleBackupOptions sample;
  sample.layout = testing::IosBackupWriter::Layout::subfolders;
  sample.index = testing::IosBackupWriter::Index::manifestDb;
  testing::writeSampleBackup(root_ / "clear", sample);
  const testing::EncryptionOptions options;
  const testing::EncryptedBackup enc =
      testing::encryptBackup(root_ / "clear", root_ / "encrypted", options);
  // The most rounds a keybag may ask for.
  std::string bag = enc.keybag;
  const std::string rounds = testing::keybagNumber("DPIC", options.dpIterations);
  ASSERT_NE(bag.find(rounds), std::string::npos);
  bag.replace(bag.find(rounds), rounds.size(), testing::keybagNumber("DPIC", 20000000));
  testing::replaceKeybag(enc.folder, bag);

  OrliskAppDelegate app(nullptr, root_ / "work");
  std::promise<void> deriving;
  std::atomic<bool> told{false};
  app.preparationProgress = [&](std::string_view stage, uint64_t done, uint64_t) {
    if (stage == kDerivingStage && done > 0 && !told.exchange(true)) deriving.set_value();
  };
  app.setBackupPassword(options.password);
  ASSERT_TRUE(app.ScanIOSBackFile(enc.folder.string()));
  deriving.get_future().wait();
  app.stopScan();
  app.waitForScan();
  EXPECT_NE(app.lastOutcome().error.find("stopped while deriving"), std::string::npos)
      << app.lastOutcome().error;
}

// The run folder of a live run is locked: another controller's start-up clean-up leaves it
// (and what was unpacked into it) alone; Home removes it.
TEST_F(ControllerTest, LiveRunFolderSurvivesAnotherControllersCleanUp) {
  const fs::path work = root_ / "work";
  const fs::path bbb = writeMemoArchive(root_ / "memos.bbb", "kept", 3);
  OrliskAppDelegate app(nullptr, work);
  ASSERT_TRUE(app.ScanIOSBackFile(bbb.string()));
  app.waitForScan();
  const fs::path run = app.runFolder();
  ASSERT_TRUE(fs::exists(run / "Databases" / "Databases.ipd"));
  {
    OrliskAppDelegate other(nullptr, work);
    other.applicationDidFinishLaunching();
  }
  EXPECT_TRUE(fs::exists(run / "Databases" / "Databases.ipd"));
  EXPECT_EQ(memoTitles(app).size(), 3u);
  app.showMainView();
  EXPECT_FALSE(fs::exists(run));
}

// While a worker of the previous scan lives, a new scan is refused (not queued behind it,
// and the previous run's lists and folder are left alone); Home lets the worker end first.
TEST_F(ControllerTest, NewScanIsRefusedWhileTheWorkerLives) {
  const fs::path bbb = writeMemoArchive(root_ / "memos.bbb", "memo", 2);
  const fs::path ipd = writeMemoBackup(root_ / "other.ipd", 1);
  OrliskAppDelegate app(nullptr, root_ / "work");
  std::promise<void> reached, release;
  std::future<void> reachedFuture = reached.get_future();
  std::shared_future<void> released = release.get_future().share();
  app.scanThreadFinish = [&reached, released] {
    reached.set_value();
    released.wait();
  };
  ASSERT_TRUE(app.ScanIOSBackFile(bbb.string()));
  reachedFuture.wait();
  const fs::path run = app.runFolder();
  EXPECT_FALSE(app.ScanIOSBackFile(ipd.string()));
  EXPECT_FALSE(app.openPanelDidEnd(ipd.string(), 1));
  EXPECT_TRUE(app.scanRunning());
  EXPECT_EQ(app.runFolder(), run);
  app.showMainView();  // Home while the worker still runs: the folder waits for it
  EXPECT_TRUE(fs::exists(run));
  EXPECT_FALSE(app.ScanIOSBackFile(ipd.string()));
  release.set_value();
  app.waitForScan();
  EXPECT_FALSE(fs::exists(run));
  app.scanThreadFinish = nullptr;
  EXPECT_TRUE(app.openPanelDidEnd(ipd.string(), 1));
  app.waitForScan();
  EXPECT_TRUE(app.lastOutcome().readable);
  EXPECT_EQ(app.lastOutcome().recordsPosted, 1u);
}

TEST_F(ControllerTest, TheSelectedBackupIsScannedNotTheFirst) {
  const fs::path backups = root_ / "backups";
  testing::SampleBackupOptions first;
  first.firstName = "Anna";
  first.version = "5.1.1";
  testing::writeSampleBackup(backups / "a-first", first);
  testing::SampleBackupOptions second;
  second.firstName = "Zora";
  second.version = "6.1.3";
  testing::writeSampleBackup(backups / "b-second", second);

  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  app.setBackupRoot(backups);
  app.applicationDidFinishLaunching();
  ASSERT_EQ(app.deviceController.count(), 2u);
  EXPECT_EQ(view.listed, 2u);
  EXPECT_EQ(view.listedRoot, backups.string());
  EXPECT_FALSE(app.actScanIOSBackupFile(2));
  ASSERT_TRUE(app.actScanIOSBackupFile(1));
  app.waitForScan();
  EXPECT_EQ(app.currentNode, app.deviceController.at(1));
  EXPECT_TRUE(app.currentNodeIsiOS6Version);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"size:scan", "hide", "result"}));
  const BackupScanOutcome o = app.lastOutcome();
  ASSERT_TRUE(o.readable) << o.error;
  EXPECT_EQ(o.source, "iPhone backup");
  const ResultLists lists = app.resultViewController()->snapshot();
  ASSERT_FALSE(lists.contactArray.empty());
  for (const auto& c : lists.contactArray) {
    EXPECT_EQ(c->contactName.find("Anna"), std::string::npos) << "the first backup was scanned";
  }
  EXPECT_NE(lists.contactArray.front()->contactName.find("Zora"), std::string::npos);

  // The first row sets the flag from its own version.
  ASSERT_TRUE(app.actScanIOSBackupFile(0));
  app.waitForScan();
  EXPECT_EQ(app.currentNode, app.deviceController.at(0));
  EXPECT_FALSE(app.currentNodeIsiOS6Version);

  // A backup made while the program was open is listed on the way Home.
  testing::writeSampleBackup(backups / "third");
  app.showMainView();
  EXPECT_EQ(app.deviceController.count(), 3u);
  EXPECT_EQ(view.listed, 3u);
}

// The result screen names what is scanned: a phone backup by its device's name, whether
// listed or chosen as a folder; other inputs by their path.
TEST_F(ControllerTest, ScanSourceNamesThePhone) {
  const fs::path backups = root_ / "backups";
  testing::SampleBackupOptions listed;
  listed.deviceName = "Zora's iPhone";
  testing::writeSampleBackup(backups / "0a1b2c", listed);
  testing::SampleBackupOptions chosen;
  chosen.deviceName = "Work phone";
  testing::writeSampleBackup(root_ / "elsewhere" / "9f8e7d", chosen);
  fixtures::IpdWriter w;
  w.addRecord(w.addDatabase("Memos"), {fixtures::textField(1, "found")});
  const fs::path ipd = root_ / "old.ipd";
  w.writeFile(ipd);

  RecordingView view;
  OrliskAppDelegate app(&view, root_ / "work");
  app.setBackupRoot(backups);
  app.applicationDidFinishLaunching();
  ASSERT_TRUE(app.actScanIOSBackupFile(0));
  app.waitForScan();
  EXPECT_EQ(app.scanSourceName(), "Zora's iPhone");
  ASSERT_TRUE(app.openPanelDidEnd((root_ / "elsewhere" / "9f8e7d").string(), 1));
  app.waitForScan();
  EXPECT_EQ(app.scanSourceName(), "Work phone");
  ASSERT_TRUE(app.openPanelDidEnd(ipd.string(), 1));
  app.waitForScan();
  EXPECT_EQ(app.scanSourceName(), "");
  EXPECT_EQ(app.scanSourcePath(), ipd.string());
}

}  // namespace
}  // namespace tamsel
