#include "carve/schema_carver.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "util/log.h"
#include "util/untrusted_sqlite.h"

namespace tamsel {

const char* foundInName(FoundIn f) {
  switch (f) {
    case FoundIn::freeblock:
      return "freeblock";
    case FoundIn::unallocated:
      return "unallocated";
    case FoundIn::freelistPage:
      return "freelist page";
    case FoundIn::stalePage:
      return "stale page";
    case FoundIn::logFrame:
      return "log frame";
  }
  return "unknown";
}

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The type affinity of a declared column type, by SQLite's rules.
std::string affinityOf(const std::string& declared) {
  const std::string t = upper(declared);
  if (t.find("INT") != std::string::npos) return "INTEGER";
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
      t.find("TEXT") != std::string::npos) {
    return "TEXT";
  }
  if (t.empty() || t.find("BLOB") != std::string::npos) return "BLOB";
  if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
      t.find("DOUB") != std::string::npos) {
    return "REAL";
  }
  return "NUMERIC";
}

std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// The input's schema is not ours: it is read through the guards for such databases (no view
// or trigger of it runs, a budget of work, temporary storage in memory).
struct Database {
  std::string path;
  // The connection is used by one thread only: SQLite need not lock it on every call.
  UntrustedSqlite guarded;
  sqlite3* db = nullptr;
  explicit Database(const std::string& file)
      : path(file),
        guarded(file, file, {.flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX}),
        db(guarded.handle()) {}
  ~Database() {
    for (const std::string& line : guarded.takeWarnings()) logLine(path + ": " + line);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) stmt = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool step() { return stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW; }
  std::string text(int i) {
    const unsigned char* t = sqlite3_column_text(stmt, i);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
             : std::string();
  }
};

// ---------------------------------------------------------------- values and hashes

constexpr uint64_t kFnvOffset = 1469598103934665603ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

void mixByte(uint64_t& h, uint8_t b) {
  h = (h ^ b) * kFnvPrime;
}

void mixWord(uint64_t& h, uint64_t word) {
  h = (h ^ word) * kFnvPrime;
  h ^= h >> 29;
}

// Eight bytes at a time, the tail byte by byte; long texts in four independent lanes first
// (so that one multiplication need not wait for the one before).
void mix(uint64_t& h, const void* data, size_t n) {
  auto p = static_cast<const uint8_t*>(data);
  size_t i = 0;
  if (n >= 32) {
    uint64_t lane[4] = {h, h ^ 0x9e3779b97f4a7c15ull, h + kFnvPrime, ~h};
    for (; i + 32 <= n; i += 32) {
      for (size_t k = 0; k < 4; ++k) {
        uint64_t word;
        std::memcpy(&word, p + i + 8 * k, 8);
        mixWord(lane[k], word);
      }
    }
    h = lane[0];
    for (size_t k = 1; k < 4; ++k) mixWord(h, lane[k]);
  }
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    mixWord(h, word);
  }
  for (; i < n; ++i) mixByte(h, p[i]);
}

// A value's hash contribution, by kind (a tag byte, then the value): an integral real counts
// as the integer (SQLite may keep either form for a REAL column). The live rows are hashed
// from their stored bytes or SQLite's columns through the same functions as carved values.
void mixNull(uint64_t& h) {
  mixByte(h, 0);
}

void mixInteger(uint64_t& h, int64_t i) {
  mixByte(h, 1);
  mixWord(h, static_cast<uint64_t>(i));
}

void mixReal(uint64_t& h, double d) {
  if (d >= -9.2e18 && d <= 9.2e18 && static_cast<double>(static_cast<int64_t>(d)) == d) {
    mixInteger(h, static_cast<int64_t>(d));
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  mixByte(h, 2);
  mixWord(h, bits);
}

// Text (tag 3) or blob (tag 4).
void mixBytes(uint64_t& h, uint8_t tag, const void* data, size_t size) {
  mixByte(h, tag);
  mixWord(h, size);
  mix(h, data, size);
}

void mixValue(uint64_t& h, const CarvedValue& v) {
  if (auto i = std::get_if<int64_t>(&v)) {
    mixInteger(h, *i);
  } else if (auto d = std::get_if<double>(&v)) {
    mixReal(h, *d);
  } else if (auto s = std::get_if<std::string>(&v)) {
    mixBytes(h, 3, s->data(), s->size());
  } else if (auto b = std::get_if<std::vector<uint8_t>>(&v)) {
    mixBytes(h, 4, b->data(), b->size());
  } else {
    mixNull(h);
  }
}

// The values' hash, without the rowid alias (kept as NULL in the record).
uint64_t valuesHash(const std::vector<CarvedValue>& values, int alias) {
  uint64_t h = kFnvOffset;
  for (size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(i) != alias) mixValue(h, values[i]);
  }
  return h;
}

uint64_t keyOf(int64_t rowid, uint64_t hash) {
  uint64_t h = hash;
  mixWord(h, static_cast<uint64_t>(rowid));
  return h;
}

bool validUtf8(const uint8_t* p, size_t n, bool mayBeCut) {
  size_t i = 0;
  while (i < n) {
    uint8_t c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || (len == 2 && c < 0xc2) || (len == 4 && c > 0xf4)) return false;
    if (i + len > n) return mayBeCut;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xc0) != 0x80) return false;
    }
    if (len == 3) {
      uint8_t c1 = p[i + 1];
      if ((c == 0xe0 && c1 < 0xa0) || (c == 0xed && c1 >= 0xa0)) return false;
    }
    if (len == 4) {
      uint8_t c1 = p[i + 1];
      if ((c == 0xf0 && c1 < 0x90) || (c == 0xf4 && c1 >= 0x90)) return false;
    }
    i += len;
  }
  return true;
}

// A varint at p (at most `avail` bytes); its length, 0 when it runs past `avail`.
inline int readVarint(const uint8_t* p, size_t avail, uint64_t& v) {
  if (avail > 0 && p[0] < 0x80) {  // most are one byte
    v = p[0];
    return 1;
  }
  v = 0;
  for (int i = 0; i < 9; ++i) {
    if (static_cast<size_t>(i) >= avail) return 0;
    if (i == 8) {
      v = (v << 8) | p[i];
      return 9;
    }
    v = (v << 7) | (p[i] & 0x7f);
    if ((p[i] & 0x80) == 0) return i + 1;
  }
  return 0;
}

uint64_t contentLength(uint64_t t) {
  static constexpr uint8_t kFixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  if (t < 12) return kFixed[t];
  return (t - 12) / 2;
}

// Varints of up to 56 bits (serial types and header sizes are far smaller).
void appendVarint(std::vector<uint8_t>& out, uint64_t v) {
  uint8_t buf[8];
  int n = 0;
  do {
    buf[n++] = static_cast<uint8_t>(v & 0x7f);
    v >>= 7;
  } while (v && n < 8);
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(buf[i] | (i ? 0x80 : 0)));
}

