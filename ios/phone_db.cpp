#include "ios/phone_db.h"

#include <string>
#include <utility>

#include "util/log.h"
#include "util/output_folder.h"
#include "util/text.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

std::string sqliteMessage(sqlite3* db) {
  return db ? std::string(sqlite3_errmsg(db)) : std::string("out of memory");
}

// Copies the stored file `source` into `folder` under exactly `name`, readable by this user
// only; none (logged) when that name was taken or the copy failed. The stored file is opened
// without following a link below the backup folder.
std::optional<fs::path> copyUnderName(const OutputFolder& folder, const fs::path& source,
                                      const std::string& name) {
  std::string error;
  std::optional<fs::path> copy;
  const int in = openStoredFile(source, &error);
  if (in >= 0) copy = folder.copyFrom(in, source.string(), name, &error, 0600);
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
  StoredFileLookup lookup = lookupStoredFile(backup, db.name);
  if (lookup.refused()) ctx.warnOnce(lookup.refusal());
  std::optional<fs::path> stored = std::move(lookup.path);
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
    StoredFileLookup walLookup = lookupStoredFile(backup, db.walName);
    if (walLookup.refused()) ctx.warnOnce(walLookup.refusal());
    if (std::optional<fs::path> wal = walLookup.path) {
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
  // Never creates a file: only an existing copy is checkpointed.
  UntrustedSqlite guarded(path.string(), path.string(), {.flags = SQLITE_OPEN_READWRITE});
  if (!guarded.isOpen()) {
    logDebug("cannot open " + path.string() + " to commit its log: " + guarded.error());
    return false;
  }
  sqlite3* db = guarded.handle();
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
    return false;
  }
  const bool committed =
      sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr) == SQLITE_OK;
  if (!committed) logLine("Failed to commit");
  return committed;
}

std::string phoneText(std::span<const uint8_t> bytes) {
  return readableText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// ---------------------------------------------------------------- SqliteDatabase

std::string databaseLabel(std::string_view what, const StoredDatabase& db) {
  return "the " + std::string(what) + " database (" + std::string(db.name) + ")";
}

SqliteDatabase::SqliteDatabase(const fs::path& path) {
  open(path);
}

SqliteDatabase::SqliteDatabase(const fs::path& path, ScanContext& ctx, std::string what)
    : ctx_(&ctx), what_(std::move(what)) {
  open(path);
  interruptWhen(&ctx.stopRequested);
}

void SqliteDatabase::open(const fs::path& path) {
  if (what_.empty()) what_ = path.string();
  auto guard = std::make_unique<UntrustedSqlite>(path.string());
  if (!guard->isOpen()) {
    logDebug("cannot open the database " + path.string() + ": " + guard->error());
    return;
  }
  // Opening reads nothing; a file that is not a database shows itself at its first read.
  sqlite3* db = guard->handle();
  sqlite3_stmt* probe = nullptr;
  int rc = sqlite3_prepare_v2(db, "select count(*) from sqlite_master", -1, &probe, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(probe);
  sqlite3_finalize(probe);
  if (rc != SQLITE_ROW) {
    logDebug("cannot read the database " + path.string() + ": " + sqliteMessage(db));
    return;
  }
  guard_ = std::move(guard);
  db_ = db;
}

SqliteDatabase::~SqliteDatabase() {
  if (!guard_) return;
  for (std::string& line : guard_->takeWarnings()) {
    line = what_ + ": " + line;
    logLine(line);
    if (ctx_ != nullptr) ctx_->warnOnce(std::move(line));
  }
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
  return SqliteStatement(stmt, guard_.get());
}

std::optional<SqliteDatabase::Table> SqliteDatabase::getTable(std::string_view sql) {
  std::optional<SqliteStatement> st = prepare(sql);
  if (!st) return std::nullopt;
  sqlite3_stmt* stmt = st->stmt_;
  // Each cell costs its bytes and what a cell takes beside them.
  constexpr uint64_t kCellCost = sizeof(std::optional<std::string>);
  Table table;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (table.rows == 0) {
      table.columns = sqlite3_column_count(stmt);
      for (int c = 0; c < table.columns; ++c) {
        const char* name = sqlite3_column_name(stmt, c);
        const std::string_view bytes = name ? name : "";
        std::string text = phoneText(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        table.cells.push_back(text.empty() ? std::nullopt : std::optional<std::string>(text));
      }
    }
    for (int c = 0; c < table.columns; ++c) {
      table.cells.push_back(st->text(c));
      guard_->charge(kCellCost);
    }
    ++table.rows;
  }
  if (rc != SQLITE_DONE) {
    logDebug("table not read (" + sqliteMessage(db_) + "): " + std::string(sql));
    return std::nullopt;
  }
  return table;
}

bool SqliteDatabase::hasTable(std::string_view name) {
  if (!guard_) return false;
  const std::optional<std::string> type = guard_->objectType(name);
  // A view in place of the table is not read, and said so.
  if (type == "view") guard_->passedBy(std::string(name));
  return type == "table";
}

void SqliteDatabase::interruptWhen(const std::atomic<bool>* stop) {
  if (!guard_) return;
  if (stop == nullptr) {
    guard_->stopWhen({});
    return;
  }
  guard_->stopWhen([stop] { return stop->load(std::memory_order_relaxed); });
}

// ---------------------------------------------------------------- SqliteStatement

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(o.stmt_, nullptr);
    guard_ = o.guard_;
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
  if (guard_) guard_->charge(static_cast<uint64_t>(size));
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
  if (guard_) guard_->charge(static_cast<uint64_t>(size));
  return {static_cast<const uint8_t*>(data), static_cast<size_t>(size)};
}

}  // namespace tamsel
