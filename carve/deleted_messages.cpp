#include "carve/deleted_messages.h"

#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "util/date.h"
#include "util/text.h"

namespace tamsel {
namespace {

// Each used page is copied behind a run of zero bytes: every read a record makes (the codes
// before its anchor, its contents after) stays inside the page, and what lies before or
// after the page reads as zero. The run is longer than the furthest any layout looks back
// from an anchor (15 bytes), so no position wraps and offset 0 is never asked for.
constexpr uint64_t kLead = 16;

// One page as the column readers see it.
struct Page {
  ByteSource src;
  std::span<const uint8_t> bytes;  // the page's own bytes, at kLead in `src`
  uint64_t streamOffset = 0;       // of the page in its stream (database or log)
  int kind = -1;
  uint16_t ptr0 = 0, ptr1 = 0, ptr2 = 0, cs = 0;

  uint64_t local(size_t i) const { return kLead + i; }
  uint64_t at(uint64_t pageRelative) const { return kLead + pageRelative; }
};

Page loadPage(const CarvePages& pages, uint64_t offset, int kind) {
  Page page;
  std::vector<uint8_t> buf(kLead + pages.pageSize, 0);
  pages.stream->read(offset, pages.pageSize, buf.data() + kLead);
  page.src = ByteSource::fromBytes(std::move(buf));
  page.bytes = std::span<const uint8_t>(page.src.data() + kLead, pages.pageSize);
  page.streamOffset = offset;
  page.kind = kind;
  page.cs = static_cast<uint16_t>(readBigEndian(page.bytes, 5, 2));
  page.ptr0 = static_cast<uint16_t>(readBigEndian(page.bytes, 8, 2));
  page.ptr1 = static_cast<uint16_t>(readBigEndian(page.bytes, 10, 2));
  page.ptr2 = static_cast<uint16_t>(readBigEndian(page.bytes, 12, 2));
  return page;
}

// Does `pattern` lie wholly in the page at index i?
bool matchesAt(std::span<const uint8_t> page, size_t i, std::span<const uint8_t> pattern) {
  return i + pattern.size() <= page.size() &&
         std::memcmp(page.data() + i, pattern.data(), pattern.size()) == 0;
}

// The integer at the start of a text, read as the C library's atol reads it (blanks, a
// sign, digits; 0 when there are none), held to 64 bits.
int64_t leadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t v = 0;
  constexpr uint64_t kCap = uint64_t{std::numeric_limits<int64_t>::max()};
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > kCap) v = kCap;
  }
  return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

int64_t integerOf(const std::optional<std::string>& column) {
  if (!column) return 0;
  std::string_view raw(*column);
  return leadingInteger(raw.substr(0, raw.find('\0')));
}

std::string dateOf(const std::optional<std::string>& column) {
  return GetDateTime(integerOf(column), 0).value_or("");
}