int64_t readInteger(const uint8_t* p, size_t n) {
  uint64_t v = (p[0] & 0x80) ? ~uint64_t{0} : 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

// ---------------------------------------------------------------- tables

// Sorted and without repeats. The lists of live rows hold hundreds of thousands of hashes
// and rowids: a radix sort, 11 bits a pass, passing over digits that all share.
template <class T>
void sortUnique(std::vector<T>& v) {
  static_assert(sizeof(T) == 8 && std::is_integral_v<T>);
  constexpr int kBits = 11;
  constexpr uint64_t kMask = (uint64_t{1} << kBits) - 1;
  // Signed values in order as unsigned ones.
  constexpr uint64_t kFlip = std::is_signed_v<T> ? uint64_t{1} << 63 : 0;
  if (v.size() < 256) {
    std::sort(v.begin(), v.end());
  } else {
    std::vector<T> out(v.size());
    std::vector<size_t> count(kMask + 1);
    for (int shift = 0; shift < 64; shift += kBits) {
      std::fill(count.begin(), count.end(), 0);
      for (T x : v) ++count[((static_cast<uint64_t>(x) ^ kFlip) >> shift) & kMask];
      if (count[((static_cast<uint64_t>(v[0]) ^ kFlip) >> shift) & kMask] == v.size()) continue;
      size_t at = 0;
      for (size_t& c : count) at += std::exchange(c, at);
      for (T x : v) out[count[((static_cast<uint64_t>(x) ^ kFlip) >> shift) & kMask]++] = x;
      v.swap(out);
    }
  }
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

template <class T>
bool has(const std::vector<T>& sorted, T value) {
  return std::binary_search(sorted.begin(), sorted.end(), value);
}

enum class Kind { any, integer, text, real, numeric };

struct Table {
  const TableShape* shape = nullptr;
  std::vector<Kind> kinds;
  std::vector<bool> isDate;
  std::set<size_t> widths;  // the current width and those of live rows written earlier
  // Set once the widths are known, for rejecting a candidate header at a glance: the
  // header-length values a header of this table can have, and which first serial-type
  // bytes its first column can have.
  uint64_t minHeader = 0, maxHeader = 0;
  std::array<bool, 256> firstTypeByte{};
  // The live rows (sorted once collected): by rowid and values, by values, by rowid.
  std::vector<uint64_t> liveKeys;
  std::vector<uint64_t> liveHashes;
  std::vector<int64_t> liveRowids;
  std::unordered_set<uint64_t> reportedKeys;
  std::unordered_set<uint64_t> reportedHashes;
  std::unordered_set<uint64_t> reportedWithoutRowid;
  // Where the walk of its b-tree failed (a page it names twice or not at all, one of another
  // kind, a cell it cannot read): the rowids whose live rows it may have missed, as sorted
  // and merged inclusive ranges once walked, and what it met first. Empty when whole.
  std::vector<std::pair<int64_t, int64_t>> unknownRowids;
  std::string damage;
};

// Whether [lo, hi] meets one of the sorted, merged `ranges`.
bool overlapsRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges, int64_t lo,
                    int64_t hi) {
  auto it =
      std::upper_bound(ranges.begin(), ranges.end(), hi,
                       [](int64_t r, const std::pair<int64_t, int64_t>& x) { return r < x.first; });
  return it != ranges.begin() && std::prev(it)->second >= lo;
}

void mergeRanges(std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() &&
        (merged.back().second == INT64_MAX || r.first <= merged.back().second + 1)) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  ranges.swap(merged);
}

bool plausibleDate(double v) {
  constexpr double k1990 = 631152000, k2040 = 2208988800, k2001 = 978307200;
  if (v == 0) return true;  // not set
  if (v >= k1990 && v <= k2040) return true;
  if (v >= k1990 - k2001 && v <= k2040 - k2001) return true;
  return v >= (k1990 - k2001) * 1e9 && v <= (k2040 - k2001) * 1e9;
}

// The serial type a column of this kind has when its content takes `length` bytes (for a
// length of 0: NULL).
std::optional<uint64_t> typeOfLength(Kind kind, uint64_t length) {
  static constexpr int kIntegerType[] = {0, 1, 2, 3, 4, -1, 5, -1, 6};
  switch (kind) {
    case Kind::integer:
    case Kind::real:
    case Kind::numeric:
      if (length > 8 || kIntegerType[length] < 0) return std::nullopt;
      return static_cast<uint64_t>(kIntegerType[length]);
    case Kind::text:
      return length ? std::optional<uint64_t>(13 + 2 * length) : 0;
    case Kind::any:
      return length ? std::optional<uint64_t>(12 + 2 * length) : 0;
  }
  return std::nullopt;
}

inline bool typeFits(const Table& t, size_t col, uint64_t type) {
  if (type == 10 || type == 11) return false;
  if (static_cast<int>(col) == t.shape->rowidAlias) return type == 0;
  const bool number = type <= 9;
  const bool text = type >= 13 && (type & 1);
  switch (t.kinds[col]) {
    case Kind::integer:
      return number && type != 7;
    case Kind::text:
      return type == 0 || text;
    case Kind::real:
      return number;
    case Kind::numeric:
      return number || text;
    case Kind::any:
      return true;
  }
  return false;
}

bool typesFit(const Table& t, const std::vector<uint64_t>& types) {
  if (!t.widths.count(types.size())) return false;
  for (size_t c = 0; c < types.size(); ++c) {
    if (!typeFits(t, c, types[c])) return false;
  }
  return true;
}

// A candidate is accepted only when its header, rebuilt from the values read, has the length
// the candidate gave (see accept): every varint of it is then in its shortest form, which
// bounds a serial type of up to 2^32 to five bytes and rules out a leading 0x80 byte.
void setFilters(Table& t) {
  t.minHeader = 1 + *t.widths.begin();
  t.maxHeader = 2 + 5 * *t.widths.rbegin();
  for (unsigned b = 0; b < 0x80; ++b) t.firstTypeByte[b] = typeFits(t, 0, b);
  t.firstTypeByte[0x80] = false;
  // A longer varint holds a type of 128 or more, odd or even.
  const bool large = typeFits(t, 0, 0x80) || typeFits(t, 0, 0x81);
  for (unsigned b = 0x81; b < 0x100; ++b) t.firstTypeByte[b] = large;
}

// The serial types of a record header whose types take exactly `typeBytes` bytes at p, read
// as a row of t of one of its widths: each type must fit its column and be in its shortest
// form as it is read, and the content lengths may add up to `budget` at most. False when no
// row of t reads so; at most one width can, as the types are read from the same bytes.
bool exactTypes(const Table& t, const uint8_t* p, size_t typeBytes, uint64_t budget,
                std::vector<uint64_t>& types) {
  types.clear();
  const size_t width = t.kinds.size();
  uint64_t content = 0;
  for (size_t at = 0; at < typeBytes;) {
    uint64_t type = 0;
    const int n = readVarint(p + at, typeBytes - at, type);
    if (n == 0 || types.size() == width || (n > 1 && p[at] == 0x80) || type > (uint64_t{1} << 32) ||
        !typeFits(t, types.size(), type)) {
      return false;
    }
    content += contentLength(type);
    if (content > budget) return false;
    types.push_back(type);
    at += static_cast<size_t>(n);
  }
  return t.widths.count(types.size()) > 0;
}

// ---------------------------------------------------------------- the pass

struct PageView {
  const ByteSource* stream = nullptr;
  uint64_t offset = 0;
};

