// Carvers of deleted calendar events and bookmarks: rows that SQLite itself wrote and deleted
// (secure_delete off, no vacuum) are found in the database and in the frames of its log, and
// hand-built pages pin down the byte rules and the page bounds.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "carve/deleted_bookmarks.h"
#include "carve/deleted_calendar.h"
#include "events/notification_names.h"
#include "tests/fixtures/temp_folder.h"
#include "util/date.h"
#include "util/text.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;
using Event = std::tuple<std::string, std::string, std::string, std::string, std::string>;
using Mark = std::pair<std::string, std::string>;

std::string q(const std::string& s) {
  return "'" + s + "'";
}
std::string date(int64_t t) {
  return GetDateTime(t, 1).value_or("");
}

Bytes fileBytes(const fs::path& p) {
  std::string s = testing::readWholeFile(p);
  return Bytes(s.begin(), s.end());
}

// Runs `sql` on the database at `path` through SQLite: deleted rows keep their bytes (no
// secure delete, no vacuum). `legacyFormat` stores 0 and 1 as one-byte integers, as the
// phone's older files do; `wal` puts the database in write-ahead-log mode, and `keepLog`
// leaves what `sql` wrote in the log, not checked in.
void runSql(const fs::path& path, const std::string& sql, bool legacyFormat, bool wal,
            bool keepLog = false) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_db_config(db, SQLITE_DBCONFIG_LEGACY_FILE_FORMAT, legacyFormat ? 1 : 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, keepLog ? 1 : 0, nullptr);
  std::string all = "PRAGMA secure_delete=OFF; PRAGMA page_size=4096;";
  if (wal) all += "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;";
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, (all + sql).c_str(), nullptr, nullptr, &err), SQLITE_OK)
      << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// What a carver posted: the records' fields, how many records, and all their texts.
struct Posted {
  std::set<Event> events;
  std::set<Mark> marks;
  size_t count = 0;
  std::string texts;
};

Posted carve(const CarveInput& input, bool calendar, bool ios6 = false, bool stop = false) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  ctx.currentNodeIsiOS6Version = ios6;
  ctx.stopRequested = stop;
  Posted out;
  nc.addObserver(notify::kScanDelCalenderInfo, [&](const Notification& n) {
    auto e = n.record<PRCalenderNode>();
    out.events.emplace(e->calTitle, e->location, e->calNote, e->startDate, e->endDate);
    out.texts += e->calTitle + e->location + e->calNote + e->startDate + e->endDate;
    ++out.count;
  });
  nc.addObserver(notify::kScanDelBookMarkInfo, [&](const Notification& n) {
    auto m = n.record<PRBookMarkNode>();
    out.marks.emplace(m->bookMarkTitle, m->bookMarkURL);
    out.texts += m->bookMarkTitle + m->bookMarkURL;
    ++out.count;
  });
  calendar ? carveDeletedCalendar(input, ctx) : carveDeletedBookmarks(input, ctx);
  return out;
}

// An event table of `count` columns in the phone's order: columns 11 to 16 are the small
// integers the carver anchors on; the rest are texts.
std::string eventTable(const std::string& name, int count, bool locationText) {
  std::string sql = "CREATE TABLE " + name + " (ROWID INTEGER PRIMARY KEY, summary TEXT, " +
                    (locationText ? "location TEXT" : "location_id INTEGER") +
                    ", description TEXT, start_date REAL, start_tz TEXT, end_date REAL, all_day, "
                    "calendar_id, orig_item_id, orig_date REAL, organizer_id, self_attendee_id, "
                    "status, invitation_status, availability, privacy_level";
  for (int i = 17; i < count; ++i) sql += ", c" + std::to_string(i) + " TEXT";
  return sql + ");";
}

struct EventRow {
  std::string title, place, note;
  int64_t start;
  bool tz;
};

const std::string kUuid = "6B1D4F0E-2C9A-4E1B-8B3D-5A7C9E0F1A2B";

