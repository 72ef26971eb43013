// The call list of newer phones (CallHistory.storedata): the live step, the schema-aware pass
// over its deleted rows, and the pictures of recent phones.
#include "ios/call_history_store.h"

#include <gtest/gtest.h>

#include <set>

#include "events/deleted_keys.h"
#include "ios/backup_files.h"
#include "ios/backup_index.h"
#include "ios/deleted_rows.h"
#include "ios/media_files.h"
#include "ios/phone_records.h"
#include "raw/suffix.h"
#include "tests/fixtures/ios_call_store_writer.h"
#include "tests/fixtures/ios_records_db_writer.h"
#include "tests/fixtures/ios_scan_test.h"
#include "tests/fixtures/temp_folder.h"
#include "util/date.h"
#include "util/sha1.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
namespace fx = tamsel::fixtures;

class CallStoreTest : public tamsel::testing::IosScanTest {
 protected:
  CallStoreTest() {
    collect(notify::kScanCallHistoryInfo, calls);
    collect(notify::kScanDelCallHistoryInfo, deleted);
    nc.addObserver(notify::kScanCallHistoryInfo, [this](const Notification& n) {
      keys.noteLive(*n.record<PRCallHistoryNode>());
    });
  }

  // Writes the store into the backup; a log the writer left goes under its stored name.
  void writeStore(const std::vector<fx::CallStoreRow>& rows, const fx::CallStoreOptions& o = {}) {
    const fs::path path = backup / stored::kCallHistoryStore.name;
    fx::writeCallStore(path, rows, o);
    std::error_code ec;
    fs::remove(path.string() + "-shm", ec);
    if (fs::exists(path.string() + "-wal")) {
      fs::rename(path.string() + "-wal", backup / stored::kCallHistoryStore.walName);
    }
  }

  DeletedRecordKeys keys;
  std::vector<std::shared_ptr<PRCallHistoryNode>> calls, deleted;
};

fx::CallStoreRow row(std::string address, double date, double seconds, int64_t originated,
                     int64_t type = fx::kCallTypePhone) {
  fx::CallStoreRow r;
  r.address = std::move(address);
  r.date = date;
  r.duration = seconds;
  r.originated = originated;
  r.answered = originated == 1 || seconds > 0 ? 1 : 0;
  r.callType = type;
  return r;
}

struct Expected {
  std::string phone, date, type;
  int32_t time;
  std::string duration, service, name;
};

void expectCall(const PRCallHistoryNode& c, const Expected& e, const std::string& what) {
  EXPECT_EQ(c.callPhone, e.phone) << what;
  EXPECT_EQ(c.callDate, e.date) << what;
  EXPECT_EQ(c.callType, e.type) << what;
  EXPECT_EQ(c.callTime, e.time) << what;
  EXPECT_EQ(c.callDuration, e.duration) << what;
  EXPECT_EQ(c.callService, e.service) << what;
  EXPECT_EQ(c.callName, e.name) << what;
}

TEST(CallStoreName, IsTheDigestOfDomainAndPath) {
  EXPECT_EQ(hashedFileName("HomeDomain", "Library/CallHistoryDB/CallHistory.storedata"),
            stored::kCallHistoryStore.name);
  EXPECT_EQ(sha1Hex(std::string(stored::kCallHistoryStore.domainPath) + "-wal"),
            stored::kCallHistoryStore.walName);
}

