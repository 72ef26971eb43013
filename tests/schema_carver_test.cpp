// The schema-aware pass: deleted rows of databases made by SQLite (rollback journal and
// write-ahead log), hand-built pages for the freeblock rebuild and its bounds, and random
// pages that must yield nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "carve/schema_carver.h"
#include "tests/fixtures/temp_folder.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::readWholeFile;
using testing::TempFolder;
using Bytes = std::vector<uint8_t>;

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

// A row as inserted: its table, rowid, the distinctive token of its text and its values.
struct Row {
  std::string table;
  int64_t rowid = 0;
  std::string token;
  std::vector<CarvedValue> values;
};

std::string filler(size_t i) {
  static const size_t kSizes[] = {3, 40, 150, 700, 2500, 5200};
  return std::string(kSizes[i % 6], static_cast<char>('a' + i % 26));
}

std::string literal(const CarvedValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "NULL";
  if (auto i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&v)) return std::to_string(*d);
  if (auto s = std::get_if<std::string>(&v)) return "'" + *s + "'";
  std::string hex = "X'";
  for (uint8_t b : std::get<Bytes>(v)) {
    static const char* k = "0123456789abcdef";
    hex += k[b >> 4];
    hex += k[b & 15];
  }
  return hex + "'";
}

// Three tables of different shapes (one grows a column half-way), 160 rows each; every
// fourth row is deleted with secure_delete off. In log mode the deletes stay in the log.
struct MadeDatabase {
  std::vector<Row> live, deleted;
};

