#include "carve/sqlite_primitives.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "util/text.h"

namespace tamsel {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Record-header prefixes per carver kind (hex text), kinds 1 to 6.
constexpr std::string_view kCallHistoryPrefixes[] = {"0101", "0301", "0302",
                                                     "0102", "0109", "0309"};
constexpr std::string_view kMessagePrefixes[] = {"001100", "0808080808", "0808000808080808",
                                                 "0108000108080808"};
constexpr std::string_view kCalendarPrefixes[] = {
    "080800080808",     "080808080808", "0001000000000055", "0001000000000155",
    "0000000000000055", "00000108",     "00000801"};
constexpr std::string_view kContactPrefixes[] = {
    "01010809",   "01010901",   "01010101", "09010809",      "01010801",   "02010801",
    "02010901",   "02010809",   "02010101", "01090809",      "0f0f080801", "0000040401",
    "0000040400", "0000040413", "ffd8ffe0", "00000000000000"};
constexpr std::string_view kBookmarkPrefixes[] = {"01010101"};
constexpr std::string_view kNotePrefixes[] = {"01010101010105", "010101"};
constexpr std::string_view kChatIOS6Prefixes[] = {"0600"};
constexpr std::string_view kMessageIOS6Prefixes[] = {"0800010000", "0800010011"};

std::span<const std::string_view> prefixesOf(int kind) {
  switch (kind) {
    case kCarveCallHistory:
      return kCallHistoryPrefixes;
    case kCarveMessages:
      return kMessagePrefixes;
    case kCarveCalendar:
      return kCalendarPrefixes;
    case kCarveContacts:
      return kContactPrefixes;
    case kCarveBookmarks:
      return kBookmarkPrefixes;
    case kCarveNotes:
      return kNotePrefixes;
    default:
      return {};
  }
}

// Hex-text views without building the text: character j of the hex text.
struct TextChars {
  std::string_view text;
  size_t size() const { return text.size(); }
  char operator()(size_t j) const { return text[j]; }
};
struct ByteChars {
  std::span<const uint8_t> bytes;
  size_t size() const { return bytes.size() * 2; }
  char operator()(size_t j) const {
    uint8_t b = bytes[j / 2];
    return kHexDigits[(j % 2 == 0) ? (b >> 4) : (b & 0x0f)];
  }
};
struct StreamChars {
  const ByteSource* stream;
  uint64_t offset;
  uint64_t length;
  size_t size() const { return static_cast<size_t>(length * 2); }
  char operator()(size_t j) const {
    uint8_t b = stream->byteAt(offset + j / 2);
    return kHexDigits[(j % 2 == 0) ? (b >> 4) : (b & 0x0f)];
  }
};

// Does the text of `width` characters at `start` begin with one of the prefixes? A prefix
// longer than the window never matches.
template <class Chars>
bool windowHasPrefix(const Chars& chars, size_t start, size_t width,
                     std::span<const std::string_view> prefixes) {
  for (std::string_view prefix : prefixes) {
    if (prefix.size() > width) continue;
    bool same = true;
    for (size_t k = 0; k < prefix.size() && same; ++k) same = chars(start + k) == prefix[k];
    if (same) return true;
  }
  return false;
}

template <class Chars>
int checkDataIsValid(const Chars& chars, int kind) {
  auto prefixes = prefixesOf(kind);
  if (prefixes.empty()) return -1;
  return windowHasPrefix(chars, 0, chars.size(), prefixes) ? 1 : -1;
}

// Slides a window of `width` characters over starts 0 .. size - width - 1.
template <class Chars>
int slidingWindowMatch(const Chars& chars, size_t width,
                       std::span<const std::string_view> prefixes) {
  size_t len = chars.size();
  if (prefixes.empty() || len <= width) return 0;
  for (size_t i = 0; i < len - width; ++i) {
    if (windowHasPrefix(chars, i, width, prefixes)) return 1;
  }
  return 0;
}

// The byte at a readable offset; none at offset 0 or without a stream.
std::optional<uint8_t> readByte(const ByteSource& stream, uint64_t offset) {
  if (!stream.valid() || offset == 0) return std::nullopt;
  return stream.byteAt(offset);
}

bool streamReadable(const ByteSource& stream, uint64_t offset, uint64_t length) {
  return stream.valid() && offset != 0 && length != 0;
}

// Content bytes of a column, none when they cannot be read.
std::optional<std::vector<uint8_t>> columnBytes(const ByteSource& stream, uint64_t offset,
                                                int64_t length) {
  if (length <= 0) return std::nullopt;
  return readData(stream, offset, static_cast<uint64_t>(length));
}

std::string asText(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// One-byte serial type at `codeAt`, content at `contentAt`.
std::optional<std::string> readOneByteColumn(const ByteSource& stream, uint64_t codeAt,
                                             uint64_t contentAt, uint64_t& dataOffset) {
  auto code = readByte(stream, codeAt);
  if (!code) return std::nullopt;
  int type = *code;
  bool numeric = type <= 13;
  if (numeric && (type < 1 || type > 7)) return std::nullopt;
  int64_t n = getFieldDataLengthBy(type);
  auto bytes = columnBytes(stream, contentAt + dataOffset, n);
  if (!bytes) return std::nullopt;
  dataOffset += static_cast<uint64_t>(n);
  if (!numeric) return asText(*bytes);
  const uint64_t value = readBigEndian(*bytes, 0, bytes->size());
  char buf[16];
  const auto end = std::to_chars(buf, buf + sizeof buf, serialIntegerLow32(value, n));
  return std::string(buf, end.ptr);
}

// Two-byte serial type at `codeAt`, content copied raw from `contentAt`.
std::optional<std::string> readTwoByteColumn(const ByteSource& stream, uint64_t codeAt,
                                             uint64_t contentAt, uint64_t& dataOffset) {
  auto a = readByte(stream, codeAt);
  auto b = readByte(stream, codeAt + 1);
  if (!a || !b) return std::nullopt;
  int32_t type = getAlterInteger(*a, *b);
  if (type > 4095) return std::nullopt;
  int64_t n = getFieldDataLengthBy(type);
  auto bytes = columnBytes(stream, contentAt + dataOffset, n);
  if (!bytes) return std::nullopt;
  dataOffset += static_cast<uint64_t>(n);
  return asText(*bytes);
}

}  // namespace

SqliteGeometry readSqliteGeometry(const ByteSource& stream) {
  SqliteGeometry g;
  if (!stream.valid()) return g;
  g.pageSize = static_cast<uint32_t>(stream.readBE(16, 2));
  if (g.pageSize == 1) g.pageSize = 65536;
  g.writeVersion = stream.byteAt(18);
  g.pageCount = g.pageSize == 0 ? 0 : stream.size() / g.pageSize;
  return g;
}

std::optional<std::vector<uint8_t>> readData(const ByteSource& stream, uint64_t offset,
                                             uint64_t length) {
  if (!streamReadable(stream, offset, length)) return std::nullopt;
  return stream.readVector(offset, length);
}

std::string hexText(std::span<const uint8_t> bytes) {
  std::string out(bytes.size() * 2, '0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kHexDigits[bytes[i] & 0x0f];
  }
  return out;
}

std::optional<std::string> getHexString(const ByteSource& stream, uint64_t offset,
                                        uint64_t length) {
  if (!streamReadable(stream, offset, length)) return std::nullopt;
  std::string out(static_cast<size_t>(length) * 2, '0');
  auto present = stream.view(offset, length);
  for (size_t i = 0; i < present.size(); ++i) {
    out[2 * i] = kHexDigits[present[i] >> 4];
    out[2 * i + 1] = kHexDigits[present[i] & 0x0f];
  }
  return out;
}

int32_t DemaNumberFormHexChar(std::string_view hex, size_t digits) {
  if (hex.size() < digits) return 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < digits; ++i) {
    char c = hex[i];
    uint32_t d = 0;
    if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    }
    sum = sum * 16u + d;
  }
  return static_cast<int32_t>(sum);
}

