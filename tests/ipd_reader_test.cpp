// The IPD container walk and the Windows layout, on files built by the fixture writer and
// on a real backup.
#include "blackberry/ipd_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "events/notification_names.h"
#include "tests/fixtures/blackberry_collector.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/testdata.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using fixtures::byteField;
using fixtures::ByteVec;
using fixtures::IpdWriter;
using fixtures::textField;

class IpdReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("tamsel_ipd_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Reads `bytes` as an IPD file held in memory.
  void readBytes(const ByteVec& bytes) {
    ByteSource src = ByteSource::fromBytes(bytes);
    EXPECT_TRUE(reader.scanBlackBerryBackUp(src));
    size = bytes.size();
  }

  static void expectProgressRisesTo100(const std::vector<int64_t>& p) {
    ASSERT_FALSE(p.empty());
    for (size_t i = 1; i < p.size(); ++i) EXPECT_GT(p[i], p[i - 1]) << "at " << i;
    EXPECT_GE(p.front(), 0);
    EXPECT_EQ(p.back(), 100);
  }

  fs::path dir_;
  NotificationCenter nc;
  ScanContext ctx{nc};
  fixtures::BlackBerryCollector got{nc};
  IpdReader reader{ctx};
  uint64_t size = 0;
};

// The real backup: one database, "SMS Messages", three received messages. Compared with the
// decoding another project made of the same file (Sample.csv: uid, sent, received, sent?,
// number, text).
TEST_F(IpdReaderTest, RealSampleGivesAllThreeMessages) {
  TAMSEL_REQUIRE_TESTDATA("blackberry/Sample.ipd");
  const std::string base = std::string(TAMSEL_TESTDATA_DIR) + "/blackberry/";
  ASSERT_TRUE(reader.scanBlackBerryBackUpThread(base + "Sample.ipd")) << reader.lastError;
  EXPECT_TRUE(IpdReader::hasIpdHeader(base + "Sample.ipd"));
  ASSERT_EQ(reader.blackberryDatabaseArray.size(), 1u);
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(0), "SMS Messages");

  std::ifstream csv(base + "Sample.csv");
  std::string line;
  std::getline(csv, line);                                    // column names
  std::vector<std::pair<std::string, std::string>> expected;  // number, text
  while (std::getline(csv, line)) {
    if (line.empty()) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, ',');) cols.push_back(c);
    ASSERT_EQ(cols.size(), 6u) << line;
    EXPECT_EQ(cols[3], "false");  // received, not sent
    expected.emplace_back(cols[4], cols[5].substr(1, cols[5].size() - 2));
  }
  ASSERT_EQ(expected.size(), 3u);
  ASSERT_EQ(got.sms.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(got.sms[i]->numberString, expected[i].first);
    EXPECT_EQ(got.sms[i]->contentText, expected[i].second);
    EXPECT_EQ(got.sms[i]->type, "Incoming");
  }
  // "received" times 08:30:46, 08:32:49 and 08:33:59 EET (UTC+2) on 9 March 2006.
  EXPECT_EQ(got.sms[0]->dateTime, "03-09-2006 06:30");
  EXPECT_EQ(got.sms[1]->dateTime, "03-09-2006 06:32");
  EXPECT_EQ(got.sms[2]->dateTime, "03-09-2006 06:33");
  EXPECT_EQ(reader.stats.recordsRead, 3u);
  EXPECT_EQ(reader.stats.recordsPosted, 3u);
  EXPECT_FALSE(reader.stats.truncated);
  EXPECT_EQ(reader.bbOffSet, fs::file_size(base + "Sample.ipd"));
  expectProgressRisesTo100(got.progress);
}

TEST_F(IpdReaderTest, OtherRealBackupPostsNothing) {
  TAMSEL_REQUIRE_TESTDATA("blackberry/foo.ipd");
  const std::string path = std::string(TAMSEL_TESTDATA_DIR) + "/blackberry/foo.ipd";
  ASSERT_TRUE(reader.scanBlackBerryBackUpThread(path));
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(0), "Service Book");
  EXPECT_EQ(got.recordCount(), 0u);
  EXPECT_EQ(reader.stats.recordsSkipped, 1u);
  EXPECT_FALSE(reader.stats.truncated);
}