TEST_F(CallStoreTest, EveryCallWithNumberDateDurationDirectionAndService) {
  auto anna = std::make_shared<PRContactNode>();
  anna->contactName = "Anna";
  anna->contactPhone = "+15551230001";
  ctx.contactArray.push_back(anna);
  const char* d = "01-06-2020 10:40";  // 600000000 seconds after 2001-01-01 00:00 UTC
  fx::CallStoreRow bytes = row("+4930123456", 600000000.75, 61, 0);
  bytes.addressAsBytes = true;
  fx::CallStoreRow empty;  // nothing but the defaults of the store
  empty.callType.reset();
  // clang-format off
  const std::vector<std::pair<fx::CallStoreRow, Expected>> cases{
      {row("+15551230001", 600000000, 125.9, 1), {"+15551230001", d, "Outgoing", 125, "2 minutes", "", "Anna"}},
      {row("+15551230002", 600000000, 59.99, 0), {"+15551230002", d, "Incoming", 59, "59 seconds", "", ""}},
      {row("+15551230003", 600000000, 0, 1), {"+15551230003", d, "Outgoing", 0, "Cancelled", "", ""}},
      {row("+15551230004", 600000000, 0, 0), {"+15551230004", d, "Incoming", 0, "Missed", "", ""}},
      {row("+15551230005", 600000000, 0.7, 0), {"+15551230005", d, "Incoming", 0, "Missed", "", ""}},
      {row("anna@example.com", 600000000, 3600, 1, fx::kCallTypeFaceTimeVideo),
       {"anna@example.com", d, "Outgoing", 3600, "1 hour", "FaceTime", ""}},
      {row("+15551230006", 600000000, 0, 0, fx::kCallTypeFaceTimeAudio),
       {"+15551230006", d, "Incoming", 0, "Missed", "FaceTime", ""}},
      {bytes, {"+4930123456", d, "Incoming", 61, "1 minute", "", ""}},
      {row("+15551230007", 600000000, 5, 2), {"+15551230007", d, "Incoming", 5, "5 seconds", "", ""}},
      {empty, {"", "", "Incoming", -1, "-1 second", "", ""}},
  };
  // clang-format on
  std::vector<fx::CallStoreRow> rows;
  for (const auto& c : cases) rows.push_back(c.first);
  writeStore(rows);
  scanCallHistoryThread(backup.string(), ctx);
  ASSERT_EQ(calls.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    expectCall(*calls[i], cases[i].second, cases[i].second.phone);
  }
  EXPECT_EQ(progress, std::vector<int64_t>{60});
  EXPECT_TRUE(ctx.warnings.empty());
  EXPECT_TRUE(ctx.databaseCopies.contains(stored::kCallHistoryStore.name));
}

TEST_F(CallStoreTest, MissingColumnsReadAsAbsent) {
  struct Case {
    std::vector<std::string> leaveOut;
    Expected expected;
  };
  const char* d = "01-06-2020 10:40";
  const std::vector<Case> cases{
      {{}, {"+15551230001", d, "Outgoing", 30, "30 seconds", "FaceTime", ""}},
      {{"ZCALLTYPE"}, {"+15551230001", d, "Outgoing", 30, "30 seconds", "", ""}},
      {{"ZORIGINATED", "ZANSWERED"},
       {"+15551230001", d, "Incoming", 30, "30 seconds", "FaceTime", ""}},
      {{"ZDURATION"}, {"+15551230001", d, "Outgoing", -1, "-1 second", "FaceTime", ""}},
      {{"ZADDRESS", "ZDATE"}, {"", "", "Outgoing", 30, "30 seconds", "FaceTime", ""}},
      {{"ZCALL_CATEGORY", "ZFILTERED_OUT_REASON", "ZHANDLE_TYPE", "ZJUNKCONFIDENCE",
        "ZJUNKIDENTIFICATIONCATEGORY", "ZVERIFICATION_STATUS", "ZPARTICIPANT_GROUP_UUID",
        "ZSERVICE_PROVIDER"},
       {"+15551230001", d, "Outgoing", 30, "30 seconds", "FaceTime", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.leaveOut));
    freshRun();
    fx::CallStoreOptions o;
    o.leaveOut = c.leaveOut;
    writeStore({row("+15551230001", 600000000, 30, 1, fx::kCallTypeFaceTimeAudio)}, o);
    scanCallHistoryThread(backup.string(), ctx);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(*calls[0], c.expected, "");
    EXPECT_TRUE(ctx.warnings.empty());
  }
}

