#include "blackberry/record_decoders.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "events/notification_names.h"
#include "raw/suffix.h"
#include "util/date.h"
#include "util/format.h"
#include "util/text.h"

namespace tamsel {
namespace {

// Calls fn(type, data) for every field of a record. A field's data is cut at the record
// end; a field header cut by the record end ends the walk. After a field of type 5 the
// walk skips `type5Skip` further bytes (the address book and calendar store a fixed tail
// there).
template <class Fn>
void walkFields(IpdFieldBytes fields, size_t type5Skip, Fn&& fn) {
  const size_t n = fields.size();
  size_t b = 0;
  while (b < n) {
    if (n - b < ipd::kFieldHeaderSize) break;
    const size_t d = size_t{fields[b]} | (size_t{fields[b + 1]} << 8);
    const uint8_t type = fields[b + 2];
    const size_t start = b + ipd::kFieldHeaderSize;
    fn(type, fields.subspan(start, std::min(d, n - start)));
    b = start + d;
    if (type == 5) b += type5Skip;
  }
}

bool allAscii(const uint8_t* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i) {
    if (p[i] & 0x80) return false;
  }
  return true;
}

// The text of a field: its bytes up to the first zero byte, when they are valid UTF-8;
// "" otherwise. The view points into the field's bytes.
std::string_view fieldText(std::span<const uint8_t> data) {
  const void* zero = data.empty() ? nullptr : std::memchr(data.data(), 0, data.size());
  size_t len =
      zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data.data()) : data.size();
  const uint8_t* p = data.data();
  if (!allAscii(p, len) && !isValidUtf8({p, len})) return {};
  return {reinterpret_cast<const char*>(p), len};
}

// The first data byte, 0 when the field has no data.
uint8_t fieldNumber(std::span<const uint8_t> data) {
  return data.empty() ? 0 : data[0];
}

uint64_t littleEndian(std::span<const uint8_t> data, size_t count) {
  uint64_t v = 0;
  count = std::min(count, data.size());
  for (size_t i = 0; i < count; ++i) v |= uint64_t{data[i]} << (8 * i);
  return v;
}

// Texts prepended to a field one after another: new value = text + " " + old value each
// time. The pieces are kept and joined once at the end, so that a record holding many such
// fields costs time linear in its size. The views point into the record's bytes.
class PrependedText {
 public:
  void add(std::string_view text) {
    pieces_.push_back(text);
    size_ += text.size() + 1;
  }
  // Applies the prepends, in the order they were added, to `field`.
  void applyTo(std::string& field) const {
    if (pieces_.empty()) return;
    std::string v;
    v.reserve(size_ + field.size());
    for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it) v.append(*it).append(1, ' ');
    v.append(field);
    field = std::move(v);
  }

 private:
  std::vector<std::string_view> pieces_;
  size_t size_ = 0;
};

// New value = old value + " " + text.
void appendText(std::string& field, std::string_view text) {
  field.append(1, ' ').append(text);
}

// The date text of a count of milliseconds since 1970, or none.
std::optional<std::string> dateFromMillis(uint64_t raw) {
  int64_t ms = static_cast<int64_t>(raw);
  int64_t s = ms / 1000;
  if (ms % 1000 < 0) --s;
  return formatUnixTime(s);
}

// UTF-16 text up to its first zero unit. A byte-order mark decides the byte order; without
// one the text is big-endian, as phones store it.
std::string utf16Text(std::span<const uint8_t> data) {
  std::string s = utf16ToUtf8(data, /*bigEndianDefault=*/true);
  size_t z = s.find('\0');
  if (z != std::string::npos) s.resize(z);
  return s;
}

// An MMS keeps its typed text as a text attachment ("*.txt", UTF-8, or UTF-16 with a
// byte-order mark). Its text, or "" for another attachment, a text above 64 KiB or bytes
// that cannot be read.
std::string mmsAttachmentText(const PRBlackBerryMMSMessageNode& m) {
  constexpr uint64_t kMaxTextBytes = 64 * 1024;
  const std::string_view name = m.contentDataName;
  if (name.size() < 4 || m.contentData.empty() || m.contentData.size() > kMaxTextBytes) return {};
  std::string suffix(name.substr(name.size() - 4));
  for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (suffix != ".txt") return {};
  std::optional<std::vector<uint8_t>> bytes = m.contentData.readAll(kMaxTextBytes);
  if (!bytes) return {};
  const std::span<const uint8_t> b(*bytes);
  if (b.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    return utf16Text(b);
  }
  return std::string(fieldText(b));
}

