// The schema-aware pass's quick rejections keep every row its full checks accept; live rows
// are known by their values whether read from their pages or through SQLite.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "carve/schema_carver.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPage = 1024;

void putVarint(Bytes& out, uint64_t v) {
  if (v >= 0x80) out.push_back(static_cast<uint8_t>(0x80 | (v >> 7)));
  out.push_back(static_cast<uint8_t>(v & 0x7f));
}

// A table-leaf cell of a record of these serial types and content (`padFirst`: the first type
// written with a leading 0x80, a longer form of the same value).
Bytes cell(uint64_t rowid, std::vector<uint64_t> types, const std::string& content,
           bool padFirst = false) {
  Bytes record = {0};
  if (padFirst) record.push_back(0x80);
  for (uint64_t t : types) putVarint(record, t);
  record[0] = static_cast<uint8_t>(record.size());
  record.insert(record.end(), content.begin(), content.end());
  Bytes out;
  putVarint(out, record.size());
  putVarint(out, rowid);
  out.insert(out.end(), record.begin(), record.end());
  return out;
}

TableShape shape(std::vector<std::string> affinity, int alias) {
  TableShape s{"t", {}, std::move(affinity), alias, 2};
  for (size_t i = 0; i < s.affinity.size(); ++i) s.columns.push_back("c" + std::to_string(i));
  return s;
}

// Page 1 (file header, empty schema) and page 2, the table's only leaf: its live row of NULLs
// at the end, zeros elsewhere but for `cells` placed at their offsets.
std::vector<CarvedRow> carve(const TableShape& s,
                             const std::vector<std::pair<size_t, Bytes>>& cells, Bytes b = {},
                             const std::string& live = {}) {
  if (b.empty()) {
    b.assign(2 * kPage, 0);
    std::string("SQLite format 3").copy(reinterpret_cast<char*>(b.data()), 15);
    b[16] = kPage >> 8;
    b[100] = b[kPage] = 0x0d;
    b[105] = kPage >> 8;
    const Bytes nulls = cell(1, std::vector<uint64_t>(s.columns.size(), 0), "");
    std::copy(nulls.begin(), nulls.end(), b.end() - nulls.size());
    b[kPage + 4] = 1;
    b[kPage + 5] = b[kPage + 8] = static_cast<uint8_t>((kPage - nulls.size()) >> 8);
    b[kPage + 6] = b[kPage + 9] = static_cast<uint8_t>(kPage - nulls.size());
  }
  for (const auto& [at, bytes] : cells) std::copy(bytes.begin(), bytes.end(), b.begin() + at);
  std::vector<CarvedRow> rows;
  auto keep = [&rows](const CarvedRow& r) { return rows.push_back(r), true; };
  carveBySchema(*CarveInput::fromBytes(std::move(b)), {s}, {}, keep, live);
  return rows;
}

TEST(SchemaCarverFilters, CellsAndFreeblocksRightAfterZerosAtEveryAlignment) {
  const TableShape t = shape({"INTEGER", "TEXT", "INTEGER"}, 0);
  for (size_t shift = 0; shift < 9; ++shift) {
    // A freeblock out of the chain whose link and size's high byte are zero, so that it
    // starts with three zero bytes, and an intact cell that ends where the content begins.
    Bytes freed = cell(8, {0, 33, 1}, "freed cell\x03");
    freed[0] = freed[1] = freed[2] = 0;
    freed[3] = static_cast<uint8_t>(freed.size());
    const Bytes last =
        cell(9, {0, 13 + 2 * (4 + shift), 1}, "last" + std::string(shift, 'x') + "\x04");
    const auto rows = carve(t, {{kPage + 100 + shift, cell(7, {0, 25, 1}, "intact\x02")},
                                {kPage + 300 + shift, freed},
                                {2 * kPage - 6 - last.size(), last}});
    ASSERT_EQ(rows.size(), 3u) << "shift " << shift;
    EXPECT_EQ(rows[0].rowid, 7);
    EXPECT_EQ(rows[1].offset, kPage + 300 + shift);
    EXPECT_EQ(rows[1].values[1], CarvedValue(std::string("freed cell")));
    EXPECT_EQ(rows[2].rowid, 9);
  }
}

