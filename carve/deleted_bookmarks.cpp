#include "carve/deleted_bookmarks.h"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "events/records.h"
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

// getMarkBookLength once the 0x00 byte it walks back to is known (`zero`: its offset, or none).
int markBookLengthAt(std::span<const uint8_t> page, std::optional<int64_t> zero, int length) {
  if (length != 19 && length != 24) return -1;
  if (!zero) return -1;
  const uint8_t v = pageByte(page, *zero - 1);
  if (v == 0x00) return 0;
  if (length == 19) return v >= 0x14 && v <= 0x17 ? 1 : -1;
  return v >= 0x19 && v <= 0x1c ? 1 : -1;
}

// The nearest 0x00 byte at or before each offset of a page, found in one pass, so that the
// backward walk of every probe costs nothing.
class ZeroIndex {
 public:
  void build(std::span<const uint8_t> page) {
    last_.assign(page.size(), -1);
    int32_t last = -1;
    for (size_t i = 0; i < page.size(); ++i) {
      if (page[i] == 0x00) last = static_cast<int32_t>(i);
      last_[i] = last;
    }
  }
  std::optional<int64_t> at(std::span<const uint8_t> page, int64_t offset) const {
    if (offset < 0 || static_cast<uint64_t>(offset) >= page.size()) return offset;  // 0x00
    const int32_t z = last_[static_cast<size_t>(offset)];
    if (z < 0) return std::nullopt;
    return z;
  }

 private:
  std::vector<int32_t> last_;
};

constexpr std::string_view kRootFolder = "Root";
constexpr std::string_view kReadingListFolder = "com.apple.ReadingList";

struct BookmarkCarver {
  ScanContext& ctx;
  size_t posted = 0;
  ZeroIndex zeros;

  // Reads the title and URL of the row whose num_children code is at `a`, with the table's
  // width `m`, and posts it.
  void carve(std::span<const uint8_t> bytes, const ByteSource& page, uint64_t a, int m) {
    const int64_t at = static_cast<int64_t>(a);
    // 1 or 2 extra code bytes before the anchor: a title (and a URL) of two-byte codes.
    const int64_t tu = TitleAndUrlIsAlterbleDBFile(bytes, at - 3, 3);
    int64_t length = m;
    uint64_t back = 9;
    if (tu == 1) {
      length = m + 1;
      back = 10;
    } else if (tu == 2) {
      length = m + 2;
      back = 11;
    }
    length += IsExtra_AttributeAlter(bytes, at + 11, m);
    length += IsServer_IDAlter(bytes, at + 5, m);
    if (a < back + 1) return;  // the cell would begin before the page

    const uint64_t s = a - back;
    const uint64_t len = static_cast<uint64_t>(length);
    uint64_t dataOffset = 0;
    auto one = [&](uint64_t p) { return AnalyseTheDBDataFile(page, p, dataOffset, s, 3, len); };
    auto two = [&](uint64_t p) { return AnalyseAlterbleDBFile(page, p, dataOffset, s, 3, len); };
    for (uint64_t p = 1; p <= 3; ++p) one(p);  // special id, parent, type
    auto node = std::make_shared<PRBookMarkNode>();
    std::string title = carvedText(tu != 0 ? two(4) : one(4));
    if (!title.empty()) node->bookMarkTitle = title;
    std::string url;
    if (tu == 0) {
      url = carvedText(one(5));
    } else {
      url = carvedText(tu == 1 ? one(6) : two(6));
    }
    if (!url.empty()) node->bookMarkURL = url;
    if (node->bookMarkTitle == kRootFolder || node->bookMarkTitle == kReadingListFolder) return;
    ctx.nc.post(notify::kScanDelBookMarkInfo, std::shared_ptr<PRNode>(std::move(node)));
    ++posted;
  }

