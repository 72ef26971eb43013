#include "ios/phone_db.h"

#include <string>
#include <utility>

#include "util/log.h"
#include "util/output_folder.h"
#include "util/text.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

// The schema of a database from a backup is not ours: its views and triggers may not call
// functions that have effects outside the query.
void distrustSchema(sqlite3* db) {
#ifdef SQLITE_DBCONFIG_TRUSTED_SCHEMA
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
#else
  (void)db;
#endif
}

std::string sqliteMessage(sqlite3* db) {
  return db ? std::string(sqlite3_errmsg(db)) : std::string("out of memory");
}

// Copies `source` into `folder` under exactly `name`; none (logged) when that name was taken
// or the copy failed.
std::optional<fs::path> copyUnderName(const OutputFolder& folder, const fs::path& source,
                                      const std::string& name) {
  std::string error;
  std::optional<fs::path> copy = folder.copyFile(source, name, &error);
  if (!copy) {
    logLine("cannot copy the database " + source.string() + ": " + error);
    return std::nullopt;
  }
  if (copy->filename() != name) {
    // The database and its log must sit side by side under the names SQLite expects.
    std::error_code ec;
    fs::remove(*copy, ec);
    logLine("cannot copy the database " + source.string() + ": " + (folder.path() / name).string() +
            " exists already");
    return std::nullopt;
  }
  return copy;
}

}  // namespace

std::optional<fs::path> privateDatabaseCopy(const fs::path& backup, const StoredDatabase& db,
                                            ScanContext& ctx) {
  if (auto known = ctx.databaseCopies.find(db.name); known != ctx.databaseCopies.end()) {
    return known->second;
  }
  std::optional<fs::path> stored = findStoredFile(backup, db.name);
  if (!stored) return std::nullopt;
  if (ctx.runDir.empty()) {
    logLine("no run folder for a copy of " + stored->string() + ": the database is not read");
    return std::nullopt;
  }
  std::string error;
  std::optional<OutputFolder> folder = OutputFolder::openExisting(ctx.runDir, &error);
  if (!folder) {
    logLine("no copy of " + stored->string() + ": " + error);
    return std::nullopt;
  }
  const std::string copyName = std::string(db.name) + ".sqlite";
  std::optional<fs::path> copy = copyUnderName(*folder, *stored, copyName);
  if (!copy) return std::nullopt;

  if (!db.walName.empty()) {
    if (std::optional<fs::path> wal = findStoredFile(backup, db.walName)) {
      // The log as the backup stored it, for the readers of deleted rows, and the one SQLite
      // takes into the copy.
      std::optional<fs::path> kept = copyUnderName(*folder, *wal, copyName + ".stored-wal");
      std::optional<fs::path> live = copyUnderName(*folder, *wal, copyName + "-wal");
      if (!kept || !live) {
        std::error_code ec;
        if (kept) fs::remove(*kept, ec);
        if (live) fs::remove(*live, ec);
        fs::remove(*copy, ec);
        return std::nullopt;
      }
      logDebug("write-ahead log " + wal->string() + " copied beside " + copy->string());
    }
  }
  commitDB(*copy);
  logDebug("database " + stored->string() + " read from the copy " + copy->string());
  ctx.databaseCopies.emplace(std::string(db.name), *copy);
  return copy;
}

bool commitDB(const fs::path& path) {
  sqlite3* db = nullptr;
  // Never creates a file: only an existing copy is checkpointed.
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    logDebug("cannot open " + path.string() + " to commit its log: " + sqliteMessage(db));
    sqlite3_close(db);
    return false;
  }
  distrustSchema(db);
  std::string mode;
  char* message = nullptr;
  const int rc = sqlite3_exec(
      db, "PRAGMA journal_mode=WAL;",
      [](void* out, int columns, char** values, char**) {
        if (columns > 0 && values[0]) *static_cast<std::string*>(out) = values[0];
        return 0;
      },
      &mode, &message);
  if (rc != SQLITE_OK || mode != "wal") {
    logDebug("journal mode of " + path.string() +
             " not set: " + (message ? std::string(message) : "mode " + mode));
    sqlite3_free(message);
    sqlite3_close(db);
    return false;
  }
  const bool committed =
      sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr) == SQLITE_OK;
  if (!committed) logLine("Failed to commit");
  sqlite3_close(db);
  return committed;
}

