#include "carve/deleted_calls.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "util/date.h"
#include "util/format.h"
#include "util/text.h"

namespace tamsel {
namespace {

// The integer a column's text starts with (blanks, an optional sign, decimal digits), held
// at the 32-bit limits; 0 when there is none, as for a column that read nothing.
int64_t leadingInteger(const std::optional<std::string>& raw) {
  if (!raw) return 0;
  std::string_view text(*raw);
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

// accquireField: 1 when the byte is 0x11 (the code of a two-character text).
bool accquireField(const PageCopy& page, int64_t pos) {
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
// position is found from a table made in one pass (built when first needed), so a page of
// non-zero bytes costs no walk per row. The walk never leaves the page: before the page
// start the bytes read as zero.
class HeaderWidths {
 public:
  explicit HeaderWidths(const PageCopy& page) : page_(page) {}

  int at(int64_t pos) {
    if (pos < 0 || pos >= page_.size()) {
      // Outside the page the byte is zero: v is the byte just before it.
      return widthFromHeaderByte(page_.byte(pos - 1));
    }
    if (lastZero_.empty()) build();
    return widthFromHeaderByte(page_.byte(lastZero_[static_cast<size_t>(pos)] - 1));
  }

 private:
  void build() {
    lastZero_.resize(static_cast<size_t>(page_.size()));
    int64_t zero = -1;  // the byte before the page reads as zero
    for (int64_t i = 0; i < page_.size(); ++i) {
      if (page_.byte(i) == 0) zero = i;
      lastZero_[static_cast<size_t>(i)] = static_cast<int32_t>(zero);
    }
  }

  const PageCopy& page_;
  std::vector<int32_t> lastZero_;
};

// Characters of a UTF-8 text (the bytes that do not continue a character).
size_t characterCount(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<uint8_t>(c) & 0xc0) != 0x80 ? 1 : 0;
  return n;
}

// Reads the call row whose flag codes are at page position `a` (code base a - 4, header
// width L) and posts it.
void postCallRow(const PageCopy& page, int64_t a, uint64_t L, ScanContext& ctx) {
  const ByteSource& s = page.source();
  const uint64_t h = page.at(a - 4);
  uint64_t data = 0;
  auto node = std::make_shared<PRCallHistoryNode>();

  std::string phone = carvedText(AnalyseDBDataFile(s, 1, data, h, L));  // address
  if (!phone.empty()) node->callPhone = std::move(phone);
  const int64_t date = leadingInteger(AnalyseDBDataFile(s, 2, data, h, L));
  if (std::optional<std::string> text = GetDateTime(date, 0)) node->callDate = *text;
  node->callTime = static_cast<int32_t>(leadingInteger(AnalyseDBDataFile(s, 3, data, h, L)));
  const int64_t flags = leadingInteger(AnalyseDBDataFile(s, 4, data, h, L));
  node->callType = flags == 5 ? "Outgoing" : "Incoming";

  if (node->callTime == 0) {
    node->callDuration = node->callType == "Outgoing" ? "Cancelled" : "Missed";
  } else {
    node->callDuration = getCallHistoryDuration(node->callTime);
  }
  if (characterCount(node->callPhone) > 1) {
    if (std::optional<std::string> name = ctx.nameForPhone(node->callPhone)) node->callName = *name;
  }
  ctx.nc.post(notify::kScanDelCallHistoryInfo, std::shared_ptr<PRNode>(node));
}

void carvePage(const PageCopy& page, bool ios6, ScanContext& ctx) {
  const ByteSource& s = page.source();
  const int64_t ptr0 = static_cast<int64_t>(s.readBE(page.at(8), 2));
  // Page test: the codes a little past the first cell's start look like a call row.
  if (bcheckSubStringIsValid(s, page.at(7 + ptr0), 6, kCarveCallHistory, 6) != 1) return;

  HeaderWidths widths(page);
  int K = ios6 ? 0 : widths.at(ptr0 + 3);
  const uint8_t* bytes = page.source().data() + page.at(0);
  for (int64_t a = 0; a < page.size(); ++a) {
    // Every valid row start begins with the code 01 or 03: a cheap test before the full one.
    if (bytes[a] != 0x01 && bytes[a] != 0x03) continue;
    if (bCheckDataIsValid(page.span(a, 3), kCarveCallHistory) != 1) continue;
    uint64_t L = 13;
    if (!ios6) {
      if (K != 0) {
        L = static_cast<uint64_t>(K);
      } else {
        K = widths.at(a - 5);
        L = K != 0 ? static_cast<uint64_t>(K) : (accquireField(page, a + 4) ? 9 : 8);
      }
    }
    postCallRow(page, a, L, ctx);
  }
}

}  // namespace

void carveDeletedCallHistory(const CarveInput& input, ScanContext& ctx) {
  const bool ios6 = ctx.currentNodeIsiOS6Version;
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    for (uint64_t offset : pages.pageOffsets) {
      if (ctx.stopped()) return;
      if (offset == 0) continue;  // the database's page 0 (the file header) is never scanned
      const int kind = getPageType(*pages.stream, offset);
      if (kind != 1 && kind != 4) continue;  // table leaf and index leaf pages only
      carvePage(PageCopy(*pages.stream, offset, pages.pageSize), ios6, ctx);
    }
  }
}

}  // namespace tamsel