TEST_F(CallStoreTest, BothDatabasesAndRowsOnlyInTheLogAreRead) {
  fx::writeCallHistoryDb(backup / stored::kCallHistory.name,
                         {{"+15550000001", 1000000000, 12, fx::kCallOutgoing}});
  fx::CallStoreOptions o;
  o.rowsInLog = 2;
  writeStore({row("+15550000002", 6e8, 1, 1), row("+15550000003", 6e8, 2, 0),
              row("+15550000004", 6e8, 3, 0)},
             o);
  ASSERT_TRUE(fs::exists(backup / stored::kCallHistoryStore.walName));
  scanCallHistoryThread(backup.string(), ctx);
  std::vector<std::string> phones;
  for (const auto& c : calls) phones.push_back(c->callPhone);
  EXPECT_EQ(phones, (std::vector<std::string>{"+15550000001", "+15550000002", "+15550000003",
                                              "+15550000004"}));
  EXPECT_EQ(progress, std::vector<int64_t>{60});
}

TEST_F(CallStoreTest, AStopDuringTheStoreEndsTheStepWithoutProgress) {
  writeStore({row("+1", 6e8, 1, 1), row("+2", 6e8, 1, 1), row("+3", 6e8, 1, 1)});
  nc.addObserver(notify::kScanCallHistoryInfo,
                 [this](const Notification&) { ctx.stopRequested = true; });
  scanCallHistoryThread(backup.string(), ctx);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_TRUE(progress.empty());
}