// Characters (code points) of a UTF-8 text.
size_t characterCount(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

std::string withoutSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

const char* ios6Kind(int64_t isFromMe) {
  if (isFromMe == 0) return "Received";
  if (isFromMe == 1) return "Send";
  return "Unknowed";
}

std::string nameFor(const ScanContext& ctx, std::string_view phone) {
  return ctx.nameForPhone(phone).value_or("");
}

void post(ScanContext& ctx, std::shared_ptr<PRMessageNode> message) {
  ctx.nc.post(notify::kScanDelMessageInfo, std::shared_ptr<PRNode>(std::move(message)));
}

// The columns of one carved record, read in order with one running data offset.
class Record {
 public:
  Record(const Page& page, uint64_t codeBase, uint64_t headerLength)
      : src_(page.src), base_(codeBase), length_(headerLength) {}

  void rebase(uint64_t codeBase) { base_ = codeBase; }
  uint64_t dataOffset() const { return offset_; }
  void setDataOffset(uint64_t offset) { offset_ = offset; }

  // One-byte serial-type code at position p.
  std::optional<std::string> one(uint64_t p) {
    return AnalyseDBDataFile(src_, p, offset_, base_, length_);
  }
  // Two-byte serial-type code at positions p and p + 1.
  std::optional<std::string> two(uint64_t p) {
    return AnalyseAlterbleDB(src_, p, offset_, base_, length_);
  }
  // The same relative to a cell start s with head length e (s + e is the code base).
  std::optional<std::string> cellOne(uint64_t p, uint64_t s, uint64_t e) {
    return AnalyseTheDBDataFile(src_, p, offset_, s, e, length_);
  }
  std::optional<std::string> cellTwo(uint64_t p, uint64_t s, uint64_t e) {
    return AnalyseAlterbleDBFile(src_, p, offset_, s, e, length_);
  }
  // An integer column whose one-byte code is at `codeAt`: the value read, or 1 when the code
  // is the constant 1 (serial type 9), which has no content to read.
  int64_t integer(const std::optional<std::string>& read, uint64_t codeAt) const {
    if (!read && src_.byteAt(codeAt) == 9) return 1;
    return integerOf(read);
  }
  uint64_t codeAt(uint64_t p) const { return base_ + p; }

 private:
  const ByteSource& src_;
  uint64_t base_;
  uint64_t length_;
  uint64_t offset_ = 0;
};

constexpr std::array<uint8_t, 4> kSmsAnchor = {0x00, 0x11, 0x00, 0x00};
constexpr std::array<uint8_t, 8> kChatAnchorA = {0x08, 0x08, 0x00, 0x08, 0x08, 0x08, 0x08, 0x08};
constexpr std::array<uint8_t, 8> kChatAnchorB = {0x01, 0x08, 0x00, 0x01, 0x08, 0x08, 0x08, 0x08};
constexpr std::array<uint8_t, 2> kHandleAnchor = {0x06, 0x00};
constexpr std::array<uint8_t, 5> kIos6AnchorA = {0x08, 0x00, 0x01, 0x00, 0x00};
constexpr std::array<uint8_t, 5> kIos6AnchorB = {0x08, 0x00, 0x01, 0x00, 0x11};
constexpr std::array<uint8_t, 5> kIos6AnchorC = {0x08, 0x00, 0x01, 0x0d, 0x00};
constexpr std::array<uint8_t, 3> kIos6AnchorD = {0x08, 0x00, 0x02};

// A handle row of the iOS 6 layout: the cell's one-byte rowid and the address it holds.
struct HandleRow {
  int32_t rowid = -1;
  std::string phoneValue;
};

class MessageCarver {
 public:
  MessageCarver(const CarveInput& input, ScanContext& ctx) : input_(input), ctx_(ctx) {
    if (ctx.currentNodeIsiOS6Version) {
      layout_ = Layout::ios6;
    } else {
      layout_ = readSqliteGeometry(input.database()).walMode() ? Layout::wal : Layout::journal;
    }
  }

  void run() {
    for (const CarvePages& pages : input_.pages()) {
      if (pages.stream == nullptr || pages.pageSize == 0) continue;
      for (uint64_t offset : pages.pageOffsets) {
        if (ctx_.stopped()) return;
        if (!pages.fromLog && offset == 0) continue;  // the database header's page
        visit(pages, offset);
      }
    }
    if (layout_ == Layout::ios6) joinAndPost();
  }

 private:
  enum class Layout { journal, wal, ios6 };

  void visit(const CarvePages& pages, uint64_t offset) {
    const int kind = getPageType(*pages.stream, offset);
    if (layout_ == Layout::ios6) {
      if (kind != 1 && kind != 2) return;
      Page page = loadPage(pages, offset, kind);
      ios6Handles(page);
      ios6Messages(page);
      return;
    }
    if (kind != 1) return;
    Page page = loadPage(pages, offset, kind);
    if (layout_ == Layout::journal) {
      journalPage(page);
    } else {
      walPage(page);
    }
  }

  // ------------------------------------------------------------ iOS 5, rollback journal

  void journalPage(const Page& page) {
    const auto& src = page.src;
    if (bcheckSubStringIsValid(src, page.at(10 + page.ptr1), 14, kCarveMessages, 10) != 1 &&
        bcheckSubStringIsValid(src, page.at(10 + page.ptr0), 14, kCarveMessages, 10) != 1) {
      return;
    }
    const auto bytes = page.bytes;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i + 1] != 0x11 || !matchesAt(bytes, i, kSmsAnchor)) continue;
      const uint64_t a = page.local(i);
      const uint64_t alt = bIsAlterbleDBFile(src, a - 10, 2) == 1 ? 1 : 0;
      Record r(page, a - 12 - alt, 17 + alt);
      auto m = std::make_shared<PRMessageNode>();
      if (auto phone = carvedText(r.one(1)); !phone.empty()) m->messagePhone = phone;
      m->messageDate = dateOf(r.one(2));
      m->messageContent = carvedText(alt == 1 ? r.two(3) : r.one(3));
      m->messageType = messageTypeOfFlags(integerOf(r.one(4 + alt)));
      m->messageName = nameFor(ctx_, m->messagePhone);
      post(ctx_, std::move(m));
    }
  }

  // ------------------------------------------------------------ iOS 5, write-ahead log

  static uint64_t widthFrom(int fieldLength, uint64_t wide) {
    return fieldLength == 1 ? 17 : fieldLength == 2 ? wide : 0;
  }

  void walPage(const Page& page) {
    const auto& src = page.src;
    auto test = [&](uint64_t at, uint64_t length) {
      return bcheckSubStringIsValid(src, at, length, kCarveMessages, 10) == 1;
    };
    if (!test(page.at(10 + page.ptr1), 14) && !test(page.at(10 + page.ptr0), 14) &&
        !test(page.at(10 + page.ptr2), 14) && !test(page.at(15 + page.cs), 8)) {
      return;
    }
    uint64_t width = widthFrom(GetFildLength(src, page.at(page.ptr0 + 3)), 33);
    // Where the last text message of this page was posted; none at the page start.
    std::optional<uint64_t> lastSms;
    const auto bytes = page.bytes;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i + 1] == 0x11) {
        if (matchesAt(bytes, i, kSmsAnchor)) {
          walSms(page, i, width);
          lastSms = page.streamOffset + i;
        }
      } else if (bytes[i + 1] == 0x08) {
        if (matchesAt(bytes, i, kChatAnchorA) || matchesAt(bytes, i, kChatAnchorB)) {
          walChat(page, i, width, lastSms);
        }
      }
    }
  }

  void walSms(const Page& page, size_t i, uint64_t& width) {
    const auto& src = page.src;
    const uint64_t a = page.local(i);
    if (width == 0) width = widthFrom(GetFildLength(src, a - 14), 33);
    const uint64_t alt = bIsAlterbleDBFile(src, a - 10, 2) == 1 ? 1 : 0;
    const uint64_t length = width + alt;
    const uint64_t h = a - 12 - alt;
    const uint64_t s = h - 3;
    const uint64_t fallbackBase = a + 20 - length;
    Record r(page, h, length);
    auto m = std::make_shared<PRMessageNode>();
    bool fallback = false;
    const uint64_t before = r.dataOffset();
    std::string phone = carvedText(r.cellOne(1, s, 3));
    if (phone.empty()) {
      r.setDataOffset(before);
      r.rebase(fallbackBase);
      phone = carvedText(r.one(1));
      fallback = true;
    }
    m->messagePhone = phone;
    m->messageDate = dateOf(fallback ? r.one(2) : r.cellOne(2, s, 3));
    std::string content;
    if (alt == 0) {
      content = carvedText(r.cellOne(3, s, 3));
    } else {
      content = carvedText(fallback ? r.two(3) : r.cellTwo(3, s, 3));
    }
    if (!content.empty()) m->messageContent = content;
    const uint64_t typeAt = 4 + alt;
    m->messageType =
        messageTypeOfFlags(integerOf(fallback ? r.one(typeAt) : r.cellOne(typeAt, s, 3)));
    if (characterCount(m->messagePhone) > 1) m->messageName = nameFor(ctx_, m->messagePhone);
    post(ctx_, std::move(m));
  }

  void walChat(const Page& page, size_t i, uint64_t& width, std::optional<uint64_t> lastSms) {
    const auto& src = page.src;
    const uint64_t a = page.local(i);
    if (width == 0) width = widthFrom(GetFildLength(src, a - 14), 34);
    const uint64_t k = (width == 33 || width == 0) ? 34 : width;
    const bool about = IsAlterAboutContent(src, a - 2) == 1;
    Record r(page, a - 4 - (about ? 1 : 0), k + (about ? 1 : 0));
    auto m = std::make_shared<PRMessageNode>();
    for (uint64_t p = 1; p <= 27; ++p) {
      switch (p) {
        case 2:
          m->messageDate = dateOf(r.one(p));
          break;
        case 3:
          if (auto t = carvedText(about ? r.two(p) : r.one(p)); !t.empty()) {
            m->messageContent = t;
          }
          break;
        case 4:
          if (!about) r.one(p);
          break;
        case 5:
          if (about) r.one(p);
          break;
        case 17:
          if (!about) r.two(p);
          break;
        case 18:
          if (about) r.two(p);
          break;
        case 19:
          if (!about) m->messagePhone = carvedText(r.one(p));
          break;
        case 20: {
          auto t = r.one(p);
          if (about) {
            m->messagePhone = carvedText(t);
          } else {
            m->messageType = messageTypeOfFlags(integerOf(t));
          }
          break;
        }
        case 26:
          if (!about) m->messageType = messageTypeOfFlags(integerOf(r.one(p)));
          break;
        case 27:
          if (about) m->messageType = messageTypeOfFlags(integerOf(r.one(p)));
          break;
        default:  // 1, 6 to 16, 21 to 25: skipped
          r.one(p);
          break;
      }
    }
    m->bImessage = true;
    if (characterCount(m->messagePhone) > 1) m->messageName = nameFor(ctx_, m->messagePhone);
    // A row without a number just after a text message of the same page, of no known kind,
    // is taken for a piece of that message's record and not reported.
    const uint64_t here = page.streamOffset + i;
    if (m->messagePhone.empty() && lastSms && here - *lastSms <= 399 &&
        m->messageType == "unknown") {
      return;
    }
    post(ctx_, std::move(m));
  }

  // ------------------------------------------------------------ iOS 6

  void ios6Handles(const Page& page) {
    if (bcheckChatIOS6SubStringIsValid(page.src, page.at(page.ptr0), 14, 4) != 1) return;
    const auto bytes = page.bytes;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i] != 0x06 || !matchesAt(bytes, i, kHandleAnchor)) continue;
      const uint64_t a = page.local(i);
      HandleRow row;
      row.rowid = page.src.byteAt(a - 1);
      Record r(page, a + 1, 5);
      row.phoneValue = carvedText(r.one(1));
      handles_.push_back(std::move(row));
    }
  }

  void ios6Messages(const Page& page) {
    const auto& src = page.src;
    auto test = [&](uint64_t at) {
      return bcheckMessageIOS6SubStringIsValid(src, at, 14, 10) == 1;
    };
    if (page.kind != 2 && !test(page.at(4 + page.ptr1)) && !test(page.at(4 + page.ptr0)) &&
        !test(page.at(4 + page.ptr2)) && !test(page.at(8 + page.cs))) {
      return;
    }
    const auto bytes = page.bytes;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != 0x08) continue;
      if (!matchesAt(bytes, i, kIos6AnchorA) && !matchesAt(bytes, i, kIos6AnchorB) &&
          !matchesAt(bytes, i, kIos6AnchorC) && !matchesAt(bytes, i, kIos6AnchorD)) {
        continue;
      }
      ios6Message(page, page.local(i));
    }
  }

  // The columns of a message row that are read: the text, handle_id, service, date and
  // is_from_me. The anchor is the code of column 3 (replace).
  static constexpr size_t kTextColumn = 2, kAnchorColumn = 3, kHandleColumn = 5,
                          kServiceColumn = 11, kDateColumn = 15, kFromMeColumn = 21;

  void ios6Message(const Page& page, uint64_t a) {
    const auto& src = page.src;
    const bool prop = ISAlterPropertFiled(src, a + 5) == 1;
    const bool cont = ISAlterMessageContentFiled(src, a - 2) == 1;
    const uint64_t h = a - 3 - (cont ? 1 : 0);
    // Where each column's serial-type code lies, walked from the code base: a code of 0x80 or
    // more takes two bytes and moves every later code one byte on. Any column may have one
    // (the attributedBody blob is NULL, short or long), so no position is fixed beforehand.
    // Column 0 is the integer primary key, whose code is a single NULL byte; in a freed cell
    // that byte may have been overwritten, so it is not read.
    std::array<uint64_t, kFromMeColumn + 2> at{};
    at[1] = 1;
    for (size_t c = 1; c <= kFromMeColumn; ++c) {
      at[c + 1] = at[c] + (src.byteAt(h + at[c]) < 0x80 ? 1 : 2);
    }
    // Between the code base and the anchor lie the codes of the key, of the identifier (a
    // text, one-byte code) and of the message text, nothing else. When they do not fit (an
    // identifier that is not 36 characters long puts `cont` wrong, and the byte then taken for
    // its code may be a freed cell's overwritten header), these bytes are no message row and
    // every column after them would be misread.
    const uint8_t idCode = src.byteAt(h + at[1]);
    const bool idIsText = idCode >= 13 && idCode < 0x80 && idCode % 2 == 1;
    if (!idIsText || at[kTextColumn] != 2 || h + at[kAnchorColumn] != a) return;
    Record r(page, h, 38 + (prop ? 1 : 0) + (cont ? 1 : 0));
    auto m = std::make_shared<PRMessageNode>();
    // Every column up to is_from_me is read in order, so that each content is taken where
    // the contents before it end.
    for (size_t c = 1; c <= kFromMeColumn; ++c) {
      const uint64_t p = at[c];
      auto v = at[c + 1] - p == 2 ? r.two(p) : r.one(p);
      switch (c) {
        case kTextColumn:
          m->messageContent = carvedText(v);
          break;
        case kHandleColumn:
          m->handle_id = static_cast<int32_t>(r.integer(v, r.codeAt(p)));
          break;
        case kServiceColumn:
          m->bImessage = carvedText(v) != "SMS";
          break;
        case kDateColumn:
          m->messageDate = dateOf(v);
          break;
        case kFromMeColumn:
          m->messageType = ios6Kind(r.integer(v, r.codeAt(p)));
          break;
        default:
          break;
      }
    }
    messages_.push_back(std::move(m));
  }

  // Every message row found (database and log) gets the number of its handle row, then is
  // reported when its text holds more than one character besides blanks.
  void joinAndPost() {
    // The last handle row of each rowid gives the number; the last one with a number of more
    // than one character gives the name.
    struct Joined {
      bool found = false;
      std::string phone;
      bool named = false;
      std::string name;
    };
    std::array<Joined, 256> byRowid{};
    for (const HandleRow& row : handles_) {
      if (row.rowid < 0 || row.rowid > 255) continue;
      Joined& j = byRowid[static_cast<size_t>(row.rowid)];
      j.found = true;
      j.phone = withoutSpaces(row.phoneValue);
      if (characterCount(j.phone) > 1) {
        j.named = true;
        j.name = nameFor(ctx_, j.phone);
      }
    }
    for (auto& m : messages_) {
      if (m->handle_id >= 0 && m->handle_id <= 255) {
        const Joined& j = byRowid[static_cast<size_t>(m->handle_id)];
        if (j.found) m->messagePhone = j.phone;
        if (j.named) m->messageName = j.name;
      }
      if (characterCount(withoutSpaces(m->messageContent)) > 1) post(ctx_, std::move(m));
    }
  }

  const CarveInput& input_;
  ScanContext& ctx_;
  Layout layout_ = Layout::journal;
  std::vector<std::shared_ptr<PRMessageNode>> messages_;  // iOS 6, in the order found
  std::vector<HandleRow> handles_;                        // iOS 6, in the order found
};

}  // namespace

void carveDeletedMessages(const CarveInput& input, ScanContext& ctx) {
  MessageCarver(input, ctx).run();
}

}  // namespace tamsel