class Pass {
 public:
  Pass(const CarveInput& input, const std::vector<TableShape>& shapes,
       const std::vector<std::string>& wanted, const std::function<bool(const CarvedRow&)>& found)
      : input_(input), found_(found) {
    for (const TableShape& s : shapes) {
      if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), s.name) == wanted.end()) {
        continue;
      }
      if (s.columns.empty() || s.affinity.size() != s.columns.size()) continue;
      Table t;
      t.shape = &s;
      for (size_t c = 0; c < s.columns.size(); ++c) {
        const std::string& a = s.affinity[c];
        t.kinds.push_back(a == "INTEGER"   ? Kind::integer
                          : a == "TEXT"    ? Kind::text
                          : a == "REAL"    ? Kind::real
                          : a == "NUMERIC" ? Kind::numeric
                                           : Kind::any);
        t.isDate.push_back(upper(s.columns[c]).find("DATE") != std::string::npos);
      }
      t.widths.insert(s.columns.size());
      tables_.push_back(std::move(t));
    }
    for (Table& t : tables_) {
      if (t.shape->rootPage) byRoot_[t.shape->rootPage] = &t;
    }
  }

  void addLiveRowsFrom(const std::string& path);
  void run();
  // One line for each structure the pass found damaged.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  using RowFn = std::function<void(int64_t, const std::vector<CarvedValue>&)>;

  // Geometry and the current view of each page.
  bool buildView();
  // The place of page `pgno` in the tables kept by page (0: the input has no such page).
  size_t slot(uint32_t pgno) const;
  const uint8_t* page(uint32_t pgno) const;
  size_t maxLocal(uint64_t payload, bool table) const;

  // Live b-trees and the freelist. A b-tree walk covers the rowids [lo, hi] (a table's
  // interior keys bound its children's).
  void walkTree(uint32_t pgno, Table* table, int depth, const RowFn* row, int64_t lo, int64_t hi);
  // Notes that the walk of a table's b-tree (or the schema's) missed what [lo, hi] holds.
  void treeDamaged(Table* table, const RowFn* row, int64_t lo, int64_t hi, const std::string& why);
  // False when the chain ends before `remaining` bytes (at a page missing or taken before).
  bool markOverflow(uint32_t first, uint64_t remaining);
  void walkFreelist();
  // Whether a candidate row (its serial types and rowid) may be a live row that the walk of
  // a damaged b-tree did not reach: of `t`, or of another damaged table it would fit.
  bool mayBeLive(const Table& t, const std::vector<uint64_t>& types,
                 std::optional<int64_t> rowid) const;
  bool readPayload(const uint8_t* local, size_t localSize, uint64_t payload, uint32_t overflow,
                   std::vector<uint8_t>& out) const;
  bool decodeRecord(const std::vector<uint8_t>& payload, bool cut, std::vector<CarvedValue>& out);
  // The hash of a live row of t (its values as decodeRecord reads them, padded or cut to the
  // table's width) and the width it was written with, from its stored bytes without
  // building the values; false where decodeRecord fails.
  bool liveRowHash(const std::vector<uint8_t>& payload, const Table& t, uint64_t& hash,
                   size_t& width);

  // Carving one page.
  void carvePage(const CarvePages& pages, uint64_t offset, uint32_t pgno, FoundIn whole,
                 bool liveLeaf);
  // Tries a freeblock or a cell at every offset of [begin, end) of the page; the page's
  // freeblock chain is in freeblocks_.
  bool scanRegion(const uint8_t* pg, size_t begin, size_t end, const CarvePages& pages,
                  uint64_t pageOffset, FoundIn where, bool rebuild);
  // Both return the bytes the cell took (0: none there); a dry run reports nothing.
  size_t tryCell(const uint8_t* pg, size_t pos, size_t end, const CarvePages& pages,
                 uint64_t pageOffset, FoundIn where, bool dryRun = false);
  size_t tryFreeblock(const uint8_t* pg, size_t f, size_t size, const CarvePages& pages,
                      uint64_t pageOffset, size_t regionEnd, bool offChain);
  // Decodes and checks a candidate record of `table` and reports it; false when its values
  // do not fit the table.
  bool accept(Table& t, const std::vector<uint64_t>& types, const uint8_t* pg, size_t local,
              size_t localSize, uint64_t payloadSize, size_t headerSize, uint32_t overflow,
              std::optional<int64_t> rowid, const CarvePages& pages, uint64_t at, FoundIn where,
              bool dryRun = false);

  const CarveInput& input_;
  const std::function<bool(const CarvedRow&)>& found_;
  std::vector<Table> tables_;
  std::map<uint32_t, Table*> byRoot_;
  bool stopped_ = false;

  uint32_t pageSize_ = 0;
  size_t usable_ = 0;
  // The pages the input holds: the database's pages 1 to dbPages_ have their own numbers as
  // slots, the log's pages past them (extraPages_, sorted) the slots after. The tables below
  // are by slot (index 0 unused), so their size follows the input, not the largest page
  // number a log frame names.
  uint32_t dbPages_ = 0;
  std::vector<uint32_t> extraPages_;
  std::vector<PageView> current_;
  std::vector<uint8_t> treePage_;  // 1: b-tree page, 2: overflow page of a live cell
  std::vector<uint8_t> freelist_;
  std::vector<Table*> owner_;  // the wanted table whose b-tree holds the page
  std::string schemaDamage_;   // what the walk of the schema's b-tree met, if anything
  std::vector<std::string> warnings_;
  // Scratch lists of serial types, kept so that trying a candidate at every offset of free
  // space allocates nothing (one for cells, one for freeblocks, which try cells inside).
  std::vector<uint64_t> cellTypes_;
  std::vector<uint64_t> freeblockTypes_;
  std::vector<uint64_t> liveTypes_, decodeTypes_;
  // Scratch of accept(), which a dry run inside tryFreeblock also uses (before the outer
  // candidate's own accept()).
  std::vector<uint8_t> acceptPayload_, acceptHead_, freeblockCopy_;
  struct Freeblock {
    size_t offset = 0, size = 0;
  };
  std::vector<Freeblock> freeblocks_;  // the chain of the page being carved, in page order
  Table* only_ = nullptr;              // while a live page is carved: its table
  // The rowids each page of a table's b-tree holds, as its walk bounded them; by slot.
  std::vector<std::pair<int64_t, int64_t>> pageRowids_;
  std::pair<int64_t, int64_t> onlyRowids_;  // while a live page is carved: its rowids
  // Log frames that are the current version of their page, by offset in the log.
  std::unordered_set<uint64_t> currentFrames_;
  std::unordered_map<uint64_t, uint32_t> framePage_;
};

bool Pass::buildView() {
  const auto& all = input_.pages();
  const CarvePages* db = all.empty() ? nullptr : &all[0];
  const CarvePages* log = all.size() > 1 ? &all[1] : nullptr;
  pageSize_ = db && db->pageSize ? db->pageSize : log ? log->pageSize : 0;
  if (pageSize_ == 0) return false;
  size_t count = db && db->pageSize == pageSize_ ? db->pageOffsets.size() : 0;
  count = std::min<size_t>(count, UINT32_MAX - 1);
  dbPages_ = static_cast<uint32_t>(count);
  current_.assign(count + 1, PageView{});
  for (size_t k = 0; k < count; ++k) current_[k + 1] = {db->stream, db->pageOffsets[k]};
  if (log && log->pageSize == pageSize_) {
    const ByteSource& s = *log->stream;
    const uint64_t salt = s.readBE(16, 8);
    std::unordered_map<uint32_t, uint64_t> last;
    for (uint64_t off : log->pageOffsets) {
      const uint32_t pgno = static_cast<uint32_t>(s.readBE(off - 24, 4));
      framePage_[off] = pgno;
      // Frames of an earlier generation of the log (other salts) are only old versions.
      if (pgno == 0 || pgno > (1u << 24) || s.readBE(off - 16, 8) != salt) continue;
      last[pgno] = off;
    }
    for (const auto& [pgno, off] : last) {
      if (pgno > dbPages_) extraPages_.push_back(pgno);
    }
    std::sort(extraPages_.begin(), extraPages_.end());
    current_.resize(current_.size() + extraPages_.size(), PageView{});
    for (const auto& [pgno, off] : last) {
      // A database whose page equals the log's last frame of it was checkpointed: its page
      // is the current one, and the frame a copy of it.
      PageView& view = current_[slot(pgno)];
      if (view.stream &&
          std::memcmp(view.stream->data() + view.offset, s.data() + off, pageSize_) == 0) {
        continue;
      }
      view = {&s, off};
      currentFrames_.insert(off);
    }
  }
  if (current_.size() < 2 || !current_[1].stream) return false;
  const uint8_t* first = page(1);
  // Page 1 of a database starts with the file header (its page size and reserved bytes).
  const uint8_t reserved = std::memcmp(first, "SQLite format 3", 16) == 0 ? first[20] : 0;
  usable_ = pageSize_ > reserved + 480u ? pageSize_ - reserved : pageSize_;
  treePage_.assign(current_.size(), 0);
  freelist_.assign(current_.size(), 0);
  owner_.assign(current_.size(), nullptr);
  pageRowids_.assign(current_.size(), {INT64_MIN, INT64_MAX});
  return true;
}

