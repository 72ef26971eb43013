#include "carve/deleted_contacts.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "carve/sqlite_primitives.h"
#include "events/notification_names.h"
#include "util/log.h"
#include "util/text.h"

namespace tamsel {
namespace {

// Each page is carved from a private copy with zeros before and after it, so that every
// read derived from the page's bytes stays inside the page: the walk back from an anchor
// to the nearest zero byte stops in the guard at the latest, which keeps the code base and
// the row-identifier bytes (at most 44 bytes before an anchor) inside the guard too; reads
// past the page end meet the tail and then the end of the copy, which read as zeros.
constexpr uint64_t kGuard = 64;
constexpr uint64_t kTail = 16;

// Texts of the person columns count below this many bytes; values below kMaxValueText.
constexpr size_t kMaxPersonText = 260;
constexpr size_t kMaxValueText = 1024;

// Serial-type codes of a person row from its first-sort-section column on: two one-byte
// section texts, two constant-zero language indexes and a one-byte person link; or no
// sections, two four-byte language indexes and a link that is a one-byte integer, NULL or
// a three-byte text.
constexpr uint8_t kPersonAnchors[][5] = {{0x0f, 0x0f, 0x08, 0x08, 0x01},
                                         {0x00, 0x00, 0x04, 0x04, 0x01},
                                         {0x00, 0x00, 0x04, 0x04, 0x00},
                                         {0x00, 0x00, 0x04, 0x04, 0x13}};

// Where a person row's codes are read from its anchor (see carvePerson).
constexpr uint64_t kAnchorToSortGap = 12;
constexpr uint64_t kAnchorToNoteCode = 19;
constexpr uint64_t kAnchorToCodeBase = 27;
constexpr uint64_t kAnchorToPreferredName = 6;

// Value row: the anchor holds the codes of positions 1 to 4; the cell starts 4 bytes
// before it (payload length, rowid, header length, the key's code), with six code bytes.
constexpr uint64_t kValueCellHead = 3;
constexpr uint64_t kValueHeaderLength = 6;

constexpr int32_t kPhoneValue = 3;
constexpr int32_t kEmailValue = 4;
constexpr int32_t kHomepageValue = 22;

// The text of a column when it counts: present, not empty and shorter than `limit` bytes.
std::optional<std::string> countingText(const std::optional<std::string>& raw, size_t limit) {
  if (!raw) return std::nullopt;
  const std::string_view bytes = std::string_view(*raw).substr(0, raw->find('\0'));
  if (bytes.empty() || bytes.size() >= limit) return std::nullopt;
  return readableText(bytes);
}

// The number a text starts with (blanks, a sign, digits), as C's atoi reads it; 0 when it
// starts with none. Saturates at the 32-bit limits.
int32_t textInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 32);
  }
  value = negative ? -value : value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// A page copied behind a zero guard (see kGuard): offsets below are in the copy.
class GuardedPage {
 public:
  GuardedPage(const ByteSource& stream, uint64_t offset, uint32_t size) : size_(size) {
    std::vector<uint8_t> bytes(kGuard + size + kTail, 0);
    stream.read(offset, size, bytes.data() + kGuard);
    src_ = ByteSource::fromBytes(std::move(bytes));
  }
  const ByteSource& source() const { return src_; }
  uint64_t start() const { return kGuard; }
  uint64_t end() const { return kGuard + size_; }
  // Bytes from `offset` on; at least kTail of them remain from any offset of the page.
  const uint8_t* bytes(uint64_t offset) const { return src_.data() + offset; }
  uint64_t cellPointer(int index) const { return src_.readBE(kGuard + 8 + 2 * index, 2); }

 private:
  ByteSource src_;
  uint32_t size_;
};

// The columns of a person row kept until the values are joined (the record is made then).
struct CarvedPerson {
  int32_t rowid = -1;
  std::string name, company, note, jobTitle;
};

