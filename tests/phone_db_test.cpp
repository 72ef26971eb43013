// The phone's databases are read from private copies in the run folder, with their stored
// write-ahead logs taken in; the backup stays byte for byte as it was.
#include "ios/phone_db.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeSqliteFile;

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(PhoneText, KeepsValidTextAndReplacesEachBadByte) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"Ren\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "Ren\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {std::string("cut\0after", 9), "cut"},
      {"caf\xe9!", "caf\xef\xbf\xbd!"},                          // 8-bit code page byte
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong slash
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
      {"end\xe2\x82", "end\xef\xbf\xbd\xef\xbf\xbd"},            // sequence cut by the end
  };
  for (const Case& c : cases) EXPECT_EQ(phoneText(bytesOf(c.in)), c.out) << c.in;
}

class PrivateCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backup_ = tmp_.path() / "backup";
    ctx_.runDir = tmp_.path() / "run";
    fs::create_directories(backup_);
    fs::create_directories(ctx_.runDir);
  }

  // The message database stored under its hashed names (flat or in its subfolder), with the
  // rows after `mainRows` only in its stored log.
  void storeDatabase(bool nested, bool withLog) {
    const fs::path dir =
        nested ? backup_ / std::string(stored::kMessages.name.substr(0, 2)) : backup_;
    fs::create_directories(dir);
    const fs::path db = dir / std::string(stored::kMessages.name);
    std::string error;
    ASSERT_TRUE(writeSqliteFile(db, "CREATE TABLE t (v TEXT); INSERT INTO t VALUES ('main');",
                                withLog ? "INSERT INTO t VALUES ('log');" : "", &error))
        << error;
    if (withLog) {
      const fs::path wal =
          (nested ? backup_ / std::string(stored::kMessages.walName.substr(0, 2)) : backup_) /
          std::string(stored::kMessages.walName);
      fs::create_directories(wal.parent_path());
      fs::rename(db.string() + "-wal", wal);
      storedLog_ = wal;
    }
    storedDb_ = db;
  }

  std::vector<std::string> values(const fs::path& db) {
    std::vector<std::string> out;
    SqliteDatabase d(db);
    auto st = d.prepare("select v from t order by rowid");
    while (st && st->step()) out.push_back(st->text(0).value_or("<none>"));
    return out;
  }

  TempFolder tmp_;
  NotificationCenter nc_;
  ScanContext ctx_{nc_};
  fs::path backup_;
  fs::path storedDb_;
  fs::path storedLog_;
};

TEST_F(PrivateCopyTest, RowsOnlyInTheStoredLogAreReadAndTheBackupIsUntouched) {
  for (bool nested : {false, true}) {
    SCOPED_TRACE(nested ? "subfolder layout" : "flat layout");
    TempFolder run;
    ctx_.runDir = run.path();
    ctx_.databaseCopies.clear();
    fs::remove_all(backup_);
    storeDatabase(nested, true);
    const std::string dbBefore = readWholeFile(storedDb_);
    const std::string logBefore = readWholeFile(storedLog_);

    std::optional<fs::path> copy = privateDatabaseCopy(backup_, stored::kMessages, ctx_);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->parent_path(), run.path());
    EXPECT_EQ(values(*copy), (std::vector<std::string>{"main", "log"}));
    // The log as stored stays beside the copy for the readers of deleted rows.
    EXPECT_EQ(readWholeFile(copy->string() + ".stored-wal"), logBefore);
    EXPECT_EQ(readWholeFile(storedDb_), dbBefore);
    EXPECT_EQ(readWholeFile(storedLog_), logBefore);
    EXPECT_FALSE(fs::exists(storedDb_.string() + "-wal"));
    EXPECT_FALSE(fs::exists(storedDb_.string() + "-shm"));
    // The stored main file alone does not hold the logged row.
    EXPECT_EQ(dbBefore.find("log"), std::string::npos);

    // The same scan reads the same copy, even once the backup's file is gone.
    fs::remove(storedDb_);
    EXPECT_EQ(privateDatabaseCopy(backup_, stored::kMessages, ctx_), copy);
  }
}