TEST_F(IpdReaderTest, DatabaseNamesAreLoggedInDetail) {
  std::vector<std::string> lines;
  auto previous = setLogSink([&lines](std::string_view l) { lines.emplace_back(l); });
  setDebugLogging(true);
  IpdWriter w;
  w.addDatabase("Memos");
  w.addDatabase("SMS Messages");
  readBytes(w.bytes());
  IpdWriter win;
  win.addDatabase("Calendar - All");
  reader.AnalyWinbackup(ByteSource::fromBytes(win.bytes()));
  setDebugLogging(false);
  setLogSink(previous);
  // The separator before "i" is the full-width comma U+FF0C.
  EXPECT_EQ(lines, (std::vector<std::string>{"databaseName======Memos\uFF0Ci===0",
                                             "databaseName======SMS Messages\uFF0Ci===1",
                                             "databaseName===Calendar - All"}));
}

TEST_F(IpdReaderTest, EveryRecordOfEveryDatabaseIsRead) {
  IpdWriter w;
  uint16_t memos = w.addDatabase("Memos");
  uint16_t calls = w.addDatabase("Phone Call Logs");
  uint16_t cal = w.addDatabase("Calendar - All");
  w.addRecord(memos, {textField(1, "m1")});
  w.addRecord(calls, {textField(12, "555")});
  w.addRecord(cal, {textField(2, "c1")});
  w.addRecord(cal, {textField(2, "c2")});  // records of the last database keep coming
  w.addRecord(memos, {textField(1, "m2")});
  w.addRecord(cal, {textField(2, "c3")});
  readBytes(w.bytes());
  EXPECT_EQ(got.memos.size(), 2u);
  EXPECT_EQ(got.calls.size(), 1u);
  ASSERT_EQ(got.calendar.size(), 3u);
  EXPECT_EQ(got.calendar[2]->bbCalSubject, " c3");
  EXPECT_EQ(reader.stats.recordsRead, 6u);
  EXPECT_EQ(reader.bbOffSet, size);
  expectProgressRisesTo100(got.progress);
}

TEST_F(IpdReaderTest, SingleDatabaseFileGivesItsRecords) {
  IpdWriter w;
  uint16_t db = w.addDatabase("Address Book - All");
  for (int i = 0; i < 4; ++i) w.addRecord(db, {textField(32, "P" + std::to_string(i))});
  readBytes(w.bytes());
  ASSERT_EQ(got.contacts.size(), 4u);
  EXPECT_EQ(got.contacts[3]->contactName, "P3 ");
}

TEST_F(IpdReaderTest, CountIsBigEndianAndLengthsLittleEndian) {
  IpdWriter w;
  for (int i = 0; i < 9; ++i) w.addDatabase("Other " + std::to_string(i));
  uint16_t memos = w.addDatabase("Memos");
  ASSERT_EQ(memos, 9);
  // R = 16: 7 + one field of 3 + 6 bytes.
  w.addRawRecord(memos, 16, {0, 0x01, 0x00, 0, 0, 0, 0, 6, 0, 1, 'N', 'o', 't', 'e', '!', 0});
  ByteVec bytes = w.bytes();
  ASSERT_EQ(bytes[39], 0x00);
  ASSERT_EQ(bytes[40], 0x0A);
  readBytes(bytes);
  EXPECT_EQ(reader.blackberryDatabaseArray.size(), 10u);
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(9), "Memos");
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(10), std::nullopt);
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(-1), std::nullopt);
  ASSERT_EQ(got.memos.size(), 1u);
  EXPECT_EQ(got.memos[0]->noteTittle, "Note!");
  EXPECT_EQ(reader.bbOffSet, size);
}

