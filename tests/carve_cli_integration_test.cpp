// tamsel-cli carve: the deleted rows of a database and of its write-ahead log, listed and
// exported as JSON, with the user's files left exactly as they were.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/temp_folder.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::CliRun;
const auto& quote = testing::shellQuote;
using testing::readWholeFile;
using Json = nlohmann::json;

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

class CarveCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // Notes 1-40 in the main file, 41-60 only in the log; every fourth of them deleted in
    // the log, so deleted rows lie in the database's pages and in old log frames.
    db_ = t_.path() / "notes.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
    exec(db, "PRAGMA journal_mode=WAL; PRAGMA secure_delete=OFF;");
    exec(db,
         "CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT, body TEXT, creation_date "
         "INTEGER)");
    const auto insert = [&](int from, int to) {
      exec(db, "BEGIN");
      for (int i = from; i <= to; ++i) {
        exec(db, "INSERT INTO note VALUES (" + std::to_string(i) + ", 'title" + std::to_string(i) +
                     "', 'body\x1b[2J" + std::to_string(i) + "-" +
                     std::string(static_cast<size_t>(i * 13), 'b') + "', " +
                     std::to_string(400000000 + i) + ")");
      }
      exec(db, "COMMIT");
    };
    insert(1, 40);
    ASSERT_EQ(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_wal_autocheckpoint(db, 0);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    insert(41, 60);
    exec(db, "DELETE FROM note WHERE id % 4 = 0");
    sqlite3_close(db);
    fs::remove(db_.string() + "-shm");
    ASSERT_TRUE(fs::exists(db_.string() + "-wal"));
    before_ = readWholeFile(db_) + readWholeFile(db_.string() + "-wal");
  }

  CliRun run(const std::string& args) {
    return testing::runCli(TAMSEL_CLI_PATH, "-q --work-dir " + quote(work().string()) + " " + args,
                           t_.path() / "stderr.txt");
  }

  fs::path work() const { return t_.path() / "work"; }

  testing::TempFolder t_;
  fs::path db_;
  std::string before_;
};

