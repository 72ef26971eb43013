// Databases of the user's whose "tables" are views without end (a recursive query over UNION
// also grows a temporary table without end): refused with a warning, and every read has a
// budget of work and honours a stop. Each read runs under a hard cap: one that does not end
// fails the test program instead of blocking the run.
#include "util/untrusted_sqlite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "ios/backup_index.h"
#include "ios/contacts_messages.h"
#include "ios/encrypted_backup.h"
#include "ios/iphone_source.h"
#include "ios/phone_records.h"
#include "tests/fixtures/fixture_db.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/ios_scan_test.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using fixtures::FixtureDb;
using testing::IosBackupWriter;

void endsOrFails(const std::function<void()>& work) {
  std::promise<void> done;
  std::thread cap([ended = done.get_future()] {
    if (ended.wait_for(std::chrono::minutes(2)) == std::future_status::timeout) {
      std::fputs("a read of a database with views did not end\n", stderr);
      std::_Exit(1);
    }
  });
  work();
  done.set_value();
  cap.join();
}

// A view `name` of the columns `columns` ("a, b"), each giving 1, 2, 3... while `when` holds.
std::string endlessView(const std::string& name, const std::string& columns,
                        const std::string& when = "1") {
  std::string values = "x";
  for (char c : columns) values += c == ',' ? ", x" : "";
  return "CREATE VIEW " + name + "(" + columns + ") AS WITH RECURSIVE n(x) AS (SELECT 1 WHERE " +
         when + " UNION SELECT x + 1 FROM n) SELECT " + values + " FROM n;";
}

void editDatabase(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// Steps `sql` to its end: the rows and the last result code.
std::pair<int, int> runAll(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  int rows = 0;
  while (rc == SQLITE_OK || rc == SQLITE_ROW) rows += (rc = sqlite3_step(st)) == SQLITE_ROW;
  sqlite3_finalize(st);
  return {rows, rc};
}

TEST(UntrustedSqlite, ViewsTriggersAndRecursionAreRefusedAndABudgetOrAStopEndsAQuery) {
  testing::TempFolder tmp;
  const std::string file = (tmp.path() / "t.db").string();
  {
    FixtureDb db(file);
    db.exec("CREATE TABLE t(a, b); CREATE VIEW v AS SELECT a FROM t;" + endlessView("r", "x") +
            "CREATE VIEW w AS SELECT x FROM r; CREATE TABLE log(a);"
            "CREATE TRIGGER g AFTER INSERT ON t BEGIN INSERT INTO log VALUES (new.a); END;");
    db.rows(3000, 0, [&](size_t i) { db.insert("INSERT INTO t VALUES (?, 'b')", {int64_t(i)}); });
  }
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT rowid, * FROM t ORDER BY b, a DESC", nullptr},  // read in full
      {"SELECT a FROM v", "v is a view, not a table: not read"},
      {"SELECT x FROM r", "r is a view, not a table: not read"},  // reads no table at all
      {"SELECT count(*) FROM w", "w is a view, not a table: not read"},
      {"WITH RECURSIVE n(x) AS (SELECT 1 UNION SELECT x FROM n) SELECT x FROM n",
       "a query through n is not run"},
      {"INSERT INTO t VALUES (1, 2)", "the trigger g of the database is not run"},
  };
  for (const auto& [sql, says] : cases) {
    endsOrFails([&] {
      UntrustedSqlite db(file);
      const auto [rows, rc] = runAll(db.handle(), sql);
      EXPECT_EQ(rc, says ? SQLITE_AUTH : SQLITE_DONE) << sql;
      EXPECT_EQ(db.takeWarnings(),
                says ? std::vector<std::string>{says} : std::vector<std::string>{});
    });
  }
  // Some billions of rows: only the budget or a stop ends them.
  const std::string endless = "SELECT count(*) FROM t a, t b, t c";
  endsOrFails([&] {
    UntrustedSqlite db(file, file, {.budget = 2000});
    EXPECT_EQ(runAll(db.handle(), "SELECT * FROM t").second, SQLITE_INTERRUPT);
    EXPECT_EQ(runAll(db.handle(), endless).second, SQLITE_INTERRUPT);
    ASSERT_EQ(db.takeWarnings().size(), 1u);
    EXPECT_TRUE(db.budgetSpent());

    UntrustedSqlite sized(file);  // the budget of its size reads the whole table
    EXPECT_EQ(runAll(sized.handle(), "SELECT * FROM t"), std::make_pair(3000, SQLITE_DONE));
    EXPECT_EQ(runAll(sized.handle(), "SELECT * FROM pragma_temp_store WHERE temp_store = 2").first,
              1);  // in memory
    sized.stopWhen([] { return true; });
    EXPECT_EQ(runAll(sized.handle(), endless).second, SQLITE_INTERRUPT);
    EXPECT_TRUE(sized.stopped());
    EXPECT_FALSE(sized.budgetSpent());
  });
  EXPECT_GT(UntrustedSqlite::budgetFor(uint64_t{8} << 30), UntrustedSqlite::budgetFor(1 << 20));
}

class PhoneViewsTest : public testing::IosScanTest {};