// Byte fields of one record: pieces of `fields` become ranges of the origin's file, or
// copies when there is no file.
class FieldBytes {
 public:
  static constexpr size_t kMinRangesToCopy = 16;

  FieldBytes(IpdFieldBytes fields, const IpdFieldOrigin& origin)
      : fields_(fields), origin_(origin) {}

  void append(ByteRef& ref, std::span<const uint8_t> data) const {
    if (!origin_.file || (ref.inMemory() && !ref.empty())) {
      ref.appendBytes(data);
      return;
    }
    const auto at = static_cast<uint64_t>(data.data() - fields_.data());
    ref.appendRange(origin_.file, {origin_.offset + at, data.size()});
    // Pieces so small that their ranges would take more memory than their bytes (a crafted
    // record of one-byte pieces) are kept as a copy instead. Every range of `ref` lies in
    // this record, whose bytes are at hand.
    const auto& ranges = ref.ranges();
    if (ranges.size() > kMinRangesToCopy && ranges.size() * sizeof(ByteRange) > ref.size()) {
      std::vector<uint8_t> copy;
      copy.reserve(static_cast<size_t>(ref.size()));
      for (const ByteRange& r : ranges) {
        auto piece = fields_.subspan(static_cast<size_t>(r.offset - origin_.offset),
                                     static_cast<size_t>(r.length));
        copy.insert(copy.end(), piece.begin(), piece.end());
      }
      ref = ByteRef::fromBytes(std::move(copy));
    }
  }
  void assign(ByteRef& ref, std::span<const uint8_t> data) const {
    ref.clear();
    append(ref, data);
  }
  // Content pieces of MMS attachments and content-store files: the first piece replaces a
  // buffer shorter than 2 bytes only when it holds 9 bytes or more; later pieces append.
  void addContentPiece(ByteRef& content, std::span<const uint8_t> data) const {
    if (content.size() >= 2) {
      append(content, data);
    } else if (data.size() >= 9) {
      assign(content, data);
    }
  }

 private:
  IpdFieldBytes fields_;
  const IpdFieldOrigin& origin_;
};

// The record's field bytes, and the cursor moved past them. `complete` is false when they
// could not all be read (the file shrank or a read failed); bytes past the end of the file
// are simply missing, as before.
struct RecordFields {
  IpdFieldBytes bytes;
  IpdFieldOrigin origin;
  bool complete = true;
};

RecordFields takeRecordFields(const ByteSource& src, uint64_t& bbOffSet, uint32_t R) {
  const uint64_t len = R >= ipd::kRecordLengthOverhead ? R - ipd::kRecordLengthOverhead : 0;
  RecordFields r;
  r.bytes = src.view(bbOffSet, len);
  r.origin.file = src.file();
  r.origin.offset = bbOffSet;
  // Shorter than the bytes the file had: a read failed (the file shrank).
  const uint64_t exist = bbOffSet < src.size() ? std::min(len, src.size() - bbOffSet) : 0;
  r.complete = r.bytes.size() == exist;
  bbOffSet += len;
  return r;
}

template <class Node>
bool postRecord(ScanContext& ctx, std::string_view name, std::shared_ptr<Node> node) {
  if (!node) return false;
  ctx.nc.post(name, std::shared_ptr<PRNode>(std::move(node)));
  return true;
}

// Decodes and posts one record, unless its bytes could not be read.
template <class Decode>
bool decodeAndPost(ScanContext& ctx, std::string_view name, const ByteSource& src,
                   uint64_t& bbOffSet, uint32_t R, Decode&& decode) {
  RecordFields f = takeRecordFields(src, bbOffSet, R);
  if (!f.complete) return false;
  return postRecord(ctx, name, decode(f.bytes, f.origin));
}

}  // namespace

const char* blackBerryCallTypeText(uint8_t number) {
  switch (number) {
    case 0:
      return "Recived";
    case 1:
      return "Send";
    case 3:
      return "Cancel";
    default:
      return "UnKnown";
  }
}