TEST_F(IpdReaderTest, NamesMatchExactlyAndUnknownRecordsAreSkippedByLength) {
  IpdWriter w;
  uint16_t book = w.addDatabase("Address Book");
  uint16_t sms = w.addDatabase("SMS messages");
  uint16_t tasks = w.addDatabase("Tasks");
  uint16_t bad = w.addRawDatabaseName({0xFF, 0xFE, 'M', 0});  // not UTF-8: empty name
  uint16_t memos = w.addDatabase("Memos");
  w.addRecord(book, {textField(32, "Ann")});
  w.addRecord(sms, {textField(4, "hello")});
  w.addRecord(tasks, {});  // R = 7: the walk moves exactly 13 bytes
  w.addRecord(bad, {textField(1, "x")});
  w.addRecord(77, {textField(1, "no such database")});
  w.addRecord(memos, {textField(1, "kept")});
  readBytes(w.bytes());
  EXPECT_EQ(reader.GetDataBaseNameByDatabaseIndex(bad), "");
  ASSERT_EQ(got.recordCount(), 1u);
  ASSERT_EQ(got.memos.size(), 1u);
  EXPECT_EQ(got.memos[0]->noteTittle, "kept");
  EXPECT_EQ(reader.stats.recordsRead, 6u);
  EXPECT_EQ(reader.stats.recordsSkipped, 5u);
  EXPECT_EQ(reader.stats.recordsPosted, 1u);

  // An unknown record of R = 7 right before the end: the cursor ends 13 bytes on.
  IpdWriter t;
  t.addDatabase("Tasks");
  t.addRecord(0, {});
  ByteVec bytes = t.bytes();
  IpdReader r2(ctx);
  r2.scanBlackBerryBackUp(ByteSource::fromBytes(bytes));
  EXPECT_EQ(r2.bbOffSet, t.headerBytes().size() + 13);
  EXPECT_EQ(r2.bbOffSet, bytes.size());
}

TEST_F(IpdReaderTest, CorruptRecordLengthsEndTheWalk) {
  for (uint32_t badLength : {0u, 6u, 1000u}) {
    SCOPED_TRACE(badLength);
    IpdWriter w;
    uint16_t memos = w.addDatabase("Memos");
    w.addRecord(memos, {textField(1, "first")});
    w.addRawRecord(memos, badLength, ByteVec(20, 0));
    w.addRecord(memos, {textField(1, "never")});
    NotificationCenter local;
    ScanContext c(local);
    fixtures::BlackBerryCollector seen(local);
    IpdReader r(c);
    EXPECT_TRUE(r.scanBlackBerryBackUp(ByteSource::fromBytes(w.bytes())));
    ASSERT_EQ(seen.memos.size(), 1u);
    EXPECT_EQ(seen.memos[0]->noteTittle, "first");
    EXPECT_TRUE(r.stats.truncated);
    EXPECT_TRUE(seen.progress.empty() || seen.progress.back() < 100);
  }
}

TEST_F(IpdReaderTest, CutShortFilesEndCleanly) {
  IpdWriter w;
  w.addDatabase("Memos");
  w.addDatabase("SMS Messages");
  w.addRecord(0, {textField(1, "a"), textField(2, "body")});
  w.addRecord(1, {textField(4, "hi")});
  const ByteVec full = w.bytes();
  const size_t header = w.headerBytes().size();
  // Every prefix of the file: never a crash, never a record past the cut.
  for (size_t cut = 0; cut < full.size(); ++cut) {
    NotificationCenter local;
    ScanContext c(local);
    fixtures::BlackBerryCollector seen(local);
    IpdReader r(c);
    r.scanBlackBerryBackUp(ByteSource::fromBytes(ByteVec(full.begin(), full.begin() + cut)));
    // Cuts at a record boundary are whole files; every other cut is reported.
    const bool boundary = cut == header || cut == header + 26;
    EXPECT_EQ(r.stats.truncated, !boundary) << cut;
    EXPECT_LE(seen.recordCount(), 1u) << cut;
    if (cut < header) {
      EXPECT_EQ(seen.recordCount(), 0u) << cut;
      EXPECT_LT(r.blackberryDatabaseArray.size(), 2u) << cut;
    }
  }
  readBytes(full);
  EXPECT_EQ(got.recordCount(), 2u);
  EXPECT_FALSE(reader.stats.truncated);
}