// The rows of the log layout carry identifiers further on, as the phone's do: their cells
// are longer than 127 bytes, so the two bytes of the payload length, the row id and the header
// length (which a deletion overwrites) all lie before the first column's code.
std::string insertEvent(const std::string& table, const EventRow& r, bool locationText) {
  return "INSERT INTO " + table + " (summary, " + (locationText ? "location" : "location_id") +
         ", description, start_date, start_tz, end_date, all_day, calendar_id, organizer_id,"
         " self_attendee_id, status, invitation_status, availability, privacy_level" +
         (locationText ? "" : ", c30, c31") + ") VALUES (" + q(r.title) + ", " +
         (locationText ? q(r.place) : "3") + ", " + q(r.note) + ", " + std::to_string(r.start) +
         ", " + (r.tz ? q("Europe/London") : "NULL") + ", " + std::to_string(r.start + 3600) +
         ", 0, 1, 0, 0, 0, 0, 0, 0" + (locationText ? "" : ", " + q(kUuid) + ", " + q(kUuid)) +
         ");";
}

const std::string kLongNote(70, 'n');  // a two-byte serial-type code

// ---------------------------------------------------------------- calendar

TEST(DeletedCalendar, RollbackLayoutRowsLiveAndDeleted) {
  testing::TempFolder dir;
  const fs::path path = dir.path() / "Calendar.sqlitedb";
  const std::vector<EventRow> rows = {{"Dentist", "Main St", "Bring card", 400000000, true},
                                      {"Gym", "Club", "Leg day", 400090000, true},
                                      // the end is read past a NULL zone only
                                      {"Review", "Room 4", kLongNote, 400180000, false},
                                      {"Lunch", "Cafe", "With Ann", 400270000, true},
                                      {"Flight", "Gate 9", "LHR", 400360000, true}};
  std::string sql = eventTable("Event", 31, true);
  for (auto& r : rows) sql += insertEvent("Event", r, true);
  runSql(path, sql + "DELETE FROM Event WHERE ROWID IN (1, 3, 4);", false, false);
  auto input = CarveInput::fromBytes(fileBytes(path));
  std::set<Event> want;
  for (auto& r : rows) want.emplace(r.title, r.place, r.note, date(r.start), date(r.start + 3600));
  EXPECT_EQ(carve(*input, true).events, want);
  EXPECT_TRUE(carve(*input, true, false, /*stop=*/true).count == 0);
}

struct LogLayout {
  int columns;
  bool ios6;
};

class DeletedCalendarLog : public ::testing::TestWithParam<LogLayout> {};

TEST_P(DeletedCalendarLog, RowsOfTheDatabaseAndOfTheLogFrames) {
  const LogLayout layout = GetParam();
  testing::TempFolder dir;
  const fs::path path = dir.path() / "Calendar.sqlitedb";
  const std::vector<EventRow> inFile = {{"Dentist", "", "Bring card", 400000000, true},
                                        {"Review", "", kLongNote, 400180000, true},
                                        {"Lunch", "", "With Ann", 400270000, true}};
  const std::vector<EventRow> inLog = {{"Concert", "", "Row F", 410000000, true},
                                       {"Train", "", "Coach B", 410090000, false}};
  std::string sql = eventTable("CalendarItem", layout.columns, false);
  for (auto& r : inFile) sql += insertEvent("CalendarItem", r, false);
  runSql(path, sql + "DELETE FROM CalendarItem WHERE ROWID = 2;", false, true);
  // The log's rows go to a table of their own, so that they do not reuse the deleted space.
  sql = eventTable("LaterItem", layout.columns, false);
  for (auto& r : inLog) sql += insertEvent("LaterItem", r, false);
  runSql(path, sql + "DELETE FROM LaterItem WHERE ROWID = 1;", false, true, /*keepLog=*/true);
  Bytes file = fileBytes(path), log = fileBytes(path.string() + "-wal");
  ASSERT_EQ(file.at(18), 2);
  auto want = [](std::vector<EventRow> rows, const std::vector<EventRow>& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    std::set<Event> out;
    for (auto& r : rows) out.emplace(r.title, "", r.note, date(r.start), date(r.start + 3600));
    return out;
  };
  EXPECT_EQ(carve(*CarveInput::fromBytes(file), true, layout.ios6).events, want(inFile, {}));
  EXPECT_EQ(carve(*CarveInput::fromBytes(file, log), true, layout.ios6).events,
            want(inFile, inLog));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeletedCalendarLog,
                         ::testing::Values(LogLayout{51, true}, LogLayout{41, false}));

