// The phone's SQLite databases as the scan reads them. The backup is never written: each
// database is copied once per scan into the scan's run folder, with its write-ahead log
// (stored under a hashed name of its own) beside the copy as its "-wal", and the copy is
// checkpointed there (commitDB), so rows that live only in the log are read. Every later
// read of the same database in the same scan uses that copy.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "events/scan_context.h"
#include "ios/backup_files.h"
#include "util/untrusted_sqlite.h"

namespace tamsel {

// The private, checkpointed copy of `db` of the backup folder `backup` (found flat or in its
// subfolder), made on first use in ctx.runDir and remembered in ctx for the rest of the scan;
// none when the backup does not hold it or no copy could be made (logged).
std::optional<std::filesystem::path> privateDatabaseCopy(const std::filesystem::path& backup,
                                                         const StoredDatabase& db,
                                                         ScanContext& ctx);

// Brings the write-ahead log of the database at `path` (a private copy) into the main file:
// opens it read-write, sets journal_mode=WAL and checkpoints. "Failed to commit" is logged
// when the checkpoint fails. False when the pragma or the checkpoint failed.
bool commitDB(const std::filesystem::path& path);

class SqliteStatement;

// A text the phone stored, as the records keep it: the bytes up to the first zero byte; valid
// UTF-8 stays as it is, and each byte of an invalid sequence becomes U+FFFD, so a damaged
// text keeps what can be read instead of vanishing.
std::string phoneText(std::span<const uint8_t> bytes);

// How the scan's warnings name a stored database: "the messages database (3d0d7e...)".
std::string databaseLabel(std::string_view what, const StoredDatabase& db);

// One open database (closed by the destructor), read through the guards of
// util/untrusted_sqlite.h: no view or trigger of the file is run, its statements have a
// budget of work in proportion to its size, and temporary storage stays in memory.
class SqliteDatabase {
 public:
  // Opens `path` read-only; check isOpen(). Never creates a file. What the guards refused or
  // ended is logged when the database closes.
  explicit SqliteDatabase(const std::filesystem::path& path);
  // The same for a step of a scan: the scan's stop ends its statements, and what the guards
  // refused or ended goes to ctx.warnings too (once each), as "<what>: <line>" (what: the
  // database as the step names it, see databaseLabel).
  SqliteDatabase(const std::filesystem::path& path, ScanContext& ctx, std::string what);
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

  // Prepares `sql` (the whole text); an empty optional when it does not prepare (logged at
  // debug level with the library's message). A statement that would read a view does not
  // prepare.
  std::optional<SqliteStatement> prepare(std::string_view sql);

  // A whole result table, as the library's get-table call gives it: row 0 is the header,
  // data rows 1..rows; each cell a text (through phoneText) or none (NULL or empty); no
  // columns when there are no rows. None when the statement fails (its cells count against
  // the budget, so a table far larger than the file ends it too).
  struct Table {
    int rows = 0;
    int columns = 0;
    std::vector<std::optional<std::string>> cells;  // (rows + 1) x columns
    const std::optional<std::string>& cell(int row, int column) const {
      return cells[static_cast<size_t>(row) * columns + column];
    }
  };
  std::optional<Table> getTable(std::string_view sql);

  // True when the database has a table of that name, ignoring case. A view of that name is
  // not one: it is reported as not read (see the constructors).
  bool hasTable(std::string_view name);

  // Ends every statement of this database (as an error, no more rows) once *stop is true, so
  // that a stop is honoured inside one long query too. Null: no such check.
  void interruptWhen(const std::atomic<bool>* stop);
  // True once the work the file's size allows is spent: every later statement ends at once.
  bool budgetSpent() const { return guard_ && guard_->budgetSpent(); }

 private:
  void open(const std::filesystem::path& path);

  std::unique_ptr<UntrustedSqlite> guard_;
  sqlite3* db_ = nullptr;
  ScanContext* ctx_ = nullptr;
  std::string what_;
};

// A prepared statement (finalized by the destructor). Columns past the statement's last
// read as NULL.
class SqliteStatement {
 public:
  // `guard`: the connection whose budget the cells read count against (may be null).
  explicit SqliteStatement(sqlite3_stmt* stmt, UntrustedSqlite* guard = nullptr)
      : stmt_(stmt), guard_(guard) {}
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& o) noexcept : stmt_(o.stmt_), guard_(o.guard_) {
    o.stmt_ = nullptr;
  }
  SqliteStatement& operator=(SqliteStatement&& o) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Moves to the next row; false at the end or on an error.
  bool step();
  void reset();
  bool bindInt(int index, int64_t value);

  int columnCount() const;
  // The column's text form through phoneText; none for NULL, an empty text, or a column past
  // the last.
  std::optional<std::string> text(int column) const;
  int64_t integer(int column) const;                // 0 for NULL or past the last
  std::span<const uint8_t> blob(int column) const;  // empty for NULL or past the last

 private:
  friend class SqliteDatabase;  // getTable reads the statement's column names

  sqlite3_stmt* stmt_ = nullptr;
  UntrustedSqlite* guard_ = nullptr;
};

}  // namespace tamsel
