// Speed of the deleted-record carvers, each on a database of its own kind: for every carver a
// database of about 100 MB in the layout it reads (messages of system 6 and of system 5,
// address book, notes, calls, calendar, bookmarks) is written through SQLite with texts of
// mixed sizes (a few running into overflow pages), and a quarter of its rows are deleted with
// secure delete off, so that their bytes stay in the pages. Each carver walks its own
// database, and the schema-aware pass walks the system 6 message one; observers count what
// they post. The message carver also walks a system 6 message database of half the size
// with a write-ahead log of about the other half stored beside it (messages_ios6_wal: rows
// only in the log, the deletes too), the rate counted over both files. The databases are made
// once, when a benchmark first needs them, in the temporary folder, and removed at the end.
//
//   carve_bench [--carve_bench_mb=N] [benchmark options]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "carve/deleted_bookmarks.h"
#include "carve/deleted_calendar.h"
#include "carve/deleted_calls.h"
#include "carve/deleted_contacts.h"
#include "carve/deleted_messages.h"
#include "carve/deleted_notes.h"
#include "carve/schema_carver.h"
#include "events/name_lookup.h"
#include "events/notification_names.h"
#include "tests/fixtures/carve_db_contacts.h"
#include "tests/fixtures/carve_db_notes_calls.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using namespace tamsel;

uint64_t g_targetMb = 100;

// ---------------------------------------------------------------- database layouts

struct ZeroBlob {
  int size;
};
using Value = std::variant<std::monostate, int64_t, double, std::string, ZeroBlob>;
using Row = std::vector<Value>;
using Rng = std::mt19937;

// One insert per step of the generator; `row` fills the values of step i, or returns false
// to insert nothing at that step.
struct Insert {
  std::string sql;
  std::function<bool(int64_t i, Rng& rng, Row& row)> row;
};

using Carver = void (*)(const CarveInput&, ScanContext&);

struct Kind {
  const char* name;
  Carver carve;
  bool ios6;
  bool wal;           // write-ahead-log mode (header write version 2)
  bool legacyFormat;  // 0 and 1 stored as one-byte integers, as older files do
  std::string schema;
  std::vector<Insert> inserts;
  std::vector<std::string> deletes;  // the first one's count is reported
  // Whether a posted record is one of the deleted rows (their texts carry the mark).
  std::function<bool(const Notification&)> isDeleted;
  // About half the size goes into the database and the rest into a write-ahead log stored
  // beside it (rows only in the log, and their deletes), which the carver reads too.
  bool keepLog = false;
};

// Texts of words, mostly short, some of a few hundred bytes, one in fifty longer than a page.
std::string words(Rng& rng, size_t length) {
  static const char* const kWords[] = {"see",     "you",    "at",    "the",   "station",
                                       "call",    "me",     "when",  "ready", "dinner",
                                       "meeting", "thanks", "ok",    "later", "home",
                                       "running", "late",   "great", "train", "tomorrow"};
  std::string s;
  while (s.size() < length) {
    if (!s.empty()) s += ' ';
    s += kWords[rng() % 20];
  }
  s.resize(length);
  return s;
}
size_t mixedLength(Rng& rng) {
  const uint32_t r = rng();
  return r % 50 == 0 ? 4500 + r % 3000 : r % 7 == 0 ? 300 + r % 900 : 10 + r % 140;
}
std::string uuid(int64_t i) {
  char s[40];
  std::snprintf(s, sizeof s, "%08X-2C9A-4E1B-8B3D-%012llX", static_cast<unsigned>(i * 2654435761u),
                static_cast<unsigned long long>(i));
  return s;
}
// The rows deleted later (step i a multiple of 4) carry a mark at the start of a text that
// the carver reports, so that the deleted rows among those posted can be counted.
constexpr const char* kMark = "gone";
std::string marked(int64_t i, std::string text) {
  if (i % 4 == 0) text.replace(0, std::min<size_t>(text.size(), 4), kMark);
  return text;
}
template <class Node>
std::function<bool(const Notification&)> marks(std::string Node::*field) {
  return [field](const Notification& n) {
    auto node = n.record<Node>();
    return node && (node.get()->*field).find(kMark) != std::string::npos;
  };
}
std::string phone(int64_t i) {
  return "+1555" + std::to_string(1000000 + i % 500);
}