std::string phoneText(std::span<const uint8_t> bytes) {
  return readableText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// ---------------------------------------------------------------- SqliteDatabase

SqliteDatabase::SqliteDatabase(const fs::path& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    logDebug("cannot open the database " + path.string() + ": " + sqliteMessage(db));
    sqlite3_close(db);
    return;
  }
  distrustSchema(db);
  // Opening reads nothing; a file that is not a database shows itself at its first read.
  sqlite3_stmt* probe = nullptr;
  int rc = sqlite3_prepare_v2(db, "select count(*) from sqlite_master", -1, &probe, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(probe);
  sqlite3_finalize(probe);
  if (rc != SQLITE_ROW) {
    logDebug("cannot read the database " + path.string() + ": " + sqliteMessage(db));
    sqlite3_close(db);
    return;
  }
  db_ = db;
}

SqliteDatabase::~SqliteDatabase() {
  sqlite3_close(db_);
}

std::optional<SqliteStatement> SqliteDatabase::prepare(std::string_view sql) {
  if (!db_) return std::nullopt;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
          SQLITE_OK ||
      stmt == nullptr) {
    logDebug("statement not prepared (" + sqliteMessage(db_) + "): " + std::string(sql));
    sqlite3_finalize(stmt);
    return std::nullopt;
  }
  return SqliteStatement(stmt);
}

std::optional<SqliteDatabase::Table> SqliteDatabase::getTable(std::string_view sql) {
  if (!db_) return std::nullopt;
  const std::string text(sql);
  char** result = nullptr;
  int rows = 0;
  int columns = 0;
  char* message = nullptr;
  if (sqlite3_get_table(db_, text.c_str(), &result, &rows, &columns, &message) != SQLITE_OK) {
    logDebug("table not read (" + (message ? std::string(message) : sqliteMessage(db_)) +
             "): " + text);
    sqlite3_free(message);
    sqlite3_free_table(result);
    return std::nullopt;
  }
  Table table;
  table.rows = rows;
  table.columns = columns;
  const size_t cells = static_cast<size_t>(rows + 1) * static_cast<size_t>(columns);
  table.cells.reserve(cells);
  for (size_t i = 0; i < cells; ++i) {
    const char* cell = result[i];
    if (cell == nullptr || *cell == '\0') {
      table.cells.emplace_back();
    } else {
      const std::string_view bytes(cell);
      table.cells.emplace_back(phoneText(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
    }
  }
  sqlite3_free_table(result);
  return table;
}

bool SqliteDatabase::hasTable(std::string_view name) {
  if (!db_) return false;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "select 1 from sqlite_master where type in ('table','view') and "
                         "name = ?1 collate nocase",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return false;
  }
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  const bool found = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  return found;
}

void SqliteDatabase::interruptWhen(const std::atomic<bool>* stop) {
  if (!db_) return;
  if (stop == nullptr) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return;
  }
  sqlite3_progress_handler(
      db_, 1000,
      [](void* flag) {
        return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
      },
      const_cast<std::atomic<bool>*>(stop));
}

// ---------------------------------------------------------------- SqliteStatement

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(o.stmt_, nullptr);
  }
  return *this;
}

bool SqliteStatement::step() {
  if (!stmt_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    logDebug("reading rows stopped: " + sqliteMessage(sqlite3_db_handle(stmt_)));
  }
  return false;
}

void SqliteStatement::reset() {
  if (stmt_) sqlite3_reset(stmt_);
}

bool SqliteStatement::bindInt(int index, int64_t value) {
  return stmt_ && sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK;
}

int SqliteStatement::columnCount() const {
  return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

std::optional<std::string> SqliteStatement::text(int column) const {
  if (column < 0 || column >= columnCount()) return std::nullopt;
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  const unsigned char* bytes = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  if (bytes == nullptr || size <= 0) return std::nullopt;
  std::string text = phoneText(std::span<const uint8_t>(bytes, static_cast<size_t>(size)));
  if (text.empty()) return std::nullopt;
  return text;
}

int64_t SqliteStatement::integer(int column) const {
  if (column < 0 || column >= columnCount()) return 0;
  return sqlite3_column_int64(stmt_, column);
}

std::span<const uint8_t> SqliteStatement::blob(int column) const {
  if (column < 0 || column >= columnCount()) return {};
  const void* data = sqlite3_column_blob(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  if (data == nullptr || size <= 0) return {};
  return {static_cast<const uint8_t*>(data), static_cast<size_t>(size)};
}

}  // namespace tamsel
