// The phone-backup source: which folders it claims, the order of its steps, an encrypted or
// unreadable backup, and stopping between steps. (The backup folder left byte for byte as it
// was: the command-line tests.)
#include "ios/iphone_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/scan_sources.h"
#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "tests/fixtures/ios_call_store_writer.h"
#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/zip_writer.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::IosBackupWriter;
using testing::SampleBackupOptions;
using testing::TempFolder;
using testing::writeSampleBackup;

// Every notification of a scan, in order: its name and, for progress, the number.
struct Recorder {
  explicit Recorder(NotificationCenter& nc) : nc_(nc) {
    for (std::string_view name :
         {notify::kScanPhotoAndVideo, notify::kScanPhotoAndVideoInfo, notify::kScanFaceTwitterInfo,
          notify::kScanContactInfo, notify::kScanMessageInfo, notify::kScanCallHistoryInfo,
          notify::kScanNoteInfo, notify::kScanBookMarkInfo, notify::kScanCalenderInfo,
          notify::kScanDelContactInfo, notify::kScanDelMessageInfo, notify::kScanDelNoteInfo,
          notify::kScanDelCallHistoryInfo, notify::kScanDelBookMarkInfo,
          notify::kScanDelCalenderInfo, notify::kScanProgressInfo}) {
      nc_.addObserver(this, name, [this](const Notification& n) {
        names.emplace_back(n.name);
        if (n.name == notify::kScanProgressInfo) progress.push_back(n.number(-1));
        if (n.record<PRNode>()) ++records;
      });
    }
  }
  ~Recorder() { nc_.removeObserver(this); }
  size_t count(std::string_view name) const {
    return static_cast<size_t>(std::count(names.begin(), names.end(), name));
  }
  NotificationCenter& nc_;
  std::vector<std::string> names;
  std::vector<int64_t> progress;
  uint64_t records = 0;
};

class IphoneSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = setLogSink({}); }
  void TearDown() override { setLogSink(previous_); }
  // Each scan gets a run folder of its own, as the controller gives it.
  ScanOutcome scan(const fs::path& folder, ScanContext& ctx) {
    runDir_ = t_.path() / ("run" + std::to_string(++runs_));
    fs::create_directories(runDir_);
    ctx.runDir = runDir_;
    return IphoneBackupSource().scan(folder.string(), ctx);
  }
  TempFolder t_;
  fs::path runDir_;
  int runs_ = 0;
  LogSink previous_;
};

TEST_F(IphoneSourceTest, FoldersAreChosenByTheBackupFilesTheyHold) {
  const fs::path root = t_.path();
  auto folderWith = [&](const std::string& name, const std::string& file) {
    fs::create_directories(root / name);
    if (!file.empty()) testing::writeWholeFile(root / name / file, "x");
    return (root / name).string();
  };
  fs::create_directories(root / "dirnamed" / "Manifest.db");  // a folder, not the index
  fixtures::writeMacBbb(root / "archive.bbb", fixtures::bytesOf("Inter@ctive Pager Backup"));
  const struct {
    std::string path;
    std::string source;  // "" : not chosen
  } cases[] = {
      {folderWith("mbdb", "Manifest.mbdb"), "iPhone backup"},
      {folderWith("db", "Manifest.db"), "iPhone backup"},
      {folderWith("info", "Info.plist"), "iPhone backup"},
      {folderWith("manifest", "Manifest.plist"), "iPhone backup"},
      {folderWith("empty", ""), ""},
      {folderWith("other", "Status.plist"), ""},
      {(root / "dirnamed").string(), ""},
      {(root / "archive.bbb").string(), "BlackBerry .bbb archive"},
  };
  const ScanSources sources = makeScanSources([] { return nullptr; });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const SourceChoice choice = chooseScanSource(sources, c.path);
    if (c.source.empty()) {
      EXPECT_EQ(choice.source, nullptr);
      EXPECT_NE(choice.error.find("holds no backup"), std::string::npos) << choice.error;
    } else {
      ASSERT_NE(choice.source, nullptr) << choice.error;
      EXPECT_EQ(choice.source->name(), c.source);
    }
  }
  EXPECT_FALSE(looksLikePhoneBackup((root / "mbdb" / "Manifest.mbdb").string()));
}