TEST_F(CarveCli, ListsAndExportsTheDeletedRowsAndLeavesTheFilesAlone) {
  const fs::path json = t_.path() / "rows.json";
  CliRun r = run("carve " + quote(db_.string()) + " --json " + quote(json.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("note: 15 deleted rows"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("total: 15 deleted rows in 1 tables"), std::string::npos);
  // Texts from the file are escaped for the terminal.
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_NE(r.out.find("body\\x1b[2J"), std::string::npos);

  const Json doc = Json::parse(readWholeFile(json));
  EXPECT_EQ(doc["database"], db_.string());
  std::set<int64_t> ids;
  std::set<std::string> places;
  for (const Json& row : doc["tables"]["note"]) {
    const Json& values = row["values"];
    ASSERT_EQ(values.size(), 4u);
    const std::string title = values[1];
    const int64_t id = std::stoll(title.substr(5));
    EXPECT_EQ(id % 4, 0) << "live row " << title;
    EXPECT_TRUE(row["rowid"].is_null() || row["rowid"] == id);
    EXPECT_EQ(values[2].get<std::string>().substr(0, 8), "body\x1b[2J");
    EXPECT_EQ(values[3], 400000000 + id);
    EXPECT_TRUE(row["offset"].is_number_unsigned());
    places.insert(row["found_in"].get<std::string>());
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 15u);  // 10 from the main file, 5 written only to the log
  for (const std::string& p : places) {
    EXPECT_TRUE(p == "freeblock" || p == "unallocated" || p == "freelist page" ||
                p == "stale page" || p == "log frame")
        << p;
  }
  EXPECT_TRUE(places.count("log frame"));

  // The user's files: unchanged, and no shared-memory file or journal made beside them.
  EXPECT_EQ(readWholeFile(db_) + readWholeFile(db_.string() + "-wal"), before_);
  EXPECT_FALSE(fs::exists(db_.string() + "-shm"));
  EXPECT_FALSE(fs::exists(db_.string() + "-journal"));
  EXPECT_TRUE(fs::is_empty(work())) << "the run folder is left behind";
}

TEST_F(CarveCli, AnExplicitLogAndStandardOutput) {
  const fs::path elsewhere = t_.path() / "stored-log";
  fs::rename(db_.string() + "-wal", elsewhere);
  CliRun without = run("carve " + quote(db_.string()) + " --json -");
  ASSERT_EQ(without.status, 0) << without.err;
  CliRun with =
      run("carve " + quote(db_.string()) + " --wal " + quote(elsewhere.string()) + " --json -");
  ASSERT_EQ(with.status, 0) << with.err;
  // Without its log the file holds only the first 40 notes, none of them deleted yet.
  EXPECT_TRUE(Json::parse(without.out)["tables"]["note"].empty());
  EXPECT_EQ(Json::parse(with.out)["tables"]["note"].size(), 15u);
  EXPECT_NE(with.err.find("note: 15 deleted rows"), std::string::npos);
}

TEST_F(CarveCli, RefusesWhatItCannotRead) {
  struct Case {
    std::string args;
    int status;
    std::string says;
  };
  const fs::path text = t_.path() / "text.txt";
  testing::writeWholeFile(text, "SQLite format 2\nnot really");
  const fs::path cut = t_.path() / "cut.sqlite";
  testing::writeWholeFile(cut, readWholeFile(db_).substr(0, 100));
  const fs::path existing = t_.path() / "existing.json";
  testing::writeWholeFile(existing, "{}");
  const Case cases[] = {
      {"carve " + quote(text.string()), 2, "is not a database"},
      {"carve " + quote(cut.string()), 2, "is not a database"},
      {"carve " + quote((t_.path() / "missing").string()), 2, "is not a database"},
      {"carve " + quote(t_.path().string()), 2, "is not a database"},
      {"carve " + quote(db_.string()) + " --wal " + quote((t_.path() / "nolog").string()), 2,
       "no such write-ahead log"},
      {"carve " + quote(db_.string()) + " --json " + quote(existing.string()), 1, "exists"},
      {"carve " + quote(db_.string()) + " --json " + quote(db_.string()), 1, ""},
  };
  for (const Case& c : cases) {
    CliRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
  }
  EXPECT_EQ(readWholeFile(existing), "{}");
  EXPECT_EQ(readWholeFile(db_) + readWholeFile(db_.string() + "-wal"), before_);
}

// The log read with the database (DATABASE-wal, or the one --wal names) is evidence as the
// database is, and a file SQLite keeps beside a database is taken for part of it when it is
// next opened: --json never writes over any of them, --force or not, under any name.
TEST_F(CarveCli, NeverWritesTheJsonOverTheLogOrBesideTheDatabaseAsOneOfItsFiles) {
  const std::string wal = db_.string() + "-wal";
  const fs::path stored = t_.path() / "stored-log";
  fs::copy_file(wal, stored);
  const fs::path link = t_.path() / "link-to-log";
  fs::create_symlink(wal, link);
  const std::string db = quote(db_.string());
  const std::string cases[] = {
      "carve " + db + " --json " + quote(wal) + " --force",
      "carve " + db + " --json " + quote(link.string()) + " --force",
      "carve " + db + " --wal " + quote(stored.string()) + " --json " + quote(stored.string()) +
          " --force",
      "carve " + db + " --wal " + quote(stored.string()) + " --json " + quote(wal) + " --force",
      "carve " + db + " --json " + quote(db_.string() + "-journal"),
      "carve " + db + " --json " + quote(db_.string() + "-shm") + " --force",
  };
  for (const std::string& args : cases) {
    CliRun r = run(args);
    EXPECT_EQ(r.status, 1) << args << "\n" << r.err;
    EXPECT_NE(r.err.find("it is never written"), std::string::npos) << args << "\n" << r.err;
  }
  EXPECT_EQ(readWholeFile(db_) + readWholeFile(wal), before_);
  EXPECT_EQ(readWholeFile(stored), readWholeFile(wal));
  EXPECT_FALSE(fs::exists(db_.string() + "-journal"));
  EXPECT_FALSE(fs::exists(db_.string() + "-shm"));
}

}  // namespace
}  // namespace tamsel
