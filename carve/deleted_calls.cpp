#include "carve/deleted_calls.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "util/date.h"
#include "util/text.h"

namespace tamsel {
namespace {

// One page as the row reader sees it: the bytes of the page where they lie in the stream
// (or in a copy when the stream is not held in memory), and zero at every position outside
// the page, so offsets and lengths taken from the page's own bytes never reach the next
// page or the previous one.
struct PageBytes {
  const uint8_t* data = nullptr;
  int64_t size = 0;

  uint8_t byte(int64_t pos) const { return pos < 0 || pos >= size ? 0 : data[pos]; }
};

// One column as the column readers of sqlite_primitives.h read it, without copying: a
// number (the low 32 bits of an integer code 1 to 7), or the bytes of a text or blob code
// that lie inside the page (the rest read as zero), or nothing.
struct Column {
  enum Kind { kNothing, kNumber, kBytes };
  Kind kind = kNothing;
  int32_t number = 0;
  std::string_view bytes;
};

// The column whose one-byte code is at `codeAt`, its content at `contentAt` + dataOffset;
// dataOffset grows by the content length when the column has content (as AnalyseDBDataFile).
Column readColumn(const PageBytes& page, int64_t codeAt, int64_t contentAt, uint64_t& dataOffset) {
  const int type = page.byte(codeAt);
  const bool numeric = type <= 13;
  if (numeric && (type < 1 || type > 7)) return {};
  const int64_t n = getFieldDataLengthBy(type);
  const int64_t start = contentAt + static_cast<int64_t>(dataOffset);
  dataOffset += static_cast<uint64_t>(n);
  Column c;
  if (numeric) {
    uint64_t value = 0;
    if (start >= 0 && start + n <= page.size) {
      for (int64_t i = 0; i < n; ++i) value = (value << 8) | page.data[start + i];
    } else {
      for (int64_t i = 0; i < n; ++i) value = (value << 8) | page.byte(start + i);
    }
    c.kind = Column::kNumber;
    c.number = serialIntegerLow32(value, n);
    return c;
  }
  c.kind = Column::kBytes;
  if (start >= 0 && start < page.size) {
    const int64_t end = std::min(start + n, page.size);
    c.bytes = std::string_view(reinterpret_cast<const char*>(page.data + start),
                               static_cast<size_t>(end - start));
  }
  return c;
}

// The integer a column's text starts with (blanks, an optional sign, decimal digits), held
// at the 32-bit limits; 0 when there is none, as for a column that read nothing. A number
// column gives its value (the integer its decimal text starts with).
int64_t leadingInteger(const Column& column) {
  if (column.kind == Column::kNumber) return column.number;
  std::string_view text = column.bytes;
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  int64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > INT32_MAX) {
      value = negative ? int64_t{INT32_MAX} + 1 : INT32_MAX;
      break;
    }
  }
  return negative ? -value : value;
}

// The column's text as carvedText gives it: a number as decimal text, bytes up to the first
// zero byte with each byte that is no UTF-8 as U+FFFD, "" for nothing.
std::string columnText(const Column& column) {
  if (column.kind == Column::kNumber) {
    char buf[16];
    const auto end = std::to_chars(buf, buf + sizeof buf, column.number);
    return std::string(buf, end.ptr);
  }
  return column.kind == Column::kBytes ? readableText(column.bytes) : std::string();
}

// The duration text of a call of `s` seconds (s != 0): only the largest unit, rounded
// down, in the words of util/format.h getCallHistoryDuration, written without a format call.
std::string durationText(int32_t s) {
  struct Unit {
    int32_t count;
    std::string_view name;
  };
  const Unit unit = s >= 7200   ? Unit{s / 3600, " hours"}
                    : s >= 3600 ? Unit{1, " hour"}
                    : s >= 120  ? Unit{s / 60, " minutes"}
                    : s >= 60   ? Unit{1, " minute"}
                    : s >= 2    ? Unit{s, " seconds"}
                                : Unit{s % 60, " second"};
  char buf[32];
  char* end = std::to_chars(buf, buf + 12, unit.count).ptr;
  for (char c : unit.name) *end++ = c;
  return std::string(buf, end);
}

