#include "carve/deleted_calendar.h"

#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "events/records.h"
#include "util/date.h"
#include "util/log.h"
#include "util/text.h"

namespace tamsel {
namespace {

// The byte at `offset` of the page; 0x00 outside it.
uint8_t pageByte(std::span<const uint8_t> page, int64_t offset) {
  return offset >= 0 && static_cast<uint64_t>(offset) < page.size()
             ? page[static_cast<size_t>(offset)]
             : 0;
}

// `N` bytes from `offset` of the page, zeros for those past its end.
template <size_t N>
std::array<uint8_t, N> pageBytes(std::span<const uint8_t> page, uint64_t offset) {
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N && offset + i < page.size(); ++i) out[i] = page[offset + i];
  return out;
}

// The whole number a column reader gave (decimal text for a number column; a text column read
// in its place gives its leading digits, usually none): 0 when there is none.
int64_t leadingInteger(const std::optional<std::string>& raw) {
  if (!raw) return 0;
  std::string_view s(*raw);
  size_t at = 0;
  while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
  if (at < s.size() && s[at] == '+') ++at;
  int64_t value = 0;
  auto [end, ec] = std::from_chars(s.data() + at, s.data() + s.size(), value);
  (void)end;
  return ec == std::errc() ? value : 0;
}

// The date text of a stored time (seconds since 2001), empty when there is none.
std::string carvedDate(const std::optional<std::string>& raw) {
  return GetDateTime(leadingInteger(raw), 1).value_or(std::string());
}

constexpr std::array<uint8_t, 6> kRunOfZeros = {0x08, 0x08, 0x08, 0x08, 0x08, 0x08};
constexpr std::array<uint8_t, 6> kZerosAndNull = {0x08, 0x08, 0x00, 0x08, 0x08, 0x08};

// Reads the columns of one row in order, all relative to the same cell start and head, from
// the page's own source (so that nothing is read past the page).
class RowReader {
 public:
  RowReader(const ByteSource& page, uint64_t cellStart, uint64_t head, uint64_t headerLength)
      : page_(page), s_(cellStart), e_(head), l_(headerLength) {}
  std::optional<std::string> one(uint64_t position) {
    return AnalyseTheDBDataFile(page_, position, dataOffset_, s_, e_, l_);
  }
  std::optional<std::string> two(uint64_t position) {
    return AnalyseAlterbleDBFile(page_, position, dataOffset_, s_, e_, l_);
  }
  std::optional<std::string> read(uint64_t position, bool twoByteCode) {
    return twoByteCode ? two(position) : one(position);
  }

 private:
  const ByteSource& page_;
  uint64_t s_, e_, l_;
  uint64_t dataOffset_ = 0;
};

struct CalendarCarver {
  ScanContext& ctx;
  bool walMode = false;
  size_t posted = 0;

  void post(std::shared_ptr<PRCalenderNode> node) {
    ctx.nc.post(notify::kScanDelCalenderInfo, std::shared_ptr<PRNode>(std::move(node)));
    ++posted;
  }

  // Rollback-journal layout (31 columns, location stored as text): the anchor is the code of
  // column 11, one place further on when the description's code takes two bytes.
  void carveRollback(std::span<const uint8_t> bytes, const ByteSource& page, uint64_t a) {
    const int d = DescriptionIsAlterbleDBFile(bytes, static_cast<int64_t>(a) - 9, 0);
    const uint64_t back = 14 + static_cast<uint64_t>(d);
    if (a < back + 1) return;  // the cell would begin before the page
    RowReader row(page, a - back, 3, 31 + static_cast<uint64_t>(d));
    auto node = std::make_shared<PRCalenderNode>();
    node->calTitle = carvedText(row.one(1));
    node->location = carvedText(row.one(2));
    node->calNote = carvedText(row.read(3, d == 1));
    if (d == 0) node->startDate = carvedDate(row.one(4));
    auto fifth = row.one(5);
    if (d == 1) node->startDate = carvedDate(fifth);
    if (d == 0) node->endDate = carvedDate(row.one(6));
    if (d == 1) node->endDate = carvedDate(row.one(7));
    post(std::move(node));
  }