TEST(SchemaCarverFilters, FirstTypesOfEveryLength) {
  struct Case {
    std::vector<std::string> affinity;
    std::vector<uint64_t> types;
    std::string content;
    bool padFirst, found;
  } cases[] = {{{"TEXT", "INTEGER"}, {15, 1}, "a\x02", false, true},
               {{"TEXT", "INTEGER"}, {613, 1}, std::string(300, 'c') + "\x02", false, true},
               {{"BLOB", "INTEGER"}, {172, 1}, std::string(81, '\x04'), false, true},
               {{"INTEGER", "TEXT"}, {15, 19}, "zabc", false, false},  // text in an integer
               {{"TEXT", "INTEGER"}, {15, 1}, "a\x02", true, false}};  // not shortest form
  for (const Case& c : cases) {
    const auto rows =
        carve(shape(c.affinity, -1), {{kPage + 120, cell(5, c.types, c.content, c.padFirst)}});
    EXPECT_EQ(rows.size(), c.found ? 1u : 0u) << "first type " << c.types[0];
  }
}

// Runs `sql` on the database at `path`; its bytes after.
Bytes exec(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string s = testing::readWholeFile(path);
  return Bytes(s.begin(), s.end());
}

TEST(SchemaCarverFilters, LiveRowsAreKnownByTheirValuesFromPagesAndFromSQLite) {
  testing::TempFolder tmp;
  const auto live = tmp.path() / "live.sqlite", emptied = tmp.path() / "emptied.sqlite";
  // Every kind of value (integral reals are stored as integers), some rows written before
  // the table gained a column.
  const Bytes file = exec(
      live,
      "PRAGMA page_size=1024; PRAGMA secure_delete=OFF;"
      "CREATE TABLE v (id INTEGER PRIMARY KEY, r REAL, b BLOB, s TEXT, i INTEGER);"
      "INSERT INTO v VALUES (1, 2.0, x'00ff', 'two', 7), (2, 2.5, NULL, 'half', -1),"
      "(3, -1e300, x'', 'big', 10000000000), (4, NULL, x'01', 'four', NULL);"
      "ALTER TABLE v ADD COLUMN extra TEXT;"
      "INSERT INTO v VALUES (5, 0.5, NULL, 'five', 5, 'more'), (6, 6, x'06', 'six', 6, NULL);");
  const auto shapes = readTableShapes(live.string());
  ASSERT_TRUE(shapes && shapes->size() == 1u);
  const TableShape& v = shapes->front();

  // Copies of the live cells in the leaf's free space are the live rows again, whether they
  // are known from the leaf or from SQLite; a copy with one value changed is not.
  ASSERT_TRUE(file.size() >= 2 * kPage && file[kPage] == 0x0d && file[kPage + 4] == 6);
  std::vector<std::pair<size_t, Bytes>> copies;
  for (size_t i = 0, to = kPage + 40; i < 6; ++i) {
    const uint8_t* at =
        file.data() + kPage + (file[kPage + 8 + 2 * i] << 8) + file[kPage + 9 + 2 * i];
    copies.push_back({to, Bytes(at, at + 2 + at[0])});  // one-byte length and rowid
    to += copies.back().second.size() + 3;
  }
  EXPECT_TRUE(carve(v, copies, file).empty());
  EXPECT_TRUE(carve(v, copies, file, live.string()).empty());
  auto& two = copies[0].second;
  const auto hit = std::search(two.begin(), two.end(), std::begin("two"), std::end("two") - 1);
  ASSERT_NE(hit, two.end());
  *hit = 'T';
  EXPECT_EQ(carve(v, copies, file).size(), 1u);

  // Rows deleted in a copy of the file (one of the old width kept, so that rows of that width
  // are looked for) that SQLite still reads in the original: found without it, none with it.
  std::filesystem::copy_file(live, emptied);
  const Bytes rest = exec(emptied, "PRAGMA secure_delete=OFF; DELETE FROM v WHERE id <> 4;");
  EXPECT_EQ(carve(v, {}, rest).size(), 5u);
  EXPECT_TRUE(carve(v, {}, rest, live.string()).empty());
}

}  // namespace
}  // namespace tamsel