class ContactCarver {
 public:
  ContactCarver() = default;
  ContactCarver(const ContactCarver&) = delete;
  ContactCarver& operator=(const ContactCarver&) = delete;

  void setLastPageText(std::span<const uint8_t> page) {
    lastPageText_ = GetLastPageStringWithChar(page);
  }

  // A new walk (the database's pages, then the log's frames): the rows of one file are in
  // falling rowid order, those of the next start again, so the identifier of the row found
  // last and the numbering of rows without one start afresh; the largest identifier seen
  // carries on, so that numbers given later do not repeat one read from a cell.
  void beginWalk() {
    lastId_ = 0;
    numbered_ = false;
  }

  // One table-leaf page: persons, the numbering of persons without an identifier, values.
  void carveLeafPage(const GuardedPage& page) {
    carvePersons(page);
    numberUnidentified();
    carveValues(page);
  }

  size_t personCount() const { return persons_.size(); }
  size_t valueCount() const { return values_.size(); }

  // Joins the values to the persons, fills missing numbers from the last page's text and
  // posts every person in the order found. False when stopped before all were posted.
  bool report(ScanContext& ctx) {
    std::unordered_map<int32_t, std::vector<const DelContactValue*>> byPerson;
    for (const DelContactValue& v : values_) byPerson[v.rowID].push_back(&v);
    for (CarvedPerson& carved : persons_) {
      if (ctx.stopped()) return false;
      auto person = std::make_shared<PRContactNode>();
      person->rowid = carved.rowid;
      person->contactName = std::move(carved.name);
      person->contactCompany = std::move(carved.company);
      person->contactNote = std::move(carved.note);
      person->contactJobtitle = std::move(carved.jobTitle);
      if (auto it = byPerson.find(person->rowid); it != byPerson.end()) {
        for (const DelContactValue* v : it->second) join(*person, *v);
      }
      if (person->contactPhone.size() < 3) {
        person->contactPhone = numberAfterName(person->contactName);
        person->phoneNumbers.clear();
      }
      ctx.nc.post(notify::kScanDelContactInfo, std::shared_ptr<PRNode>(std::move(person)));
    }
    return true;
  }

 private:
  void carvePersons(const GuardedPage& page) {
    const ByteSource& src = page.source();
    const uint64_t start = page.start();
    bool used = false;
    for (int i = 0; i < 2 && !used; ++i) {
      used = bcheckSubStringIsValid(src, start + page.cellPointer(i) + 30, 10, kCarveContacts,
                                    10) == 1;
    }
    if (!used) return;
    for (uint64_t a = start; a < page.end(); ++a) {
      const uint8_t* b = page.bytes(a);
      if (b[0] != 0x00 && b[0] != 0x0f) continue;
      for (const auto& anchor : kPersonAnchors) {
        if (std::memcmp(b, anchor, sizeof anchor) == 0) {
          carvePerson(page, a);
          break;
        }
      }
    }
  }

