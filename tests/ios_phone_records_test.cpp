// The live call history, notes, bookmarks and browser history, and calendar steps of the
// phone backup scan, over databases made by the records fixture writer.
#include "ios/phone_records.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_records_db_writer.h"
#include "tests/fixtures/ios_scan_test.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/date.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
namespace fx = tamsel::fixtures;

class PhoneRecordsTest : public tamsel::testing::IosScanTest {
 protected:
  PhoneRecordsTest() {
    collect(notify::kScanCallHistoryInfo, calls);
    collect(notify::kScanNoteInfo, notes);
    collect(notify::kScanBookMarkInfo, bookmarks);
    collect(notify::kScanCalenderInfo, events);
  }

  std::vector<std::string> bookmarkTitles() const {
    std::vector<std::string> out;
    for (const auto& b : bookmarks) out.push_back(b->bookMarkTitle);
    return out;
  }

  std::vector<std::shared_ptr<PRCallHistoryNode>> calls;
  std::vector<std::shared_ptr<PRNoteNode>> notes;
  std::vector<std::shared_ptr<PRBookMarkNode>> bookmarks;
  std::vector<std::shared_ptr<PRCalenderNode>> events;
};

const std::vector<std::string> kDefaultTitles{"Apple", "Yahoo", "Google", "iPhone User Guide",
                                              "iPhone Web Applications"};

std::shared_ptr<PRContactNode> contact(std::string name, std::string phones) {
  auto c = std::make_shared<PRContactNode>();
  c->contactName = std::move(name);
  c->contactPhone = std::move(phones);
  return c;
}

// ---------------------------------------------------------------- call history

struct CallCase {
  const char* what;
  const char* address;  // null: NULL
  std::optional<int64_t> date, seconds, flags;
  const char* shownDate;
  const char* type;
  const char* durationText;
  int32_t callTime;
};

TEST_F(PhoneRecordsTest, CallFieldsTypesAndDurations) {
  const char* d2001 = "09-09-2001 01:46";
  // clang-format off
  const std::vector<CallCase> cases{
      {"outgoing, not connected", "+15551230001", 1000000000, 0, 5, d2001, "Outgoing", "Cancelled", 0},
      {"incoming, not answered", "+15551230002", 1000000000, 0, 4, d2001, "Incoming", "Missed", 0},
      {"125 seconds", "+15551230003", 1000000000, 125, 5, d2001, "Outgoing", "2 minutes", 125},
      {"empty duration stays -1", "+1555", 1000000000, {}, 4, d2001, "Incoming", "-1 second", -1},
      {"flags absent reads incoming", "555", {}, 7200, {}, "", "Incoming", "2 hours", 7200},
      {"no number, no date", nullptr, 0, 45, 5, "", "Outgoing", "45 seconds", 45},
      {"flags other than 5 read incoming", "6", 1000000000, 0, 6, d2001, "Incoming", "Missed", 0},
      {"seconds since 2001 (before 1990 as 1970)", "1", 300000000, 1, 1, "07-05-2010 05:20",
       "Incoming", "1 second", 1},
  };
  // clang-format on
  std::vector<fx::CallRow> rows;
  for (const auto& c : cases) {
    fx::CallRow row{std::nullopt, c.date, c.seconds, c.flags};
    if (c.address) row.address = c.address;
    rows.push_back(row);
  }
  fx::writeCallHistoryDb(stored(stored::kCallHistory), rows);

  scanCallHistoryThread(backup.string(), ctx);

  ASSERT_EQ(calls.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    EXPECT_EQ(calls[i]->callPhone, cases[i].address ? cases[i].address : "");
    EXPECT_EQ(calls[i]->callDate, cases[i].shownDate);
    EXPECT_EQ(calls[i]->callType, cases[i].type);
    EXPECT_EQ(calls[i]->callTime, cases[i].callTime);
    EXPECT_EQ(calls[i]->callDuration, cases[i].durationText);
    EXPECT_EQ(calls[i]->callName, "");
  }
  EXPECT_EQ(progress, std::vector<int64_t>{60});
}