TEST_F(PrivateCopyTest, WithoutAStoredLogTheCopyHoldsTheMainFile) {
  storeDatabase(false, false);
  std::optional<fs::path> copy = privateDatabaseCopy(backup_, stored::kMessages, ctx_);
  ASSERT_TRUE(copy);
  EXPECT_EQ(values(*copy), std::vector<std::string>{"main"});
  EXPECT_FALSE(fs::exists(copy->string() + ".stored-wal"));
}

TEST_F(PrivateCopyTest, NoCopyWithoutTheFileOrARunFolder) {
  EXPECT_FALSE(privateDatabaseCopy(backup_, stored::kMessages, ctx_));
  storeDatabase(false, true);
  ctx_.runDir.clear();
  EXPECT_FALSE(privateDatabaseCopy(backup_, stored::kMessages, ctx_));
  EXPECT_TRUE(ctx_.databaseCopies.empty());
}

TEST_F(PrivateCopyTest, AFileInTheWayOfTheLogCopyGivesNoCopy) {
  storeDatabase(false, true);
  const std::string copyName = std::string(stored::kMessages.name) + ".sqlite";
  testing::writeWholeFile(ctx_.runDir / (copyName + "-wal"), "planted");
  EXPECT_FALSE(privateDatabaseCopy(backup_, stored::kMessages, ctx_));
  EXPECT_FALSE(fs::exists(ctx_.runDir / copyName));
  EXPECT_EQ(readWholeFile(ctx_.runDir / (copyName + "-wal")), "planted");
}

TEST(SqliteDatabaseTest, FilesThatAreNotDatabasesDoNotOpen) {
  TempFolder tmp;
  const fs::path garbage = tmp.path() / "garbage";
  testing::writeWholeFile(garbage, std::string(4096, 'x'));
  EXPECT_FALSE(SqliteDatabase(garbage).isOpen());
  // Read-only: a missing database is not created.
  EXPECT_FALSE(SqliteDatabase(tmp.path() / "missing").isOpen());
  EXPECT_FALSE(fs::exists(tmp.path() / "missing"));
  EXPECT_FALSE(commitDB(tmp.path() / "missing"));
  EXPECT_FALSE(fs::exists(tmp.path() / "missing"));
  EXPECT_FALSE(commitDB(garbage));
}

TEST(SqliteDatabaseTest, TablesStatementsAndColumns) {
  TempFolder tmp;
  const fs::path path = tmp.path() / "db";
  ASSERT_TRUE(writeSqliteFile(path,
                              "CREATE TABLE People (n INTEGER, name TEXT, pic BLOB);"
                              "INSERT INTO People VALUES (7, 'Ann', X'00ff01');"
                              "INSERT INTO People VALUES (8, '', NULL);"
                              "INSERT INTO People VALUES ('12345678901234', CAST(X'41ff' AS "
                              "TEXT), X'');"));
  SqliteDatabase db(path);
  ASSERT_TRUE(db.isOpen());
  EXPECT_TRUE(db.hasTable("people"));
  EXPECT_FALSE(db.hasTable("message"));
  EXPECT_FALSE(db.prepare("select nothing from nowhere"));

  std::optional<SqliteDatabase::Table> t = db.getTable("select n, name from People");
  ASSERT_TRUE(t);
  ASSERT_EQ(t->rows, 3);
  ASSERT_EQ(t->columns, 2);
  EXPECT_EQ(t->cell(0, 0), "n");
  EXPECT_EQ(t->cell(0, 1), "name");
  EXPECT_EQ(t->cell(1, 1), "Ann");
  EXPECT_EQ(t->cell(2, 1), std::nullopt);
  EXPECT_EQ(t->cell(3, 1), "A\xef\xbf\xbd");
  EXPECT_FALSE(db.getTable("select broken"));

  auto st = db.prepare("select n, name, pic from People where n >= ? order by n");
  ASSERT_TRUE(st);
  ASSERT_TRUE(st->bindInt(1, 8));
  ASSERT_TRUE(st->step());
  EXPECT_EQ(st->integer(0), 8);
  EXPECT_EQ(st->text(1), std::nullopt);  // empty counts as absent
  EXPECT_TRUE(st->blob(2).empty());
  EXPECT_EQ(st->text(9), std::nullopt);  // past the last column
  EXPECT_EQ(st->integer(9), 0);
  ASSERT_TRUE(st->step());
  EXPECT_EQ(st->integer(0), 12345678901234);
  EXPECT_FALSE(st->step());
}

}  // namespace
}  // namespace tamsel