TEST_F(IpdReaderTest, ProgressRisesByPositionAndStopFlagIsHonoured) {
  IpdWriter w;
  uint16_t memos = w.addDatabase("Memos");
  uint16_t calls = w.addDatabase("Phone Call Logs");
  for (int i = 0; i < 300; ++i) {
    w.addRecord(i % 2 ? memos : calls,
                {textField(1, "memo " + std::to_string(i)), byteField(3, 5)});
  }
  readBytes(w.bytes());
  EXPECT_EQ(got.recordCount(), 300u);
  expectProgressRisesTo100(got.progress);
  EXPECT_GT(got.progress.size(), 50u);  // about one step per percent

  NotificationCenter local;
  ScanContext c(local);
  fixtures::BlackBerryCollector seen(local);
  local.addObserver(notify::kBlackBerryNoteInfo,
                    [&c](const Notification&) { c.stopRequested = true; });
  IpdReader r(c);
  r.scanBlackBerryBackUp(ByteSource::fromBytes(w.bytes()));
  EXPECT_EQ(seen.recordCount(), 2u);  // a call log, then the memo that asked to stop
  EXPECT_FALSE(seen.progress.empty());
  EXPECT_LT(seen.progress.back(), 100);
}

TEST_F(IpdReaderTest, MissingFileIsReported) {
  EXPECT_FALSE(reader.scanBlackBerryBackUpThread((dir_ / "absent.ipd").string()));
  EXPECT_FALSE(reader.lastError.empty());
  EXPECT_FALSE(reader.AnalyWinbackupfilePath((dir_ / "absent.dat").string()));
  EXPECT_FALSE(reader.scanBlackBerryWinBackUpThread((dir_ / "no folder").string()));
  EXPECT_FALSE(IpdReader::hasIpdHeader((dir_ / "absent.ipd").string()));
  EXPECT_EQ(got.recordCount(), 0u);
}

TEST_F(IpdReaderTest, WindowsLayoutReadsEveryDatabaseFileInNameOrder) {
  IpdWriter memos;
  memos.addDatabase("Memos");
  memos.addRecord(0, {textField(1, "first memo")});
  memos.addRecord(5, {textField(1, "second memo")});  // the index is not looked at
  memos.writeFile(dir_ / "1.dat");

  IpdWriter sms;
  sms.addDatabase("SMS Messages");
  sms.addRecord(0, {fixtures::smsMetaField(fixtures::kSmsIncoming, 0), textField(4, "one")});
  sms.addRecord(0, {fixtures::smsMetaField(fixtures::kSmsOutgoing, 0), textField(4, "two")});
  sms.addRecord(0, {textField(4, "three")});
  sms.writeFile(dir_ / "2.dat");

  IpdWriter hidden;
  hidden.addDatabase("Memos");
  hidden.addRecord(0, {textField(1, "hidden memo")});
  hidden.writeFile(dir_ / ".0.dat");

  IpdWriter tasks;  // not one of ours: its records are not read
  tasks.addDatabase("Tasks");
  tasks.addRecord(0, {textField(1, "task")});
  tasks.writeFile(dir_ / "3.dat");

  fixtures::writeBytes(dir_ / "4.dat", {1, 2, 3});  // too short to name a database
  fs::create_directory(dir_ / "sub");

  ASSERT_TRUE(reader.scanBlackBerryWinBackUpThread(dir_.string()));
  ASSERT_EQ(got.memos.size(), 2u);
  EXPECT_EQ(got.memos[0]->noteTittle, "first memo");
  EXPECT_EQ(got.memos[1]->noteTittle, "second memo");
  ASSERT_EQ(got.sms.size(), 3u);
  EXPECT_EQ(got.sms[0]->type, "Incoming");
  EXPECT_EQ(got.sms[1]->type, "outgoing");
  EXPECT_EQ(got.sms[2]->contentText, "three");
  EXPECT_EQ(got.order.front(), notify::kBlackBerryNoteInfo);  // 1.dat before 2.dat
  EXPECT_EQ(reader.stats.recordsRead, 5u);
  EXPECT_EQ(reader.stats.recordsPosted, 5u);
  expectProgressRisesTo100(got.progress);

  // One file alone, through its own entry point.
  NotificationCenter local;
  ScanContext c(local);
  fixtures::BlackBerryCollector seen(local);
  IpdReader r(c);
  EXPECT_TRUE(r.AnalyWinbackupfilePath((dir_ / "2.dat").string()));
  EXPECT_EQ(seen.sms.size(), 3u);
  expectProgressRisesTo100(seen.progress);
}