TEST_F(IphoneSourceTest, StepsPostInTheOrderOfTheirProgressValues) {
  for (auto index : {IosBackupWriter::Index::mbdb, IosBackupWriter::Index::manifestDb}) {
    SCOPED_TRACE(index == IosBackupWriter::Index::mbdb ? "mbdb" : "Manifest.db");
    TempFolder backup;
    SampleBackupOptions options;
    options.layout = index == IosBackupWriter::Index::mbdb ? IosBackupWriter::Layout::flat
                                                           : IosBackupWriter::Layout::subfolders;
    options.index = index;
    const auto sample = writeSampleBackup(backup.path(), options);
    NotificationCenter nc;
    ScanContext ctx(nc);
    Recorder rec(nc);
    const ScanOutcome o = scan(backup.path(), ctx);
    ASSERT_TRUE(o.readable) << o.error;
    EXPECT_TRUE(o.warnings.empty()) << o.warnings.front();
    EXPECT_EQ(o.recordsPosted, rec.records);
    EXPECT_TRUE(ctx.currentNodeIsiOS6Version);
    EXPECT_EQ(ctx.iosMajorVersion, 6);

    // Records arrive step by step: media, contacts, messages, calls, notes, bookmarks,
    // calendar.
    const std::vector<std::string_view> order = {
        notify::kScanPhotoAndVideo,   notify::kScanContactInfo, notify::kScanMessageInfo,
        notify::kScanCallHistoryInfo, notify::kScanNoteInfo,    notify::kScanBookMarkInfo,
        notify::kScanCalenderInfo};
    size_t step = 0;
    for (const std::string& name : rec.names) {
      auto it = std::find(order.begin(), order.end(), name);
      if (it == order.end()) continue;
      const size_t at = static_cast<size_t>(it - order.begin());
      EXPECT_GE(at, step) << name << " after a later step";
      step = std::max(step, at);
    }
    EXPECT_EQ(rec.count(notify::kScanPhotoAndVideo), sample.photos);
    EXPECT_EQ(rec.count(notify::kScanFaceTwitterInfo), sample.appFiles);
    EXPECT_EQ(rec.count(notify::kScanContactInfo), sample.contacts);
    EXPECT_EQ(rec.count(notify::kScanMessageInfo), sample.messages);
    EXPECT_EQ(rec.count(notify::kScanCallHistoryInfo), sample.calls);
    EXPECT_EQ(rec.count(notify::kScanNoteInfo), sample.notes);
    EXPECT_EQ(rec.count(notify::kScanBookMarkInfo), sample.bookmarks);
    EXPECT_EQ(rec.count(notify::kScanCalenderInfo), sample.calendar);

    // Progress: the index's 0..20 (never falling, up to 20 as its last entry is a wanted
    // one), the folder listing's counter from 1, then 40, 50, 60, 70 and the deleted-record
    // steps' 75 to 100.
    const std::vector<int64_t>& p = rec.progress;
    ASSERT_GE(p.size(), 11u);
    const std::vector<int64_t> tail(p.end() - 10, p.end());
    EXPECT_EQ(tail, (std::vector<int64_t>{40, 50, 60, 70, 75, 80, 85, 90, 95, 100}));
    size_t i = 0;
    for (int64_t last = 0; i < p.size() - 10 && p[i] >= last && p[i] <= 20; ++i) last = p[i];
    ASSERT_GT(i, 0u) << "no index progress";
    for (int64_t expect = 1; i < p.size() - 10; ++i, ++expect) EXPECT_EQ(p[i], expect);
  }
}

TEST_F(IphoneSourceTest, EncryptedBackupIsRefusedAndPostsNothing) {
  TempFolder backup;
  SampleBackupOptions options;
  options.encrypted = true;
  writeSampleBackup(backup.path(), options);
  NotificationCenter nc;
  ScanContext ctx(nc);
  Recorder rec(nc);
  const ScanOutcome o = scan(backup.path(), ctx);
  EXPECT_FALSE(o.readable);
  EXPECT_EQ(o.error, backup.path().string() +
                         ": this backup is encrypted; its password is needed to read it");
  EXPECT_TRUE(rec.names.empty());
  EXPECT_TRUE(fs::is_empty(runDir_)) << "nothing is copied from an encrypted backup";
}

TEST_F(IphoneSourceTest, UnreadableIndexAndDatabasesAreReported) {
  // Property lists only: nothing to read at all.
  TempFolder bare;
  IosBackupWriter(bare.path(), IosBackupWriter::Layout::flat, IosBackupWriter::Index::none)
      .writeInfoPlist({{"Device Name", "x"}, {"Product Version", "7.0"}});
  testing::writeWholeFile(bare.path() / "Status.plist", "x");
  {
    NotificationCenter nc;
    ScanContext ctx(nc);
    const ScanOutcome o = scan(bare.path(), ctx);
    EXPECT_FALSE(o.readable);
    EXPECT_NE(o.error.find("not a readable phone backup"), std::string::npos) << o.error;
  }
  // A damaged index and a message database that is no database: the rest is still read.
  TempFolder damaged;
  const auto sample = writeSampleBackup(damaged.path());
  testing::writeWholeFile(damaged.path() / "Manifest.mbdb", std::string("mbdb\x04\x00", 6));
  testing::writeWholeFile(damaged.path() / std::string(stored::kMessages.name),
                          std::string(4096, 'z'));
  NotificationCenter nc;
  ScanContext ctx(nc);
  Recorder rec(nc);
  const ScanOutcome o = scan(damaged.path(), ctx);
  ASSERT_TRUE(o.readable) << o.error;
  EXPECT_TRUE(o.damaged());
  auto warned = [&](const std::string& what) {
    return std::any_of(o.warnings.begin(), o.warnings.end(),
                       [&](const std::string& w) { return w.find(what) != std::string::npos; });
  };
  EXPECT_TRUE(warned("index")) << ::testing::PrintToString(o.warnings);
  EXPECT_TRUE(warned("messages database")) << ::testing::PrintToString(o.warnings);
  EXPECT_EQ(rec.count(notify::kScanContactInfo), sample.contacts);
  EXPECT_EQ(rec.count(notify::kScanMessageInfo), 0u);
  EXPECT_EQ(rec.count(notify::kScanPhotoAndVideo), 0u);
}