// accquireField: 1 when the byte is 0x11 (the code of a two-character text).
bool accquireField(const PageBytes& page, int64_t pos) {
  return page.byte(pos) == 0x11;
}

// The header width of the older rules, from the byte v found just before the nearest zero
// byte at or before a position: 7 for v of 7 or 8, v - 1 for 9 to 11, else 0.
int widthFromHeaderByte(uint8_t v) {
  if (v == 7 || v == 8) return 7;
  if (v >= 9 && v <= 11) return v - 1;
  return 0;
}

// accquireFieldLength for every position of one page: the nearest zero byte at or before a
// position is found from a table made in one pass (built when first needed, in a buffer
// kept across pages), so a page of non-zero bytes costs no walk per row. The walk never
// leaves the page: before the page start the bytes read as zero.
class HeaderWidths {
 public:
  HeaderWidths(const PageBytes& page, std::vector<int32_t>& table) : page_(page), table_(table) {}

  int at(int64_t pos) {
    if (pos < 0 || pos >= page_.size) {
      // Outside the page the byte is zero: v is the byte just before it.
      return widthFromHeaderByte(page_.byte(pos - 1));
    }
    if (!built_) build();
    return widthFromHeaderByte(page_.byte(table_[static_cast<size_t>(pos)] - 1));
  }

 private:
  void build() {
    table_.resize(static_cast<size_t>(page_.size));
    int32_t zero = -1;  // the byte before the page reads as zero
    for (int64_t i = 0; i < page_.size; ++i) {
      if (page_.data[i] == 0) zero = static_cast<int32_t>(i);
      table_[static_cast<size_t>(i)] = zero;
    }
    built_ = true;
  }

  const PageBytes& page_;
  std::vector<int32_t>& table_;
  bool built_ = false;
};

// Characters of a UTF-8 text (the bytes that do not continue a character).
size_t characterCount(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<uint8_t>(c) & 0xc0) != 0x80 ? 1 : 0;
  return n;
}

// Contact names by phone text for one run of the carver: a call history holds the same few
// numbers many times over. Emptied when it reaches kLimit numbers, so that its size stays
// bounded whatever the input holds.
class NameCache {
 public:
  explicit NameCache(const ScanContext& ctx) : ctx_(ctx) {}

  const std::optional<std::string>& find(const std::string& phone) {
    if (auto it = names_.find(phone); it != names_.end()) return it->second;
    if (names_.size() >= kLimit) names_.clear();
    return names_.emplace(phone, ctx_.nameForPhone(phone)).first->second;
  }

 private:
  static constexpr size_t kLimit = 4096;
  const ScanContext& ctx_;
  std::unordered_map<std::string, std::optional<std::string>> names_;
};

// GetDateTime(t, 0) for the values a column gives (at most 32 bits). A time that reads as a
// date before 1990 is counted from 2001: the local year decides, and it can differ from
// the year in UTC only within a day of the change of year, so only times near the start
// of 1990 ask for it; the others go straight to the text of the one time they stand for.
std::optional<std::string> callDateText(int64_t t) {
  constexpr int64_t k1990 = 631152000;  // 1990-01-01 00:00 UTC
  constexpr int64_t kMargin = 2 * 86400;
  if (t <= 0 || t >= kNanosecondStampThreshold) return GetDateTime(t, 0);
  if (t >= k1990 + kMargin) return formatUnixTime(t);
  if (t < k1990 - kMargin) return formatUnixTime(t + kSecondsFrom1970To2001);
  return GetDateTime(t, 0);
}

struct Carver {
  Carver(ScanContext& scan) : ctx(scan), ios6(scan.currentNodeIsiOS6Version), names(scan) {}

  ScanContext& ctx;
  bool ios6;
  NameCache names;
  std::vector<uint8_t> copy;    // a page of a stream not held in memory
  std::vector<int32_t> zeroes;  // HeaderWidths' table, reused from page to page
};