MadeDatabase makeDatabase(const fs::path& path, bool logMode) {
  MadeDatabase made;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  exec(db, "PRAGMA page_size=4096; PRAGMA secure_delete=OFF; PRAGMA auto_vacuum=NONE;");
  exec(db, logMode ? "PRAGMA journal_mode=WAL;" : "PRAGMA journal_mode=DELETE;");
  exec(db,
       "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT, "
       "date INTEGER, is_from_me INTEGER);"
       "CREATE TABLE person (id INTEGER PRIMARY KEY, first TEXT, score REAL, note TEXT);"
       "CREATE TABLE attachment (owner INTEGER, data BLOB, label TEXT);"
       "CREATE INDEX attachment_owner ON attachment(owner);");
  std::vector<Row> rows;
  exec(db, "BEGIN");
  for (size_t i = 0; i < 160; ++i) {
    if (i == 80) {
      exec(db, "COMMIT; ALTER TABLE person ADD COLUMN nickname TEXT; BEGIN");
    }
    const int64_t id = static_cast<int64_t>(i) + 1;
    const std::string n = std::to_string(i);
    Row m{"message",
          id,
          "msgtok" + n + "x",
          {std::monostate{}, std::string("guid-" + n), "msgtok" + n + "x " + filler(i),
           int64_t{600000000 + static_cast<int64_t>(i) * 977}, int64_t(i % 2)}};
    Row p{"person",
          id,
          "pertok" + n + "x",
          {std::monostate{}, "pertok" + n + "x " + filler(i + 3), 1.5 + static_cast<double>(i),
           i % 3 ? CarvedValue(std::string("note " + n)) : CarvedValue()}};
    if (i >= 80) p.values.push_back(std::string("nick" + n));
    Bytes blob(8 + i % 40, static_cast<uint8_t>(i));
    Row a{"attachment",
          id,
          "atttok" + n + "x",
          {int64_t(i * 7), blob, "atttok" + n + "x " + filler(i + 1)}};
    for (Row* r : {&m, &p, &a}) {
      std::string cols, vals;
      if (r->table == "message") cols = "(ROWID, guid, text, date, is_from_me)";
      if (r->table == "person") cols = i >= 80 ? "(id, first, score, note, nickname)" : "";
      for (size_t c = 0; c < r->values.size(); ++c) {
        vals += (c ? "," : "") +
                (c == 0 && r->table != "attachment" ? std::to_string(id) : literal(r->values[c]));
      }
      exec(db, "INSERT INTO " + r->table + " " + cols + " VALUES (" + vals + ")");
      rows.push_back(*r);
    }
  }
  exec(db, "COMMIT");
  if (logMode) {
    EXPECT_EQ(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_wal_autocheckpoint(db, 0);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  }
  exec(db, "BEGIN");
  for (const Row& r : rows) {
    if (r.rowid % 4 != 0) {
      made.live.push_back(r);
      continue;
    }
    exec(db, "DELETE FROM " + r.table + " WHERE rowid=" + std::to_string(r.rowid));
    made.deleted.push_back(r);
  }
  exec(db, "COMMIT");
  sqlite3_close(db);
  std::error_code ec;
  fs::remove(path.string() + "-shm", ec);
  return made;
}

bool sameValue(const CarvedValue& a, const CarvedValue& b) {
  if (a.index() == b.index()) return a == b;
  // A real without fraction may be kept as an integer.
  auto d = std::get_if<double>(&a);
  auto i = std::get_if<int64_t>(&b);
  return d && i && *d == static_cast<double>(*i);
}

std::string tokenOf(const CarvedRow& r) {
  for (const CarvedValue& v : r.values) {
    if (auto s = std::get_if<std::string>(&v); s && s->find("tok") != std::string::npos) {
      return s->substr(0, s->find(' '));
    }
  }
  return {};
}

// The private copy that SQLite reads: checkpointed and back in rollback mode, so a read-only
// connection needs no shared-memory file.
fs::path liveCopy(const fs::path& db, const fs::path& dir) {
  const fs::path copy = dir / "live.sqlite";
  fs::copy_file(db, copy);
  if (fs::exists(db.string() + "-wal")) fs::copy_file(db.string() + "-wal", copy.string() + "-wal");
  sqlite3* h = nullptr;
  sqlite3_open(copy.c_str(), &h);
  sqlite3_exec(h, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
  sqlite3_close(h);
  return copy;
}

class MadeByLibrary : public ::testing::TestWithParam<bool> {};

TEST_P(MadeByLibrary, FindsTheDeletedRowsThatSurviveAndNoLiveOrInventedOne) {
  TempFolder tmp;
  const fs::path db = tmp.path() / "made.sqlite";
  const bool logMode = GetParam();
  MadeDatabase made = makeDatabase(db, logMode);
  const std::string wal = db.string() + "-wal";
  ASSERT_EQ(fs::exists(wal), logMode);
  const std::string bytes = readWholeFile(db) + (logMode ? readWholeFile(wal) : std::string());

  const fs::path live = liveCopy(db, tmp.path());
  auto shapes = readTableShapes(live.string());
  ASSERT_TRUE(shapes);
  ASSERT_EQ(shapes->size(), 3u);
  const TableShape& person = (*shapes)[1];
  EXPECT_EQ(person.name, "person");
  EXPECT_EQ(person.columns, (std::vector<std::string>{"id", "first", "score", "note", "nickname"}));
  EXPECT_EQ(person.affinity, (std::vector<std::string>{"INTEGER", "TEXT", "REAL", "TEXT", "TEXT"}));
  EXPECT_EQ(person.rowidAlias, 0);
  EXPECT_EQ((*shapes)[2].rowidAlias, -1);

  auto input = CarveInput::open(db.string(), logMode ? wal : std::string());
  ASSERT_TRUE(input);
  std::map<std::string, CarvedRow> found;
  size_t reports = 0;
  carveBySchema(
      *input, *shapes, {},
      [&](const CarvedRow& r) {
        ++reports;
        found.emplace(r.table + ":" + tokenOf(r), r);
        return true;
      },
      live.string());

  std::map<std::string, const Row*> deleted;
  for (const Row& r : made.deleted) deleted[r.table + ":" + r.token] = &r;
  for (const Row& r : made.live) {
    EXPECT_FALSE(found.count(r.table + ":" + r.token)) << "live row reported: " << r.token;
  }
  EXPECT_EQ(reports, found.size()) << "a row was reported twice";
  size_t surviving = 0, right = 0;
  for (const auto& [key, carved] : found) {
    ASSERT_TRUE(deleted.count(key)) << "invented row " << key;
    const Row& want = *deleted[key];
    ASSERT_EQ(carved.values.size(), (*shapes)[want.table == "message"  ? 0
                                              : want.table == "person" ? 1
                                                                       : 2]
                                        .columns.size());
    bool same = !carved.cut && (!carved.rowid || *carved.rowid == want.rowid);
    for (size_t c = 0; c < carved.values.size() && same; ++c) {
      const CarvedValue expected = c < want.values.size() ? want.values[c] : CarvedValue();
      if (c == 0 && want.table != "attachment") {
        same = !carved.rowid || carved.values[0] == CarvedValue(want.rowid);
      } else {
        same = sameValue(expected, carved.values[c]);
      }
    }
    EXPECT_TRUE(same) << key << " found in " << foundInName(carved.foundIn);
    right += same;
  }
  for (const Row& r : made.deleted) {
    const bool survives = bytes.find(r.token + " ") != std::string::npos;
    surviving += survives;
  }
  std::printf("%s: %zu deleted, %zu surviving, %zu found with the right values\n",
              logMode ? "log" : "rollback", made.deleted.size(), surviving, right);
  ASSERT_GT(surviving, made.deleted.size() / 2);
  EXPECT_GE(right * 10, surviving * 9);
}

INSTANTIATE_TEST_SUITE_P(Journal, MadeByLibrary, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Log" : "Rollback"; });

TEST(SchemaCarver, ReadTableShapesOfAMissingFileIsNone) {
  TempFolder tmp;
  EXPECT_FALSE(readTableShapes((tmp.path() / "none.sqlite").string()));
}

// ---------------------------------------------------------------- hand-built pages

constexpr size_t kPage = 512;

void put16(Bytes& b, size_t at, size_t v) {
  b.at(at) = static_cast<uint8_t>(v >> 8);
  b.at(at + 1) = static_cast<uint8_t>(v);
}

void putVarint(Bytes& out, uint64_t v) {
  if (v >= 0x80) out.push_back(static_cast<uint8_t>(0x80 | (v >> 7)));
  out.push_back(static_cast<uint8_t>(v & 0x7f));
}

// A cell of table t (id INTEGER PRIMARY KEY, name TEXT, n INTEGER).
Bytes cell(uint64_t rowid, const std::string& name, uint8_t n) {
  Bytes types = {0};
  putVarint(types, 13 + 2 * name.size());
  types.push_back(1);
  Bytes record = {static_cast<uint8_t>(types.size() + 1)};
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), name.begin(), name.end());
  record.push_back(n);
  Bytes out;
  putVarint(out, record.size());
  putVarint(out, rowid);
  out.insert(out.end(), record.begin(), record.end());
  return out;
}

TableShape shapeOfT() {
  TableShape t;
  t.name = "t";
  t.columns = {"id", "name", "n"};
  t.affinity = {"INTEGER", "TEXT", "INTEGER"};
  t.rowidAlias = 0;
  t.rootPage = 2;
  return t;
}

// Page 1 (file header and an empty schema leaf) and page 2, a leaf of t holding one live
// cell at the page end.
Bytes twoPages() {
  Bytes b(2 * kPage, 0);
  const std::string magic = "SQLite format 3";
  std::copy(magic.begin(), magic.end(), b.begin());
  put16(b, 16, kPage);
  b[100] = 0x0d;
  put16(b, 105, kPage);
  Bytes live = cell(1, "alive", 1);
  const size_t at = kPage - live.size();
  std::copy(live.begin(), live.end(), b.begin() + kPage + at);
  b[kPage] = 0x0d;
  put16(b, kPage + 3, 1);
  put16(b, kPage + 5, at);
  put16(b, kPage + 8, at);
  return b;
}

// Places `deleted` at `at` of page 2 as a freeblock of `size` bytes (its first four bytes
// overwritten by the link and the size, as SQLite frees a cell).
void addFreeblock(Bytes& b, size_t at, const Bytes& deleted, size_t size, size_t next = 0) {
  std::copy(deleted.begin(), deleted.end(), b.begin() + kPage + at);
  put16(b, kPage + at, next);
  put16(b, kPage + at + 2, size);
  put16(b, kPage + 1, at);
}

std::vector<CarvedRow> carve(Bytes b) {
  auto input = CarveInput::fromBytes(std::move(b));
  std::vector<CarvedRow> rows;
  carveBySchema(*input, {shapeOfT()}, {}, [&](const CarvedRow& r) {
    rows.push_back(r);
    return true;
  });
  return rows;
}

struct FreeblockCase {
  const char* what;
  uint64_t rowid;
  size_t nameLength;  // the payload length's varint takes 2 bytes from 128 on
};

class FreeblockRebuild : public ::testing::TestWithParam<FreeblockCase> {};

TEST_P(FreeblockRebuild, RebuildsTheOverwrittenHeader) {
  const FreeblockCase& c = GetParam();
  Bytes b = twoPages();
  const std::string name = "gone " + std::string(c.nameLength, 'q');
  Bytes deleted = cell(c.rowid, name, 7);
  addFreeblock(b, 200, deleted, deleted.size());
  auto rows = carve(b);
  ASSERT_EQ(rows.size(), 1u) << c.what;
  EXPECT_EQ(rows[0].foundIn, FoundIn::freeblock);
  EXPECT_EQ(rows[0].offset, kPage + 200);
  EXPECT_FALSE(rows[0].rowid);  // its bytes were overwritten
  EXPECT_EQ(rows[0].values[1], CarvedValue(name));
  EXPECT_EQ(rows[0].values[2], CarvedValue(int64_t{7}));
}

INSTANTIATE_TEST_SUITE_P(HeadLengths, FreeblockRebuild,
                         ::testing::Values(FreeblockCase{"length and rowid one byte each", 5, 10},
                                           FreeblockCase{"two-byte length", 5, 200},
                                           FreeblockCase{"two-byte length and rowid", 300, 200}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(SchemaCarver, FreeSpaceOfAnIndexPageHoldsNoTableRows) {
  // The schema names an index of t whose b-tree is page 3, a leaf with a freeblock that
  // reads as a row of t.
  Bytes b = twoPages();
  Bytes record = {6, 13 + 2 * 5, 15, 15, 1, 0, 'i', 'n', 'd', 'e', 'x', 'i', 't', 3};
  Bytes schemaCell;
  putVarint(schemaCell, record.size());
  putVarint(schemaCell, 1);
  schemaCell.insert(schemaCell.end(), record.begin(), record.end());
  const size_t at = kPage - schemaCell.size();
  std::copy(schemaCell.begin(), schemaCell.end(), b.begin() + at);
  put16(b, 103, 1);
  put16(b, 105, at);
  put16(b, 108, at);
  b.resize(3 * kPage);
  b[2 * kPage] = 0x0a;
  put16(b, 2 * kPage + 5, kPage);
  const Bytes gone = cell(5, "in the index page", 7);
  std::copy(gone.begin(), gone.end(), b.begin() + 2 * kPage + 200);
  put16(b, 2 * kPage + 200, 0);
  put16(b, 2 * kPage + 202, gone.size());
  put16(b, 2 * kPage + 1, 200);
  EXPECT_TRUE(carve(b).empty());
  // The same bytes freed on the table's own leaf are its row.
  addFreeblock(b, 200, gone, gone.size());
  EXPECT_EQ(carve(b).size(), 1u);
}

TEST(SchemaCarver, FindsAnIntactCellInTheUnallocatedAreaWithItsRowid) {
  Bytes b = twoPages();
  Bytes gone = cell(9, "between", 3);
  std::copy(gone.begin(), gone.end(), b.begin() + kPage + 100);
  auto rows = carve(b);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].foundIn, FoundIn::unallocated);
  EXPECT_EQ(rows[0].rowid, 9);
  EXPECT_EQ(rows[0].values[0], CarvedValue(int64_t{9}));
  EXPECT_EQ(rows[0].values[1], CarvedValue(std::string("between")));
}

TEST(SchemaCarver, CopiesOfLiveRowsAndRowsOfTheWrongShapeAreNotReported) {
  Bytes b = twoPages();
  Bytes copy = cell(1, "alive", 1);  // the live row, again in free space
  std::copy(copy.begin(), copy.end(), b.begin() + kPage + 100);
  Bytes bad = cell(4, "bad\xff\xfe", 2);  // not UTF-8
  std::copy(bad.begin(), bad.end(), b.begin() + kPage + 200);
  Bytes wide = {12, 5, 5, 0, 0x17, 1, 1, 'a', 'b', 'c', 'd', 'e', 2, 3};  // four columns
  std::copy(wide.begin(), wide.end(), b.begin() + kPage + 300);
  EXPECT_TRUE(carve(b).empty());
}

TEST(SchemaCarver, FreeblockBoundsAndLoopsEndTheWalk) {
  // A freeblock claiming to run past the page, and a chain that points back at itself.
  Bytes past = twoPages();
  addFreeblock(past, 400, cell(2, "spill", 1), 0xfff0);
  EXPECT_TRUE(carve(past).empty());
  Bytes loop = twoPages();
  Bytes gone = cell(3, "looped", 4);
  addFreeblock(loop, 300, gone, gone.size(), 300);
  auto rows = carve(loop);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values[1], CarvedValue(std::string("looped")));
}