std::shared_ptr<PRBlackBerryContactNode> decodeBlackBerryContact(IpdFieldBytes fields,
                                                                 const IpdFieldOrigin& origin) {
  const FieldBytes bytes(fields, origin);
  auto node = std::make_shared<PRBlackBerryContactNode>();
  PRBlackBerryContactNode& c = *node;
  PrependedText work, home, mobile, name, address;
  // phoneNumber is the number list of the category updated last; a later update of that
  // list would be a later phone field, so its final value is the one to copy.
  std::string* lastPhoneList = nullptr;
  walkFields(fields, 3, [&](uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
      case 1:
        c.email = fieldText(data);
        break;
      case 6:
      case 16:
        work.add(fieldText(data));
        lastPhoneList = &c.workCall;
        break;
      case 7:
      case 17:
        home.add(fieldText(data));
        lastPhoneList = &c.homeCall;
        break;
      case 8:
        mobile.add(fieldText(data));
        lastPhoneList = &c.mobilCall;
        break;
      case 10:
        c.pinNumber = fieldText(data);
        break;
      case 32:
        name.add(fieldText(data));
        break;
      case 33:
        c.companyName = fieldText(data);
        break;
      case 35:
      case 36:
        address.add(fieldText(data));
        break;
      case 38:
        c.city = fieldText(data);
        break;
      case 39:
        c.provice = fieldText(data);
        break;
      case 40:
        c.postZcode = fieldText(data);
        break;
      case 41:
        c.country = fieldText(data);
        break;
      case 54:
        c.webSite = fieldText(data);
        break;
      case 55:
        c.titleName = fieldText(data);
        break;
      case 59:
        c.categories = fieldText(data);
        break;
      case 64:
        c.note = fieldText(data);
        break;
      case 77:
        bytes.assign(c.contactImageData, data);
        break;
      case 82:
        c.brithday = fieldText(data);
        break;
      default:
        break;
    }
  });
  work.applyTo(c.workCall);
  home.applyTo(c.homeCall);
  mobile.applyTo(c.mobilCall);
  name.applyTo(c.contactName);
  address.applyTo(c.address);
  if (lastPhoneList) c.phoneNumber = *lastPhoneList;
  return node;
}

std::shared_ptr<PRBlackBerryCallNode> decodeBlackBerryCallLog(IpdFieldBytes fields,
                                                              const IpdFieldOrigin& /*origin*/) {
  auto node = std::make_shared<PRBlackBerryCallNode>();
  PRBlackBerryCallNode& c = *node;
  walkFields(fields, 0, [&c](uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
      case 2:
        c.CallType = blackBerryCallTypeText(fieldNumber(data));
        break;
      case 3: {
        // Seconds, little-endian, up to 4 bytes.
        uint64_t s = littleEndian(data, 4);
        c.callDuration = getCallHistoryDuration(
            static_cast<int32_t>(std::min<uint64_t>(s, std::numeric_limits<int32_t>::max())));
        break;
      }
      case 4:
        if (data.size() == 8) {
          if (auto t = dateFromMillis(littleEndian(data, 8))) c.CallTime = std::move(*t);
        } else {
          c.CallTime = fieldText(data);
        }
        break;
      case 12:
        c.CallNumber = fieldText(data);
        break;
      case 31:
      case 55:
        appendText(c.CallName, fieldText(data));
        break;
      default:
        break;
    }
  });
  return node;
}

std::shared_ptr<PRBlackBerrySMSMessageNode> decodeBlackBerrySMSMessage(
    IpdFieldBytes fields, const IpdFieldOrigin& /*origin*/) {
  auto node = std::make_shared<PRBlackBerrySMSMessageNode>();
  PRBlackBerrySMSMessageNode& m = *node;
  std::span<const uint8_t> body;
  bool haveBody = false;
  uint8_t coding = 0;
  walkFields(fields, 0, [&](uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
      case 1:
        if (!data.empty()) {
          if (data[0] == ipd::kSmsReceived) {
            m.type = "Incoming";
          } else if (data[0] == ipd::kSmsSent) {
            m.type = "outgoing";
          }
        }
        if (data.size() >= ipd::kSmsTimeOffset + 8) {
          if (auto t = dateFromMillis(littleEndian(data.subspan(ipd::kSmsTimeOffset), 8))) {
            m.dateTime = std::move(*t);
          }
        }
        if (data.size() > ipd::kSmsCodingOffset) coding = data[ipd::kSmsCodingOffset];
        break;
      case 2:
        m.numberString = data.size() > 4 ? fieldText(data.subspan(4)) : std::string_view();
        break;
      case 4:
        body = data;
        haveBody = true;
        break;
      default:
        break;
    }
  });
  if (haveBody) {
    if (coding == ipd::kSmsCodingUcs2) {
      m.contentText = utf16Text(body);
    } else {
      m.contentText = fieldText(body);
      if (m.contentText.empty()) m.contentText = utf16Text(body);
    }
  }
  return node;
}