// Reads the call row whose flag codes are at page position `a` (code base a - 4, header
// width L) and posts it.
void postCallRow(const PageBytes& page, int64_t a, uint64_t L, Carver& carver) {
  const int64_t h = a - 4;
  const int64_t content = h + static_cast<int64_t>(L);
  uint64_t data = 0;
  auto node = std::make_shared<PRCallHistoryNode>();

  const Column address = readColumn(page, h + 1, content, data);
  const Column date = readColumn(page, h + 2, content, data);
  const Column duration = readColumn(page, h + 3, content, data);
  const Column flags = readColumn(page, h + 4, content, data);

  node->callPhone = columnText(address);
  if (std::optional<std::string> text = callDateText(leadingInteger(date))) {
    node->callDate = std::move(*text);
  }
  node->callTime = static_cast<int32_t>(leadingInteger(duration));
  const bool outgoing = leadingInteger(flags) == 5;
  node->callType = outgoing ? "Outgoing" : "Incoming";
  if (node->callTime == 0) {
    node->callDuration = outgoing ? "Cancelled" : "Missed";
  } else {
    node->callDuration = durationText(node->callTime);
  }
  if (characterCount(node->callPhone) > 1) {
    if (const std::optional<std::string>& name = carver.names.find(node->callPhone)) {
      node->callName = *name;
    }
  }
  carver.ctx.nc.post(notify::kScanDelCallHistoryInfo, std::shared_ptr<PRNode>(std::move(node)));
}

void carvePage(const PageBytes& page, Carver& carver) {
  const int64_t ptr0 = (int64_t{page.byte(8)} << 8) | page.byte(9);
  // Page test: the codes a little past the first cell's start look like a call row.
  uint8_t probe[6];
  for (int64_t i = 0; i < 6; ++i) probe[i] = page.byte(7 + ptr0 + i);
  if (bcheckSubStringIsValid(std::span<const uint8_t>(probe), kCarveCallHistory, 6) != 1) return;

  HeaderWidths widths(page, carver.zeroes);
  int K = carver.ios6 ? 0 : widths.at(ptr0 + 3);
  const uint8_t* bytes = page.data;
  const int64_t last = page.size - 1;  // a row start needs its second code inside the page
  for (int64_t a = 0; a < last; ++a) {
    // Every valid row start is the code 01 or 03 followed by 01, 02 or 09 (the prefixes
    // 0101, 0102, 0109, 0301, 0302, 0309 of a call row's header).
    if ((bytes[a] | 2) != 0x03) continue;
    const uint8_t second = bytes[a + 1];
    if (second != 0x01 && second != 0x02 && second != 0x09) continue;
    uint64_t L = 13;
    if (!carver.ios6) {
      if (K != 0) {
        L = static_cast<uint64_t>(K);
      } else {
        K = widths.at(a - 5);
        L = K != 0 ? static_cast<uint64_t>(K) : (accquireField(page, a + 4) ? 9 : 8);
      }
    }
    postCallRow(page, a, L, carver);
  }
}

}  // namespace

void carveDeletedCallHistory(const CarveInput& input, ScanContext& ctx) {
  Carver carver(ctx);
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    const ByteSource& stream = *pages.stream;
    for (uint64_t offset : pages.pageOffsets) {
      if (ctx.stopped()) return;
      if (offset == 0) continue;  // the database's page 0 (the file header) is never scanned
      const int kind = getPageType(stream, offset);
      if (kind != 1 && kind != 4) continue;  // table leaf and index leaf pages only
      // Every listed page lies whole inside its stream: read in place when the stream is
      // held in memory, else from a copy.
      PageBytes page{stream.data() != nullptr ? stream.data() + offset : nullptr,
                     static_cast<int64_t>(pages.pageSize)};
      if (page.data == nullptr || offset + pages.pageSize > stream.size()) {
        carver.copy.resize(pages.pageSize);
        stream.read(offset, pages.pageSize, carver.copy.data());
        page.data = carver.copy.data();
      }
      carvePage(page, carver);
    }
  }
}

}  // namespace tamsel