size_t Pass::slot(uint32_t pgno) const {
  if (pgno == 0) return 0;
  if (pgno <= dbPages_) return pgno;
  auto it = std::lower_bound(extraPages_.begin(), extraPages_.end(), pgno);
  if (it == extraPages_.end() || *it != pgno) return 0;
  return size_t{dbPages_} + 1 + static_cast<size_t>(it - extraPages_.begin());
}

const uint8_t* Pass::page(uint32_t pgno) const {
  const size_t s = slot(pgno);
  if (s == 0 || !current_[s].stream) return nullptr;
  return current_[s].stream->data() + current_[s].offset;
}

size_t Pass::maxLocal(uint64_t payload, bool table) const {
  const uint64_t u = usable_;
  const uint64_t x = table ? u - 35 : ((u - 12) * 64 / 255) - 23;
  if (payload <= x) return static_cast<size_t>(payload);
  const uint64_t m = ((u - 12) * 32 / 255) - 23;
  const uint64_t k = m + ((payload - m) % (u - 4));
  return static_cast<size_t>(k <= x ? k : m);
}

bool Pass::markOverflow(uint32_t next, uint64_t remaining) {
  for (size_t guard = 0; remaining && guard < current_.size(); ++guard) {
    const uint8_t* pg = page(next);
    if (!pg || treePage_[slot(next)]) return false;
    treePage_[slot(next)] = 2;
    remaining -= std::min<uint64_t>(remaining, usable_ - 4);
    next = static_cast<uint32_t>(readInteger(pg, 4) & 0xffffffff);
  }
  return remaining == 0;
}

bool Pass::readPayload(const uint8_t* local, size_t localSize, uint64_t payload, uint32_t next,
                       std::vector<uint8_t>& out) const {
  // More than the pages could hold: a length read from chance bytes.
  if (payload > static_cast<uint64_t>(current_.size()) * usable_) return false;
  out.assign(local, local + std::min<uint64_t>(localSize, payload));
  for (size_t guard = 0; out.size() < payload && guard < current_.size(); ++guard) {
    const uint8_t* pg = page(next);
    // Pages of live b-trees were reused: what they hold now is not this record's.
    if (!pg || treePage_[slot(next)] == 1) return false;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(payload - out.size(), usable_ - 4));
    out.insert(out.end(), pg + 4, pg + 4 + take);
    next = static_cast<uint32_t>(readInteger(pg, 4) & 0xffffffff);
  }
  return out.size() == payload;
}

// The header of a record: its size in bytes and the serial type of each column; false when
// the header does not fit the payload or a type runs past it.
bool readRecordHeader(const std::vector<uint8_t>& payload, uint64_t& headerSize,
                      std::vector<uint64_t>& types) {
  const int n = readVarint(payload.data(), payload.size(), headerSize);
  if (n == 0 || headerSize < static_cast<uint64_t>(n) || headerSize > payload.size()) return false;
  types.clear();
  for (size_t at = static_cast<size_t>(n); at < headerSize;) {
    uint64_t type = 0;
    const int k = readVarint(payload.data() + at, static_cast<size_t>(headerSize - at), type);
    if (k == 0) return false;
    types.push_back(type);
    at += static_cast<size_t>(k);
  }
  return true;
}

bool Pass::decodeRecord(const std::vector<uint8_t>& payload, bool cut,
                        std::vector<CarvedValue>& out) {
  uint64_t headerSize = 0;
  std::vector<uint64_t>& types = decodeTypes_;
  if (!readRecordHeader(payload, headerSize, types)) return false;
  out.clear();
  out.reserve(types.size());
  size_t at = static_cast<size_t>(headerSize);
  for (uint64_t t : types) {
    const uint64_t len = contentLength(t);
    if (at + len > payload.size()) {
      if (!cut) return false;
      if (t >= 13 && at < payload.size()) {
        const size_t have = payload.size() - at;
        if (t & 1) {
          out.emplace_back(std::string(payload.begin() + at, payload.end()));
        } else {
          out.emplace_back(std::vector<uint8_t>(payload.begin() + at, payload.begin() + at + have));
        }
      } else {
        out.emplace_back(std::monostate{});
      }
      at = payload.size();
      continue;
    }
    const uint8_t* p = payload.data() + at;
    if (t == 0 || t == 10 || t == 11) {
      out.emplace_back(std::monostate{});
    } else if (t <= 6) {
      out.emplace_back(readInteger(p, static_cast<size_t>(len)));
    } else if (t == 7) {
      uint64_t bits = static_cast<uint64_t>(readInteger(p, 8));
      double d;
      std::memcpy(&d, &bits, sizeof d);
      out.emplace_back(d);
    } else if (t == 8 || t == 9) {
      out.emplace_back(static_cast<int64_t>(t - 8));
    } else if (t & 1) {
      out.emplace_back(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)));
    } else {
      out.emplace_back(std::vector<uint8_t>(p, p + len));
    }
    at += static_cast<size_t>(len);
  }
  return true;
}

bool Pass::liveRowHash(const std::vector<uint8_t>& payload, const Table& t, uint64_t& hash,
                       size_t& width) {
  uint64_t headerSize = 0;
  std::vector<uint64_t>& types = liveTypes_;
  if (!readRecordHeader(payload, headerSize, types)) return false;
  // Every column's content must lie within the record, those past the table's width too.
  uint64_t at = headerSize;
  for (uint64_t type : types) {
    const uint64_t len = contentLength(type);
    if (at + len > payload.size()) return false;
    at += len;
  }
  width = types.size();
  const size_t columns = t.shape->columns.size();
  hash = kFnvOffset;
  const uint8_t* p = payload.data() + headerSize;
  for (size_t c = 0; c < columns; ++c) {
    const uint64_t type = c < types.size() ? types[c] : 0;
    const size_t len = static_cast<size_t>(contentLength(type));
    if (static_cast<int>(c) != t.shape->rowidAlias) {
      if (type == 0 || type == 10 || type == 11) {
        mixNull(hash);
      } else if (type <= 6) {
        mixInteger(hash, readInteger(p, len));
      } else if (type == 7) {
        const uint64_t bits = static_cast<uint64_t>(readInteger(p, 8));
        double d;
        std::memcpy(&d, &bits, sizeof d);
        mixReal(hash, d);
      } else if (type == 8 || type == 9) {
        mixInteger(hash, static_cast<int64_t>(type - 8));
      } else {
        mixBytes(hash, (type & 1) ? 3 : 4, p, len);
      }
    }
    p += len;
  }
  return true;
}

void Pass::treeDamaged(Table* table, const RowFn* row, int64_t lo, int64_t hi,
                       const std::string& why) {
  if (table) {
    table->unknownRowids.emplace_back(lo, hi);
    if (table->damage.empty()) table->damage = why;
  } else if (row && schemaDamage_.empty()) {
    schemaDamage_ = why;
  }
}

