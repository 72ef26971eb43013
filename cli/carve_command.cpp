#include "cli/carve_command.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/work_folder.h"
#include "carve/schema_carver.h"
#include "cli/json_export.h"
#include "util/text.h"
#include "util/untrusted_sqlite.h"

namespace tamsel::cli {
namespace {

namespace fs = std::filesystem;

// Rows shown on the terminal are cut to this many characters per text (the JSON has all).
constexpr size_t kShownText = 120;

// The exit status of a run that read the database only in part (a damaged b-tree or
// freelist): its rows are still listed.
constexpr int kExitDamaged = 3;

// Copies `from` (opened read-only) to `to`; false with `error` set otherwise.
bool copyReadOnly(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) {
    *error = from.string() + ": not a regular file";
    return false;
  }
  if (!fs::copy_file(from, to, fs::copy_options::none, ec)) {
    *error = "cannot copy " + from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

// The first bytes of a database file.
bool looksLikeDatabase(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  return in && std::memcmp(head, "SQLite format 3", 16) == 0;
}

// Brings the log into the copy that SQLite reads and leaves it in rollback mode, so that a
// read-only connection needs no shared-memory file.
void settleLiveCopy(const fs::path& path) {
  UntrustedSqlite db(path.string(), path.string(), {.flags = SQLITE_OPEN_READWRITE});
  if (db.isOpen())
    sqlite3_exec(db.handle(), "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  static const char* k = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += k[b >> 4];
    out += k[b & 15];
  }
  return out;
}

std::string shownValue(const CarvedValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "NULL";
  if (auto i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&v)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    return buf;
  }
  if (auto s = std::get_if<std::string>(&v)) {
    std::string shown = escapeForTerminal(*s);
    if (shown.size() > kShownText) shown = shown.substr(0, kShownText) + "...";
    return "'" + shown + "'";
  }
  const auto& b = std::get<std::vector<uint8_t>>(v);
  return "<" + std::to_string(b.size()) + " bytes>";
}

nlohmann::ordered_json jsonValue(const CarvedValue& v) {
  if (auto i = std::get_if<int64_t>(&v)) return *i;
  if (auto d = std::get_if<double>(&v)) return *d;
  if (auto s = std::get_if<std::string>(&v)) return *s;
  if (auto b = std::get_if<std::vector<uint8_t>>(&v)) {
    return {{"size", b->size()}, {"hex", hexOf(*b)}};
  }
  return nullptr;
}

nlohmann::ordered_json jsonRow(const CarvedRow& r) {
  nlohmann::ordered_json row;
  row["rowid"] = r.rowid ? nlohmann::ordered_json(*r.rowid) : nlohmann::ordered_json(nullptr);
  nlohmann::ordered_json values = nlohmann::ordered_json::array();
  for (const CarvedValue& v : r.values) values.push_back(jsonValue(v));
  row["values"] = std::move(values);
  row["found_in"] = foundInName(r.foundIn);
  row["offset"] = r.offset;
  if (r.inLog) row["in_log"] = true;
  if (r.cut) row["cut"] = true;
  return row;
}

// Why `dest` may not be written when it names a file SQLite takes for part of `database`
// (its write-ahead log, shared-memory file or rollback journal), existing or not; "" when it
// names none. A journal written there would be rolled back into the database when it is next
// opened.
std::string companionRefusal(const std::string& dest, const fs::path& database) {
  if (dest == "-") return {};
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(fs::absolute(dest, ec), ec);
  if (ec) return {};
  const std::string base = fs::weakly_canonical(fs::absolute(database, ec), ec).string();
  if (ec) return {};
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    if (target.string() == base + suffix) {
      return dest + " is where the database " + database.string() + " keeps its " + suffix +
             " file; it is never written";
    }
  }
  return {};
}

void printWarning(const std::string& line) {
  std::fprintf(stderr, "tamsel-cli: warning: %s\n", escapeForTerminal(line).c_str());
}

}  // namespace

