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
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "events/scan_context.h"
#include "ios/backup_files.h"

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

// One open database (closed by the destructor).
class SqliteDatabase {
 public:
  // Opens `path` read-only; check isOpen(). Never creates a file.
  explicit SqliteDatabase(const std::filesystem::path& path);
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

  // Prepares `sql` (the whole text); an empty optional when it does not prepare (logged at
  // debug level with the library's message).
  std::optional<SqliteStatement> prepare(std::string_view sql);

  // A whole result table, as the library's get-table call gives it: row 0 is the header,
  // data rows 1..rows; each cell a text (through phoneText) or none (NULL or empty). None when the
  // statement fails.
  struct Table {
    int rows = 0;
    int columns = 0;
    std::vector<std::optional<std::string>> cells;  // (rows + 1) x columns
    const std::optional<std::string>& cell(int row, int column) const {
      return cells[static_cast<size_t>(row) * columns + column];
    }
  };
  std::optional<Table> getTable(std::string_view sql);

  // True when the database has a table (or view) of that name, ignoring case.
  bool hasTable(std::string_view name);

  // Ends every statement of this database (as an error, no more rows) once *stop is true, so
  // that a stop is honoured inside one long query too (a crafted view can give rows without
  // end). Null: no such check.
  void interruptWhen(const std::atomic<bool>* stop);

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement (finalized by the destructor). Columns past the statement's last
// read as NULL.
class SqliteStatement {
 public:
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }
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
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace tamsel