std::shared_ptr<PRBlackBerryMMSMessageNode> decodeBlackBerryMMSMessage(
    IpdFieldBytes fields, const IpdFieldOrigin& origin) {
  const FieldBytes bytes(fields, origin);
  auto node = std::make_shared<PRBlackBerryMMSMessageNode>();
  PRBlackBerryMMSMessageNode& m = *node;
  PrependedText numbers;
  walkFields(fields, 0, [&m, &numbers, &bytes](uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
      case 103: {
        m.contentDataName = fieldText(data);
        std::string kind = attachmentKind(m.contentDataName);
        if (!kind.empty()) m.contentType = std::move(kind);
        break;
      }
      case 104:
        bytes.assign(m.contentData, data);
        break;
      case 105:
        bytes.addContentPiece(m.contentData, data);
        break;
      case 111:
      case 114:
        numbers.add(fieldText(data));
        break;
      default:
        break;
    }
  });
  numbers.applyTo(m.numberName);
  m.contentText = mmsAttachmentText(m);
  return node;
}

std::shared_ptr<PRBlackBerryNoteNode> decodeBlackBerryMemo(IpdFieldBytes fields,
                                                           const IpdFieldOrigin& /*origin*/) {
  auto node = std::make_shared<PRBlackBerryNoteNode>();
  PRBlackBerryNoteNode& n = *node;
  walkFields(fields, 0, [&n](uint8_t type, std::span<const uint8_t> data) {
    if (type == 1) {
      n.noteTittle = fieldText(data);
    } else if (type == 2) {
      n.noteContent = fieldText(data);
    }
  });
  return node;
}

// The date text of an appointment time: minutes since 1900-01-01 00:00 UTC, 32-bit
// little-endian. None for a field of another size or a zero time.
std::optional<std::string> dateFromMinutes1900(std::span<const uint8_t> data) {
  constexpr int64_t kMinutesFrom1900To1970 = int64_t{25567} * 24 * 60;
  if (data.size() != 4) return std::nullopt;
  const int64_t minutes = static_cast<int64_t>(littleEndian(data, 4));
  if (minutes == 0) return std::nullopt;
  return formatUnixTime((minutes - kMinutesFrom1900To1970) * 60);
}

std::shared_ptr<PRBlackBerryCalenderNode> decodeBlackBerryCalender(
    IpdFieldBytes fields, const IpdFieldOrigin& /*origin*/) {
  constexpr size_t kType5Skip = 7;
  auto node = std::make_shared<PRBlackBerryCalenderNode>();
  PRBlackBerryCalenderNode& c = *node;
  auto setDate = [](std::string& to, std::span<const uint8_t> data) {
    if (auto t = dateFromMinutes1900(data)) to = std::move(*t);
  };
  auto take = [&](uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
      case 2:
        appendText(c.bbCalSubject, fieldText(data));
        break;
      case 3:
        appendText(c.bbCalInformation, fieldText(data));
        break;
      case 4:
        c.bbCalLocation = fieldText(data);
        break;
      case 6:
        setDate(c.bbCalStartDate, data);
        break;
      case 7:
        setDate(c.bbCalEndDate, data);
        break;
      default:
        break;
    }
  };
  walkFields(fields, kType5Skip, take);
  // The walk steps over the 7 bytes after a reminder time (type 5). Phones put the start
  // time there, as a whole 4-byte field: read it from those bytes without changing the walk.
  const size_t n = fields.size();
  for (size_t b = 0; n - b >= ipd::kFieldHeaderSize;) {
    const size_t d = size_t{fields[b]} | (size_t{fields[b + 1]} << 8);
    const uint8_t type = fields[b + 2];
    b += ipd::kFieldHeaderSize;
    if (d > n - b) break;
    b += d;
    if (type != 5) continue;
    if (n - b >= kType5Skip && fields[b] == 4 && fields[b + 1] == 0 && fields[b + 2] == 6 &&
        c.bbCalStartDate.empty()) {
      setDate(c.bbCalStartDate, fields.subspan(b + ipd::kFieldHeaderSize, 4));
    }
    b += std::min(kType5Skip, n - b);
  }
  return node;
}