  // Write-ahead-log layout (41 columns, 51 from system 6 on; location by id): the anchor is
  // the code of column 11, shifted by a two-byte description and a two-byte title code.
  void carveLog(std::span<const uint8_t> bytes, const ByteSource& page, uint64_t a) {
    if (a < 16) return;  // the cell would begin before the page
    const int64_t at = static_cast<int64_t>(a);
    const int d = DescriptionIsAlterbleDBFile(bytes, at - 9, 1);
    const int t = TitileIsAlterbleDBFile(bytes, d == 1 ? at - 12 : at - 11);
    const int64_t base = ctx.currentNodeIsiOS6Version ? 51 : 41;
    const int64_t lc = base + d + t;
    const int64_t u = accquireFieldLength(bytes, t == 1 ? at - 13 : at - 12, 1);
    const int64_t length = u >= lc ? u : lc + unique_identifAlter(bytes, at + 16, 1);
    const uint64_t back = 15 + static_cast<uint64_t>(d + t);
    if (a < back + 1) return;
    RowReader row(page, a - back, 4, static_cast<uint64_t>(length));
    auto node = std::make_shared<PRCalenderNode>();
    node->calTitle = carvedText(row.read(1, t == 1));
    row.one(2);  // location id
    node->calNote = carvedText(row.read(3, d == 1));
    if (d == 0) node->startDate = carvedDate(row.one(4));
    auto fifth = row.one(5);
    if (d == 1) node->startDate = carvedDate(fifth);
    auto sixth = row.one(6);
    if (d == 0) node->endDate = carvedDate(sixth);
    auto seventh = row.one(7);
    if (d == 1) node->endDate = carvedDate(seventh);
    post(std::move(node));
  }

  void carvePage(const CarvePages& pages, uint64_t offset) {
    const uint32_t size = pages.pageSize;
    if (getPageType(*pages.stream, offset) != 1) return;
    auto view = pages.stream->view(offset, size);
    if (view.size() < size) return;
    // The first live cell must look like a row of the event table.
    const uint64_t ptr0 = (uint64_t{view[8]} << 8) | view[9];
    auto first = pageBytes<12>(view, ptr0 + 14);
    const std::span<const uint8_t> window(first.data(), walMode ? 10 : 12);
    if (bcheckSubStringIsValid(window, kCarveCalendar, 12) != 1) return;

    // The page's bytes in a source of their own: no column read reaches past the page.
    ByteSource page = ByteSource::fromBytes(std::vector<uint8_t>(view.begin(), view.end()));
    const std::span<const uint8_t> bytes(page.data(), size);
    for (uint64_t a = 0; a < size; ++a) {
      const uint8_t lead = bytes[a];
      if (walMode) {
        if (lead != 0x08) {
          const void* next = std::memchr(bytes.data() + a, 0x08, size - a);
          if (next == nullptr) break;
          a = static_cast<uint64_t>(static_cast<const uint8_t*>(next) - bytes.data());
        }
        auto x = pageBytes<6>(bytes, a);
        if (x != kRunOfZeros && x != kZerosAndNull) continue;
        carveLog(bytes, page, a);
      } else {
        if (lead != 0x08 && lead != 0x00) continue;
        auto x = pageBytes<6>(bytes, a);
        if (bCheckDataIsValid(std::span<const uint8_t>(x), kCarveCalendar) != 1) continue;
        carveRollback(bytes, page, a);
      }
    }
  }
};

}  // namespace

int DescriptionIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset, int version) {
  const uint8_t b = pageByte(page, offset);
  if (version == 1) return b != 0x08 && b != 0x00 && b != 0x01 && b != 0x09 ? 1 : 0;
  return b >= 0x80 && b <= 0x89 ? 1 : 0;
}

int TitileIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset) {
  return pageByte(page, offset) != 0x00 ? 1 : 0;
}

int accquireFieldLength(std::span<const uint8_t> page, int64_t offset, int version) {
  const int b = pageByte(page, offset);
  if (version == 0 && b >= 32 && b <= 35) return b - 1;
  if (version == 1 && b >= 42 && b <= 45) return b - 1;
  return 0;
}

int unique_identifAlter(std::span<const uint8_t> page, int64_t offset, int version) {
  return version == 1 && pageByte(page, offset) != 0x00 ? 1 : 0;
}

void carveDeletedCalendar(const CarveInput& input, ScanContext& ctx) {
  CalendarCarver carver{ctx, false, 0};
  carver.walMode = checkSQliteVersion(input.database(), 18) == 1;
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    const size_t before = carver.posted;
    for (uint64_t offset : pages.pageOffsets) {
      if (ctx.stopped()) return;
      if (!pages.fromLog && offset == 0) continue;  // the file header's page
      carver.carvePage(pages, offset);
    }
    logDebug("deleted calendar: " + std::to_string(carver.posted - before) +
             " rows carved from the " + pages.what);
  }
}

}  // namespace tamsel
