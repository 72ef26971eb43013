#include "carve/deleted_notes.h"

#include <cstdint>
#include <cstring>
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

// The integer a column's text starts with (blanks, an optional sign, decimal digits), held
// at the 32-bit limits; 0 when there is none, as for a column that read nothing (the
// constant 0 among them).
int32_t leadingInteger(const std::optional<std::string>& raw) {
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
  return static_cast<int32_t>(negative ? -value : value);
}

// Distances forward to the next byte of a value, for the positions of one page (the tables
// are made in one pass each when first needed, so an anchor costs no walk). The walk stops at
// the page end: past it the bytes read as zero, so a zero is always found there and any other
// value is not found at all.
class NextByte {
 public:
  NextByte(const PageCopy& page, uint8_t value) : page_(page), value_(value) {}

  // Steps from `pos` to the first byte equal to the value (0 when the byte at `pos` is it);
  // none when the page holds no such byte from `pos` on.
  std::optional<int64_t> distance(int64_t pos) {
    const int64_t size = page_.size();
    if (pos < 0) pos = 0;  // never happens for the positions asked (a + 13 and later)
    if (pos >= size) {
      if (value_ == 0) return 0;
      return std::nullopt;
    }
    if (next_.empty()) build();
    const int32_t found = next_[static_cast<size_t>(pos)];
    if (found < 0) return std::nullopt;
    return found - pos;
  }

 private:
  void build() {
    const int64_t size = page_.size();
    next_.resize(static_cast<size_t>(size));
    int32_t found = value_ == 0 ? static_cast<int32_t>(size) : -1;  // the zeros past the end
    for (int64_t i = size - 1; i >= 0; --i) {
      if (page_.byte(i) == value_) found = static_cast<int32_t>(i);
      next_[static_cast<size_t>(i)] = found;
    }
  }

  const PageCopy& page_;
  uint8_t value_;
  std::vector<int32_t> next_;
};

struct NoteRow {
  int32_t uid = -1;
  std::string noteDate;
  std::string noteTitle;
};

struct BodyRow {
  int32_t uid = -1;
  std::string noteValue;
};

constexpr uint8_t kNoteAnchor[7] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x05};
// Only before write-ahead-log mode: the fifth code a 2-byte integer.
constexpr uint8_t kNoteAnchorWide[7] = {0x01, 0x01, 0x01, 0x01, 0x02, 0x01, 0x05};

// How a note row's column is read.
enum class Read { kSkip, kUid, kDate, kTitle };

class NotePageCarver {
 public:
  NotePageCarver(const PageCopy& page, bool wal, std::vector<NoteRow>& notes,
                 std::vector<BodyRow>& bodies)
      : page_(page),
        s_(page.source()),
        wal_(wal),
        notes_(notes),
        bodies_(bodies),
        nextZero_(page, 0x00),
        nextThree_(page, 0x03) {}

  void run() {
    const int64_t ptr0 = static_cast<int64_t>(s_.readBE(page_.at(8), 2));
    const uint8_t* bytes = page_.bytes();
    const int64_t size = page_.size();
    // Page tests: the codes at the first cell look like a note row, or like a body row.
    if (bcheckSubStringIsValid(s_, page_.at(4 + ptr0), 14, kCarveNotes, 14) == 1) {
      for (int64_t a = 0; a < size; ++a) {
        if (bytes[a] != 0x01) continue;
        if (std::memcmp(bytes + a, kNoteAnchor, 7) == 0) {
          noteRow(a);
        } else if (!wal_ && std::memcmp(bytes + a, kNoteAnchorWide, 7) == 0) {
          noteRow(a);
        }
      }
    }
    if (bcheckSubStringIsValid(s_, page_.at(4 + ptr0), 6, kCarveNotes, 6) == 1) {
      for (int64_t a = 0; a < size; ++a) {
        if (bytes[a] != 0x01 || bytes[a + 1] != 0x01 || bytes[a + 2] != 0x01) continue;
        // CheckNoteBodyMark: a text code, then a NULL within the next two codes.
        if (bytes[a + 3] < 0x10 || (bytes[a + 4] != 0x00 && bytes[a + 5] != 0x00)) continue;
        bodyRow(a);
      }
    }
  }

