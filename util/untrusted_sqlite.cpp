#include "util/untrusted_sqlite.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

namespace tamsel {

namespace {

// How often (in the library's steps) the budget and the stop condition are looked at.
constexpr int kStepsPerCheck = 1000;
// The work every database may do, however small, and the work per byte of a larger one. A
// whole read of a table costs about one step per byte, a sort or a join a few.
constexpr uint64_t kBudgetFloor = uint64_t{200} << 20;
constexpr uint64_t kStepsPerByte = 16;
// The longest value a database of any size may give (its pictures, its note bodies).
constexpr uint64_t kLengthFloor = uint64_t{16} << 20;

uint64_t sizeOf(const std::string& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace

uint64_t UntrustedSqlite::budgetFor(uint64_t bytes) {
  const uint64_t limit = std::numeric_limits<uint64_t>::max() / kStepsPerByte;
  return std::max(kBudgetFloor, std::min(bytes, limit) * kStepsPerByte);
}

UntrustedSqlite::UntrustedSqlite(const std::string& target, const std::string& file,
                                 const Options& options) {
  const uint64_t bytes = sizeOf(file) + sizeOf(file + "-wal");
  budget_ = options.budget > 0 ? options.budget : budgetFor(bytes);
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(target.c_str(), &db, options.flags & ~SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    error_ = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return;
  }
  // The views and triggers of the file may not call functions that act outside the query,
  // nor change the schema.
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  const int length = sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1);
  const uint64_t longest = std::max(kLengthFloor, bytes);
  if (longest < static_cast<uint64_t>(length)) {
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, static_cast<int>(longest));
  }
  char* message = nullptr;
  if (sqlite3_exec(db, "PRAGMA temp_store=MEMORY;", nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = std::string("temporary storage not kept in memory: ") +
             (message != nullptr ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    sqlite3_close(db);
    return;
  }
  sqlite3_set_authorizer(db, &UntrustedSqlite::authorize, this);
  sqlite3_progress_handler(db, kStepsPerCheck, &UntrustedSqlite::progress, this);
  db_ = db;
}

UntrustedSqlite::~UntrustedSqlite() {
  sqlite3_close(db_);
}

int UntrustedSqlite::authorize(void* self, int action, const char*, const char*, const char*,
                               const char* inner) {
  // `inner` names the innermost view or trigger the action comes from: none for the
  // reader's own statement.
  if (inner == nullptr && action != SQLITE_RECURSIVE) return SQLITE_OK;
  auto* s = static_cast<UntrustedSqlite*>(self);
  s->refused_.emplace_back(inner != nullptr ? inner : "");
  return SQLITE_DENY;
}

int UntrustedSqlite::progress(void* self) {
  auto* s = static_cast<UntrustedSqlite*>(self);
  if (s->stop_ && s->stop_()) {
    s->stopped_ = true;
    return 1;
  }
  if (s->internal_) return 0;
  s->spent_ += kStepsPerCheck;
  if (s->spent_ <= s->budget_) return 0;
  if (!s->budgetSpent_) {
    s->budgetSpent_ = true;
    s->say("reading stopped: the database asks for more work than its size accounts for (" +
           std::to_string(s->budget_) + " steps); the rest is not read");
  }
  return 1;
}

void UntrustedSqlite::say(std::string line) {
  if (std::find(said_.begin(), said_.end(), line) != said_.end()) return;
  said_.push_back(line);
  pending_.push_back(std::move(line));
}

std::optional<std::string> UntrustedSqlite::objectType(std::string_view name) {
  if (db_ == nullptr) return std::nullopt;
  // A look at the schema is not counted: a reader needs it to know what to read at all.
  internal_ = true;
  sqlite3_stmt* st = nullptr;
  std::optional<std::string> type;
  if (sqlite3_prepare_v2(db_, "SELECT type FROM sqlite_master WHERE name = ?1 COLLATE NOCASE", -1,
                         &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 0);
      type = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
  }
  sqlite3_finalize(st);
  internal_ = false;
  return type;
}

std::vector<std::string> UntrustedSqlite::takeWarnings() {
  // The names met by the authorizer are told by what they are once no statement is being
  // prepared.
  std::vector<std::string> names;
  names.swap(refused_);
  const bool recursive = std::find(names.begin(), names.end(), "") != names.end();
  for (const std::string& name : names) {
    if (name.empty()) {
      say("a recursive query is not run");
      continue;
    }
    const std::string type = objectType(name).value_or("");
    if (type == "view") {
      say(name + " is a view, not a table: not read");
    } else if (type == "trigger") {
      say("the trigger " + name + " of the database is not run");
    } else if (!recursive) {
      // A common table expression or a subquery of the statement itself.
      say("a query through " + name + " is not run");
    }
  }
  std::vector<std::string> out;
  out.swap(pending_);
  return out;
}

}  // namespace tamsel
