// Byte-level toolkit of the deleted-record carvers: reading a database file at absolute
// offsets, hex text, page kinds, serial types, two-byte codes, reading one column of a
// carved record, record-header signatures and deleted marks.
//
// Every function works on a read-only ByteSource (the "stream"): the file is mapped once and
// bytes past its end read as zero, so a page or column running off the end yields zero bytes
// ("00" in hex text) instead of an error. Offset 0 is never read through these functions:
// a read there yields nothing. Nothing here logs or throws.
//
// Cell of a table leaf page as the column readers see it (offsets from the cell start s):
//
//   OFFSET      SIZE  DESCRIPTION
//   0           1     payload length (a one-byte varint for the rows carved)
//   1           1     rowid (one-byte varint)
//   2           1     record header length, L + 1
//   3 (= h)     1     serial-type code of column 0, the integer primary key (0, NULL)
//   h + p       1/2   serial-type code of column p; a code >= 0x80 takes two bytes (an
//                     "alterable" column) and pushes every later code one place on
//   h + L       ...   column contents, in column order, no gaps
//
// h is the "code base" (one past the header-length byte); the cell-relative readers take s
// and a head length e with s + e = h (e = 3 for the layout above). The running data offset
// counts the content bytes already consumed for the record (starts at 0).
//
// Serial type -> content length: 0-4 -> 0-4, 5 -> 6, 6/7 -> 8, 8-13 -> 0,
// even >= 14 -> (t - 12) / 2 (blob), odd >= 15 -> (t - 13) / 2 (text).
//
// File geometry: page size = 2 bytes big-endian at 16, write version = byte at 18 (2 means
// write-ahead-log mode), page count = file size / page size, page k at k * page size.
// Page header (from the page start): 0 kind, 5-6 cell content start, 8-9, 10-11, 12-13 the
// first three cell pointers of a leaf page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/byte_source.h"

namespace tamsel {

// Which table a carver works on; several tests below take this number.
enum CarverKind : int {
  kCarveCallHistory = 1,
  kCarveMessages = 2,  // iOS 5 layout
  kCarveCalendar = 3,
  kCarveContacts = 4,
  kCarveBookmarks = 5,
  kCarveNotes = 6,
  kCarveCalendarAlt = 7,  // deleted marks as for 3
};

struct SqliteGeometry {
  uint32_t pageSize = 0;     // 0 when the header holds none; 1 in the header means 65536
  uint8_t writeVersion = 0;  // 2: write-ahead-log mode
  uint64_t pageCount = 0;    // file size / page size (0 without a page size)

  bool walMode() const { return writeVersion == 2; }
  uint64_t pageOffset(uint64_t k) const { return k * pageSize; }
};
SqliteGeometry readSqliteGeometry(const ByteSource& stream);

// ---------------------------------------------------------------- reading bytes

// `length` bytes at `offset` (zeros past the end); none for an invalid stream, offset 0 or
// length 0.
std::optional<std::vector<uint8_t>> readData(const ByteSource& stream, uint64_t offset,
                                             uint64_t length);

// Lower-case hex text (2 characters per byte) of `bytes`.
std::string hexText(std::span<const uint8_t> bytes);

// Hex text of `length` bytes at `offset` (2 * length characters, "00" past the end); none
// for an invalid stream, offset 0 or length 0.
std::optional<std::string> getHexString(const ByteSource& stream, uint64_t offset, uint64_t length);

// The value of the first `digits` characters of `hex` ("a"-"f" 10-15, "0"-"9" their value,
// anything else 0), most significant first; 0 when the text is shorter than `digits`.
// Wraps at 32 bits.
int32_t DemaNumberFormHexChar(std::string_view hex, size_t digits);

// Big-endian unsigned value of `size` bytes of `buffer` from `start` (bytes outside the
// buffer count as zero).
uint64_t readBigEndian(std::span<const uint8_t> buffer, size_t start, size_t size);

// Two-byte varint: (a - 0x80) * 128 + b for a in 0x80-0xbf and b < 0x80; a * 128 + b for a
// of 0xc0 and above. 0x81 0x05 -> 133, 0x9f 0x7f -> 4095, 0xa0 0x00 -> 4096.
int32_t getAlterInteger(uint8_t a, uint8_t b);

// The signed low 32 bits of an integer column of `length` content bytes read big-endian
// into `value`: contents of one to three bytes are two's complement, so their sign is
// extended (0xfb is -5, not 251).
int32_t serialIntegerLow32(uint64_t value, int64_t length);

// Content length of a serial type (see the table above); 0 for negative types.
int64_t getFieldDataLengthBy(int64_t serialType);

// Page kind at `offset`: 1 table leaf (0x0d), 2 table interior or zeroed (0x05, 0x00),
// 3 index interior (0x02), 4 index leaf (0x0a), -1 otherwise and for offset 0. Past the
// end of the file the byte reads as zero, so the kind is 2.
int getPageType(const ByteSource& stream, uint64_t offset);

// 1 when the byte at `offset` is 0x02, else 0.
int checkSQliteVersion(const ByteSource& stream, uint64_t offset);

// ---------------------------------------------------------------- reading one column
//
// Each reader returns the column's value and adds its content length to `dataOffset`:
// numbers as signed decimal text of their low 32 bits, texts and blobs as their raw bytes
// (not terminated, may hold zero bytes). A column without content (NULL, the constants 0
// and 1, reserved types, two-byte types above 4095) gives none and leaves `dataOffset`
// alone, so the caller goes on with the next column at the same data position.

// One-byte serial type at h + p; content at h + L + dataOffset.
std::optional<std::string> AnalyseDBDataFile(const ByteSource& stream, uint64_t position,
                                             uint64_t& dataOffset, uint64_t codeBase,
                                             uint64_t headerLength);
// The same relative to a cell start s with head length e (h = s + e).
std::optional<std::string> AnalyseTheDBDataFile(const ByteSource& stream, uint64_t position,
                                                uint64_t& dataOffset, uint64_t cellStart,
                                                uint64_t head, uint64_t headerLength);
// The text of a column a reader gave (util/text.h readableText): the bytes up to the first
// zero byte, each byte that is no UTF-8 as U+FFFD; "" for none.
std::string carvedText(const std::optional<std::string>& column);

// Two-byte serial type at h + p, h + p + 1; content copied raw, never formatted.
std::optional<std::string> AnalyseAlterbleDB(const ByteSource& stream, uint64_t position,
                                             uint64_t& dataOffset, uint64_t codeBase,
                                             uint64_t headerLength);
// The same relative to a cell start s with head length e.
std::optional<std::string> AnalyseAlterbleDBFile(const ByteSource& stream, uint64_t position,
                                                 uint64_t& dataOffset, uint64_t cellStart,
                                                 uint64_t head, uint64_t headerLength);

// ---------------------------------------------------------------- record-header signatures
//
// The signature tests are defined on hex text and are offered in two forms: on the text
// itself, and on the bytes whose hex text it is (compared nibble by nibble, no text built).
// A sliding window moves by one hex character, so it may begin in the middle of a byte.

// 1 when the hex text begins with one of the kind's record-header prefixes, -1 when it does
// not (or the kind is unknown), 0 for no text.
int bCheckDataIsValid(std::string_view hex, int kind);
int bCheckDataIsValid(std::span<const uint8_t> bytes, int kind);
// Over `length` bytes read at `offset`; 0 when nothing can be read there.
int bCheckDataIsValid(const ByteSource& stream, uint64_t offset, uint64_t length, int kind);

// 1 when a window of `width` characters starting at 0, 1, ... (while start < length - width;
// the last possible window is not tried) is valid for the kind; 0 otherwise, also when the
// text is exactly `width` characters long or shorter.
int bcheckSubStringIsValid(std::string_view hex, int kind, size_t width);
int bcheckSubStringIsValid(std::span<const uint8_t> bytes, int kind, size_t width);
int bcheckSubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length, int kind,
                           size_t width);