  // A person row whose first-sort-section code is at `a`. Two-byte codes before it are
  // accounted for by the walk back from the suffix column to the nearest NULL code (`back`)
  // and by the note's code (`note`); the preferred-name code tells the header length.
  void carvePerson(const GuardedPage& page, uint64_t a) {
    const ByteSource& src = page.source();
    const auto back =
        static_cast<uint64_t>(std::max<int64_t>(0, bSortAlter(src, a - kAnchorToSortGap)));
    if (back + kAnchorToCodeBase + 4 > a) return;  // cannot happen behind the guard
    const uint64_t note = bNoteAlter(src, a - kAnchorToNoteCode - back) == 1 ? 1 : 0;
    const int img = bImageURLAlter(src, a + kAnchorToPreferredName);
    const uint64_t h = a - kAnchorToCodeBase - back - note;
    const uint64_t length = 35 + back + note - (img == 0 ? 1 : 0);

    CarvedPerson person;
    uint64_t data = 0;
    auto column = [&](uint64_t position) {
      return AnalyseDBDataFile(src, position, data, h, length);
    };
    // First, last and middle name; organization and department.
    if (auto t = countingText(column(1), kMaxPersonText)) person.name = *t;
    for (uint64_t p : {2, 3}) {
      if (auto t = countingText(column(p), kMaxPersonText)) person.name += " " + *t;
    }
    for (uint64_t p : {4, 5, 6}) column(p);
    if (auto t = countingText(column(7), kMaxPersonText)) person.company = *t;
    if (auto t = countingText(column(8), kMaxPersonText)) person.company += " " + *t;
    // The note, whose code takes positions 9 and 10 when it is two bytes long.
    auto noteBytes = note == 1 ? AnalyseAlterbleDB(src, 9, data, h, length) : column(9);
    if (noteBytes) {
      std::string text = readableText(*noteBytes);
      if (!text.empty()) person.note = std::move(text);
    }
    // Kind and birthday come before the job title, one code further on after a long note.
    const uint64_t jobTitleAt = 12 + note;
    for (uint64_t p = 10 + note; p < jobTitleAt; ++p) column(p);
    if (auto t = countingText(column(jobTitleAt), kMaxPersonText)) person.jobTitle = *t;

    // The row identifier, from an intact cell head: the header length (a person row's)
    // followed by the key's NULL code, and before it the rowid varint.
    if (getDeletedMark(src, h - 1, 2, kCarveContacts) == 1) {
      const uint8_t b1 = src.byteAt(h - 2);
      const uint8_t b0 = src.byteAt(h - 3);
      const int32_t m = b0 == 0x81 ? getAlterInteger(b0, b1) : b1;
      largestId_ = std::max(largestId_, m);
      lastId_ = m != 0 ? m : lastId_ + 1;
      person.rowid = lastId_;
      persons_.push_back(std::move(person));
    } else if (lastId_ != 0) {
      // Rows lie in the page in falling rowid order: one without a head of its own follows
      // the one found before it.
      person.rowid = --lastId_;
      persons_.push_back(std::move(person));
    } else if (!numbered_) {
      unidentified_.push_back(std::move(person));
    }
    // Persons without an identifier found after the numbering are not reported.
  }

  // Once: the persons found before any identifier get the numbers after the largest one
  // seen, the last found first.
  void numberUnidentified() {
    if (numbered_ || unidentified_.empty()) return;
    numbered_ = true;
    int32_t id = largestId_;
    for (auto it = unidentified_.rbegin(); it != unidentified_.rend(); ++it) {
      it->rowid = ++id;
      persons_.push_back(std::move(*it));
    }
    unidentified_.clear();
  }

  void carveValues(const GuardedPage& page) {
    const ByteSource& src = page.source();
    const uint64_t start = page.start();
    if (bcheckSubStringIsValid(src, start + page.cellPointer(0) + 4, 8, kCarveContacts, 8) != 1) {
      return;
    }
    for (uint64_t a = page.end() - 1; a > start; --a) {
      const uint8_t* b = page.bytes(a);
      // Only the 8-character prefixes of the contact signatures fit in four bytes, and all
      // of them begin with one of these bytes.
      if (b[0] != 0x01 && b[0] != 0x02 && b[0] != 0x09 && b[0] != 0xff) continue;
      if (bCheckDataIsValid(std::span<const uint8_t>(b, 4), kCarveContacts) != 1) continue;
      carveValue(src, a);
    }
  }

  void carveValue(const ByteSource& src, uint64_t a) {
    const uint64_t cell = a - 4;
    uint64_t data = 0;
    auto column = [&](uint64_t position) {
      return AnalyseTheDBDataFile(src, position, data, cell, kValueCellHead, kValueHeaderLength);
    };
    DelContactValue value;
    auto owner = column(1);
    const int32_t id = owner ? textInteger(*owner) : 0;
    value.rowID = id == 0 ? 1 : id;
    auto type = column(2);
    value.valueType = type ? textInteger(*type) : 0;
    column(3);
    column(4);
    if (auto t = countingText(column(5), kMaxValueText)) value.contactValue = *t;
    // The same row seen again (a live row and a log frame's copy of its page, or a stale
    // copy) is joined once.
    values_.push_back(std::move(value));
    if (!seenValues_.insert(values_.size() - 1).second) values_.pop_back();
  }