// A page of `size` bytes at page 1 of a database image whose header gives `size` and the
// write version; the page is a table leaf whose first cell pointer is `ptr0`.
Bytes databaseImage(uint32_t size, uint8_t writeVersion, uint16_t ptr0, int pages = 2) {
  Bytes db(size_t{size} * pages, 0);
  db[16] = static_cast<uint8_t>(size >> 8);
  db[17] = static_cast<uint8_t>(size);
  db[18] = writeVersion;
  db[size] = 0x0d;
  db[size + 8] = static_cast<uint8_t>(ptr0 >> 8);
  db[size + 9] = static_cast<uint8_t>(ptr0);
  return db;
}

void put(Bytes& b, size_t at, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<ptrdiff_t>(at));
}
void put(Bytes& b, size_t at, const std::string& s) {
  put(b, at, Bytes(s.begin(), s.end()));
}

// Hand-built rows on page 1 of a three-page image (page 2 holds text, no leaf): serial-type
// codes at h (the code base), the header-length byte before them, contents at h + L.
TEST(DeletedCalendar, HandBuiltRows) {
  const std::string dates = "\x17\xd7\x84\x00\x17\xd7\x92\x10"s;  // 400000000, +3600
  const std::string note(316, 'd');
  struct Case {
    const char* what;
    // page size, write version, system 6, code base h, first cell pointer, L, header byte,
    // code position of the six 0x08 codes
    std::array<size_t, 8> at;
    std::vector<std::pair<size_t, uint8_t>> codes;
    std::string content;
    Event want;
  } cases[] = {
      {"byte 0x85 at a - 9: d = 1, L = 32, cell at a - 15; bad UTF-8 keeps the text around it",
       {1024, 1, 0, 40, 37, 32, 0, 12},
       {{1, 19}, {2, 17}, {3, 0x85}, {4, 0x05}, {5, 4}, {7, 4}},
       "TeaH\xff" + note + dates,
       {"Tea", "H\xEF\xBF\xBD", note, date(400000000), date(400003600)}},
      {"system 6, byte 44 at a - 12: u = 43 < 51, so L = 51 + f (a two-byte code at a + 16)",
       {512, 2, 1, 60, 56, 52, 44, 11},
       {{1, 21}, {3, 19}, {4, 4}, {6, 4}, {27, 0x81}},
       "SwimCap" + dates,
       {"Swim", "", "Cap", date(400000000), date(400003600)}},
      {"a title running past the page end keeps the bytes inside the page",
       {512, 1, 0, 471, 468, 31, 0, 11},
       {{1, 113}},
       "Late title",
       {"Late title", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [size, version, ios6, h, ptr0, length, headerByte, anchor] = c.at;
    Bytes db = databaseImage(uint32_t(size), uint8_t(version), uint16_t(ptr0), 3);
    db[size + h - 1] = uint8_t(headerByte);
    for (auto [at, code] : c.codes) db[size + h + at] = code;
    for (size_t i = 0; i < 6; ++i) db[size + h + anchor + i] = 0x08;
    put(db, size + h + length, c.content);
    put(db, 2 * size, "NEXT PAGE TEXT");
    auto got = carve(*CarveInput::fromBytes(db), true, ios6);
    EXPECT_EQ(got.count, 1u);
    EXPECT_EQ(got.events, std::set<Event>{c.want});
    db[17] = 0xe8;  // page size 0x..e8: no pages
    EXPECT_EQ(carve(*CarveInput::fromBytes(db), true, ios6).count, 0u);
  }
}

TEST(DeletedCalendarAndBookmarks, RandomPagesPostOnlyValidText) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    Bytes db = databaseImage(512, round % 2 ? 2 : 1, uint16_t(rng() % 512), 3);
    for (size_t i = 522; i < db.size(); ++i) db[i] = uint8_t(i == 1024 ? 0x0d : rng() % 12);
    const std::string texts = carve(*CarveInput::fromBytes(db), true, round % 3 == 0).texts +
                              carve(*CarveInput::fromBytes(db), false).texts;
    EXPECT_TRUE(isValidUtf8({reinterpret_cast<const uint8_t*>(texts.data()), texts.size()}));
  }
}