// The same windows, looking for a window that begins "0600" (iOS 6 handle rows).
int bcheckChatIOS6SubStringIsValid(std::string_view hex, size_t width);
int bcheckChatIOS6SubStringIsValid(std::span<const uint8_t> bytes, size_t width);
int bcheckChatIOS6SubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length,
                                   size_t width);

// The same windows, looking for "0800010000" or "0800010011" (iOS 6 message rows).
int bcheckMessageIOS6SubStringIsValid(std::string_view hex, size_t width);
int bcheckMessageIOS6SubStringIsValid(std::span<const uint8_t> bytes, size_t width);
int bcheckMessageIOS6SubStringIsValid(const ByteSource& stream, uint64_t offset, uint64_t length,
                                      size_t width);

// 1 when the first two of `length` bytes at `offset` are one of the kind's deleted marks (a
// header length of the table's rows followed by 0x00); 0 otherwise, for kinds outside 1-7
// and for fewer than two bytes.
int getDeletedMark(const ByteSource& stream, uint64_t offset, uint64_t length, int kind);

// ---------------------------------------------------------------- single-byte tests
// All read the byte b at `offset`; at offset 0 nothing is read and b counts as no value
// (equal to nothing, so the "b differs from" tests say 1).

int bNoteAlter(const ByteSource& stream, uint64_t offset);                  // b in 0x80-0x89
int bImageURLAlter(const ByteSource& stream, uint64_t offset);              // b != 0x09
int IsAlterAboutContent(const ByteSource& stream, uint64_t offset);         // b != 0x04
int ISAlterPropertFiled(const ByteSource& stream, uint64_t offset);         // b in 0x79-0x88
int ISAlterMessageContentFiled(const ByteSource& stream, uint64_t offset);  // b != 0x55
int AddressIsAlterbleDBFile(const ByteSource& stream, uint64_t offset);     // always 0
// Steps back from `offset` to the nearest 0x00 byte (0 when b is 0x00). The walk stops at
// offset 1, the first byte these functions can read; when no 0x00 is found by then the
// result is the distance to offset 0.
int64_t bSortAlter(const ByteSource& stream, uint64_t offset);
// Mode 2: 1 when b >= 14 (a text or blob code). Mode 6: the number of consecutive non-zero
// bytes from `offset`. Other modes: 0.
int64_t bIsAlterbleDBFile(const ByteSource& stream, uint64_t offset, int mode);
// Classifies the header-length byte near `offset`: the byte before when b is 0x00, else the
// last non-zero byte before the next 0x00. 2 for 0x22-0x24, 1 for 0x12-0x14, else 0.
int GetFildLength(const ByteSource& stream, uint64_t offset);

// ---------------------------------------------------------------- page text

// One character per byte: 0x20-0x7e as themselves, every other byte ".".
std::string GetLastPageStringWithChar(std::span<const uint8_t> page);

// The text written after `name` in `pageText` (searched ignoring case), up to and including
// the next blank; candidates longer than 20 characters are passed over. "abc" when the name
// is at least as long as the page text minus one; none for an empty name or no candidate.
std::optional<std::string> getNextSubStringInString(std::string_view pageText,
                                                    std::string_view name);

// Appends the two-character byte groups of the first `length` characters of `hex` to
// `target` last group first (little-endian hex to big-endian hex). Nothing for length < 2.
void convertLitteToBigStringWithStr(std::string_view hex, std::string& target, size_t length);

}  // namespace tamsel