// A folder without an index whose only database is a newer phone's call store is still a
// backup to read.
TEST_F(IphoneSourceTest, CallStoreAloneIsReadable) {
  TempFolder backup;
  IosBackupWriter(backup.path(), IosBackupWriter::Layout::flat, IosBackupWriter::Index::none)
      .writeInfoPlist({{"Device Name", "x"}, {"Product Version", "14.3"}});
  fixtures::CallStoreRow call;
  call.address = "+15551234567";
  call.date = 600000000;
  call.duration = 42.7;
  call.originated = 1;
  fixtures::writeCallStore(backup.path() / std::string(stored::kCallHistoryStore.name), {call});
  NotificationCenter nc;
  ScanContext ctx(nc);
  Recorder rec(nc);
  const ScanOutcome o = scan(backup.path(), ctx);
  ASSERT_TRUE(o.readable) << o.error;
  EXPECT_EQ(rec.count(notify::kScanCallHistoryInfo), 1u);
}

// An index that ends inside a record: the entries before it are listed, and the outcome says
// the rest is missing (partial results, not a silent shortfall).
TEST_F(IphoneSourceTest, IndexCutShortIsReported) {
  TempFolder backup;
  const auto sample = writeSampleBackup(backup.path());
  const fs::path index = backup.path() / "Manifest.mbdb";
  const std::string whole = testing::readWholeFile(index);
  testing::writeWholeFile(index, whole.substr(0, whole.size() - 3));
  NotificationCenter nc;
  ScanContext ctx(nc);
  Recorder rec(nc);
  const ScanOutcome o = scan(backup.path(), ctx);
  ASSERT_TRUE(o.readable) << o.error;
  EXPECT_TRUE(o.damaged());
  ASSERT_EQ(o.warnings.size(), 1u) << ::testing::PrintToString(o.warnings);
  EXPECT_NE(o.warnings[0].find("Manifest.mbdb is cut short"), std::string::npos) << o.warnings[0];
  EXPECT_EQ(rec.count(notify::kScanContactInfo), sample.contacts);
}

// The contact pictures are read with the address book only: without it, their database is
// left alone and that is no damage.
TEST_F(IphoneSourceTest, PicturesWithoutAnAddressBookAreNoWarning) {
  TempFolder backup;
  IosBackupWriter w(backup.path());
  w.writeInfoPlist({{"Device Name", "x"}, {"Product Version", "6.0"}});
  ASSERT_TRUE(testing::writePictureDatabase(
      w.pathFor("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb"), {{1, {1, 2}}},
      false));
  w.finish();
  NotificationCenter nc;
  ScanContext ctx(nc);
  const ScanOutcome o = scan(backup.path(), ctx);
  ASSERT_TRUE(o.readable) << o.error;
  EXPECT_TRUE(o.warnings.empty()) << ::testing::PrintToString(o.warnings);
}

TEST_F(IphoneSourceTest, StopIsHonouredBetweenSteps) {
  TempFolder backup;
  const auto sample = writeSampleBackup(backup.path());
  NotificationCenter nc;
  ScanContext ctx(nc);
  Recorder rec(nc);
  // The stop arrives as the contact step ends.
  nc.addObserver(&ctx, notify::kScanProgressInfo, [&ctx](const Notification& n) {
    if (n.number() == 40) ctx.stopRequested = true;
  });
  const ScanOutcome o = scan(backup.path(), ctx);
  nc.removeObserver(&ctx);
  EXPECT_TRUE(o.readable);
  EXPECT_EQ(rec.count(notify::kScanContactInfo), sample.contacts);
  for (std::string_view later :
       {notify::kScanMessageInfo, notify::kScanCallHistoryInfo, notify::kScanNoteInfo,
        notify::kScanBookMarkInfo, notify::kScanCalenderInfo}) {
    EXPECT_EQ(rec.count(later), 0u) << later;
  }
  EXPECT_EQ(rec.progress.back(), 40);
  EXPECT_TRUE(o.warnings.empty()) << "a stop is no damage";
}

TEST(IphoneVersion, SixAndTheMajorNumberAreTheFirstPiece) {
  const struct {
    const char* version;
    bool six;
    int major;
  } cases[] = {
      {"6.1.3", true, 6}, {"6", true, 6},      {"5.1.1", false, 5}, {"16.0", false, 16},
      {"", false, 0},     {"60.1", false, 60}, {"x.1", false, 0},   {"99999999999.0", false, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(isIos6Version(c.version), c.six) << c.version;
    EXPECT_EQ(majorVersion(c.version), c.major) << c.version;
  }
}

}  // namespace
}  // namespace tamsel