 private:
  // The code base h = a - 1: the anchor holds the codes of positions 1 to 7.
  void noteRow(int64_t a) {
    if (wal_) {
      walNoteRow(a);
    } else {
      oldNoteRow(a);
    }
  }

  // Reads one column; `wide` picks the two-byte reader.
  std::optional<std::string> column(uint64_t position, bool wide) {
    if (wide) return AnalyseAlterbleDB(s_, position, data_, h_, L_);
    return AnalyseDBDataFile(s_, position, data_, h_, L_);
  }

  // A column read and discarded: only the running offset moves on, by exactly what the
  // reader would have read (the serial types it takes, their content lengths), without
  // making the value.
  void skip(uint64_t position, bool wide) {
    int64_t type = s_.byteAt(h_ + position);
    if (wide) {
      type = getAlterInteger(static_cast<uint8_t>(type), s_.byteAt(h_ + position + 1));
      if (type > 4095) return;
    } else if (type <= 13 && (type < 1 || type > 7)) {
      return;
    }
    data_ += static_cast<uint64_t>(getFieldDataLengthBy(type));
  }

  void read(Read what, uint64_t position, bool wide, NoteRow& row) {
    if (what == Read::kSkip) {
      skip(position, wide);
    } else {
      take(what, column(position, wide), row);
    }
  }

  void take(Read what, const std::optional<std::string>& value, NoteRow& row) {
    switch (what) {
      case Read::kUid:
        row.uid = leadingInteger(value);
        break;
      case Read::kDate:
        if (std::optional<std::string> date = GetDateTime(leadingInteger(value), 1)) {
          row.noteDate = *date;
        }
        break;
      case Read::kTitle:
        if (std::string title = carvedText(value); !title.empty()) row.noteTitle = std::move(title);
        break;
      case Read::kSkip:
        break;
    }
  }

  void oldNoteRow(int64_t a) {
    // CheckTitlePostion: where the title column is, from the code of position 14.
    const int tp = page_.byte(a + 13) == 0x00 ? 19 : 15;
    // checkTitleAlterable: does a two-byte code push the contents one byte on?
    int64_t t = 0;
    if (tp == 15) {
      t = nextZero_.distance(a + 14).value_or(0);
    } else {
      t = page_.byte(a + 18) != 0x03 && page_.byte(a + 19) != 0x01 ? 1 : 0;
    }
    const bool titleWide = t == 1;
    // CheckAlterSummary: the distance to the first content byte (the entity number 3).
    const int64_t summary = nextThree_.distance(a + (titleWide ? 19 : 18)).value_or(0);
    h_ = page_.at(a - 1);
    L_ = 19 + (titleWide ? 1 : 0) + (summary > 0 ? 1 : 0);
    data_ = 0;

    NoteRow row;
    if (tp == 15) {
      for (uint64_t p = 1; p <= 18; ++p) {
        if (p == 15 && t != 0) continue;  // no read
        bool wide = (p == 14 && titleWide) || (p == 18 && summary > 0);
        Read what = p == 11   ? Read::kUid
                    : p == 12 ? Read::kDate
                    : p == 14 ? Read::kTitle
                              : Read::kSkip;
        read(what, p, wide, row);
      }
    } else {
      for (uint64_t p = 1; p <= 17; ++p) {
        bool wide = p == 17 && summary > 0;
        Read what = p == 10 ? Read::kUid : p == 12 ? Read::kDate : Read::kSkip;
        read(what, p, wide, row);
      }
      take(Read::kTitle, column(summary == 0 ? 18 : 19, titleWide), row);
    }
    notes_.push_back(std::move(row));
  }

  void walNoteRow(int64_t a) {
    // bIsAlterbleDBFile (version 1): how many two-byte codes push the contents on.
    const std::optional<int64_t> v = nextThree_.distance(a + 18);
    h_ = page_.at(a - 1);
    L_ = !v ? 0 : *v == 0 ? 19 : *v == 1 ? 20 : *v == 2 ? 21 : 0;
    data_ = 0;

    NoteRow row;
    for (uint64_t p = 1; p <= 17; ++p) {
      Read what = p == 10 ? Read::kUid : p == 13 ? Read::kDate : Read::kSkip;
      read(what, p, false, row);
    }
    if (v == 0) {
      take(Read::kTitle, column(18, false), row);
    } else {
      skip(18, true);
      if (v == 1) {
        take(Read::kTitle, AnalyseAlterbleDBFile(s_, 19, data_, page_.at(a - 4), 4, 20), row);
      } else if (v == 2) {
        take(Read::kTitle, AnalyseAlterbleDB(s_, 19, data_, h_, 21), row);
      }
    }
    notes_.push_back(std::move(row));
  }

