// Speed of the deleted-record carvers: a generated message database of about 100 MB (a
// message table of the phone's layout with texts of mixed sizes, a few running into overflow
// pages, and its handle table; a quarter of the messages deleted without wiping) is walked
// by each carver and by the schema-aware pass, with observers counting what they post.
//
//   carve_bench [--carve_bench_mb=N] [benchmark options]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "carve/deleted_bookmarks.h"
#include "carve/deleted_calendar.h"
#include "carve/deleted_calls.h"
#include "carve/deleted_contacts.h"
#include "carve/deleted_messages.h"
#include "carve/deleted_notes.h"
#include "carve/schema_carver.h"
#include "events/notification_names.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using namespace tamsel;

std::string g_path;
uint64_t g_size = 0;
uint64_t g_targetMb = 100;
uint64_t g_deleted = 0;  // messages deleted after the inserts

bool exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string generate() {
  g_path = (fs::temp_directory_path() / ("tamsel_carve_bench_" + std::to_string(getpid()) + ".db"))
               .string();
  sqlite3* db = nullptr;
  if (sqlite3_open(g_path.c_str(), &db) != SQLITE_OK) return "cannot create " + g_path;
  bool ok = exec(db,
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA secure_delete=OFF;"
                 "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE "
                 "NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id "
                 "INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, version "
                 "INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, error "
                 "INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
                 "is_delivered INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_read INTEGER "
                 "DEFAULT 0, is_sent INTEGER DEFAULT 0);"
                 "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT "
                 "NULL, country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, "
                 "service));"
                 "BEGIN;");
  for (int h = 1; ok && h <= 500; ++h) {
    const std::string sql = "INSERT INTO handle (id, country, service) VALUES ('+1555" +
                            std::to_string(100000 + h) + "', 'us', 'SMS')";
    ok = exec(db, sql.c_str());
  }
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db,
                                "INSERT INTO message (guid, text, handle_id, service, account, "
                                "date, date_read, is_from_me, is_read, attributedBody) VALUES "
                                "(?, ?, ?, 'SMS', 'p:0', ?, ?, ?, 1, ?)",
                                -1, &insert, nullptr) == SQLITE_OK;
  uint32_t seed = 12345;
  std::string text;
  for (int64_t i = 1; ok; ++i) {
    if (i % 4096 == 0) {
      sqlite3_int64 pages = 0;
      sqlite3_stmt* count = nullptr;
      sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &count, nullptr);
      if (sqlite3_step(count) == SQLITE_ROW) pages = sqlite3_column_int64(count, 0);
      sqlite3_finalize(count);
      if (static_cast<uint64_t>(pages) * 4096 >= g_targetMb * 1000000ull) break;
    }
    seed = seed * 1103515245u + 12345u;
    // Mostly short texts, some of a few hundred bytes, one in fifty longer than a page.
    const size_t length = seed % 50 == 0  ? 4500 + seed % 3000
                          : seed % 7 == 0 ? 300 + seed % 900
                                          : 10 + seed % 140;
    text.assign(length, static_cast<char>('a' + i % 26));
    text.replace(0, std::min<size_t>(length, 12), "msg " + std::to_string(i) + " ");
    const std::string guid = "guid-" + std::to_string(i);
    const unsigned char body[16] = {0x04, 0x0b, 's', 't', 'r', 'e', 'a', 'm'};
    sqlite3_bind_text(insert, 1, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 3, 1 + i % 500);
    sqlite3_bind_int64(insert, 4, 400000000 + i * 7);
    sqlite3_bind_int64(insert, 5, i % 3 ? 400000100 + i * 7 : 0);
    sqlite3_bind_int64(insert, 6, i % 2);
    sqlite3_bind_blob(insert, 7, body, sizeof body, SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
    g_deleted += i % 4 == 0;
  }
  sqlite3_finalize(insert);
  ok = ok && exec(db, "COMMIT; DELETE FROM message WHERE ROWID % 4 = 0;");
  const std::string error = ok ? std::string() : std::string(sqlite3_errmsg(db));
  sqlite3_close(db);
  std::error_code ec;
  g_size = fs::file_size(g_path, ec);
  return error;
}

using Carver = void (*)(const CarveInput&, ScanContext&);
struct Named {
  const char* name;
  Carver carve;
};
const Named kCarvers[] = {
    {"messages", carveDeletedMessages}, {"contacts", carveDeletedContacts},
    {"notes", carveDeletedNotes},       {"calls", carveDeletedCallHistory},
    {"calendar", carveDeletedCalendar}, {"bookmarks", carveDeletedBookmarks},
};

void rates(benchmark::State& state, uint64_t rows) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(g_size) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["deleted"] = static_cast<double>(g_deleted);
  state.counters["file_MB"] = static_cast<double>(g_size) / 1e6;
}

void BM_Carver(benchmark::State& state) {
  const Named& c = kCarvers[state.range(0)];
  state.SetLabel(c.name);
  uint64_t rows = 0;
  for (auto _ : state) {
    auto input = CarveInput::open(g_path, "");
    if (!input) {
      state.SkipWithError("cannot map the database");
      return;
    }
    NotificationCenter nc;
    ScanContext ctx(nc);
    ctx.currentNodeIsiOS6Version = true;
    ctx.iosMajorVersion = 6;
    uint64_t posted = 0;
    for (auto name : {notify::kScanDelContactInfo, notify::kScanDelMessageInfo,
                      notify::kScanDelNoteInfo, notify::kScanDelCallHistoryInfo,
                      notify::kScanDelBookMarkInfo, notify::kScanDelCalenderInfo}) {
      nc.addObserver(name, [&posted](const Notification&) { ++posted; });
    }
    c.carve(*input, ctx);
    rows = posted;
  }
  rates(state, rows);
}
BENCHMARK(BM_Carver)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The schema-aware pass, with the live rows read through SQLite as the command line does.
void BM_SchemaPass(benchmark::State& state) {
  auto shapes = readTableShapes(g_path);
  if (!shapes) {
    state.SkipWithError("cannot read the tables");
    return;
  }
  uint64_t rows = 0;
  for (auto _ : state) {
    auto input = CarveInput::open(g_path, "");
    uint64_t found = 0;
    carveBySchema(
        *input, *shapes, {},
        [&found](const CarvedRow&) {
          ++found;
          return true;
        },
        g_path);
    rows = found;
  }
  rates(state, rows);
}
BENCHMARK(BM_SchemaPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--carve_bench_mb=", 17) == 0)
      g_targetMb = std::strtoull(argv[i] + 17, nullptr, 10);
  }
  if (std::string error = generate(); !error.empty()) {
    std::fprintf(stderr, "cannot generate the database: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "generated %s: %.1f MB\n", g_path.c_str(),
               static_cast<double>(g_size) / 1e6);
  tamsel::setLogSink({});
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove(g_path, ec);
  return 0;
}