uint64_t readBigEndian(std::span<const uint8_t> buffer, size_t start, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) {
    size_t at = start + i;
    v = (v << 8) | (at >= start && at < buffer.size() ? buffer[at] : 0);
  }
  return v;
}

int32_t serialIntegerLow32(uint64_t value, int64_t length) {
  if (length >= 1 && length <= 3 && (value >> (length * 8 - 1) & 1) != 0) {
    value |= ~uint64_t{0} << (length * 8);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t getAlterInteger(uint8_t a, uint8_t b) {
  // The two bytes written as binary digits: a without leading zeros, b padded to at least
  // seven digits. A leading "10" is dropped from the joined digits.
  int bLength = b >= 0x80 ? 8 : 7;
  int aLength = 0;
  for (uint8_t v = a; v != 0; v >>= 1) ++aLength;
  if (aLength == 0) return b;  // "0" + b: no leading "1"
  int total = aLength + bLength;
  uint32_t joined = (static_cast<uint32_t>(a) << bLength) | b;
  bool secondDigitZero = ((joined >> (total - 2)) & 1u) == 0;
  if (secondDigitZero) joined &= ~(1u << (total - 1));
  return static_cast<int32_t>(joined);
}

int64_t getFieldDataLengthBy(int64_t t) {
  if (t < 0) return 0;
  if (t <= 4) return t;
  if (t == 5) return 6;
  if (t == 6 || t == 7) return 8;
  if (t <= 13) return 0;
  return t % 2 == 0 ? (t - 12) / 2 : (t - 13) / 2;
}

int getPageType(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  if (!b) return -1;
  switch (*b) {
    case 0x0d:
      return 1;
    case 0x05:
    case 0x00:
      return 2;
    case 0x02:
      return 3;
    case 0x0a:
      return 4;
    default:
      return -1;
  }
}

int checkSQliteVersion(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b == 0x02 ? 1 : 0;
}

std::optional<std::string> AnalyseDBDataFile(const ByteSource& stream, uint64_t position,
                                             uint64_t& dataOffset, uint64_t codeBase,
                                             uint64_t headerLength) {
  return readOneByteColumn(stream, codeBase + position, codeBase + headerLength, dataOffset);
}

std::optional<std::string> AnalyseTheDBDataFile(const ByteSource& stream, uint64_t position,
                                                uint64_t& dataOffset, uint64_t cellStart,
                                                uint64_t head, uint64_t headerLength) {
  uint64_t h = cellStart + head;
  return readOneByteColumn(stream, h + position, h + headerLength, dataOffset);
}

std::optional<std::string> AnalyseAlterbleDB(const ByteSource& stream, uint64_t position,
                                             uint64_t& dataOffset, uint64_t codeBase,
                                             uint64_t headerLength) {
  return readTwoByteColumn(stream, codeBase + position, codeBase + headerLength, dataOffset);
}

std::optional<std::string> AnalyseAlterbleDBFile(const ByteSource& stream, uint64_t position,
                                                 uint64_t& dataOffset, uint64_t cellStart,
                                                 uint64_t head, uint64_t headerLength) {
  uint64_t h = cellStart + head;
  return readTwoByteColumn(stream, h + position, h + headerLength, dataOffset);
}

int bCheckDataIsValid(std::string_view hex, int kind) {
  if (hex.empty()) return 0;
  return checkDataIsValid(TextChars{hex}, kind);
}

int bCheckDataIsValid(std::span<const uint8_t> bytes, int kind) {
  if (bytes.empty()) return 0;
  return checkDataIsValid(ByteChars{bytes}, kind);
}

int bCheckDataIsValid(const ByteSource& stream, uint64_t offset, uint64_t length, int kind) {
  if (!streamReadable(stream, offset, length)) return 0;
  return checkDataIsValid(StreamChars{&stream, offset, length}, kind);
}

int bcheckSubStringIsValid(std::string_view hex, int kind, size_t width) {
  return slidingWindowMatch(TextChars{hex}, width, prefixesOf(kind));
}

int bcheckSubStringIsValid(std::span<const uint8_t> bytes, int kind, size_t width) {
  return slidingWindowMatch(ByteChars{bytes}, width, prefixesOf(kind));
}

int bcheckSubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length, int kind,
                           size_t width) {
  if (!streamReadable(stream, offset, length)) return 0;
  return slidingWindowMatch(StreamChars{&stream, offset, length}, width, prefixesOf(kind));
}

int bcheckChatIOS6SubStringIsValid(std::string_view hex, size_t width) {
  return slidingWindowMatch(TextChars{hex}, width, kChatIOS6Prefixes);
}

int bcheckChatIOS6SubStringIsValid(std::span<const uint8_t> bytes, size_t width) {
  return slidingWindowMatch(ByteChars{bytes}, width, kChatIOS6Prefixes);
}

int bcheckChatIOS6SubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length,
                                   size_t width) {
  if (!streamReadable(stream, offset, length)) return 0;
  return slidingWindowMatch(StreamChars{&stream, offset, length}, width, kChatIOS6Prefixes);
}