void Pass::walkTree(uint32_t pgno, Table* table, int depth, const RowFn* row, int64_t lo,
                    int64_t hi) {
  // What the damage lines say; made only for them, as most walks meet none.
  const auto pageText = [pgno] { return "page " + std::to_string(pgno); };
  const uint8_t* pg = page(pgno);
  // In a whole b-tree every page is reached once: a page reached again (a cycle, or a page
  // two trees share) or one the file does not have means some of the tree was not.
  if (!pg)
    return treeDamaged(table, row, lo, hi, pageText() + ", which it names, is not in the file");
  const size_t self = slot(pgno);
  if (treePage_[self]) return treeDamaged(table, row, lo, hi, pageText() + " is reached twice");
  if (depth > 40) return treeDamaged(table, row, lo, hi, "it is deeper than 40 levels");
  treePage_[self] = 1;
  owner_[self] = table;
  pageRowids_[self] = {lo, hi};
  const size_t hdr = pgno == 1 ? 100 : 0;
  const uint8_t kind = pg[hdr];
  const bool interior = kind == 0x05 || kind == 0x02;
  // The schema and the tables are table b-trees; the indexes are walked only to know their
  // pages, whatever their kind.
  const bool tableTree = table || row;
  if (kind != 0x05 && kind != 0x0d && (tableTree || (kind != 0x02 && kind != 0x0a))) {
    return treeDamaged(table, row, lo, hi, pageText() + " is no table b-tree page");
  }
  const size_t cells = (size_t{pg[hdr + 3]} << 8) | pg[hdr + 4];
  const size_t ptrs = hdr + (interior ? 12 : 8);
  std::vector<uint8_t> payload;
  std::vector<CarvedValue> values;
  // The key of the interior cell before: a child holds the rowids above it up to its own.
  std::optional<int64_t> before;
  const auto after = [&] { return !before ? lo : *before == INT64_MAX ? INT64_MAX : *before + 1; };
  if (ptrs + 2 * cells > pageSize_)
    treeDamaged(table, row, lo, hi, pageText() + " lists more cells than fit");
  for (size_t i = 0; i < cells && ptrs + 2 * i + 2 <= pageSize_; ++i) {
    const size_t at = (size_t{pg[ptrs + 2 * i]} << 8) | pg[ptrs + 2 * i + 1];
    if (at < ptrs || at + 4 > pageSize_) {
      treeDamaged(table, row, lo, hi, "a cell of " + pageText() + " lies outside it");
      continue;
    }
    if (kind == 0x05 || kind == 0x02) {
      const uint32_t child = static_cast<uint32_t>(readInteger(pg + at, 4) & 0xffffffff);
      if (kind == 0x02) {
        walkTree(child, table, depth + 1, row, lo, hi);
      } else {
        uint64_t key = 0;
        const int n = readVarint(pg + at + 4, pageSize_ - at - 4, key);
        const int64_t upto = n == 0 ? hi : std::min(static_cast<int64_t>(key), hi);
        if (n == 0 || upto < after()) {
          // Keys that cannot be read or are out of order bound nothing.
          treeDamaged(table, row, lo, hi, "the keys of " + pageText() + " are out of order");
          walkTree(child, table, depth + 1, row, lo, hi);
        } else {
          walkTree(child, table, depth + 1, row, after(), upto);
          before = upto;
        }
        continue;
      }
    }
    size_t p = at + (kind == 0x02 ? 4 : 0);
    uint64_t size = 0, rowid = 0;
    int n = readVarint(pg + p, pageSize_ - p, size);
    if (n == 0) continue;
    p += static_cast<size_t>(n);
    if (kind == 0x0d) {
      n = readVarint(pg + p, pageSize_ - p, rowid);
      if (n == 0) continue;
      p += static_cast<size_t>(n);
    }
    const int64_t id = static_cast<int64_t>(rowid);
    const auto rowAt = [&] { return "row " + std::to_string(id) + " of " + pageText(); };
    const size_t local = maxLocal(size, kind == 0x0d);
    if (p + local > pageSize_ || (local < size && p + local + 4 > pageSize_)) {
      if (kind == 0x0d) treeDamaged(table, row, id, id, rowAt() + " runs past the page");
      continue;
    }
    const uint32_t overflow =
        local < size ? static_cast<uint32_t>(readInteger(pg + p + local, 4) & 0xffffffff) : 0;
    if (local < size && !markOverflow(overflow, size - local) && kind == 0x0d) {
      treeDamaged(table, row, id, id, "the overflow pages of " + rowAt() + " are damaged");
    }
    if (kind != 0x0d) continue;
    if (!table && !row) continue;
    if (!readPayload(pg + p, local, size, overflow, payload)) {
      treeDamaged(table, row, id, id, rowAt() + " cannot be read");
      continue;
    }
    if (row) {
      if (!decodeRecord(payload, false, values)) continue;
      (*row)(id, values);
    }
    if (table) {
      uint64_t h = 0;
      size_t width = 0;
      if (!liveRowHash(payload, *table, h, width)) {
        treeDamaged(table, row, id, id, rowAt() + " cannot be read");
        continue;
      }
      if (width > 0 && width < table->shape->columns.size()) table->widths.insert(width);
      table->liveKeys.push_back(keyOf(id, h));
      table->liveHashes.push_back(h);
      table->liveRowids.push_back(id);
    }
  }
  if (interior) {
    walkTree(static_cast<uint32_t>(readInteger(pg + hdr + 8, 4) & 0xffffffff), table, depth + 1,
             row, kind == 0x05 ? after() : lo, hi);
  }
}

void Pass::walkFreelist() {
  const uint8_t* first = page(1);
  uint32_t trunk = static_cast<uint32_t>(readInteger(first + 32, 4) & 0xffffffff);
  for (size_t guard = 0; trunk && guard < current_.size(); ++guard) {
    const uint8_t* pg = page(trunk);
    const std::string at = "page " + std::to_string(trunk);
    if (!pg) {
      warnings_.push_back("the freelist names " + at + ", which is not in the file");
      return;
    }
    const size_t self = slot(trunk);
    if (freelist_[self]) {
      warnings_.push_back("the freelist comes back to " + at + ": it loops");
      return;
    }
    if (treePage_[self] == 1) {
      warnings_.push_back("the freelist names " + at + ", which is a page of a b-tree");
    }
    freelist_[self] = 1;
    const size_t leaves = std::min<size_t>(readInteger(pg + 4, 4) & 0xffffffff, usable_ / 4 - 2);
    for (size_t i = 0; i < leaves; ++i) {
      const uint32_t leaf = static_cast<uint32_t>(readInteger(pg + 8 + 4 * i, 4) & 0xffffffff);
      if (const size_t s = slot(leaf); s != 0) freelist_[s] = 1;
    }
    trunk = static_cast<uint32_t>(readInteger(pg, 4) & 0xffffffff);
  }
}

bool Pass::mayBeLive(const Table& t, const std::vector<uint64_t>& types,
                     std::optional<int64_t> rowid) const {
  if (only_) {
    // On a page of t's b-tree: a cell freed there held one of the rowids the page holds.
    const auto [lo, hi] = rowid ? std::make_pair(*rowid, *rowid) : onlyRowids_;
    return overlapsRanges(t.unknownRowids, lo, hi);
  }
  for (const Table& d : tables_) {
    if (d.unknownRowids.empty() || (&d != &t && !typesFit(d, types))) continue;
    // A row without its rowid may be any row of the table.
    if (!rowid || overlapsRanges(d.unknownRowids, *rowid, *rowid)) return true;
  }
  return false;
}