// "CREATE TABLE message (...)" of `n` columns: the integer primary key, then column p as
// `named` gives it, or "cP" without a type.
std::string messageTable(int n, const std::map<int, std::string>& named) {
  std::string sql = "CREATE TABLE message (ROWID INTEGER PRIMARY KEY";
  for (int p = 1; p < n; ++p)
    sql += ", " + (named.count(p) ? named.at(p) : "c" + std::to_string(p));
  return sql + ");";
}

Kind messagesIos6() {
  return {"messages_ios6",
          carveDeletedMessages,
          true,
          true,
          false,
          "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT, country TEXT, service TEXT, "
          "uncanonicalized_id TEXT);" +
              messageTable(38, {{1, "guid TEXT UNIQUE"},
                                {2, "text"},
                                {3, "replace INTEGER DEFAULT 0"},
                                {5, "handle_id"},
                                {8, "attributedBody"},
                                {9, "version"},
                                {11, "service"},
                                {15, "date"},
                                {21, "is_from_me"}}),
          {{"INSERT INTO handle VALUES (?, ?, 'us', ?, NULL)",
            [](int64_t i, Rng&, Row& r) {
              if (i > 500) return false;
              r = {i, phone(i), std::string(i % 3 ? "SMS" : "iMessage")};
              return true;
            }},
           {"INSERT INTO message (guid, text, handle_id, attributedBody, version, service, date, "
            "is_from_me) VALUES (?, ?, ?, ?, 10, ?, ?, ?)",
            [](int64_t i, Rng& rng, Row& r) {
              const uint32_t body = rng() % 3;
              r = {uuid(i),
                   marked(i, words(rng, mixedLength(rng))),
                   int64_t{1 + i % 500},
                   body == 0 ? Value{} : Value{ZeroBlob{body == 1 ? 20 : 100}},
                   std::string(i % 3 ? "SMS" : "iMessage"),
                   int64_t{400000000 + i * 7},
                   int64_t{i % 2}};
              return true;
            }}},
          {"DELETE FROM message WHERE ROWID % 4 = 0"},
          marks(&PRMessageNode::messageContent)};
}

Kind messagesIos6WithLog() {
  Kind kind = messagesIos6();
  kind.name = "messages_ios6_wal";
  kind.keepLog = true;
  return kind;
}

Kind messagesIos5() {
  return {
      "messages_ios5",
      carveDeletedMessages,
      false,
      false,
      false,
      messageTable(17, {{1, "address"}, {2, "date"}, {3, "text"}, {4, "flags"}, {13, "country"}}),
      {{"INSERT INTO message (address, date, text, flags, country) VALUES (?, ?, ?, ?, 'us')",
        [](int64_t i, Rng& rng, Row& r) {
          r = {phone(i), int64_t{400000000 + i * 7}, marked(i, words(rng, mixedLength(rng))),
               int64_t{2 + i % 2}};
          return true;
        }}},
      {"DELETE FROM message WHERE ROWID % 4 = 0"},
      marks(&PRMessageNode::messageContent)};
}