int bcheckMessageIOS6SubStringIsValid(std::string_view hex, size_t width) {
  return slidingWindowMatch(TextChars{hex}, width, kMessageIOS6Prefixes);
}

int bcheckMessageIOS6SubStringIsValid(std::span<const uint8_t> bytes, size_t width) {
  return slidingWindowMatch(ByteChars{bytes}, width, kMessageIOS6Prefixes);
}

int bcheckMessageIOS6SubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length,
                                      size_t width) {
  if (!streamReadable(stream, offset, length)) return 0;
  return slidingWindowMatch(StreamChars{&stream, offset, length}, width, kMessageIOS6Prefixes);
}

int getDeletedMark(const ByteSource& stream, uint64_t offset, uint64_t length, int kind) {
  if (!streamReadable(stream, offset, length) || length < 2) return 0;
  if (stream.byteAt(offset + 1) != 0x00) return 0;
  uint8_t headerLength = stream.byteAt(offset);
  std::span<const uint8_t> marks;
  static constexpr uint8_t kCall[] = {0x09, 0x0a};
  static constexpr uint8_t kMessage[] = {0x13, 0x23, 0x22};
  static constexpr uint8_t kCalendar[] = {0x20, 0x21, 0x22, 0x2a, 0x2b, 0x2c};
  static constexpr uint8_t kContact[] = {0x23, 0x24, 0x25, 0x26};
  static constexpr uint8_t kBookmark[] = {0x0c, 0x14, 0x19, 0x0d, 0x15, 0x1a};
  static constexpr uint8_t kNote[] = {0x14, 0x15};
  switch (kind) {
    case kCarveCallHistory:
      marks = kCall;
      break;
    case kCarveMessages:
      marks = kMessage;
      break;
    case kCarveCalendar:
    case kCarveCalendarAlt:
      marks = kCalendar;
      break;
    case kCarveContacts:
      marks = kContact;
      break;
    case kCarveBookmarks:
      marks = kBookmark;
      break;
    case kCarveNotes:
      marks = kNote;
      break;
    default:
      return 0;
  }
  return std::find(marks.begin(), marks.end(), headerLength) != marks.end() ? 1 : 0;
}