TEST_F(PhoneRecordsTest, CallNamesFromContactsWithAndWithoutPreparedIndex) {
  ctx.contactArray = {contact("Anna", " 5551234567 +4420799"), contact("Ben", "(555) 987-6543")};
  fx::writeCallHistoryDb(stored(stored::kCallHistory), {{"(555) 123-4567", 1, 10, 5},
                                                        {"555-987 6543", 1, 10, 4},
                                                        {"999", 1, 10, 4},
                                                        {std::nullopt, 1, 10, 4}});
  for (bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "name index" : "contact list");
    freshRun();
    ctx.nameIndex = prepared ? std::make_shared<PhoneNameIndex>(ctx.contactArray) : nullptr;
    scanCallHistoryThread(backup.string(), ctx);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0]->callName, "Anna");
    EXPECT_EQ(calls[1]->callName, "Ben");
    EXPECT_EQ(calls[2]->callName, "");
    EXPECT_EQ(calls[3]->callName, "");
  }
}

// Which stored file each step reads, and the progress it posts.
struct FileChoiceCase {
  const char* what;
  bool first, second;   // which stored files the backup holds (valid databases)
  bool firstIsGarbage;  // the first file holds no database
  size_t records;       // expected
  std::vector<int64_t> progress;
};

TEST_F(PhoneRecordsTest, CallHistoryFileChoiceAndProgress) {
  const std::vector<FileChoiceCase> cases{
      {"neither file", false, false, false, 0, {}},
      {"second only", false, true, false, 2, {60}},
      {"both: first wins", true, true, false, 1, {60}},
      {"first is not a database: no fallback", true, true, true, 0, {60}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    if (c.first && c.firstIsGarbage) {
      tamsel::testing::writeWholeFile(stored(stored::kCallHistory, Layout::subfolders),
                                      std::string(4096, 'x'));
    } else if (c.first) {
      fx::writeCallHistoryDb(stored(stored::kCallHistory, Layout::subfolders), {{"1", 1, 1, 5}});
    }
    if (c.second) {
      fx::writeCallHistoryDb(stored(stored::kCallHistoryOld), {{"2", 1, 1, 5}, {"3", 1, 1, 5}});
    }
    scanCallHistoryThread(backup.string(), ctx);
    EXPECT_EQ(calls.size(), c.records);
    EXPECT_EQ(progress, c.progress);
  }
  progress.clear();
  scanCallHistoryThread("", ctx);
  EXPECT_TRUE(progress.empty());
}

TEST_F(PhoneRecordsTest, CallRowsLeftInTheWriteAheadLogAreRead) {
  fs::path db = tmp.path() / "call_history.db";
  fx::writeCallHistoryDb(db, {{"1", 1, 1, 5}, {"2", 1, 1, 5}, {"3", 1, 1, 5}}, 2);
  ASSERT_TRUE(fs::exists(db.string() + "-wal"));
  fs::copy_file(db, stored(stored::kCallHistory));
  fs::copy_file(db.string() + "-wal", backup / std::string(stored::kCallHistory.walName));
  scanCallHistoryThread(backup.string(), ctx);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2]->callPhone, "3");
}

// ---------------------------------------------------------------- notes

TEST_F(PhoneRecordsTest, NotesInBothLayoutsAndFromEitherFile) {
  struct Case {
    const char* what;
    fx::NotesLayout layout;
    const StoredDatabase* file;
  };
  const std::vector<Case> cases{
      {"old layout, first file", fx::NotesLayout::kOld, &stored::kNotes},
      {"newer layout (old statement fails)", fx::NotesLayout::kCoreData, &stored::kNotes},
      {"old layout, second file", fx::NotesLayout::kOld, &stored::kNotesOld},
      {"newer layout, second file in a subfolder", fx::NotesLayout::kCoreData, &stored::kNotesOld},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    fx::writeNotesDb(stored(*c.file, c.file == &stored::kNotes ? Layout::flat : Layout::subfolders),
                     c.layout,
                     {{"Shopping", "milk\neggs", 31536000, 5, "milk"},
                      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
                      {"Ünïcode", "body", 400000000, 1, std::nullopt}});
    scanNoteThread(backup.string(), ctx);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0]->noteTitle, "Shopping");
    EXPECT_EQ(notes[0]->noteContent, "milk\neggs");
    EXPECT_EQ(notes[0]->noteDate, "01-01-2002 00:00");
    EXPECT_EQ(notes[1]->noteTitle, "");
    EXPECT_EQ(notes[1]->noteContent, "");
    EXPECT_EQ(notes[1]->noteDate, "");
    EXPECT_EQ(notes[2]->noteTitle, "Ünïcode");
    EXPECT_EQ(notes[2]->noteDate, "09-04-2013 15:06");
    EXPECT_EQ(progress, std::vector<int64_t>{70});
  }
}