Kind contacts() {
  return {"contacts",
          carveDeletedContacts,
          true,
          false,
          false,
          fixtures::kCarveAddressBookSchema,
          {{"INSERT INTO ABPerson (ROWID, First, Last, Organization, Note, JobTitle) VALUES (?, "
            "?, ?, ?, ?, ?)",
            [](int64_t i, Rng& rng, Row& r) {
              const uint32_t n = rng();
              r = {i,
                   marked(i, words(rng, 4 + n % 8)),
                   words(rng, 4 + n % 10),
                   n % 3 ? Value{} : Value{words(rng, 12)},
                   n % 4 ? Value{} : Value{words(rng, mixedLength(rng))},
                   n % 5 ? Value{} : Value{std::string("Engineer")}};
              return true;
            }},
           {"INSERT INTO ABMultiValue VALUES (?, ?, 3, 0, 1, ?)",
            [](int64_t i, Rng&, Row& r) {
              r = {2 * i, i, phone(i)};
              return true;
            }},
           {"INSERT INTO ABMultiValue VALUES (?, ?, 4, 0, 1, ?)",
            [](int64_t i, Rng&, Row& r) {
              r = {2 * i + 1, i, "person" + std::to_string(i) + "@example.com"};
              return true;
            }}},
          {"DELETE FROM ABPerson WHERE ROWID % 4 = 0",
           "DELETE FROM ABMultiValue WHERE record_id % 4 = 0"},
          marks(&PRContactNode::contactName)};
}

Kind notes() {
  return {
      "notes",
      carveDeletedNotes,
      true,
      false,
      false,
      fixtures::kCarveNotesSchema,
      {{"INSERT INTO ZNOTE VALUES (?, 3, 2, 2, 2, 2, 2, 1099511627776, 2, 2, ?, 2, ?, ?, NULL, "
        "'guid', NULL, ?, ?)",
        [](int64_t i, Rng& rng, Row& r) {
          r = {i,
               i,
               int64_t{400000000 + i},
               int64_t{500000000 + i},
               words(rng, 40),
               words(rng, 5 + rng() % 30)};
          return true;
        }},
       {"INSERT INTO ZNOTEBODY VALUES (?, 2, 2, ?, ?, NULL, NULL)",
        [](int64_t i, Rng& rng, Row& r) {
          r = {i, i, "<div>" + marked(i, words(rng, mixedLength(rng))) + "</div><div><br></div>"};
          return true;
        }}},
      {"DELETE FROM ZNOTE WHERE Z_PK % 4 = 0", "DELETE FROM ZNOTEBODY WHERE Z_PK % 4 = 0"},
      marks(&PRNoteNode::noteContent)};
}

Kind calls() {
  std::string schema =
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY, address, date, duration, "
      "flags, id";
  for (int i = 6; i < 13; ++i) schema += ", c" + std::to_string(i);
  return {"calls",
          carveDeletedCallHistory,
          true,
          false,
          false,
          schema + ");",
          {{"INSERT INTO call (address, date, duration, flags, id) VALUES (?, ?, ?, ?, -1)",
            [](int64_t i, Rng& rng, Row& r) {
              r = {marked(i, phone(i)), int64_t{1400000000 + i * 60},
                   static_cast<int64_t>(rng() % 4000), int64_t{4 + i % 2}};
              return true;
            }}},
          {"DELETE FROM call WHERE ROWID % 4 = 0"},
          marks(&PRCallHistoryNode::callPhone)};
}

// The phone's event table of system 6 (51 columns, location by identifier, identifiers at
// 30 and 31, the six small integers at 11 to 16 the carver anchors on), in log mode.
Kind calendar() {
  std::string schema =
      "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY, summary TEXT, location_id "
      "INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, all_day, "
      "calendar_id, orig_item_id, orig_date REAL, organizer_id, self_attendee_id, status, "
      "invitation_status, availability, privacy_level";
  for (int i = 17; i < 51; ++i) schema += ", c" + std::to_string(i) + " TEXT";
  return {"calendar",
          carveDeletedCalendar,
          true,
          true,
          false,
          schema + ");",
          {{"INSERT INTO CalendarItem (summary, location_id, description, start_date, start_tz, "
            "end_date, all_day, calendar_id, organizer_id, self_attendee_id, status, "
            "invitation_status, availability, privacy_level, c30, c31) VALUES (?, 3, ?, ?, ?, ?, "
            "0, 1, 0, 0, 0, 0, 0, 0, ?, ?)",
            [](int64_t i, Rng& rng, Row& r) {
              const int64_t start = 400000000 + i * 3600;
              r = {marked(i, words(rng, 5 + rng() % 30)),
                   words(rng, mixedLength(rng)),
                   start,
                   i % 5 ? Value{std::string("Europe/London")} : Value{},
                   start + 3600,
                   uuid(i),
                   uuid(i + 1)};
              return true;
            }}},
          {"DELETE FROM CalendarItem WHERE ROWID % 4 = 0"},
          marks(&PRCalenderNode::calTitle)};
}