// ---------------------------------------------------------------- bookmarks

// Bookmark tables of 11, 19 and 24 columns: id, special_id, parent, type, title, url, then
// small integers, and a 36-character identifier after them.
std::string bookmarkTable(int width) {
  std::string sql =
      "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER, parent INTEGER, "
      "type INTEGER, title TEXT, url TEXT, num_children INTEGER, editable INTEGER, "
      "deletable INTEGER, ";
  sql += width == 11 ? "order_index INTEGER, external_uuid TEXT"
                     : "hidden INTEGER, hidden_ancestor_count INTEGER, order_index INTEGER, "
                       "external_uuid TEXT, read INTEGER, last_modified REAL, server_id TEXT, "
                       "sync_key TEXT, sync_data BLOB, added INTEGER";
  if (width == 24)
    sql +=
        ", deleted INTEGER, extra_attributes BLOB, local_attributes BLOB, "
        "fetched_icon BOOL, icon BLOB";
  return sql + ");";
}

std::string insertMark(int width, int order, const Mark& m, int type = 0) {
  const std::string uuid = q("0F5C0C5E-8D7B-4C2B-9E48-1D6A8F0C" + std::to_string(1000 + order));
  return "INSERT INTO bookmarks (special_id, parent, type, title, url, num_children, editable, "
         "deletable, " +
         std::string(width == 11 ? "" : "hidden, hidden_ancestor_count, ") +
         "order_index, external_uuid) VALUES (0, 1, " + std::to_string(type) + ", " + q(m.first) +
         ", " + q(m.second) + ", 0, 1, 1, " + (width == 11 ? "" : "0, 0, ") +
         std::to_string(order) + ", " + uuid + ");";
}

class DeletedBookmarks : public ::testing::TestWithParam<int> {};

TEST_P(DeletedBookmarks, RowsOfEveryWidthButTheBrowserFolders) {
  const int width = GetParam();
  testing::TempFolder dir;
  const fs::path path = dir.path() / "Bookmarks.db";
  const std::vector<Mark> marks = {
      {"root", "http://example.com/root"},  // differs from the folder only in case
      {"News", "http://news.example.org/"},
      {"Weather", "http://weather.example.net/today"},
      {std::string(60, 'T'), "http://long.example.com/title"},  // a two-byte title code
      {std::string(60, 'B'), "http://long.example.com/" + std::string(60, 'u')},  // both
      {"Maps", "http://maps.example.com/"}};
  std::string sql = bookmarkTable(width) + insertMark(width, 1, {"Root", ""}, 1) +
                    insertMark(width, 2, {"com.apple.ReadingList", ""}, 1);
  for (size_t i = 0; i < marks.size(); ++i) sql += insertMark(width, 3 + int(i), marks[i]);
  runSql(path, sql + "DELETE FROM bookmarks WHERE id IN (1, 4, 6, 7);", true, false);
  Bytes file = fileBytes(path);
  ASSERT_EQ(file.at(47), 1);  // schema format 1: 0 and 1 stored as one-byte integers
  auto got = carve(*CarveInput::fromBytes(file), false);
  EXPECT_EQ(got.marks, std::set<Mark>(marks.begin(), marks.end()));
  // One record per row: the later alignments of the same row are passed over.
  EXPECT_EQ(got.count, marks.size());
}