TEST_F(PhoneRecordsTest, NotesMissingOrUnreadable) {
  scanNoteThread(backup.string(), ctx);
  EXPECT_TRUE(logged("messageDB is not exist"));
  EXPECT_TRUE(progress.empty());

  // A file that holds no database still ends the step with its progress.
  tamsel::testing::writeWholeFile(stored(stored::kNotes), "not a database at all");
  scanNoteThread(backup.string(), ctx);
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(progress, std::vector<int64_t>{70});
}

// ---------------------------------------------------------------- bookmarks and history

TEST_F(PhoneRecordsTest, BookmarksDropTheFoldersThenDefaultsThenHistory) {
  for (fx::PlistFormat format : {fx::PlistFormat::kXml, fx::PlistFormat::kBinary}) {
    SCOPED_TRACE(format == fx::PlistFormat::kXml ? "XML" : "binary");
    reset();
    fx::writeBookmarksDb(stored(stored::kBookmarks), fx::standardBookmarkFolders());
    fx::writeHistoryPlist(stored(stored::kBrowserHistory, Layout::subfolders),
                          {{"http://example.org/", "Example"}, {"http://untitled.example/", {}}},
                          format);
    scanBookMarkThread(backup.string(), ctx);

    std::vector<std::string> titles = kDefaultTitles;
    titles.insert(titles.end(), {"Example", ""});
    EXPECT_EQ(bookmarkTitles(), titles);
    ASSERT_EQ(bookmarks.size(), 7u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(bookmarks[i]->bookMarkURL.rfind("http", 0), 0u);
    EXPECT_EQ(bookmarks[5]->bookMarkURL, "http://example.org/");
    EXPECT_EQ(bookmarks[6]->bookMarkURL, "http://untitled.example/");
  }
  EXPECT_TRUE(progress.empty());
}

TEST_F(PhoneRecordsTest, BookmarkRowsFromEitherFileWithoutHistory) {
  std::vector<fx::BookmarkRow> rows = fx::standardBookmarkFolders();
  rows.push_back({"News", "http://news.example/", 1, fx::kBookmarkLeaf});
  rows.push_back({"Folder", std::nullopt, 1, fx::kBookmarkFolder});
  rows.push_back({std::nullopt, "http://notitle.example/", 4, fx::kBookmarkLeaf});
  fx::writeBookmarksDb(stored(stored::kBookmarksOther, Layout::subfolders), rows);
  scanBookMarkThread(backup.string(), ctx);

  std::vector<std::string> titles{"News", "Folder", ""};
  titles.insert(titles.end(), kDefaultTitles.begin(), kDefaultTitles.end());
  EXPECT_EQ(bookmarkTitles(), titles);
  ASSERT_EQ(bookmarks.size(), 8u);
  EXPECT_EQ(bookmarks[0]->bookMarkURL, "http://news.example/");
  EXPECT_EQ(bookmarks[1]->bookMarkURL, "");
  EXPECT_EQ(bookmarks[2]->bookMarkURL, "http://notitle.example/");
  EXPECT_TRUE(logged("bookMarkPlistPath not find"));
}

TEST_F(PhoneRecordsTest, NoBookmarksDatabaseMeansNothingEvenWithHistory) {
  fx::writeHistoryPlist(stored(stored::kBrowserHistory), {{"http://example.org/", "Example"}},
                        fx::PlistFormat::kXml);
  scanBookMarkThread(backup.string(), ctx);
  EXPECT_TRUE(bookmarks.empty());
  EXPECT_TRUE(logged("messageDB is not exist"));
}

TEST_F(PhoneRecordsTest, DamagedHistoryListsGiveOnlyTheBookmarks) {
  const std::vector<std::pair<const char*, std::string>> cases{
      {"empty file", ""},
      {"not a property list", "<html>hello</html>"},
      {"binary header, damaged body", std::string("bplist00") + std::string(40, '\xff')},
      {"array at the top", "<plist version=\"1.0\"><array><string>x</string></array></plist>"},
      {"entries are not dictionaries",
       "<plist version=\"1.0\"><dict><key>WebHistoryDates</key><array><string>x</string>"
       "<integer>3</integer></array></dict></plist>"},
      {"url of the wrong type",
       "<plist version=\"1.0\"><dict><key>WebHistoryDates</key><array><dict><key></key>"
       "<integer>3</integer><key>title</key><string>T</string></dict></array></dict></plist>"},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    reset();
    fx::writeBookmarksDb(stored(stored::kBookmarks), fx::standardBookmarkFolders());
    tamsel::testing::writeWholeFile(stored(stored::kBrowserHistory), bytes);
    scanBookMarkThread(backup.string(), ctx);
    std::vector<std::string> titles = kDefaultTitles;
    if (std::string_view(what) == "url of the wrong type") titles.push_back("T");
    EXPECT_EQ(bookmarkTitles(), titles);
    if (bookmarks.size() == 6) {
      EXPECT_EQ(bookmarks[5]->bookMarkURL, "");
    }
  }
}

TEST_F(PhoneRecordsTest, RealBrowserHistoryList) {
  TAMSEL_REQUIRE_TESTDATA("ios/misc/History.plist");
  fx::writeBookmarksDb(stored(stored::kBookmarks), fx::standardBookmarkFolders());
  fs::copy_file(tamsel::testing::testDataPath("ios/misc/History.plist"),
                stored(stored::kBrowserHistory));
  scanBookMarkThread(backup.string(), ctx);
  ASSERT_EQ(bookmarks.size(), 5u + 18u);
  EXPECT_EQ(bookmarks[5]->bookMarkURL, "http://www.youtube.com/watch?v=jm8iSg8eZdw");
  EXPECT_EQ(bookmarks[5]->bookMarkTitle, "Glima Interview - YouTube");
  EXPECT_EQ(bookmarks[5 + 8]->bookMarkTitle, "Amínósýrur");
  // An entry the browser stored without a title keeps the empty title.
  EXPECT_EQ(bookmarks[5 + 16]->bookMarkTitle, "");
  EXPECT_EQ(bookmarks[5 + 16]->bookMarkURL.rfind("http://www.google.com/url?", 0), 0u);
}

// ---------------------------------------------------------------- calendar

struct CalendarCase {
  const char* what;
  fx::CalendarLayout layout;
  bool ios6;
  std::vector<std::string> titles, locations;
};

TEST_F(PhoneRecordsTest, CalendarStatementsByVersionAndLayout) {
  const std::vector<fx::CalendarDef> calendars{{"Home", fx::kCalendarEvents},
                                               {"Reminders", fx::kCalendarReminders}};
  const std::vector<fx::CalendarEventRow> rows{
      {"Dentist", "Main Street", "bring card", 400000000, 410000000},
      {"Pay rent", std::nullopt, std::nullopt, 400000000, 400000000, {}, 0, 2},
      {"Walk", "Park", std::nullopt, std::nullopt, std::nullopt},
  };
  const std::vector<CalendarCase> cases{
      {"system 6: the location's row id",
       fx::CalendarLayout::kIos6,
       true,
       {"Dentist", "Pay rent", "Walk"},
       {"1", "", "2"}},
      {"system 5: titles, reminders left out",
       fx::CalendarLayout::kIos5,
       false,
       {"Dentist", "Walk"},
       {"Main Street", "Park"}},
      {"system 5 statement fails on system 4 tables",
       fx::CalendarLayout::kIos4,
       false,
       {"Dentist", "Pay rent", "Walk"},
       {"Main Street", "", "Park"}},
      {"system 6 statement on system 4 tables gives nothing",
       fx::CalendarLayout::kIos4,
       true,
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    fx::writeCalendarDb(stored(stored::kCalendar, Layout::subfolders), c.layout, calendars, rows);
    ctx.currentNodeIsiOS6Version = c.ios6;
    scanCalenderThread(backup.string(), ctx);
    std::vector<std::string> titles, locations;
    for (const auto& e : events) {
      titles.push_back(e->calTitle);
      locations.push_back(e->location);
    }
    EXPECT_EQ(titles, c.titles);
    EXPECT_EQ(locations, c.locations);
    if (!events.empty()) {
      EXPECT_EQ(events[0]->calNote, "bring card");
      EXPECT_EQ(events[0]->startDate, "09-04-2013 15:06");
      EXPECT_EQ(events[0]->endDate, "12-29-2013 08:53");
      EXPECT_EQ(events.back()->startDate, "");
    }
  }
  EXPECT_TRUE(progress.empty());
}

TEST_F(PhoneRecordsTest, CalendarWithOnlyRemindersFallsBackToTheOldTable) {
  // The system 5 statement yields no rows (only reminders); the old event table is read.
  fs::path db = stored(stored::kCalendar);
  fx::writeCalendarDb(db, fx::CalendarLayout::kIos5, {{"Reminders", fx::kCalendarReminders}},
                      {{"Pay rent", std::nullopt, std::nullopt, 400000000, 400000000}});
  scanCalenderThread(backup.string(), ctx);
  EXPECT_TRUE(events.empty());

  // A database that kept the old table beside the new ones (an upgraded phone).
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(handle,
                         "CREATE TABLE Event (summary TEXT, location TEXT, description TEXT, "
                         "start_date INTEGER, end_date INTEGER, start_tz TEXT, all_day INTEGER, "
                         "calendar_id INTEGER);"
                         "INSERT INTO Event VALUES ('Old event', 'Hall', NULL, 400000000, "
                         "410000000, NULL, 0, 1);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(handle);
  freshRun();
  scanCalenderThread(backup.string(), ctx);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->calTitle, "Old event");
  EXPECT_EQ(events[0]->location, "Hall");

  fs::remove_all(backup);
  fs::create_directories(backup);
  scanCalenderThread(backup.string(), ctx);
  EXPECT_TRUE(logged("CalenderDB is not exist"));
}

TEST_F(PhoneRecordsTest, RealModernCalendar) {
  const std::string sample = "ios/ios14-backup";
  TAMSEL_REQUIRE_TESTDATA(sample + "/20/" + std::string(stored::kCalendar.name));
  ctx.currentNodeIsiOS6Version = true;
  scanCalenderThread(tamsel::testing::testDataPath(sample).string(), ctx);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->calTitle, "Super interesting meeting");
  EXPECT_EQ(events[0]->location, "");
  EXPECT_EQ(events[0]->startDate, GetDateTime(703502100, 1).value_or("none"));

  // The newer layout has neither the location join nor the old event table: a phone of a
  // later system is read as a system 6 one, by its version.
  events.clear();
  ctx.currentNodeIsiOS6Version = false;
  scanCalenderThread(tamsel::testing::testDataPath(sample).string(), ctx);
  EXPECT_TRUE(events.empty());
  for (int major : {7, 14, 17}) {
    events.clear();
    freshRun();
    ctx.iosMajorVersion = major;
    scanCalenderThread(tamsel::testing::testDataPath(sample).string(), ctx);
    EXPECT_EQ(events.size(), 1u) << "system " << major;
  }
}

// ---------------------------------------------------------------- stopping

TEST_F(PhoneRecordsTest, StopEndsEachStepBetweenRecords) {
  fx::writeCallHistoryDb(stored(stored::kCallHistory), {{"1", 1, 1, 5}, {"2", 1, 1, 5}});
  fx::writeNotesDb(stored(stored::kNotes), fx::NotesLayout::kOld,
                   {{"a", "1", 1, 1, {}}, {"b", "2", 1, 1, {}}});
  fx::writeBookmarksDb(stored(stored::kBookmarks), {{"x", "http://x/"}, {"y", "http://y/"}});
  fx::writeCalendarDb(stored(stored::kCalendar), fx::CalendarLayout::kIos4, {{}},
                      {{"a", {}, {}, 1, 1}, {"b", {}, {}, 1, 1}});
  for (auto name : {notify::kScanCallHistoryInfo, notify::kScanNoteInfo, notify::kScanBookMarkInfo,
                    notify::kScanCalenderInfo}) {
    nc.addObserver(name, [this](const Notification&) { ctx.stopRequested = true; });
  }
  for (auto step :
       {scanCallHistoryThread, scanNoteThread, scanBookMarkThread, scanCalenderThread}) {
    ctx.stopRequested = false;
    step(backup.string(), ctx);
  }
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(notes.size(), 1u);
  EXPECT_EQ(bookmarks.size(), 1u);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_TRUE(progress.empty());
}

}  // namespace
}  // namespace tamsel