TEST_F(CallStoreTest, DamagedStoresAreSkippedWithAWarning) {
  std::vector<fx::CallStoreRow> many;
  for (int i = 0; i < 400; ++i) {
    many.push_back(row("+1555" + std::to_string(1000000 + i), 6e8 + i, i, i % 2));
  }
  const fs::path good = tmp.path() / "good.storedata";
  fx::writeCallStore(good, many);
  const std::string whole = tamsel::testing::readWholeFile(good);
  ASSERT_GT(whole.size(), 16384u);
  std::string overwritten = whole;
  std::fill(overwritten.begin() + 4096, overwritten.end(), '\xa5');
  struct Case {
    const char* what;
    std::string bytes;
    bool warned;
  };
  const std::vector<Case> cases{
      {"not a database", std::string(8192, '\x5a'), true},
      {"pages after the first overwritten", overwritten, true},
      {"cut short", whole.substr(0, whole.size() / 2), true},
      {"empty file", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    freshRun();
    tamsel::testing::writeWholeFile(backup / stored::kCallHistoryStore.name, c.bytes);
    scanCallHistoryThread(backup.string(), ctx);
    EXPECT_EQ(progress, std::vector<int64_t>{60});
    EXPECT_LT(calls.size(), many.size());
    for (const auto& call : calls) EXPECT_EQ(call->callPhone.substr(0, 5), "+1555");
    ASSERT_EQ(ctx.warnings.size(), c.warned ? 1u : 0u);
    if (c.warned) {
      EXPECT_NE(ctx.warnings[0].find(stored::kCallHistoryStore.name), std::string::npos);
    }
  }
  EXPECT_TRUE(loggedWith("has no table ZCALLRECORD"));
}

TEST_F(CallStoreTest, DeletedCallRowsAreFoundByTheSchemaPassOnce) {
  std::vector<fx::CallStoreRow> rows;
  fx::CallStoreOptions o;
  for (int i = 0; i < 80; ++i) {
    const int64_t type = i % 3 == 0 ? fx::kCallTypeFaceTimeVideo : fx::kCallTypePhone;
    rows.push_back(
        row("+4420" + std::to_string(7000000 + i), 6e8 + 3600.0 * i, i % 5 * 17.5, i % 2, type));
    rows.back().addressAsBytes = i % 4 == 1;
    if (i % 4 == 1) o.deleted.push_back(static_cast<size_t>(i));
  }
  // All rows in the store's file, or the last 30 and every delete in its log.
  for (size_t inLog : {0, 30}) {
    SCOPED_TRACE(inLog);
    freshRun();
    keys.clear();
    o.rowsInLog = inLog;
    writeStore(rows, o);
    scanCallHistoryThread(backup.string(), ctx);
    ASSERT_EQ(calls.size(), rows.size() - o.deleted.size());
    scanDeletedRows(backup.string(), ctx, keys);

    // Every deleted record is one deleted row with all its fields, each found once.
    std::set<std::string> found;
    for (const auto& c : deleted) {
      EXPECT_TRUE(c->bDeleted);
      ASSERT_EQ(c->callPhone.size(), 12u) << c->callPhone;
      const int i = std::stoi(c->callPhone.substr(5)) - 7000000;
      ASSERT_TRUE(i >= 0 && i < 80 && i % 4 == 1) << c->callPhone;
      EXPECT_TRUE(found.insert(c->callPhone).second) << c->callPhone;
      EXPECT_EQ(c->callTime, static_cast<int32_t>(i % 5 * 17.5));
      EXPECT_EQ(c->callType, i % 2 ? "Outgoing" : "Incoming");
      EXPECT_EQ(c->callService, i % 3 == 0 ? "FaceTime" : "");
      EXPECT_EQ(c->callDate, GetDateTime(600000000 + 3600 * i, 1).value_or("?"));
    }
    // Deletions can merge pages, which overwrites some freed rows; every row whose bytes are
    // still in the store or its log is found.
    const std::string bytes =
        tamsel::testing::readWholeFile(backup / stored::kCallHistoryStore.name) +
        tamsel::testing::readWholeFile(backup / stored::kCallHistoryStore.walName);
    size_t kept = 0;
    for (size_t i : o.deleted) {
      const std::string phone = "+4420" + std::to_string(7000000 + i);
      if (bytes.find(phone) == std::string::npos) continue;
      ++kept;
      EXPECT_TRUE(found.contains(phone)) << phone;
    }
    EXPECT_GE(kept, o.deleted.size() / 2);
    EXPECT_EQ(found.size(), kept);
    fs::remove(backup / stored::kCallHistoryStore.walName);
  }
}

TEST(PictureSuffixes, PhotosOfRecentPhonesComeAfterTheOlderEntries) {
  const std::vector<std::pair<std::string_view, int>> positions{
      {"3dm", 0}, {"xps", 137}, {"heic", 138}, {"HEIC", 138}, {"heif", 139}};
  for (const auto& [suffix, at] : positions) EXPECT_EQ(GetImageType(suffix), at) << suffix;
  for (std::string_view name : {"IMG_0001.HEIC", "x/IMG_0002.heif"}) {
    EXPECT_EQ(rawScanKind(name), "Image") << name;
    EXPECT_EQ(attachmentKind(name), "Image") << name;
  }
}

TEST_F(CallStoreTest, HeicPhotosAreListed) {
  std::vector<std::shared_ptr<PRPhotoAndVideoNode>> photos;
  nc.addObserver(notify::kScanPhotoAndVideo,
                 [&](const Notification& n) { photos.push_back(n.record<PRPhotoAndVideoNode>()); });
  PRTreeDirNode entry;
  entry.fileDomain = "CameraRollDomain";
  entry.filePath = "Media/DCIM/100APPLE/IMG_0001.HEIC";
  entry.fileKey = (backup / "photo").string();
  tamsel::testing::writeWholeFile(entry.fileKey, std::string(1500, 'h'));
  GetMediaFileByNode(entry, ctx);
  ASSERT_EQ(photos.size(), 1u);
  EXPECT_EQ(photos[0]->fileNodeName, "IMG_0001.HEIC");
  EXPECT_FALSE(photos[0]->bmov);
}

}  // namespace
}  // namespace tamsel