INSTANTIATE_TEST_SUITE_P(Widths, DeletedBookmarks, ::testing::Values(11, 19, 24));

TEST(DeletedBookmarksPage, WideRowsCloseAfterARunArePassedOver) {
  // Width 19 from the first cell (header length 20 before its NULL id code). A run of six
  // one-byte codes at 100 (row "Run"); "0101010155" at 110, inside that row and fewer than 19
  // bytes after the run, is passed over (carving it would post an empty record); the one at
  // 130 (row "Far") is carved.
  const uint32_t size = 512;
  Bytes db = databaseImage(size, 1, 94 - 3);
  auto row = [&](size_t h, const std::string& title, bool run) {
    Bytes codes(19, 0x00);
    codes[1] = codes[2] = codes[3] = 0x01;
    codes[4] = static_cast<uint8_t>(13 + 2 * title.size());
    for (size_t i = 6; i < 10; ++i) codes[i] = 0x01;
    codes[10] = run ? 0x01 : 0x55;
    codes[11] = 0x01;
    if (run) codes[16] = codes[17] = codes[18] = 0x01;
    put(db, size + h - 1, Bytes{20});
    put(db, size + h, codes);
    put(db, size + h + 19, Bytes{0x01, 0x55, 0x00});  // with those codes: "0101010155"
    put(db, size + h + 22, title);
  };
  row(94, "Run", true);    // run at 100, wide at 110
  row(124, "Far", false);  // wide at 130
  auto got = carve(*CarveInput::fromBytes(db), false);
  EXPECT_EQ(got.marks, (std::set<Mark>{{"Run", ""}, {"Far", ""}}));
  EXPECT_EQ(got.count, 2u);
}

TEST(DeletedBookmarksPage, ByteTests) {
  struct Alter {
    Bytes page;
    int64_t offset;
    int want;
  } alters[] = {
      {{20, 0x00}, 1, 1}, {{30, 0x00}, 1, 2},   {{10, 0x00}, 1, 0}, {{0x14}, 0, 1},
      {{0x16}, 0, 1},     {{0x17, 0x05}, 0, 0}, {{0x1b}, 0, 2},     {{24, 0x07, 0x0c, 0x00}, 2, 1},
      {{0x00}, 0, 0},
  };
  for (const Alter& c : alters) EXPECT_EQ(bBookMarkTableAlter(c.page, c.offset), c.want);

  const Bytes page = {0x0d, 0x14, 0x00, 0x19, 0x00, 0x01, 0x81, 0x05, 0x00, 0x00, 0x01};
  struct LengthCase {
    int64_t offset;
    int length, want;
  } lengths[] = {{4, 19, -1}, {4, 24, 1}, {5, 24, 1},  {7, 24, 1},  {9, 24, 0},
                 {10, 19, 0}, {3, 19, 1}, {1, 19, -1}, {4, 11, -1}, {-2, 19, 0}};
  for (const LengthCase& c : lengths) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(getMarkBookLength(page, c.offset, c.length), c.want);
  }
  // (result, expected): steps back to 0x01 (past the page: zeros), and the two width tests.
  const std::pair<int64_t, int64_t> more[] = {
      {TitleAndUrlIsAlterbleDBFile(page, 5), 0},  {TitleAndUrlIsAlterbleDBFile(page, 7), 2},
      {TitleAndUrlIsAlterbleDBFile(page, 9), 4},  {TitleAndUrlIsAlterbleDBFile(page, 9, 3), -1},
      {TitleAndUrlIsAlterbleDBFile(page, 4), -1}, {TitleAndUrlIsAlterbleDBFile(page, 13), 3},
      {IsExtra_AttributeAlter(page, 6, 24), 1},   {IsExtra_AttributeAlter(page, 5, 24), 0},
      {IsExtra_AttributeAlter(page, 6, 19), 0},   {IsServer_IDAlter(page, 6, 24), 1},
      {IsServer_IDAlter(page, 7, 24), 0},         {IsServer_IDAlter(page, 6, 11), 0}};
  for (auto [got, want] : more) EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace tamsel