  static void join(PRContactNode& person, const DelContactValue& v) {
    switch (v.valueType) {
      case kPhoneValue:
        person.contactPhone += " " + v.contactValue;
        if (!v.contactValue.empty()) person.phoneNumbers.push_back(v.contactValue);
        break;
      case kEmailValue:
        person.contactEmail += " " + v.contactValue;
        break;
      case kHomepageValue:
        person.contactHomepage += " " + v.contactValue;
        break;
      default:
        break;
    }
  }

  // The number written after the name (blanks removed) on the file's last page, or "".
  std::string numberAfterName(const std::string& name) const {
    std::string key;
    key.reserve(name.size());
    for (char c : name) {
      if (c != ' ') key += c;
    }
    // A name as long as the page text would give a placeholder, not a number.
    if (key.empty() || key.size() + 1 >= lastPageText_.size()) return {};
    return getNextSubStringInString(lastPageText_, key).value_or(std::string());
  }

  std::vector<CarvedPerson> persons_;
  std::vector<CarvedPerson> unidentified_;
  std::vector<DelContactValue> values_;
  // Indexes into values_, compared by owner, type and text.
  struct ValueHash {
    const std::vector<DelContactValue>* values;
    size_t operator()(size_t i) const {
      const DelContactValue& v = (*values)[i];
      return std::hash<std::string>()(v.contactValue) ^
             (static_cast<size_t>(static_cast<uint32_t>(v.rowID)) * 0x9e3779b97f4a7c15u) ^
             static_cast<size_t>(static_cast<uint32_t>(v.valueType));
    }
  };
  struct ValueEqual {
    const std::vector<DelContactValue>* values;
    bool operator()(size_t a, size_t b) const {
      const DelContactValue& x = (*values)[a];
      const DelContactValue& y = (*values)[b];
      return x.rowID == y.rowID && x.valueType == y.valueType && x.contactValue == y.contactValue;
    }
  };
  std::unordered_set<size_t, ValueHash, ValueEqual> seenValues_{64, ValueHash{&values_},
                                                                ValueEqual{&values_}};
  int32_t lastId_ = 0;     // R: the identifier of the person found last
  int32_t largestId_ = 0;  // M: the largest identifier read from a cell head
  bool numbered_ = false;
  std::string lastPageText_;
};

}  // namespace

void carveDeletedContacts(const CarveInput& input, ScanContext& ctx) {
  ContactCarver carver;
  for (const CarvePages& pages : input.pages()) {
    if (pages.stream == nullptr || pages.pageSize == 0) continue;
    const std::vector<uint64_t>& offsets = pages.pageOffsets;
    carver.beginWalk();
    // From the last page to the first: rowids fall from one page to the one before it.
    for (size_t i = offsets.size(); i-- > 0;) {
      if (ctx.stopped()) return;
      const uint64_t offset = offsets[i];
      if (!pages.fromLog && offset == 0) continue;  // the file header's page
      if (!pages.fromLog && i + 1 == offsets.size()) {
        carver.setLastPageText(pages.stream->readVector(offset, pages.pageSize));
      }
      if (getPageType(*pages.stream, offset) != 1) continue;
      carver.carveLeafPage(GuardedPage(*pages.stream, offset, pages.pageSize));
    }
  }
  logDebug("deleted contacts: " + std::to_string(carver.personCount()) + " persons and " +
           std::to_string(carver.valueCount()) + " values carved");
  carver.report(ctx);
}

}  // namespace tamsel
