// The carver of deleted calls: call tables of every width the rules know, written by SQLite
// (deleted rows, a row only in the write-ahead log), and hand-built pages for index leaf pages,
// texts cut by the page end or not UTF-8, and when nothing is carved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "carve/deleted_calls.h"
#include "events/notification_names.h"
#include "tests/fixtures/carve_db_notes_calls.h"
#include "util/date.h"
#include "util/format.h"

namespace tamsel {
namespace {

using namespace fixtures;
using Found = std::vector<std::shared_ptr<PRCallHistoryNode>>;

Found carve(const CarveBytes& db, const CarveBytes& log, bool ios6, bool stop = false) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  ctx.currentNodeIsiOS6Version = ios6;
  ctx.stopRequested = stop;
  auto alice = std::make_shared<PRContactNode>();
  alice->contactName = "Alice";
  alice->contactPhone = "+1 555 0100";
  ctx.contactArray.push_back(alice);
  Found out;
  nc.addObserver(notify::kScanDelCallHistoryInfo,
                 [&](const Notification& n) { out.push_back(n.record<PRCallHistoryNode>()); });
  carveDeletedCallHistory(*CarveInput::fromBytes(db, log), ctx);
  return out;
}

struct CallCase {
  std::string phone;
  int64_t seconds, flags;
  bool deleted;
  std::string type, duration, name;
};
const std::vector<CallCase> kCalls = {
    {"+1 555 0100", 0, 5, true, "Outgoing", "Cancelled", "Alice"},
    {"5550199", 0, 4, false, "Incoming", "Missed", ""},
    {"5550111", 7300, 4, true, "Incoming", "2 hours", ""},
    {"5550122", 150, 5, false, "Outgoing", "2 minutes", ""},
    {"5550133", 59, 4, true, "Incoming", "59 seconds", ""},
    {"5550160", 3700, 5, true, "Outgoing", "1 hour", ""},  // written and deleted in the log
};
// iOS 6 rules with 13 columns; the older rules take the width from the first cell's header.
class CarveCallsSqlite : public ::testing::TestWithParam<std::pair<bool, size_t>> {};

TEST_P(CarveCallsSqlite, LiveDeletedAndLoggedRowsWithTheirFields) {
  const auto [ios6, columns] = GetParam();
  testing::TempFolder dir;
  CarveDb db(dir.path() / "call_history.db");
  std::string schema =
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY, address, date, duration, flags, id";
  for (size_t i = 6; i < columns; ++i) schema += ", c" + std::to_string(i);
  db.exec(schema + ");");
  auto insert = [&](size_t i) {
    const CallCase& c = kCalls[i];
    db.exec("INSERT INTO call (ROWID, address, date, duration, flags, id) VALUES (" +
            std::to_string(i + 1) + ", '" + c.phone + "', " + std::to_string(1400000000 + i) +
            ", " + std::to_string(c.seconds) + ", " + std::to_string(c.flags) + ", -1);");
  };
  auto remove = [&](size_t i) {
    db.exec("DELETE FROM call WHERE ROWID = " + std::to_string(i + 1));
  };
  const size_t last = kCalls.size() - 1;
  for (size_t i = 0; i < last; ++i) insert(i);
  for (size_t i = 0; i < last; ++i) {
    if (kCalls[i].deleted) remove(i);
  }
  db.startLog();
  insert(last);
  remove(last);
  Found found = carve(db.file(), db.file("-wal"), ios6);
  for (size_t i = 0; i < kCalls.size(); ++i) {
    const CallCase& c = kCalls[i];
    SCOPED_TRACE(c.phone);
    auto n =
        std::find_if(found.begin(), found.end(), [&](auto& f) { return f->callPhone == c.phone; });
    ASSERT_NE(n, found.end());
    EXPECT_EQ((*n)->callDate, *GetDateTime(1400000000 + static_cast<int64_t>(i), 0));
    EXPECT_EQ((*n)->callTime, c.seconds);
    EXPECT_EQ((*n)->callType + "|" + (*n)->callDuration + "|" + (*n)->callName,
              c.type + "|" + c.duration + "|" + c.name);
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, CarveCallsSqlite,
                         ::testing::Values(std::pair{true, 13}, std::pair{false, 7},
                                           std::pair{false, 8}, std::pair{false, 9},
                                           std::pair{false, 10}));

// Durations and dates are worded by the carver itself (it writes millions): the texts must be
// those of the shared formats, at the edge of every unit, for values stored as text, and for
// dates either side of the start of 1990 (before it a time counts from 2001) in zones either
// side of UTC.
TEST(CarveCallsTexts, DurationsAndDatesWordedAsTheSharedFormats) {
  constexpr int64_t k1990 = 631152000;  // 1990-01-01 00:00 UTC
  struct Row {
    std::string stored;  // the duration as the row holds it
    int32_t seconds;
    int64_t date;
  };
  const std::vector<Row> rows = {
      {"'1'", 1, 2},
      {"2", 2, k1990 - 3 * 86400},
      {"59", 59, k1990 - 86400},
      {"60", 60, k1990 - 1},
      {"119", 119, k1990},
      {"120", 120, k1990 + 50000},
      {"3599", 3599, k1990 + 2 * 86400 - 1},
      {"3600", 3600, k1990 + 2 * 86400},
      {"7199", 7199, 1400000000},
      {"7200", 7200, INT32_MAX},
      {"'-5'", -5, 978307200},
      {"'-65'", -65, -100000000},
      {"' \t+42 s'", 42, 0},
      {"'99999999999'", INT32_MAX, 12345},
      {"'-99999999999'", INT32_MIN, k1990 + 86400},
  };
  testing::TempFolder dir;
  CarveDb db(dir.path() / "call_history.db");
  std::string schema =
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY, address, date, duration, flags, id";
  for (size_t i = 6; i < 13; ++i) schema += ", c" + std::to_string(i);
  db.exec(schema + ");");
  for (size_t i = 0; i < rows.size(); ++i) {
    db.exec("INSERT INTO call (address, date, duration, flags, id) VALUES ('555010" +
            std::to_string(i) + "', " + std::to_string(rows[i].date) + ", " + rows[i].stored +
            ", 5, -1);");
  }
  const CarveBytes file = db.file();
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved != nullptr ? saved : "";
  for (const char* zone : {"UTC", "Pacific/Kiritimati", "Pacific/Pago_Pago", "Asia/Kolkata"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    const Found found = carve(file, {}, true);
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(rows[i].stored);
      const auto n = std::find_if(found.begin(), found.end(), [&](auto& f) {
        return f->callPhone == "555010" + std::to_string(i);
      });
      ASSERT_NE(n, found.end());
      EXPECT_EQ((*n)->callTime, rows[i].seconds);
      EXPECT_EQ((*n)->callDuration, getCallHistoryDuration(rows[i].seconds));
      EXPECT_EQ((*n)->callDate, GetDateTime(rows[i].date, 0).value_or(""));
    }
  }
  if (saved != nullptr) {
    setenv("TZ", savedZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

CarveBytes callRow(const std::string& phone) {
  std::vector<CellValue> v(13);
  v[1] = phone;
  v[2] = int64_t{1400000000};
  v[3] = int64_t{300};
  v[4] = int64_t{5};
  v[5] = int64_t{-1};
  return carveCell(v);
}

TEST(CarveCallsPages, IndexLeavesCutAndBrokenTextsAndNothingToCarve) {
  CarveBytes cut = callRow("5550123456");
  cut.resize(cut.size() - 13);  // the page ends after "55501"
  CarveBytes image = carveImage(512, false, {0x0a, 0x0d, 0x05},
                                {{1, 100,
                                  callRow("12\xff"
                                          "34")},
                                 {2, 512 - cut.size(), cut},
                                 {3, 1, CarveBytes(64, '7')}});
  Found found = carve(image, {}, true);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->callPhone,
            "12\xef\xbf\xbd"
            "34");  // an index leaf page is scanned too
  EXPECT_EQ(found[0]->callDuration, "5 minutes");
  EXPECT_EQ(found[1]->callPhone + "|" + found[1]->callDate + "|" + found[1]->callDuration,
            "55501||Missed");                         // not continued by the next page
  EXPECT_TRUE(carve(image, {}, true, true).empty());  // stopped
  image[16] = image[17] = 0;                          // no page size
  EXPECT_TRUE(carve(image, {}, true).empty());
}

}  // namespace
}  // namespace tamsel