bool Pass::accept(Table& t, const std::vector<uint64_t>& types, const uint8_t* pg, size_t local,
                  size_t localSize, uint64_t payloadSize, size_t headerSize, uint32_t overflow,
                  std::optional<int64_t> rowid, const CarvePages& pages, uint64_t at, FoundIn where,
                  bool dryRun) {
  std::vector<uint8_t>& payload = acceptPayload_;
  bool cut = false;
  if (localSize < payloadSize) {
    cut = !readPayload(pg + local, localSize, payloadSize, overflow, payload);
    if (cut) payload.assign(pg + local, pg + local + localSize);
  } else {
    payload.assign(pg + local, pg + local + static_cast<size_t>(payloadSize));
  }
  // The header as the candidate read it (a rebuilt one replaces what the freeblock overwrote).
  std::vector<uint8_t>& head = acceptHead_;
  head.clear();
  appendVarint(head, headerSize);
  for (uint64_t type : types) appendVarint(head, type);
  if (head.size() != headerSize || payload.size() < headerSize) return false;
  std::copy(head.begin(), head.end(), payload.begin());
  std::vector<CarvedValue> values;
  if (!decodeRecord(payload, cut, values)) return false;
  const size_t width = t.shape->columns.size();
  for (size_t c = 0; c < values.size(); ++c) {
    if (auto s = std::get_if<std::string>(&values[c])) {
      // Texts the tables hold are UTF-8 without zero bytes.
      if (!validUtf8(reinterpret_cast<const uint8_t*>(s->data()), s->size(), cut) ||
          s->find('\0') != std::string::npos) {
        return false;
      }
    }
    if (t.isDate[c]) {
      if (auto i = std::get_if<int64_t>(&values[c]); i && !plausibleDate(static_cast<double>(*i))) {
        return false;
      }
      if (auto d = std::get_if<double>(&values[c]); d && !plausibleDate(*d)) return false;
    }
  }
  values.resize(width);
  // A row of little but NULLs and empty values says nothing and is most likely noise: at
  // least two values (one in a table of one column besides the rowid) must hold something.
  size_t filled = 0, columns = 0;
  for (size_t c = 0; c < width; ++c) {
    if (static_cast<int>(c) == t.shape->rowidAlias) continue;
    ++columns;
    const CarvedValue& v = values[c];
    if (auto s = std::get_if<std::string>(&v)) {
      filled += !s->empty();
    } else if (auto b = std::get_if<std::vector<uint8_t>>(&v)) {
      filled += !b->empty();
    } else {
      filled += !std::holds_alternative<std::monostate>(v);
    }
  }
  if (filled < std::min<size_t>(cut ? 1 : 2, columns)) return false;
  // A rebuilt row (no rowid: its first bytes were overwritten) of a table with text columns
  // holds some text: numbers alone are too easily read from other bytes.
  if (!rowid && std::find(t.kinds.begin(), t.kinds.end(), Kind::text) != t.kinds.end() &&
      std::none_of(values.begin(), values.end(), [](const CarvedValue& v) {
        auto s = std::get_if<std::string>(&v);
        return s && !s->empty();
      })) {
    return false;
  }
  if (dryRun) return true;
  // Where a b-tree is damaged, a row that may be one of its live rows is not called deleted.
  if (mayBeLive(t, types, rowid)) return true;
  const uint64_t h = valuesHash(values, t.shape->rowidAlias);
  if (rowid) {
    if (has(t.liveKeys, keyOf(*rowid, h)) || (cut && has(t.liveRowids, *rowid))) return true;
    if (t.reportedKeys.count(keyOf(*rowid, h)) || t.reportedWithoutRowid.count(h)) return true;
  } else if (has(t.liveHashes, h) || t.reportedHashes.count(h)) {
    return true;
  }
  if (rowid) {
    t.reportedKeys.insert(keyOf(*rowid, h));
    if (t.shape->rowidAlias >= 0) values[static_cast<size_t>(t.shape->rowidAlias)] = *rowid;
  } else {
    t.reportedWithoutRowid.insert(h);
  }
  t.reportedHashes.insert(h);
  CarvedRow row;
  row.table = t.shape->name;
  row.rowid = rowid;
  row.values = std::move(values);
  row.foundIn = where;
  row.offset = at;
  row.inLog = pages.fromLog;
  row.cut = cut;
  if (!found_(row)) stopped_ = true;
  return true;
}

// Parses the serial types of a record header: `count` of them from `p`, within `avail`
// bytes. Returns the bytes used, 0 when they do not parse or one does not fit its column of
// `fit` (the first being column `firstColumn`): no row of that table could be read there.
size_t parseTypes(const uint8_t* p, size_t avail, size_t limitBytes, std::vector<uint64_t>& types,
                  size_t count, const Table& fit, size_t firstColumn) {
  types.clear();
  size_t at = 0;
  while (types.size() < count) {
    uint64_t t = 0;
    const int n = readVarint(p + at, std::min(avail, limitBytes) - std::min(at, avail), t);
    if (n == 0 || t == 10 || t == 11 || t > (uint64_t{1} << 32) ||
        !typeFits(fit, firstColumn + types.size(), t)) {
      return 0;
    }
    types.push_back(t);
    at += static_cast<size_t>(n);
    if (at > limitBytes || at > avail) return 0;
  }
  return at;
}

size_t Pass::tryCell(const uint8_t* pg, size_t pos, size_t end, const CarvePages& pages,
                     uint64_t pageOffset, FoundIn where, bool dryRun) {
  uint64_t payload = 0, rowid = 0, headerSize = 0;
  int a = readVarint(pg + pos, end - pos, payload);
  if (a == 0 || payload < 2 || payload > (uint64_t{1} << 31)) return 0;
  int b = readVarint(pg + pos + a, end - pos - a, rowid);
  if (b == 0) return 0;
  const size_t rec = pos + static_cast<size_t>(a + b);
  int c = readVarint(pg + rec, end - rec, headerSize);
  if (c == 0 || c > 2 || headerSize < 2 || headerSize > payload || pg[rec] == 0x80) return 0;
  const size_t local = maxLocal(payload, true);
  const size_t cellEnd = rec + local + (local < payload ? 4 : 0);
  if (cellEnd > end || headerSize > local) return 0;
  // The types lie within the cell (headerSize <= local), so within the region.
  const uint8_t* typeStart = pg + rec + c;
  const size_t typeBytes = static_cast<size_t>(headerSize) - static_cast<size_t>(c);
  std::vector<uint64_t>& types = cellTypes_;
  for (Table& t : tables_) {
    if (only_ && &t != only_) continue;
    if (headerSize < t.minHeader || headerSize > t.maxHeader || !t.firstTypeByte[*typeStart] ||
        !exactTypes(t, typeStart, typeBytes, payload - headerSize, types)) {
      continue;
    }
    uint64_t content = headerSize;
    for (uint64_t ty : types) content += contentLength(ty);
    if (content != payload) continue;
    const uint32_t overflow =
        local < payload ? static_cast<uint32_t>(readInteger(pg + rec + local, 4) & 0xffffffff) : 0;
    if (accept(t, types, pg, rec, local, payload, static_cast<size_t>(headerSize), overflow,
               static_cast<int64_t>(rowid), pages, pageOffset + pos, where, dryRun)) {
      return cellEnd - pos;
    }
  }
  return 0;
}

// A freeblock holds exactly its cell, or its cell and more cells freed next to it (each of
// which the freeing also overwrote with a link and a size), with up to three bytes of
// fragment between them.
bool freedTogether(const uint8_t* pg, size_t pos, size_t end) {
  if (pos == end) return true;
  for (size_t at = pos; at <= pos + 3 && at + 4 <= end; ++at) {
    const size_t size = (size_t{pg[at + 2]} << 8) | pg[at + 3];
    if (size >= 4 && size <= end - at) return true;
  }
  return end - pos <= 3;
}