  void carvePage(const CarvePages& pages, uint64_t offset) {
    const uint32_t size = pages.pageSize;
    if (getPageType(*pages.stream, offset) != 1) return;
    auto view = pages.stream->view(offset, size);
    if (view.size() < size) return;
    // The first live cell must look like a bookmark row.
    const uint64_t ptr0 = (uint64_t{view[8]} << 8) | view[9];
    if (ptr0 + 17 >= size) return;
    if (bcheckSubStringIsValid(view.subspan(ptr0 + 9, 8), kCarveBookmarks, 8) != 1) return;

    // The page's bytes in a source of their own: no column read reaches past the page.
    ByteSource page = ByteSource::fromBytes(std::vector<uint8_t>(view.begin(), view.end()));
    const std::span<const uint8_t> bytes(page.data(), size);
    bool zerosBuilt = false;
    auto markBook = [&](int64_t at, int length) {
      if (!zerosBuilt) {
        zeros.build(bytes);
        zerosBuilt = true;
      }
      return markBookLengthAt(bytes, zeros.at(bytes, at), length);
    };

    // Table width, the last run of six one-byte integers, and whether the rows' header
    // length has confirmed the width.
    const int widthCode = bBookMarkTableAlter(bytes, static_cast<int64_t>(ptr0) + 3);
    int m = widthCode == 1 ? 19 : widthCode == 2 ? 24 : 11;
    uint64_t runStart = 0;
    int confirmed = -1;
    for (uint64_t a = 0; a < size; ++a) {
      // Every candidate begins with four one-byte integer codes.
      if (bytes[a] != 0x01) {
        const void* next = std::memchr(bytes.data() + a, 0x01, size - a);
        if (next == nullptr) break;
        a = static_cast<uint64_t>(static_cast<const uint8_t*>(next) - bytes.data());
      }
      std::array<uint8_t, 6> x{};
      for (size_t i = 0; i < 6; ++i) x[i] = pageByte(bytes, static_cast<int64_t>(a + i));
      if (x[1] != 0x01 || x[2] != 0x01 || x[3] != 0x01) continue;
      const bool run = x[4] == 0x01 && x[5] == 0x01;
      const bool wide = x[4] == 0x55;
      const bool fiveOnesThenUuid = x[4] == 0x01 && x[5] == 0x55;
      if (m == 19 && !wide && !run) continue;

      enum { kCarve, kRule24, kRule19 } rule = kCarve;
      const int64_t at = static_cast<int64_t>(a);
      if (confirmed == -1) {
        if (m != 11) {
          bool decided = false;
          if (m == 19) {
            const int r = markBook(at - 6, 19);
            if (r != -1) {
              confirmed = r == 1 ? 1 : -1;
              rule = kRule19;
              decided = true;
            }
          }
          if (!decided) {
            const int r = markBook(at - 6, 24);
            if (r != -1) {
              confirmed = r == 1 ? 1 : -1;
              rule = kRule24;
            } else {
              confirmed = -1;
              rule = kRule19;
            }
          }
        }
      } else {
        rule = m == 24 ? kRule24 : m == 19 ? kRule19 : kCarve;
      }

      if (rule == kRule24) {
        m = 24;
        if (run) runStart = a;
        if (a - runStart <= 23 && (fiveOnesThenUuid || wide)) continue;
      } else if (rule == kRule19) {
        m = 19;
        if (run) runStart = a;
        if (wide && a - runStart < 19) continue;
      }
      carve(bytes, page, a, m);
    }
  }
};

}  // namespace

int IsExtra_AttributeAlter(std::span<const uint8_t> page, int64_t offset, int length) {
  if (length != 24) return 0;
  const uint8_t b = pageByte(page, offset);
  return b != 0x01 && b != 0x00 ? 1 : 0;
}

int IsServer_IDAlter(std::span<const uint8_t> page, int64_t offset, int length) {
  if (length != 24) return 0;
  const uint8_t b = pageByte(page, offset);
  const uint8_t next = pageByte(page, offset + 1);
  return b != 0x01 && b != 0x00 && next != 0x01 && next != 0x00 ? 1 : 0;
}

int64_t TitleAndUrlIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset,
                                    int64_t maxSteps) {
  if (offset < 0) return -1;
  // Bytes past the page read as 0x00: the walk starts at the page's last byte.
  const int64_t last = static_cast<int64_t>(page.size()) - 1;
  for (int64_t steps = offset > last ? offset - last : 0; steps <= maxSteps && offset - steps >= 0;
       ++steps) {
    if (page[static_cast<size_t>(offset - steps)] == 0x01) return steps;
  }
  return -1;
}

int getMarkBookLength(std::span<const uint8_t> page, int64_t offset, int length) {
  std::optional<int64_t> zero;
  if (offset < 0 || static_cast<uint64_t>(offset) >= page.size()) {
    zero = offset;  // outside the page the byte reads as 0x00
  } else {
    for (int64_t at = offset; at >= 0; --at) {
      if (page[static_cast<size_t>(at)] == 0x00) {
        zero = at;
        break;
      }
    }
  }
  return markBookLengthAt(page, zero, length);
}

int bBookMarkTableAlter(std::span<const uint8_t> page, int64_t offset) {
  auto judge = [](uint8_t w) { return w >= 25 ? 2 : (w >= 16 && w <= 24) ? 1 : 0; };
  const uint8_t b = pageByte(page, offset);
  if (b >= 0x14 && b <= 0x16) return 1;
  if (b >= 0x19 && b <= 0x1b) return 2;
  if (b == 0x00) return judge(pageByte(page, offset - 1));
  if (pageByte(page, offset + 1) == 0x00) return judge(pageByte(page, offset - 2));
  return 0;
}

void carveDeletedBookmarks(const CarveInput& input, ScanContext& ctx) {
  BookmarkCarver carver{ctx, 0, {}};
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    const size_t before = carver.posted;
    for (uint64_t offset : pages.pageOffsets) {
      if (ctx.stopped()) return;
      if (!pages.fromLog && offset == 0) continue;  // the file header's page
      carver.carvePage(pages, offset);
    }
    logDebug("deleted bookmarks: " + std::to_string(carver.posted - before) +
             " rows carved from the " + pages.what);
  }
}

}  // namespace tamsel