int bNoteAlter(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b >= 0x80 && *b <= 0x89 ? 1 : 0;
}

int bImageURLAlter(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b == 0x09 ? 0 : 1;
}

int IsAlterAboutContent(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b == 0x04 ? 0 : 1;
}

int ISAlterPropertFiled(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b >= 0x79 && *b <= 0x88 ? 1 : 0;
}

int ISAlterMessageContentFiled(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  return b && *b == 0x55 ? 0 : 1;
}

int AddressIsAlterbleDBFile(const ByteSource& /*stream*/, uint64_t /*offset*/) {
  return 0;
}

int64_t bSortAlter(const ByteSource& stream, uint64_t offset) {
  if (!stream.valid()) return 0;
  int64_t steps = 0;
  for (uint64_t at = offset; at >= 1; --at, ++steps) {
    if (stream.byteAt(at) == 0x00) return steps;
  }
  return steps;
}

int64_t bIsAlterbleDBFile(const ByteSource& stream, uint64_t offset, int mode) {
  auto b = readByte(stream, offset);
  if (!b) return 0;
  if (mode == 2) return *b >= 14 ? 1 : 0;
  if (mode != 6) return 0;
  // Bytes past the end read as zero, so the run ends there at the latest.
  int64_t run = 0;
  for (uint64_t at = offset; at < stream.size() && stream.byteAt(at) != 0x00; ++at) ++run;
  return run;
}