size_t Pass::tryFreeblock(const uint8_t* pg, size_t f, size_t size, const CarvePages& pages,
                          uint64_t pageOffset, size_t regionEnd, bool offChain) {
  // The cell's payload length and rowid took k bytes; the record header follows. The first
  // four bytes of the cell now hold the freeblock's link and size: what they held of the
  // header (its length byte, and for k = 2 the first type) is rebuilt from the table's shape.
  const size_t end = f + size;
  std::vector<uint64_t>& types = freeblockTypes_;
  for (size_t k : {4, 3, 2, 5, 6, 7, 8, 9, 10, 11, 12}) {
    const size_t rec = f + k;
    if (rec + 2 > end) break;
    const size_t lost = rec < f + 4 ? f + 4 - rec : 0;  // header bytes overwritten
    for (Table& t : tables_) {
      if (only_ && &t != only_) continue;
      for (auto w = t.widths.rbegin(); w != t.widths.rend(); ++w) {
        size_t headerSize = 0;
        bool guessedFirst = false;
        if (lost == 0) {
          uint64_t h = 0;
          const int c = readVarint(pg + rec, end - rec, h);
          if (c == 0 || c > 2 || h < 2 || h > 16383 || pg[rec] == 0x80 || h < t.minHeader ||
              h > t.maxHeader || h > end - rec || !t.firstTypeByte[pg[rec + c]] ||
              !exactTypes(t, pg + rec + c, static_cast<size_t>(h) - c, UINT64_MAX, types) ||
              types.size() != *w) {
            continue;
          }
          headerSize = static_cast<size_t>(h);
        } else {
          // lost == 1: the header length; lost == 2: also the first type (the rowid alias's
          // NULL; other first columns cannot be rebuilt).
          const size_t skip = lost - 1;
          if (*w <= skip) continue;
          const size_t used = parseTypes(pg + f + 4, end - f - 4, 126, types, *w - skip, t, skip);
          if (used == 0) continue;
          headerSize = 1 + skip + used;
          if (headerSize > 127) continue;
          if (skip == 1) {
            // The first type: the rowid alias's NULL, or what the freeblock's size leaves
            // for the first column.
            uint64_t first = 0;
            if (t.shape->rowidAlias != 0) {
              uint64_t rest = k + headerSize;
              for (uint64_t ty : types) rest += contentLength(ty);
              if (rest > size) continue;
              // Only a freeblock that holds this one cell gives its length.
              auto guessed = typeOfLength(t.kinds[0], size - rest);
              if (guessed) guessedFirst = true;
              if (!guessed) continue;
              first = *guessed;
            }
            types.insert(types.begin(), first);
          }
        }
        if (!typesFit(t, types)) continue;
        uint64_t payload = headerSize;
        for (uint64_t ty : types) payload += contentLength(ty);
        const size_t local = maxLocal(payload, true);
        const size_t cellSize = k + local + (local < payload ? 4 : 0);
        if (cellSize > size || headerSize > local || !freedTogether(pg, f + cellSize, end) ||
            (guessedFirst && cellSize != size)) {
          continue;
        }
        const uint32_t overflow =
            local < payload ? static_cast<uint32_t>(readInteger(pg + rec + local, 4) & 0xffffffff)
                            : 0;
        // The bytes before the header are no longer the cell's: the header is written over
        // them in the decoded copy only.
        // A link and size found outside the chain may be chance bytes: an intact cell
        // starting inside the rebuilt one wins.
        if (offChain) {
          bool intact = false;
          for (size_t q = f + 1; q < f + cellSize && !intact; ++q) {
            intact = tryCell(pg, q, regionEnd, pages, pageOffset, FoundIn::unallocated, true) > 0;
          }
          if (intact) continue;
        }
        std::vector<uint8_t>& copy = freeblockCopy_;
        copy.assign(pg + rec, pg + rec + local + (local < payload ? 4 : 0));
        if (accept(t, types, copy.data(), 0, local, payload, headerSize, overflow, std::nullopt,
                   pages, pageOffset + f, FoundIn::freeblock)) {
          return cellSize;
        }
      }
    }
  }
  return 0;
}

// The first byte at or after `pos` that is not zero (`end` when none), a word at a time.
size_t firstNonZero(const uint8_t* pg, size_t pos, size_t end) {
  for (; pos + 8 <= end; pos += 8) {
    uint64_t word;
    std::memcpy(&word, pg + pos, 8);
    if (word) break;
  }
  while (pos < end && pg[pos] == 0) ++pos;
  return pos;
}

bool Pass::scanRegion(const uint8_t* pg, size_t begin, size_t end, const CarvePages& pages,
                      uint64_t pageOffset, FoundIn where, bool rebuild) {
  // The freeblocks of the chain are in page order; the next one at or after the position.
  auto nextFree = std::lower_bound(freeblocks_.begin(), freeblocks_.end(), begin,
                                   [](const Freeblock& f, size_t at) { return f.offset < at; });
  for (size_t pos = begin; pos + 3 < end && !stopped_;) {
    if (pg[pos] == 0) {
      // Most free space is zeros. Where the byte and the two at +2 and +3 are zero, neither a
      // cell (its payload length would be 0) nor a freeblock (its size would be 0) starts.
      const size_t nonZero = firstNonZero(pg, pos, end);
      if (nonZero > pos + 3) {
        pos = nonZero - 3;
        continue;
      }
    }
    while (nextFree != freeblocks_.end() && nextFree->offset < pos) ++nextFree;
    size_t used = 0;
    if (!rebuild) {
      // Freed cells of index and interior pages are no table rows.
    } else if (nextFree != freeblocks_.end() && nextFree->offset == pos) {
      used = tryFreeblock(pg, pos, nextFree->size, pages, pageOffset, end, false);
    } else {
      // A freeblock that is no longer in the chain (the page was rebuilt, or its content
      // area grew over it) still starts with its link and size.
      const size_t next = (size_t{pg[pos]} << 8) | pg[pos + 1];
      const size_t size = (size_t{pg[pos + 2]} << 8) | pg[pos + 3];
      if (size >= 6 && size <= end - pos && (next == 0 || (next > pos && next < pageSize_))) {
        used = tryFreeblock(pg, pos, size, pages, pageOffset, end, true);
      }
    }
    if (used == 0 && pg[pos] > 1) used = tryCell(pg, pos, end, pages, pageOffset, where);
    pos += used ? used : 1;
  }
  return !stopped_;
}

void Pass::carvePage(const CarvePages& pages, uint64_t offset, uint32_t pgno, FoundIn whole,
                     bool livePage) {
  const uint8_t* pg = pages.stream->data() + offset;
  const size_t hdr = pgno == 1 ? 100 : 0;
  freeblocks_.clear();
  const uint8_t kind = pg[hdr];
  const bool btree = kind == 0x0d || kind == 0x05 || kind == 0x0a || kind == 0x02;
  // Freeblocks are rebuilt as table rows on table leaves, and on pages of unknown kind (a
  // freelist trunk overwrote the header of what it was).
  const bool rebuild = kind == 0x0d || !btree;
  size_t ptrEnd = hdr;
  if (btree) {
    // The chain is followed forward only, so it ends and its freeblocks are in page order.
    size_t f = (size_t{pg[hdr + 1]} << 8) | pg[hdr + 2];
    for (size_t guard = 0; f && f + 4 <= pageSize_ && guard < pageSize_ / 4; ++guard) {
      const size_t size = (size_t{pg[f + 2]} << 8) | pg[f + 3];
      if (size < 4 || f + size > pageSize_) break;
      freeblocks_.push_back({f, size});
      const size_t next = (size_t{pg[f]} << 8) | pg[f + 1];
      if (next && next <= f) break;
      f = next;
    }
    ptrEnd +=
        (kind == 0x05 || kind == 0x02 ? 12 : 8) + 2 * ((size_t{pg[hdr + 3]} << 8) | pg[hdr + 4]);
  }
  if (livePage) {
    // A page of a table's b-tree holds that table's rows only; pages of other tables and
    // of indexes are passed by.
    only_ = owner_[slot(pgno)];
    if (!only_) return;
    onlyRowids_ = pageRowids_[slot(pgno)];
    struct Reset {
      Table*& only;
      ~Reset() { only = nullptr; }
    } reset{only_};
    // Deleted cells lie in the page's free space: between the cell pointers and the cell
    // content (where a page that was rebuilt or turned interior also keeps old cells), and
    // in its freeblocks.
    size_t contentStart = (size_t{pg[hdr + 5]} << 8) | pg[hdr + 6];
    if (contentStart == 0) contentStart = 65536;
    contentStart = std::min<size_t>(contentStart, pageSize_);
    if (ptrEnd < contentStart) {
      scanRegion(pg, ptrEnd, contentStart, pages, offset, FoundIn::unallocated, rebuild);
    }
    for (size_t i = 0; i < freeblocks_.size(); ++i) {
      if (stopped_) return;
      const Freeblock f = freeblocks_[i];
      scanRegion(pg, f.offset, f.offset + f.size, pages, offset, FoundIn::freeblock, rebuild);
    }
    return;
  }
  scanRegion(pg, btree ? std::min<size_t>(hdr + 8, pageSize_) : hdr, pageSize_, pages, offset,
             whole, rebuild);
}