// The browser's bookmarks table of 24 columns, in the old file format.
Kind bookmarks() {
  return {"bookmarks",
          carveDeletedBookmarks,
          true,
          false,
          true,
          "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER, parent INTEGER, "
          "type INTEGER, title TEXT, url TEXT, num_children INTEGER, editable INTEGER, deletable "
          "INTEGER, hidden INTEGER, hidden_ancestor_count INTEGER, order_index INTEGER, "
          "external_uuid TEXT, read INTEGER, last_modified REAL, server_id TEXT, sync_key TEXT, "
          "sync_data BLOB, added INTEGER, deleted INTEGER, extra_attributes BLOB, "
          "local_attributes BLOB, fetched_icon BOOL, icon BLOB);",
          {{"INSERT INTO bookmarks (special_id, parent, type, title, url, num_children, editable, "
            "deletable, hidden, hidden_ancestor_count, order_index, external_uuid) VALUES (0, 1, "
            "0, ?, ?, 0, 1, 1, 0, 0, ?, ?)",
            [](int64_t i, Rng& rng, Row& r) {
              const uint32_t n = rng();
              r = {marked(i, words(rng, 4 + n % 60)),
                   "http://www.example" + std::to_string(i % 997) + ".com/" +
                       words(rng, n % 13 == 0 ? 300 + n % 2000 : 5 + n % 120),
                   i, uuid(i)};
              return true;
            }}},
          {"DELETE FROM bookmarks WHERE id % 4 = 0"},
          marks(&PRBookMarkNode::bookMarkTitle)};
}

// ---------------------------------------------------------------- generation

struct Database {
  std::string path;
  std::string log;    // the stored write-ahead log, when the kind keeps one
  uint64_t size = 0;  // of the database and the log
  uint64_t deleted = 0;
  std::string error;
};

std::vector<Kind> g_kinds;
std::map<std::string, Database> g_databases;  // by kind name, made on first use