TEST_F(IpdReaderTest, WindowsFileWithCorruptRecordStopsThatFileOnly) {
  IpdWriter a;
  a.addDatabase("Memos");
  a.addRecord(0, {textField(1, "ok")});
  a.addRawRecord(0, 3, ByteVec(7, 0));  // R below 7
  a.writeFile(dir_ / "1.dat");
  IpdWriter b;
  b.addDatabase("Calendar - All");
  b.addRecord(0, {textField(2, "Dentist")});
  b.writeFile(dir_ / "2.dat");
  ByteVec cut = b.headerBytes();
  cut.resize(cut.size() - 3);  // name cut short
  fixtures::writeBytes(dir_ / "3.dat", cut);

  ASSERT_TRUE(reader.scanBlackBerryWinBackUpThread(dir_.string()));
  EXPECT_EQ(got.memos.size(), 1u);
  ASSERT_EQ(got.calendar.size(), 1u);
  EXPECT_EQ(got.calendar[0]->bbCalSubject, " Dentist");
  EXPECT_TRUE(reader.stats.truncated);
  expectProgressRisesTo100(got.progress);
}

TEST_F(IpdReaderTest, EmptyFolderFinishesAtOnce) {
  ASSERT_TRUE(reader.scanBlackBerryWinBackUpThread(dir_.string()));
  EXPECT_EQ(got.recordCount(), 0u);
  EXPECT_EQ(got.progress, std::vector<int64_t>{100});
}

// A file that shrinks while it is walked (a card pulled out, a file cut by another program)
// ends the walk with a read error: only whole records are posted, none from the lost bytes,
// and the outcome says the file was cut short. Both layouts, windows smaller than a record.
TEST_F(IpdReaderTest, FileThatShrinksDuringTheWalkEndsItWithAReadError) {
  for (bool windowsLayout : {false, true}) {
    SCOPED_TRACE(windowsLayout);
    IpdWriter w;
    const uint16_t memos = w.addDatabase("Memos");
    for (int i = 0; i < 200; ++i) {
      w.addRecord(memos, {textField(1, "memo " + std::to_string(i)),
                          textField(2, std::string(1000 + i, 'x'))});
    }
    const fs::path path = dir_ / (windowsLayout ? "1.dat" : "backup.ipd");
    w.writeFile(path);
    std::string error;
    ByteSource src = ByteSource::open(path.string(), &error, 4096);
    ASSERT_TRUE(src.valid()) << error;

    NotificationCenter local;
    ScanContext c(local);
    fixtures::BlackBerryCollector seen(local);
    int posted = 0;
    local.addObserver(notify::kBlackBerryNoteInfo, [&](const Notification&) {
      if (++posted == 10) fs::resize_file(path, 60000);
    });
    IpdReader r(c);
    if (windowsLayout) {
      r.AnalyWinbackup(src);
    } else {
      r.scanBlackBerryBackUp(src);
    }
    EXPECT_TRUE(r.stats.truncated);
    EXPECT_NE(r.stats.readError.find("shorter than when it was scanned"), std::string::npos)
        << r.stats.readError;
    ASSERT_GE(seen.memos.size(), 10u);
    EXPECT_LT(seen.memos.size(), 60u);  // about 1 KB per record, 60 KB left
    for (size_t i = 0; i < seen.memos.size(); ++i) {
      EXPECT_EQ(seen.memos[i]->noteTittle, "memo " + std::to_string(i));
      EXPECT_EQ(seen.memos[i]->noteContent.size(), 1000 + i);
    }
    EXPECT_LT(r.bbOffSet, 60000u + 2000u);
    EXPECT_TRUE(seen.progress.empty() || seen.progress.back() < 100);
  }
}

}  // namespace
}  // namespace tamsel
