// A connection over an SQLite database that is the user's input: a backup's index, the
// phone's databases, a database carved from a card. Its schema is not ours: a name the reader
// takes for a table may be a view whose query never ends (a recursive query over UNION grows a
// temporary table without end), so every such database is opened through UntrustedSqlite:
//  - no SQL of the database's own runs: whatever a statement would do from inside a view or
//    trigger, and any recursive query, is refused when the statement is prepared (so the
//    readers' own statements use neither common table expressions nor views);
//  - the connection has a budget of work in proportion to the file's size, with a generous
//    floor: the library's steps and the bytes handed to the reader count, and once it is spent
//    every statement ends as interrupted;
//  - temporary tables and sorts stay in memory, never in a temporary file, and no one value
//    may be longer than the file could hold;
//  - a stop condition, when given, ends every statement as interrupted.
// What was refused or ended is kept as one warning line each, for the reader to report.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

class UntrustedSqlite {
 public:
  struct Options {
    // SQLITE_OPEN_READONLY, or SQLITE_OPEN_READWRITE to take a log into a private copy; with
    // SQLITE_OPEN_URI `target` is a "file:" name. A file is never created.
    int flags = SQLITE_OPEN_READONLY;
    // The work the connection may do in all; 0: budgetFor the size of the database file and
    // of its "-wal" beside it.
    uint64_t budget = 0;
  };

  // Opens `target` (the path of `file`, or a URI naming it); check isOpen() and error().
  UntrustedSqlite(const std::string& target, const std::string& file, const Options& options);
  explicit UntrustedSqlite(const std::string& file) : UntrustedSqlite(file, file, Options()) {}
  ~UntrustedSqlite();
  UntrustedSqlite(const UntrustedSqlite&) = delete;
  UntrustedSqlite& operator=(const UntrustedSqlite&) = delete;

  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }
  // Why the database did not open.
  const std::string& error() const { return error_; }

  // Every statement ends as interrupted once `stop` returns true (asked every thousand
  // steps); an empty function: no such check.
  void stopWhen(std::function<bool()> stop) { stop_ = std::move(stop); }

  // Counts `bytes` handed to the reader against the budget.
  void charge(uint64_t bytes) { spent_ += bytes; }
  bool budgetSpent() const { return budgetSpent_; }
  // True when the last interruption came from the stop condition.
  bool stopped() const { return stopped_; }

  // "table", "view", "index", "trigger" for the object of the main schema named `name` (any
  // case); none when there is no such object.
  std::optional<std::string> objectType(std::string_view name);

  // Notes that the reader passed by the view (or trigger) `name` instead of reading it: said
  // as a refusal of the guards is.
  void passedBy(std::string name) { refused_.push_back(std::move(name)); }

  // The lines not taken yet, each said once per connection: "<name> is a view, not a table:
  // not read", "the trigger <name> of the database is not run", "a recursive query is not
  // run", "reading stopped: ...".
  std::vector<std::string> takeWarnings();

  // The work allowed for a database file of `bytes` bytes (with its log).
  static uint64_t budgetFor(uint64_t bytes);

 private:
  static int authorize(void* self, int action, const char* a, const char* b, const char* schema,
                       const char* inner);
  static int progress(void* self);
  void say(std::string line);

  sqlite3* db_ = nullptr;
  std::string error_;
  std::function<bool()> stop_;
  uint64_t budget_ = 0;
  uint64_t spent_ = 0;
  bool budgetSpent_ = false;
  bool stopped_ = false;
  bool internal_ = false;             // a look at the schema, not counted
  std::vector<std::string> refused_;  // views and triggers met, not told yet ("": recursion)
  std::vector<std::string> said_;     // every line given so far (each once)
  std::vector<std::string> pending_;  // those not taken yet
};

}  // namespace tamsel
