// Finding deleted rows by the tables' own shape: each table's column list is read from the
// database's schema (through SQLite, on a private copy), and deleted cells are looked for in
// the freeblocks and unallocated area of table-leaf pages, on freelist pages, in stale copies
// on other pages, and in write-ahead-log frames that later frames replaced. A candidate is
// accepted only when its record header is a valid serial-type list of the table's width
// whose values fit the columns' type affinities; a freeblock's first four bytes (which it
// overwrote) are rebuilt from the table's shape.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "carve/carve_pages.h"

namespace tamsel {

// One column value of a carved row.
using CarvedValue = std::variant<std::monostate, int64_t, double, std::string /*text*/,
                                 std::vector<uint8_t> /*blob*/>;

enum class FoundIn { freeblock, unallocated, freelistPage, stalePage, logFrame };
const char* foundInName(FoundIn f);  // "freeblock", "unallocated", "freelist page", ...

struct CarvedRow {
  std::string table;
  std::optional<int64_t> rowid;     // when it could be read
  std::vector<CarvedValue> values;  // one per column of the table, in schema order
  FoundIn foundIn = FoundIn::unallocated;
  uint64_t offset = 0;  // of the record in its stream (database or log)
  bool inLog = false;
  // The record ran on into overflow pages that are gone: the values are those on the page,
  // the column cut there is shortened and later ones are null.
  bool cut = false;
};

struct TableShape {
  std::string name;
  std::vector<std::string> columns;   // in schema order
  std::vector<std::string> affinity;  // "INTEGER", "TEXT", "REAL", "BLOB", "NUMERIC"
  int rowidAlias = -1;                // the INTEGER PRIMARY KEY column, or -1
  uint32_t rootPage = 0;
};

// The tables of the database at `databasePath` (read-only, through SQLite), with their
// shapes; none when it does not open.
std::optional<std::vector<TableShape>> readTableShapes(const std::string& databasePath);

// What a pass met that makes its answer partial: one line for each damaged structure (the
// schema's or a table's b-tree, the freelist). Empty for a whole database.
struct CarveOutcome {
  std::vector<std::string> warnings;
};

// Calls `found` for every deleted row of the given tables (all tables when `tables` is
// empty) that `input` still holds and that is not a live row (same table, rowid and values
// as a row SQLite reads). Stops when `found` returns false.
// Live rows are those reachable from the tables' b-trees in the pages of `input` (the
// database with the last frames of its log); when `liveDatabase` names a private copy that
// SQLite can read, the rows SQLite returns from it count as live too. Where the walk of a
// table's b-tree fails (a page it reaches twice or that the file lacks, a page of another
// kind, a cell it cannot read), the live rows of the rowids below that point are not known:
// no row that may be one of them is reported (a row without its rowid: none of that table),
// and the outcome says so.
CarveOutcome carveBySchema(const CarveInput& input, const std::vector<TableShape>& shapes,
                           const std::vector<std::string>& tables,
                           const std::function<bool(const CarvedRow&)>& found,
                           const std::string& liveDatabase = {});

}  // namespace tamsel