bool exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool bindRow(sqlite3_stmt* stmt, const Row& row) {
  for (size_t k = 0; k < row.size(); ++k) {
    const int at = static_cast<int>(k) + 1;
    const Value& v = row[k];
    int rc = SQLITE_OK;
    if (const auto* i = std::get_if<int64_t>(&v)) {
      rc = sqlite3_bind_int64(stmt, at, *i);
    } else if (const auto* d = std::get_if<double>(&v)) {
      rc = sqlite3_bind_double(stmt, at, *d);
    } else if (const auto* s = std::get_if<std::string>(&v)) {
      rc = sqlite3_bind_text(stmt, at, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
    } else if (const auto* b = std::get_if<ZeroBlob>(&v)) {
      rc = sqlite3_bind_zeroblob(stmt, at, b->size);
    } else {
      rc = sqlite3_bind_null(stmt, at);
    }
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

Database generate(const Kind& kind) {
  Database out;
  out.path = (fs::temp_directory_path() /
              ("tamsel_carve_bench_" + std::to_string(getpid()) + "_" + kind.name + ".db"))
                 .string();
  const auto started = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open(out.path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    out.error = "cannot create " + out.path;
    return out;
  }
  sqlite3_db_config(db, SQLITE_DBCONFIG_LEGACY_FILE_FORMAT, kind.legacyFormat ? 1 : 0, nullptr);
  bool ok = exec(db, std::string("PRAGMA page_size=4096; PRAGMA synchronous=OFF; "
                                 "PRAGMA secure_delete=OFF;") +
                         (kind.wal ? "PRAGMA journal_mode=WAL;" : "PRAGMA journal_mode=OFF;")) &&
            exec(db, kind.schema) && exec(db, "BEGIN");
  // The deletes, in the transaction begun last; the first one's count is reported.
  auto deleteRows = [&] {
    bool done = true;
    for (size_t k = 0; done && k < kind.deletes.size(); ++k) {
      done = exec(db, kind.deletes[k]);
      if (k == 0) out.deleted += static_cast<uint64_t>(sqlite3_changes(db));
    }
    return done;
  };
  // With keepLog, half the size goes into the database (its rows deleted there), then rows
  // into the log until it holds a quarter, which their deletes about double; from then on
  // nothing is copied back into the database.
  const uint64_t target = g_targetMb * 1000000ull / (kind.keepLog ? 2 : 1);
  bool inLog = false;
  std::vector<sqlite3_stmt*> statements;
  for (const Insert& insert : kind.inserts) {
    sqlite3_stmt* stmt = nullptr;
    ok = ok && sqlite3_prepare_v2(db, insert.sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
    statements.push_back(stmt);
  }
  Rng rng(12345);
  Row row;
  for (int64_t i = 1; ok; ++i) {
    if (i % 2048 == 0) {
      sqlite3_stmt* count = nullptr;
      sqlite3_int64 pages = 0;
      sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &count, nullptr);
      if (sqlite3_step(count) == SQLITE_ROW) pages = sqlite3_column_int64(count, 0);
      sqlite3_finalize(count);
      if (!inLog && static_cast<uint64_t>(pages) * 4096 >= target) {
        if (!kind.keepLog) break;
        ok =
            exec(db, "COMMIT; BEGIN") && deleteRows() &&
            exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint=0; BEGIN");
        inLog = true;
      }
      std::error_code ec;
      if (inLog && fs::file_size(out.path + "-wal", ec) >= target / 2) break;
      // Commit now and then, so that a log does not hold the whole database.
      if (i % (inLog ? 8192 : 65536) == 0) ok = exec(db, "COMMIT; BEGIN");
    }
    for (size_t k = 0; ok && k < statements.size(); ++k) {
      row.clear();
      if (!kind.inserts[k].row(i, rng, row)) continue;
      ok = bindRow(statements[k], row) && sqlite3_step(statements[k]) == SQLITE_DONE;
      sqlite3_reset(statements[k]);
    }
  }
  for (sqlite3_stmt* stmt : statements) sqlite3_finalize(stmt);
  ok = ok && exec(db, "COMMIT; BEGIN") && deleteRows() && exec(db, "COMMIT");
  if (!ok) out.error = sqlite3_errmsg(db);
  // Closing checkpoints and removes the log, unless it is to be kept.
  if (kind.keepLog) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_close(db);
  std::error_code ec;
  out.size = fs::file_size(out.path, ec);
  char ofLog[48] = "";
  if (kind.keepLog) {
    out.log = out.path + "-wal";
    const uint64_t logSize = fs::file_size(out.log, ec);
    out.size += logSize;
    std::snprintf(ofLog, sizeof ofLog, " (%.1f MB of it the log)",
                  static_cast<double>(logSize) / 1e6);
  }
  std::fprintf(stderr, "generated %s: %.1f MB%s, %llu rows deleted, %.1f s\n", out.path.c_str(),
               static_cast<double>(out.size) / 1e6, ofLog,
               static_cast<unsigned long long>(out.deleted),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return out;
}

const Database& databaseOf(const Kind& kind) {
  auto it = g_databases.find(kind.name);
  if (it == g_databases.end()) it = g_databases.emplace(kind.name, generate(kind)).first;
  return it->second;
}

void removeDatabases() {
  std::error_code ec;
  for (const auto& [name, db] : g_databases) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(db.path + suffix, ec);
  }
}

// ---------------------------------------------------------------- benchmarks

void rates(benchmark::State& state, const Database& db, uint64_t rows, uint64_t ofDeleted) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(db.size) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["posted"] = static_cast<double>(rows);
  state.counters["posted_deleted"] = static_cast<double>(ofDeleted);
  state.counters["deleted"] = static_cast<double>(db.deleted);
  state.counters["file_MB"] = static_cast<double>(db.size) / 1e6;
}

// The contacts a scan knows by the time the carvers run, with the index it looks names up in.
std::vector<std::shared_ptr<PRContactNode>> knownContacts() {
  std::vector<std::shared_ptr<PRContactNode>> out;
  for (int64_t i = 0; i < 500; i += 2) {
    auto c = std::make_shared<PRContactNode>();
    c->contactName = "Person " + std::to_string(i);
    c->contactPhone = phone(i);
    out.push_back(c);
  }
  return out;
}

void carverBenchmark(benchmark::State& state, const Kind* kind) {
  const Database& db = databaseOf(*kind);
  if (!db.error.empty()) {
    state.SkipWithError(("cannot generate the database: " + db.error).c_str());
    return;
  }
  const auto contacts = knownContacts();
  const auto index = std::make_shared<const PhoneNameIndex>(contacts);
  uint64_t rows = 0, ofDeleted = 0;
  for (auto _ : state) {
    auto input = CarveInput::open(db.path, db.log);
    if (!input) {
      state.SkipWithError("cannot map the database");
      return;
    }
    NotificationCenter nc;
    ScanContext ctx(nc);
    ctx.currentNodeIsiOS6Version = kind->ios6;
    ctx.iosMajorVersion = kind->ios6 ? 6 : 5;
    ctx.contactArray = contacts;
    ctx.nameIndex = index;
    uint64_t posted = 0, deleted = 0;
    for (auto name : {notify::kScanDelContactInfo, notify::kScanDelMessageInfo,
                      notify::kScanDelNoteInfo, notify::kScanDelCallHistoryInfo,
                      notify::kScanDelBookMarkInfo, notify::kScanDelCalenderInfo}) {
      nc.addObserver(name, [&](const Notification& n) {
        ++posted;
        deleted += kind->isDeleted(n);
      });
    }
    kind->carve(*input, ctx);
    rows = posted;
    ofDeleted = deleted;
  }
  rates(state, db, rows, ofDeleted);
}

// The schema-aware pass, with the live rows read through SQLite as the command line does.
void schemaBenchmark(benchmark::State& state, const Kind* kind) {
  const Database& db = databaseOf(*kind);
  auto shapes = db.error.empty() ? readTableShapes(db.path) : std::nullopt;
  if (!shapes) {
    state.SkipWithError("cannot read the tables");
    return;
  }
  uint64_t rows = 0, ofDeleted = 0;
  for (auto _ : state) {
    auto input = CarveInput::open(db.path, "");
    if (!input) {
      state.SkipWithError("cannot map the database");
      return;
    }
    uint64_t found = 0, deleted = 0;
    carveBySchema(
        *input, *shapes, {},
        [&](const CarvedRow& row) {
          ++found;
          for (const CarvedValue& v : row.values) {
            const auto* text = std::get_if<std::string>(&v);
            if (text && text->find(kMark) != std::string::npos) {
              ++deleted;
              break;
            }
          }
          return true;
        },
        db.path);
    rows = found;
    ofDeleted = deleted;
  }
  rates(state, db, rows, ofDeleted);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--carve_bench_mb=", 17) == 0)
      g_targetMb = std::strtoull(argv[i] + 17, nullptr, 10);
  }
  g_kinds = {messagesIos6(), messagesIos5(), contacts(), notes(), calls(), calendar(), bookmarks()};
  g_kinds.push_back(messagesIos6WithLog());
  for (const Kind& kind : g_kinds) {
    benchmark::RegisterBenchmark((std::string("BM_Carver/") + kind.name).c_str(), carverBenchmark,
                                 &kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(2);
  }
  benchmark::RegisterBenchmark("BM_SchemaPass/messages_ios6", schemaBenchmark, &g_kinds[0])
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(2);
  tamsel::setLogSink({});
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  removeDatabases();
  return 0;
}