TEST(SchemaCarver, ARecordWhoseOverflowPagesAreGoneIsCut) {
  // Page size 512: a payload over 477 bytes keeps its start on the page and the rest on
  // overflow pages (here page 9, which the file does not have).
  Bytes b = twoPages();
  const std::string name(600, 'z');
  const Bytes whole = cell(6, name, 1);
  const size_t head = 3;  // two-byte payload length, one-byte rowid
  const size_t payload = whole.size() - head;
  const size_t m = ((kPage - 12) * 32 / 255) - 23;
  const size_t k = m + ((payload - m) % (kPage - 4));
  const size_t onPage = k <= kPage - 35 ? k : m;
  Bytes stored(whole.begin(), whole.begin() + head + onPage);
  stored.insert(stored.end(), {0, 0, 0, 9});
  std::copy(stored.begin(), stored.end(), b.begin() + kPage + 60);
  auto rows = carve(b);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].cut);
  auto text = std::get_if<std::string>(&rows[0].values[1]);
  ASSERT_TRUE(text);
  EXPECT_LT(text->size(), name.size());
  EXPECT_EQ(*text, name.substr(0, text->size()));
}

TEST(SchemaCarver, RandomPagesYieldNothing) {
  std::mt19937 rng(20261207);
  const std::vector<TableShape> shapes = {
      shapeOfT(),
      {"wide",
       {"ROWID", "guid", "text", "date", "flags", "note"},
       {"INTEGER", "TEXT", "TEXT", "INTEGER", "INTEGER", "TEXT"},
       0,
       3},
      {"loose", {"a", "b"}, {"BLOB", "NUMERIC"}, -1, 4}};
  for (int round = 0; round < 8; ++round) {
    Bytes b = twoPages();
    b.resize(kPage * 64);
    for (size_t i = 2 * kPage; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng());
    // Some random pages look like table leaves with a freeblock chain.
    for (size_t p = 2; p < 64; p += 3) b[p * kPage] = 0x0d;
    Bytes log(32, 0);
    put16(log, 0, 0x377f);
    put16(log, 2, 0x0682);
    put16(log, 10, kPage);
    for (int f = 0; f < 16; ++f) {
      for (size_t i = 0; i < 24 + kPage; ++i) log.push_back(static_cast<uint8_t>(rng()));
    }
    auto input = CarveInput::fromBytes(std::move(b), std::move(log));
    size_t rows = 0;
    carveBySchema(*input, shapes, {}, [&](const CarvedRow&) {
      ++rows;
      return true;
    });
    EXPECT_EQ(rows, 0u) << "round " << round;
  }
}

TEST(SchemaCarver, StopsWhenTheCallerSaysSo) {
  Bytes b = twoPages();
  for (size_t at : {60, 120, 180}) {
    Bytes gone = cell(at, "row" + std::to_string(at), 1);
    std::copy(gone.begin(), gone.end(), b.begin() + kPage + at);
  }
  auto input = CarveInput::fromBytes(std::move(b));
  size_t rows = 0;
  carveBySchema(*input, {shapeOfT()}, {"t"}, [&](const CarvedRow&) { return ++rows < 2; });
  EXPECT_EQ(rows, 2u);
}

}  // namespace
}  // namespace tamsel