int runCarveCommand(const CarveCommand& command) {
  const fs::path database = command.database;
  std::error_code ec;
  if (!fs::is_regular_file(database, ec) || !looksLikeDatabase(database)) {
    std::fprintf(stderr, "tamsel-cli: %s is not a database\n",
                 escapeForTerminal(command.database).c_str());
    return 2;
  }
  fs::path log = command.log;
  if (log.empty() && fs::is_regular_file(database.string() + "-wal", ec)) {
    log = database.string() + "-wal";
  }
  if (!log.empty() && !fs::is_regular_file(log, ec)) {
    std::fprintf(stderr, "tamsel-cli: %s: no such write-ahead log\n",
                 escapeForTerminal(log.string()).c_str());
    return 2;
  }
  // The log is read with the database, and what lies beside it under a name SQLite gives
  // its own files is taken for part of it: the export goes to none of them.
  const std::vector<std::string> alsoRead = {log.string(), database.string() + "-wal"};
  if (!command.jsonDest.empty()) {
    std::string refused =
        checkJsonDestination(command.jsonDest, command.database, command.force, alsoRead);
    if (refused.empty()) refused = companionRefusal(command.jsonDest, database);
    if (!refused.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", escapeForTerminal(refused).c_str());
      return 1;
    }
  }

  // The copies: one carved as the file holds it, one that SQLite reads with the log applied.
  const fs::path workDir = command.workDir ? *command.workDir : defaultWorkDir();
  const ScannedInput scanned(command.database);
  cleanWorkFolder(workDir);
  std::string error;
  auto run = RunFolder::create(workDir, &error);
  if (!run) {
    std::fprintf(stderr, "tamsel-cli: %s\n", escapeForTerminal(error).c_str());
    return 1;
  }
  const fs::path carved = run->path() / "carved.sqlite";
  const fs::path storedLog = run->path() / "carved.stored-wal";
  const fs::path live = run->path() / "live.sqlite";
  bool copied = copyReadOnly(database, carved, &error) && copyReadOnly(database, live, &error);
  if (copied && !log.empty()) {
    copied =
        copyReadOnly(log, storedLog, &error) && copyReadOnly(log, live.string() + "-wal", &error);
  }
  if (!copied) {
    std::fprintf(stderr, "tamsel-cli: %s\n", escapeForTerminal(error).c_str());
    return 1;
  }
  settleLiveCopy(live);
  auto shapes = readTableShapes(live.string());
  if (!shapes) {
    std::fprintf(stderr, "tamsel-cli: %s is not a database (SQLite cannot read its tables)\n",
                 escapeForTerminal(command.database).c_str());
    return 2;
  }
  auto input =
      CarveInput::open(carved.string(), log.empty() ? std::string() : storedLog.string(), &error);
  if (!input) {
    std::fprintf(stderr, "tamsel-cli: %s\n", escapeForTerminal(error).c_str());
    return 2;
  }

  std::map<std::string, std::vector<CarvedRow>> byTable;
  for (const TableShape& s : *shapes) byTable[s.name];
  const CarveOutcome outcome = carveBySchema(
      *input, *shapes, {},
      [&byTable](const CarvedRow& r) {
        byTable[r.table].push_back(r);
        return true;
      },
      live.string());
  for (const std::string& w : outcome.warnings) printWarning(w);
  const bool damaged = !outcome.warnings.empty();

  std::FILE* out = command.jsonDest == "-" ? stderr : stdout;
  size_t total = 0;
  for (const auto& [table, rows] : byTable) {
    std::fprintf(out, "%s: %zu deleted rows\n", escapeForTerminal(table).c_str(), rows.size());
    for (const CarvedRow& r : rows) {
      std::string line = "  rowid " + (r.rowid ? std::to_string(*r.rowid) : std::string("?")) +
                         "  " + foundInName(r.foundIn) + (r.inLog ? " (log)" : "") + " @" +
                         std::to_string(r.offset) + (r.cut ? "  cut" : "") + "  |";
      for (const CarvedValue& v : r.values) line += " " + shownValue(v) + " |";
      std::fprintf(out, "%s\n", line.c_str());
    }
    total += rows.size();
  }
  std::fprintf(out, "total: %zu deleted rows in %zu tables\n", total, byTable.size());

  if (!command.jsonDest.empty()) {
    nlohmann::ordered_json doc;
    doc["database"] = command.database;
    doc["tables"] = nlohmann::ordered_json::object();
    for (const auto& [table, rows] : byTable) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const CarvedRow& r : rows) list.push_back(jsonRow(r));
      doc["tables"][table] = std::move(list);
    }
    // Texts cut inside a character end in U+FFFD.
    const std::string text =
        doc.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    const int rc = writeJsonDocument(
        command.jsonDest, command.force, command.database,
        [&text](const Writer& write) { return write(text); }, alsoRead);
    if (rc != 0) return rc;
  }
  return damaged ? kExitDamaged : 0;
}

}  // namespace tamsel::cli