std::shared_ptr<PRBlackBerryContentNode> decodeBlackBerryContentStore(
    IpdFieldBytes fields, const IpdFieldOrigin& origin) {
  const FieldBytes bytes(fields, origin);
  auto node = std::make_shared<PRBlackBerryContentNode>();
  PRBlackBerryContentNode& c = *node;
  bool hasContent = false;
  walkFields(fields, 0, [&](uint8_t type, std::span<const uint8_t> data) {
    if (type == 1) {
      c.filePathName = fieldText(data);
    } else if (type == 7) {
      hasContent = true;
      bytes.addContentPiece(c.contentData, data);
    }
  });
  if (!hasContent) return nullptr;
  c.ContentFileType = attachmentKind(c.filePathName);
  if (c.contentData.empty()) return nullptr;
  c.fileSize = c.contentData.size();
  c.contentFileSize = size_to_unit(static_cast<uint32_t>(c.fileSize));
  return node;
}

bool ScanBlackBerryContactwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                               uint32_t R) {
  return decodeAndPost(ctx, notify::kBlacBerryContactInfo, src, bbOffSet, R,
                       decodeBlackBerryContact);
}

bool ScanBlackBerryCallLogwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                               uint32_t R) {
  return decodeAndPost(ctx, notify::kBlacBerryCallLogInfo, src, bbOffSet, R,
                       decodeBlackBerryCallLog);
}

bool ScanBlackBerrySMSMessagewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                  uint32_t R) {
  return decodeAndPost(ctx, notify::kBlackBerrySMSMessageInfo, src, bbOffSet, R,
                       decodeBlackBerrySMSMessage);
}

bool ScanBlackBerryMMSMessagewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                  uint32_t R) {
  return decodeAndPost(ctx, notify::kBlackBerryMMSMessageInfo, src, bbOffSet, R,
                       decodeBlackBerryMMSMessage);
}

bool ScanBlackBerryMemoswith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                             uint32_t R) {
  return decodeAndPost(ctx, notify::kBlackBerryNoteInfo, src, bbOffSet, R, decodeBlackBerryMemo);
}

bool ScanBlackBerryCalenderwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                uint32_t R) {
  return decodeAndPost(ctx, notify::kBlackBerryCalenderInfo, src, bbOffSet, R,
                       decodeBlackBerryCalender);
}

bool ScanBlackBerryContentStorewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                    uint32_t R) {
  return decodeAndPost(ctx, notify::kBlackBerryContentStoreInfo, src, bbOffSet, R,
                       decodeBlackBerryContentStore);
}

bool ScanBlackBerryRecordwith(ipd::DatabaseKind kind, ScanContext& ctx, const ByteSource& src,
                              uint64_t& bbOffSet, uint32_t R) {
  using ipd::DatabaseKind;
  switch (kind) {
    case DatabaseKind::kContacts:
      return ScanBlackBerryContactwith(ctx, src, bbOffSet, R);
    case DatabaseKind::kCallLogs:
      return ScanBlackBerryCallLogwith(ctx, src, bbOffSet, R);
    case DatabaseKind::kSms:
      return ScanBlackBerrySMSMessagewith(ctx, src, bbOffSet, R);
    case DatabaseKind::kMms:
      return ScanBlackBerryMMSMessagewith(ctx, src, bbOffSet, R);
    case DatabaseKind::kMemos:
      return ScanBlackBerryMemoswith(ctx, src, bbOffSet, R);
    case DatabaseKind::kCalendar:
      return ScanBlackBerryCalenderwith(ctx, src, bbOffSet, R);
    case DatabaseKind::kContentStore:
      return ScanBlackBerryContentStorewith(ctx, src, bbOffSet, R);
    case DatabaseKind::kUnknown:
      break;
  }
  takeRecordFields(src, bbOffSet, R);
  return false;
}

}  // namespace tamsel