// Each step over a database whose table is a view without end ends, and says so.
TEST_F(PhoneViewsTest, ViewsInPlaceOfTablesAreWarningsNotHangs) {
  const struct {
    const StoredDatabase& db;
    std::string view, columns, beside;
    void (*step)(const std::string&, ScanContext&);
  } cases[] = {
      {stored::kAddressBook, "abperson",
       "Rowid, first, Department, DisplayName, firstPhonetic, jobTitle, organization, middle, "
       "middlePhonetic, CreationDate, Last, Note, Nickname, prefix, suffix, Birthday",
       "", scanContactThread},
      {stored::kAddressBookImages, "ABFullSizeImage", "record_id, data", "", scanContactThread},
      {stored::kMessages, "message", "ROWID, text, date, handle_id, is_from_me",
       "CREATE TABLE handle(id);", scanMessageThread},
      {stored::kCallHistory, "call", "address, date, duration, flags", "", scanCallHistoryThread},
      {stored::kCallHistoryStore, "ZCALLRECORD",
       "ZADDRESS, ZDATE, ZDURATION, ZORIGINATED, ZCALLTYPE", "", scanCallHistoryThread},
      {stored::kNotes, "note", "ROWID, TITLE, SUMMARY, MODIFICATION_DATE, CREATION_DATE",
       "CREATE TABLE NOTE_BODIES(NOTE_ID, DATA);", scanNoteThread},
      {stored::kNoteStore, "ZICCLOUDSYNCINGOBJECT",
       "Z_PK, ZNOTEDATA, ZTITLE1, ZMODIFICATIONDATE1, ZISPASSWORDPROTECTED, ZMARKEDFORDELETION",
       "CREATE TABLE ZICNOTEDATA(Z_PK INTEGER PRIMARY KEY, ZDATA);", scanNoteThread},
      {stored::kBookmarks, "bookmarks", "TITLE, URL, id, parent, type", "", scanBookMarkThread},
      {stored::kCalendar, "CalendarItem",
       "summary, location_id, description, start_date, end_date, start_tz, all_day, calendar_id",
       "", scanCalenderThread},
  };
  ctx.iosMajorVersion = 7;
  for (const auto& c : cases) {
    reset();
    // The pictures are read with an address book only.
    FixtureDb(stored(stored::kAddressBook)).exec("CREATE TABLE abperson(first);");
    FixtureDb(stored(c.db)).exec(c.beside + endlessView(c.view, c.columns));
    endsOrFails([&] { c.step(backup.string(), ctx); });
    EXPECT_TRUE(warned(std::string(c.db.name) + "): " + c.view + " is a view, not a table"))
        << ::testing::PrintToString(ctx.warnings);
  }
}

// A backup whose index has a view for Files: the index is not read and the scan says why; in
// a clear backup the phone's databases are read all the same, an encrypted one (its index
// decrypted into the run folder first) cannot be opened. (The encrypted backup's view gives
// no rows to the fixture writer, which reads the index from a file named "*.clear".)
TEST_F(PhoneViewsTest, ManifestFilesViewIsAWarningNotAHang) {
  testing::SampleBackupOptions options;
  options.index = IosBackupWriter::Index::manifestDb;
  const testing::SampleBackup sample = testing::writeSampleBackup(backup, options);
  const std::string files = "fileID, domain, relativePath, flags, file";
  const fs::path clear = tmp.path() / "clear";
  fs::copy(backup, clear, fs::copy_options::recursive);
  editDatabase(backup / "Manifest.db", "DROP TABLE Files;" + endlessView("Files", files));
  editDatabase(clear / "Manifest.db",
               "DROP TABLE Files;" +
                   endlessView("Files", files,
                               "(SELECT file FROM pragma_database_list) NOT LIKE '%.clear'") +
                   "CREATE TRIGGER kept INSTEAD OF UPDATE ON Files BEGIN SELECT 1; END;");
  const testing::EncryptedBackup encrypted = testing::encryptBackup(clear, tmp.path() / "enc");
  const std::string says = "Files is a view, not a table: not read";
  endsOrFails([&] {
    std::string damage;
    EXPECT_FALSE(forEachIndexEntry(
        backup, [](const BackupIndexEntry&) { return true; }, ctx.runDir, &damage));
    EXPECT_EQ(damage, "Manifest.db: " + says);

    size_t contacts = 0;
    nc.addObserver(notify::kScanContactInfo, [&](const Notification&) { ++contacts; });
    const ScanOutcome o = IphoneBackupSource().scan(backup.string(), ctx);
    ASSERT_TRUE(o.readable) << o.error;
    EXPECT_EQ(contacts, sample.contacts);
    EXPECT_NE(::testing::PrintToString(o.warnings).find(says), std::string::npos);

    std::string password = testing::EncryptionOptions().password;
    const ClearBackup opened = openEncryptedBackup(encrypted.folder, password, ctx.runDir);
    EXPECT_FALSE(opened.opened);
    EXPECT_NE(opened.error.find(says), std::string::npos) << opened.error;
  });
}

}  // namespace
}  // namespace tamsel