  void bodyRow(int64_t a) {
    // bIsAlterbleDBFile (mode 6): a two-byte body code leaves one non-zero byte at a + 4.
    const int64_t b = bIsAlterbleDBFile(s_, page_.at(a + 4), 6);
    h_ = page_.at(a - 1);
    L_ = static_cast<uint64_t>(7 + b);
    data_ = 0;
    BodyRow row;
    skip(1, false);
    skip(2, false);
    row.uid = leadingInteger(column(3, false));
    if (std::string text = carvedText(column(4, b == 1)); !text.empty()) {
      row.noteValue = std::move(text);
    }
    bodies_.push_back(std::move(row));
  }

  const PageCopy& page_;
  const ByteSource& s_;
  bool wal_;
  std::vector<NoteRow>& notes_;
  std::vector<BodyRow>& bodies_;
  NextByte nextZero_;
  NextByte nextThree_;
  uint64_t h_ = 0;
  uint64_t L_ = 0;
  uint64_t data_ = 0;
};

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
  std::string out;
  size_t from = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
    out.append(text, from, at - from);
    out.append(with);
    from = at + what.size();
  }
  if (from == 0) return;
  out.append(text, from, std::string::npos);
  text = std::move(out);
}

// The body text without its markup. Lines are kept: each closing </div> and each <br>
// ends a line (removing them outright would run the lines together).
std::string plainNoteText(std::string text) {
  replaceAll(text, "<div>", "");
  replaceAll(text, "</div>", "\n");
  replaceAll(text, "&nbsp;", " ");
  replaceAll(text, "<br>", "\n");
  replaceAll(text, "</br>", " ");
  return text;
}

// Joins bodies to note rows by identifier and posts one note per body, in body order.
// Before the first match the rows' identifiers are made distinct from their predecessors
// (a row equal to the one before it is taken as the next identifier); doing that once is
// the same as on every pass, since a second pass finds nothing to change.
void joinAndPost(std::vector<NoteRow>& notes, const std::vector<BodyRow>& bodies,
                 ScanContext& ctx) {
  if (bodies.empty()) return;
  int32_t previous = 0;
  std::unordered_map<int32_t, size_t> lastWithUid;  // a later match overwrites an earlier one
  for (size_t i = 0; i < notes.size(); ++i) {
    NoteRow& n = notes[i];
    if (n.uid == previous) n.uid = static_cast<int32_t>(static_cast<uint32_t>(n.uid) + 1u);
    previous = n.uid;
    lastWithUid[n.uid] = i;
  }
  for (const BodyRow& body : bodies) {
    auto node = std::make_shared<PRNoteNode>();
    if (auto it = lastWithUid.find(body.uid); it != lastWithUid.end()) {
      node->noteDate = notes[it->second].noteDate;
      node->noteTitle = notes[it->second].noteTitle;
    }
    node->noteContent = plainNoteText(body.noteValue);
    ctx.nc.post(notify::kScanDelNoteInfo, std::shared_ptr<PRNode>(node));
  }
}

}  // namespace

void carveDeletedNotes(const CarveInput& input, ScanContext& ctx) {
  // The rules for note rows depend on the database's mode (write-ahead log or not).
  const bool wal = checkSQliteVersion(input.database(), 18) == 1;
  std::vector<NoteRow> notes;
  std::vector<BodyRow> bodies;
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    for (uint64_t offset : pages.pageOffsets) {
      if (ctx.stopped()) return;
      if (offset == 0) continue;  // the database's page 0 (the file header) is never scanned
      if (getPageType(*pages.stream, offset) != 1) continue;  // table leaf pages only
      PageCopy page(*pages.stream, offset, pages.pageSize);
      NotePageCarver(page, wal, notes, bodies).run();
    }
  }
  joinAndPost(notes, bodies, ctx);
}

}  // namespace tamsel
