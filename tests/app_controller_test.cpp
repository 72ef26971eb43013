#include "app/orlisk_app_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/work_folder.h"
#include "events/notification_names.h"
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
  std::vector<std::string> calls;
  std::string hint, pictures;
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

TEST_F(ControllerTest, NonZipArchiveIsReportedAndNothingIsPosted) {
  fs::path bbb = root_ / "bad.bbb";
  std::ofstream(bbb) << "garbage";
  OrliskAppDelegate app(nullptr, root_ / "work");
  int posts = 0;
  app.nc.addObserver(notify::kBlackBerrySMSMessageInfo, [&](const Notification&) { ++posts; });
  app.ScanIOSBackFile(bbb.string());
  app.waitForScan();
  EXPECT_FALSE(app.lastOutcome().readable);
  EXPECT_NE(app.lastOutcome().error.find("not a ZIP archive"), std::string::npos);
  EXPECT_EQ(posts, 0);
}

TEST_F(ControllerTest, ArchiveWithoutDatabasesIsNotABackup) {
  fs::path bbb = root_ / "other.bbb";
  fixtures::writeZip(bbb, {{"readme.txt", fixtures::bytesOf("hello")}});
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.ScanIOSBackFile(bbb.string());
  app.waitForScan();
  EXPECT_FALSE(app.lastOutcome().readable);
  EXPECT_NE(app.lastOutcome().error.find("holds no BlackBerry databases"), std::string::npos);
}

TEST_F(ControllerTest, FileWithoutIpdHeaderIsNotABackup) {
  fs::path ipd = root_ / "notes.ipd";
  std::ofstream(ipd) << std::string(200, 'z');
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.ScanIOSBackFile(ipd.string());
  app.waitForScan();
  EXPECT_FALSE(app.lastOutcome().readable);
  EXPECT_NE(app.lastOutcome().error.find("not a BlackBerry backup"), std::string::npos);
}

TEST_F(ControllerTest, StartUpRemovesOnlyThePreviousRunsWorkFiles) {
  fs::path work = root_ / "work";
  fs::create_directories(work / "Databases" / "sub");
  std::ofstream(work / "Databases" / "sub" / "1.dat") << "x";
  std::ofstream(work / "BlackBerry_Backup.xml") << "x";
  std::ofstream(work / "BlackBerry.zip") << "x";
  std::ofstream(work / "keep.txt") << "x";
  OrliskAppDelegate app(nullptr, work);
  app.applicationDidFinishLaunching();
  EXPECT_FALSE(fs::exists(work / "Databases"));
  EXPECT_FALSE(fs::exists(work / "BlackBerry_Backup.xml"));
  EXPECT_FALSE(fs::exists(work / "BlackBerry.zip"));
  EXPECT_TRUE(fs::exists(work / "keep.txt"));
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
}

TEST_F(ControllerTest, EachScanStartsWithFreshWorkingLists) {
  fs::path ipd = writeMemoBackup(root_ / "memos.ipd", 1);
  OrliskAppDelegate app(nullptr, root_ / "work");
  app.ScanIOSBackFile(ipd.string());
  app.waitForScan();
  ASSERT_EQ(app.blackberryDatabaseArray.size(), 1u);  // kept after the scan for lookups
  EXPECT_EQ(app.blackberryDatabaseArray[0]->databaseName, "Memos");

  // The end-of-scan hook runs before the clean-up, which empties the lists it fills.
  app.scanThreadFinish = [&app] {
    app.scanContext().contactArray.push_back(std::make_shared<PRContactNode>());
    app.noteArray.push_back(std::make_shared<PRNoteNode>());
    app.contactImageArray.push_back(std::make_shared<PRContactImageNode>());
  };
  app.ScanIOSBackFile((root_ / "absent.ipd").string());
  app.waitForScan();
  EXPECT_TRUE(app.blackberryDatabaseArray.empty());  // not the previous backup's table
  EXPECT_TRUE(app.scanContext().contactArray.empty());
  EXPECT_TRUE(app.noteArray.empty());
  EXPECT_TRUE(app.contactImageArray.empty());
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
  EXPECT_TRUE(fs::exists(root_ / "work" / "BlackBerry.zip"));
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

}  // namespace
}  // namespace tamsel