void Pass::addLiveRowsFrom(const std::string& path) {
  Database db(path);
  if (!db.db) return;
  for (Table& t : tables_) {
    Statement st(db.db, "SELECT rowid, * FROM " + quoted(t.shape->name));
    const int alias = t.shape->rowidAlias;
    const int columns = static_cast<int>(t.shape->columns.size());
    sqlite3_stmt* s = st.stmt;
    while (st.step()) {
      // The values hashed as valuesHash hashes them, straight from SQLite's columns; those
      // SQLite does not return are NULL.
      const int n = std::min(sqlite3_column_count(s) - 1, columns);
      uint64_t h = kFnvOffset;
      for (int c = 0; c < columns; ++c) {
        if (c == alias) continue;
        switch (c < n ? sqlite3_column_type(s, c + 1) : SQLITE_NULL) {
          case SQLITE_INTEGER:
            mixInteger(h, static_cast<int64_t>(sqlite3_column_int64(s, c + 1)));
            break;
          case SQLITE_FLOAT:
            mixReal(h, sqlite3_column_double(s, c + 1));
            break;
          case SQLITE_TEXT: {
            const unsigned char* text = sqlite3_column_text(s, c + 1);
            const size_t size = text ? static_cast<size_t>(sqlite3_column_bytes(s, c + 1)) : 0;
            mixBytes(h, 3, text, size);
            break;
          }
          case SQLITE_BLOB: {
            const void* blob = sqlite3_column_blob(s, c + 1);
            mixBytes(h, 4, blob, static_cast<size_t>(sqlite3_column_bytes(s, c + 1)));
            break;
          }
          default:
            mixNull(h);
            break;
        }
      }
      const int64_t rowid = sqlite3_column_int64(s, 0);
      t.liveKeys.push_back(keyOf(rowid, h));
      t.liveHashes.push_back(h);
      t.liveRowids.push_back(rowid);
    }
  }
}

void Pass::run() {
  if (tables_.empty() || !buildView()) return;
  // The schema table (page 1) names every b-tree: tables and indexes alike are live pages.
  std::vector<uint32_t> roots;
  RowFn schemaRow = [&roots](int64_t, const std::vector<CarvedValue>& v) {
    if (v.size() < 4) return;
    if (auto r = std::get_if<int64_t>(&v[3]); r && *r > 1 && *r < (int64_t{1} << 31)) {
      roots.push_back(static_cast<uint32_t>(*r));
    }
  };
  walkTree(1, nullptr, 0, &schemaRow, INT64_MIN, INT64_MAX);
  for (auto [root, table] : byRoot_) walkTree(root, table, 0, nullptr, INT64_MIN, INT64_MAX);
  for (uint32_t root : roots) walkTree(root, nullptr, 0, nullptr, INT64_MIN, INT64_MAX);
  if (!schemaDamage_.empty()) {
    warnings_.insert(warnings_.begin(),
                     "the schema's b-tree is damaged (" + schemaDamage_ +
                         "): pages of indexes it no longer names are carved as free pages");
  }
  walkFreelist();
  for (Table& t : tables_) {
    sortUnique(t.liveKeys);
    sortUnique(t.liveHashes);
    sortUnique(t.liveRowids);
    setFilters(t);
    mergeRanges(t.unknownRowids);
    if (!t.damage.empty()) {
      warnings_.push_back("table " + t.shape->name + ": its b-tree is damaged (" + t.damage +
                          "), so which of its rows are live is not known there: rows that may "
                          "be live are not listed as deleted");
    }
  }

  for (const CarvePages& pages : input_.pages()) {
    if (pages.pageSize != pageSize_) continue;
    for (size_t i = 0; i < pages.pageOffsets.size() && !stopped_; ++i) {
      const uint64_t off = pages.pageOffsets[i];
      uint32_t pgno = 0;
      bool current = false;
      if (pages.fromLog) {
        auto it = framePage_.find(off);
        pgno = it == framePage_.end() ? 0 : it->second;
        current = currentFrames_.count(off) > 0;
      } else {
        pgno = i + 1 < UINT32_MAX ? static_cast<uint32_t>(i + 1) : 0;
      }
      const size_t self = slot(pgno);
      const bool known = self != 0;
      if (!pages.fromLog) {
        current = known && current_[self].stream == pages.stream && current_[self].offset == off;
      }
      if (current && known && treePage_[self]) {
        // A page of a live b-tree: its cells are live; deleted ones lie in its free space.
        if (treePage_[self] == 1) carvePage(pages, off, pgno, FoundIn::unallocated, true);
        continue;
      }
      FoundIn where = pages.fromLog && !current             ? FoundIn::logFrame
                      : current && known && freelist_[self] ? FoundIn::freelistPage
                                                            : FoundIn::stalePage;
      carvePage(pages, off, pgno, where, false);
    }
  }
}

}  // namespace

std::optional<std::vector<TableShape>> readTableShapes(const std::string& databasePath) {
  Database db(databasePath);
  if (!db.db) return std::nullopt;
  Statement list(db.db,
                 "SELECT name, rootpage, sql FROM sqlite_master WHERE type = 'table' AND name NOT "
                 "LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rootpage");
  if (!list.stmt) return std::nullopt;
  std::vector<TableShape> shapes;
  while (list.step()) {
    TableShape shape;
    shape.name = list.text(0);
    const int64_t root = sqlite3_column_int64(list.stmt, 1);
    const std::string sql = upper(list.text(2));
    // Virtual tables have no pages; tables without rowid keep their rows in an index b-tree.
    const size_t close = sql.rfind(')');
    if (root <= 0 || root > UINT32_MAX ||
        (close != std::string::npos && sql.find("WITHOUT", close) != std::string::npos)) {
      continue;
    }
    shape.rootPage = static_cast<uint32_t>(root);
    Statement info(db.db, "PRAGMA table_info(" + quoted(shape.name) + ")");
    int keys = 0, keyColumn = -1;
    std::string keyType;
    while (info.step()) {
      shape.columns.push_back(info.text(1));
      const std::string declared = info.text(2);
      shape.affinity.push_back(affinityOf(declared));
      if (sqlite3_column_int(info.stmt, 5) > 0) {
        ++keys;
        keyColumn = static_cast<int>(shape.columns.size()) - 1;
        keyType = upper(declared);
      }
    }
    if (keys == 1 && keyType == "INTEGER") shape.rowidAlias = keyColumn;
    if (!shape.columns.empty()) shapes.push_back(std::move(shape));
  }
  return shapes;
}

CarveOutcome carveBySchema(const CarveInput& input, const std::vector<TableShape>& shapes,
                           const std::vector<std::string>& tables,
                           const std::function<bool(const CarvedRow&)>& found,
                           const std::string& liveDatabase) {
  Pass pass(input, shapes, tables, found);
  if (!liveDatabase.empty()) pass.addLiveRowsFrom(liveDatabase);
  pass.run();
  return {pass.warnings()};
}

}  // namespace tamsel