int GetFildLength(const ByteSource& stream, uint64_t offset) {
  auto b = readByte(stream, offset);
  if (!b) return 0;
  uint8_t v;
  if (*b == 0x00) {
    v = offset >= 2 ? stream.byteAt(offset - 1) : 0;
  } else {
    uint64_t at = offset;
    while (at + 1 < stream.size() && stream.byteAt(at + 1) != 0x00) ++at;
    v = stream.byteAt(at);
  }
  if (v >= 0x22 && v <= 0x24) return 2;
  if (v >= 0x12 && v <= 0x14) return 1;
  return 0;
}

std::string GetLastPageStringWithChar(std::span<const uint8_t> page) {
  std::string out(page.size(), '.');
  for (size_t i = 0; i < page.size(); ++i) {
    if (page[i] >= 0x20 && page[i] <= 0x7e) out[i] = static_cast<char>(page[i]);
  }
  return out;
}

namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length in UTF-16 units, the unit the page text and names are measured in.
int64_t utf16Length(std::string_view s) {
  int64_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;  // a four-byte sequence is a surrogate pair
  }
  return n;
}

// First case-insensitive match of `needle` lying wholly in [from, to) of `hay`.
std::optional<size_t> findIgnoringCase(std::string_view hay, std::string_view needle, size_t from,
                                       size_t to) {
  if (needle.empty() || to > hay.size() || from > to || to - from < needle.size()) {
    return std::nullopt;
  }
  for (size_t i = from; i + needle.size() <= to; ++i) {
    size_t k = 0;
    while (k < needle.size() && lowerAscii(hay[i + k]) == lowerAscii(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> getNextSubStringInString(std::string_view pageText,
                                                    std::string_view name) {
  if (name.empty()) return std::nullopt;
  const int64_t pageLength = static_cast<int64_t>(pageText.size());
  const int64_t nameLength = utf16Length(name);
  if (nameLength >= pageLength - 1) return std::string("abc");
  const size_t end = static_cast<size_t>(pageLength - 1);  // the last character is never used
  size_t start = 0;
  for (;;) {
    auto match = findIgnoringCase(pageText, name, start, end);
    if (!match) return std::nullopt;
    size_t begin = *match + name.size();
    size_t space = pageText.substr(0, end).find(' ', begin);
    size_t stop = space == std::string_view::npos ? end : space + 1;
    if (stop - begin <= 20) return std::string(pageText.substr(begin, stop - begin));
    start = stop;
    if (static_cast<int64_t>(start) + nameLength >= pageLength - 1) return std::nullopt;
  }
}

void convertLitteToBigStringWithStr(std::string_view hex, std::string& target, size_t length) {
  length = std::min(length, hex.size());
  if (length < 2) return;
  for (size_t group = length / 2; group-- > 0;) target.append(hex.substr(2 * group, 2));
}

std::string carvedText(const std::optional<std::string>& column) {
  return column ? readableText(*column) : std::string();
}

}  // namespace tamsel
