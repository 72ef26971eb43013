// The byte-level toolkit of the deleted-record carvers.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "carve/sqlite_primitives.h"

namespace tamsel {
namespace {

using Bytes = std::vector<uint8_t>;

// A file image of `size` zero bytes with `bytes` written at `offset`.
Bytes image(size_t size, size_t offset, const Bytes& bytes) {
  Bytes out(size, 0);
  for (size_t i = 0; i < bytes.size(); ++i) out.at(offset + i) = bytes[i];
  return out;
}

ByteSource sourceWith(size_t size, size_t offset, const Bytes& bytes) {
  return ByteSource::fromBytes(image(size, offset, bytes));
}

// ---------------------------------------------------------------- reading bytes

TEST(ByteReads, HexTextHasTwoCharactersPerByteAndZerosPastTheEnd) {
  auto src = ByteSource::fromBytes({0x53, 0x0d, 0xff, 0x00, 0xab});
  EXPECT_EQ(getHexString(src, 1, 3), "0dff00");
  EXPECT_EQ(getHexString(src, 3, 4), "00ab0000");
  EXPECT_EQ(getHexString(src, 100, 2), "0000");
  EXPECT_EQ(getHexString(src, 4, 1)->size(), 2u);
  EXPECT_FALSE(getHexString(src, 0, 4));  // offset 0 is never read
  EXPECT_FALSE(getHexString(src, 1, 0));
  EXPECT_FALSE(getHexString(ByteSource(), 1, 1));
  EXPECT_EQ(hexText(Bytes{0x00, 0x0a, 0xf0}), "000af0");
}

TEST(ByteReads, ReadDataPadsWithZeros) {
  auto src = ByteSource::fromBytes({1, 2, 3, 4});
  EXPECT_EQ(readData(src, 2, 4), (Bytes{3, 4, 0, 0}));
  EXPECT_FALSE(readData(src, 0, 2));
  EXPECT_FALSE(readData(src, 1, 0));
  EXPECT_FALSE(readData(ByteSource(), 1, 2));
}

TEST(ByteReads, HexDigitsToNumber) {
  EXPECT_EQ(DemaNumberFormHexChar("ff", 2), 255);
  EXPECT_EQ(DemaNumberFormHexChar("0d0a", 4), 0x0d0a);
  EXPECT_EQ(DemaNumberFormHexChar("0d0a", 2), 0x0d);
  EXPECT_EQ(DemaNumberFormHexChar("FF", 2), 0);  // only lower-case letters count
  EXPECT_EQ(DemaNumberFormHexChar("1", 2), 0);   // shorter than the digit count
  EXPECT_EQ(DemaNumberFormHexChar("", 0), 0);
  EXPECT_EQ(DemaNumberFormHexChar("ffffffff", 8), -1);
}

TEST(ByteReads, BigEndianValues) {
  Bytes b = {0x01, 0x02, 0x03, 0xff};
  EXPECT_EQ(readBigEndian(b, 1, 2), 0x0203u);
  EXPECT_EQ(readBigEndian(b, 0, 4), 0x010203ffu);
  EXPECT_EQ(readBigEndian(b, 3, 2), 0xff00u);  // bytes outside the buffer count as zero
  EXPECT_EQ(readBigEndian(b, 0, 0), 0u);
}

TEST(ByteReads, LittleToBigEndianHex) {
  std::string out = "x";
  convertLitteToBigStringWithStr("0a0b0c", out, 6);
  EXPECT_EQ(out, "x0c0b0a");
  out.clear();
  convertLitteToBigStringWithStr("0a0b0c", out, 4);
  EXPECT_EQ(out, "0b0a");
  out.clear();
  convertLitteToBigStringWithStr("0a", out, 1);
  EXPECT_EQ(out, "");
  convertLitteToBigStringWithStr("0a", out, 40);  // never past the given text
  EXPECT_EQ(out, "0a");
}

// ---------------------------------------------------------------- codes and pages

TEST(SerialTypes, TwoByteVarint) {
  EXPECT_EQ(getAlterInteger(0x81, 0x05), 133);
  EXPECT_EQ(getAlterInteger(0x9f, 0x7f), 4095);
  EXPECT_EQ(getAlterInteger(0xa0, 0x00), 4096);
  EXPECT_EQ(getAlterInteger(0x80, 0x00), 0);
  EXPECT_EQ(getAlterInteger(0xbf, 0x7f), 0x3f * 128 + 0x7f);
  EXPECT_EQ(getAlterInteger(0xc0, 0x01), 0xc0 * 128 + 1);  // the leading 1 is kept
}

TEST(SerialTypes, ContentLengths) {
  const int64_t expected[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2};
  for (int64_t t = 0; t < 18; ++t) EXPECT_EQ(getFieldDataLengthBy(t), expected[t]) << t;
  EXPECT_EQ(getFieldDataLengthBy(0x55), 36);
  EXPECT_EQ(getFieldDataLengthBy(4095), 2041);
  EXPECT_EQ(getFieldDataLengthBy(4094), 2041);
  EXPECT_EQ(getFieldDataLengthBy(-3), 0);
}

TEST(Pages, KindsByFirstByte) {
  auto src = ByteSource::fromBytes({0x0d, 0x0d, 0x05, 0x00, 0x02, 0x0a, 0x01, 0xff});
  EXPECT_EQ(getPageType(src, 0), -1);  // offset 0 whatever it holds
  EXPECT_EQ(getPageType(src, 1), 1);
  EXPECT_EQ(getPageType(src, 2), 2);
  EXPECT_EQ(getPageType(src, 3), 2);
  EXPECT_EQ(getPageType(src, 4), 3);
  EXPECT_EQ(getPageType(src, 5), 4);
  EXPECT_EQ(getPageType(src, 6), -1);
  EXPECT_EQ(getPageType(src, 7), -1);
  EXPECT_EQ(getPageType(src, 8), 2);  // past the end: a zero byte
  EXPECT_EQ(getPageType(src, 1 << 20), 2);
  EXPECT_EQ(getPageType(ByteSource(), 1), -1);
  EXPECT_EQ(checkSQliteVersion(src, 4), 1);
  EXPECT_EQ(checkSQliteVersion(src, 5), 0);
}

TEST(Pages, GeometryFromHeader) {
  Bytes header(4096 * 3 + 100, 0);
  header[16] = 0x10;  // 4096
  header[17] = 0x00;
  header[18] = 2;
  auto g = readSqliteGeometry(ByteSource::fromBytes(header));
  EXPECT_EQ(g.pageSize, 4096u);
  EXPECT_EQ(g.pageCount, 3u);
  EXPECT_TRUE(g.walMode());
  EXPECT_EQ(g.pageOffset(2), 8192u);

  header[16] = 0;
  header[17] = 1;  // 65536 is written as 1
  header[18] = 1;
  g = readSqliteGeometry(ByteSource::fromBytes(header));
  EXPECT_EQ(g.pageSize, 65536u);
  EXPECT_EQ(g.pageCount, 0u);
  EXPECT_FALSE(g.walMode());

  g = readSqliteGeometry(ByteSource::fromBytes(Bytes(10, 0)));  // no page size: no pages
  EXPECT_EQ(g.pageSize, 0u);
  EXPECT_EQ(g.pageCount, 0u);
}

// ---------------------------------------------------------------- column readers

// A cell at offset 100: payload length, rowid, header length, codes, then contents.
struct Cell {
  static constexpr uint64_t kStart = 100;
  static constexpr uint64_t kHead = 3;
  Bytes codes;     // serial-type codes from column 0
  Bytes contents;  // column contents
  ByteSource source() const {
    Bytes cell = {0x40, 0x07, static_cast<uint8_t>(codes.size() + 1)};
    cell.insert(cell.end(), codes.begin(), codes.end());
    cell.insert(cell.end(), contents.begin(), contents.end());
    return sourceWith(kStart + cell.size() + 8, kStart, cell);
  }
  uint64_t codeBase() const { return kStart + kHead; }
  uint64_t L() const { return codes.size(); }
};

TEST(Columns, NumbersAreLow32BitsAsSignedDecimal) {
  Cell cell{{0x00, 0x01, 0x04, 0x06, 0x02, 0x05, 0x07},
            {0x7f,                                            // 1 byte
             0xff, 0xff, 0xff, 0xff,                          // 4 bytes
             0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05,  // 8 bytes
             0x01, 0x2c,                                      // 2 bytes
             0x00, 0x01, 0x80, 0x00, 0x00, 0x00,              // 6 bytes
             0x12, 0x34, 0x56, 0x78, 0x87, 0x65, 0x43, 0x21}};
  auto src = cell.source();
  uint64_t off = 0;
  EXPECT_EQ(AnalyseDBDataFile(src, 1, off, cell.codeBase(), cell.L()), "127");
  EXPECT_EQ(AnalyseDBDataFile(src, 2, off, cell.codeBase(), cell.L()), "-1");
  EXPECT_EQ(AnalyseDBDataFile(src, 3, off, cell.codeBase(), cell.L()), "5");
  EXPECT_EQ(AnalyseDBDataFile(src, 4, off, cell.codeBase(), cell.L()), "300");
  EXPECT_EQ(AnalyseDBDataFile(src, 5, off, cell.codeBase(), cell.L()), "-2147483648");
  EXPECT_EQ(AnalyseDBDataFile(src, 6, off, cell.codeBase(), cell.L()), "-2023406815");
  EXPECT_EQ(off, 29u);
}

TEST(Columns, ShortNegativeNumbersKeepTheirSign) {
  // One to three content bytes are two's complement, as SQLite writes them.
  Cell cell{{0x00, 0x01, 0x02, 0x03, 0x01, 0x03},
            {0xfb,                // -5
             0xff, 0x38,          // -200
             0xfe, 0x79, 0x60,    // -100000
             0x80,                // -128
             0x7f, 0xff, 0xff}};  // 8388607
  auto src = cell.source();
  uint64_t off = 0;
  for (auto [p, want] : {std::pair<uint64_t, const char*>{1, "-5"},
                         {2, "-200"},
                         {3, "-100000"},
                         {4, "-128"},
                         {5, "8388607"}}) {
    EXPECT_EQ(AnalyseDBDataFile(src, p, off, cell.codeBase(), cell.L()), want) << p;
  }
  EXPECT_EQ(serialIntegerLow32(0xfb, 1), -5);
  EXPECT_EQ(serialIntegerLow32(0xfffffffb, 4), -5);
  EXPECT_EQ(serialIntegerLow32(0xfb, 2), 251);
}

TEST(Columns, EmptyAndConstantTypesGiveNothingAndDoNotAdvance) {
  Cell cell{{0x00, 0x0c, 0x0d, 0x08, 0x09, 0x0a, 0x0f, 0x0e, 0x13}, {'A', 0xee, 'x', 'y', 'z'}};
  auto src = cell.source();
  uint64_t off = 0;
  for (uint64_t p : {0, 1, 2, 3, 4, 5}) {
    EXPECT_FALSE(AnalyseDBDataFile(src, p, off, cell.codeBase(), cell.L())) << p;
    EXPECT_EQ(off, 0u);
  }
  EXPECT_EQ(AnalyseDBDataFile(src, 6, off, cell.codeBase(), cell.L()), "A");     // 15: 1-byte text
  EXPECT_EQ(AnalyseDBDataFile(src, 7, off, cell.codeBase(), cell.L()), "\xee");  // 14: blob
  EXPECT_EQ(AnalyseDBDataFile(src, 8, off, cell.codeBase(), cell.L()), "xyz");   // 19: 3 chars
  EXPECT_EQ(off, 5u);
}

TEST(Columns, CellRelativeReadersMatchCodeBaseReaders) {
  Cell cell{{0x00, 0x17, 0x10, 0x01}, {'h', 'e', 'l', 'l', 'o', 0x00, 0x02, 0x09}};
  auto src = cell.source();
  uint64_t a = 0;
  uint64_t b = 0;
  for (uint64_t p = 1; p <= 3; ++p) {
    auto x = AnalyseDBDataFile(src, p, a, cell.codeBase(), cell.L());
    auto y = AnalyseTheDBDataFile(src, p, b, Cell::kStart, Cell::kHead, cell.L());
    EXPECT_EQ(x, y) << p;
  }
  EXPECT_EQ(a, 8u);
  EXPECT_EQ(b, 8u);
  uint64_t off = 5;  // the blob column: raw bytes, zero byte included
  EXPECT_EQ(AnalyseDBDataFile(src, 2, off, cell.codeBase(), cell.L()), std::string("\0\x02", 2));
}

TEST(Columns, TwoByteCodesShiftLaterColumns) {
  // Column 1: 60 characters of text (type 133 = 0x81 0x05); column 2: a 1-byte integer whose
  // code sits one place further on.
  Bytes text(60, 'q');
  Bytes contents = text;
  contents.push_back(42);
  Cell cell{{0x00, 0x81, 0x05, 0x01}, contents};
  auto src = cell.source();
  uint64_t off = 0;
  EXPECT_EQ(AnalyseAlterbleDB(src, 1, off, cell.codeBase(), cell.L()), std::string(60, 'q'));
  EXPECT_EQ(off, 60u);
  EXPECT_EQ(AnalyseDBDataFile(src, 3, off, cell.codeBase(), cell.L()), "42");
  EXPECT_EQ(off, 61u);

  off = 0;
  EXPECT_EQ(AnalyseAlterbleDBFile(src, 1, off, Cell::kStart, Cell::kHead, cell.L()),
            std::string(60, 'q'));
  EXPECT_EQ(off, 60u);
}

TEST(Columns, TwoByteTypeLimit) {
  Cell over{{0x00, 0xa0, 0x00}, {}};
  auto src = over.source();
  uint64_t off = 7;
  EXPECT_FALSE(AnalyseAlterbleDB(src, 1, off, over.codeBase(), over.L()));
  EXPECT_FALSE(AnalyseAlterbleDBFile(src, 1, off, Cell::kStart, Cell::kHead, over.L()));
  EXPECT_EQ(off, 7u);

  // 4095 is the largest accepted: 2041 bytes, running past the end of the file as zeros.
  Cell max{{0x00, 0x9f, 0x7f}, {'z'}};
  auto big = max.source();
  off = 0;
  auto value = AnalyseAlterbleDB(big, 1, off, max.codeBase(), max.L());
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), 2041u);
  EXPECT_EQ((*value)[0], 'z');
  EXPECT_EQ((*value)[2040], '\0');
  EXPECT_EQ(off, 2041u);

  // Two-byte numbers are copied raw, not formatted.
  Cell num{{0x00, 0x80, 0x01}, {0x41}};
  off = 0;
  EXPECT_EQ(AnalyseAlterbleDB(num.source(), 1, off, num.codeBase(), num.L()), "A");
  // Constants give nothing.
  Cell constant{{0x00, 0x80, 0x08}, {}};
  off = 0;
  EXPECT_FALSE(AnalyseAlterbleDB(constant.source(), 1, off, constant.codeBase(), constant.L()));
  EXPECT_EQ(off, 0u);
}

TEST(Columns, RealDatabaseRow) {
  auto dir =
      std::filesystem::temp_directory_path() / ("tamsel_primitives_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "t.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA page_size=1024;"
                         "CREATE TABLE t(id INTEGER PRIMARY KEY, a INTEGER, b TEXT, c BLOB);"
                         "INSERT INTO t VALUES(1, 300, 'hello', x'0102');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  std::string error;
  auto src = ByteSource::open(path, &error);
  ASSERT_TRUE(src.valid()) << error;
  auto g = readSqliteGeometry(src);
  EXPECT_EQ(g.pageSize, 1024u);
  EXPECT_EQ(g.pageCount, 2u);
  EXPECT_FALSE(g.walMode());
  const uint64_t page = g.pageOffset(1);
  EXPECT_EQ(getPageType(src, page), 1);
  const uint64_t cell = page + src.readBE(page + 8, 2);
  const uint64_t L = src.byteAt(cell + 2) - 1u;
  uint64_t off = 0;
  EXPECT_FALSE(AnalyseTheDBDataFile(src, 0, off, cell, 3, L));  // the primary key is NULL
  EXPECT_EQ(AnalyseTheDBDataFile(src, 1, off, cell, 3, L), "300");
  EXPECT_EQ(AnalyseTheDBDataFile(src, 2, off, cell, 3, L), "hello");
  EXPECT_EQ(AnalyseTheDBDataFile(src, 3, off, cell, 3, L), std::string("\x01\x02"));
  EXPECT_EQ(off, 9u);
  std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------- signatures

TEST(Signatures, PrefixPerKind) {
  EXPECT_EQ(bCheckDataIsValid(std::string_view("030912"), 1), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("0103"), 1), -1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("00110000"), 2), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("0001000000000155"), 3), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("0000000000000155"), 3), -1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("ffd8ffe0"), 4), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("ffd8ff"), 4), -1);  // prefix longer than text
  EXPECT_EQ(bCheckDataIsValid(std::string_view("01010101"), 5), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("01010101"), 6), 1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("0101"), 6), -1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("01010101"), 7), -1);
  EXPECT_EQ(bCheckDataIsValid(std::string_view(""), 1), 0);
  EXPECT_EQ(bCheckDataIsValid(std::string_view("01FF"), 1), -1);
}

TEST(Signatures, WindowStartsStopBeforeTheLastWindow) {
  // 28 characters, width 10: starts 0 to 17 are tried.
  std::string at17 = std::string(17, 'a') + "0101" + std::string(7, 'a');
  std::string at18 = std::string(18, 'a') + "0101" + std::string(6, 'a');
  ASSERT_EQ(at17.size(), 28u);
  ASSERT_EQ(at18.size(), 28u);
  EXPECT_EQ(bcheckSubStringIsValid(at17, 1, 10), 1);
  EXPECT_EQ(bcheckSubStringIsValid(at18, 1, 10), 0);
  EXPECT_EQ(bcheckSubStringIsValid(std::string_view("0101aaaaaa"), 1, 10), 0);  // exactly w
  EXPECT_EQ(bcheckSubStringIsValid(std::string_view("0101aaaaaaa"), 1, 10), 1);
  EXPECT_EQ(bcheckSubStringIsValid(std::string_view("0101"), 1, 10), 0);
  EXPECT_EQ(bcheckSubStringIsValid(std::string_view("0101aaaaaaa"), 9, 10), 0);
}

TEST(Signatures, NarrowWindowsNeverMatchLongPrefixes) {
  Bytes zeros(14, 0x00);
  EXPECT_EQ(bcheckSubStringIsValid(zeros, 4, 10), 0);
  EXPECT_EQ(bcheckSubStringIsValid(zeros, 4, 14), 1);
  std::string calendar = "0001000000000055ffffffff";
  EXPECT_EQ(bcheckSubStringIsValid(calendar, 3, 12), 0);
  EXPECT_EQ(bcheckSubStringIsValid(calendar, 3, 16), 1);
}

TEST(Signatures, WindowsMayBeginMidByte) {
  // Bytes a0 10 1a ...: "0101" begins at hex position 1.
  Bytes bytes = {0xa0, 0x10, 0x1a, 0xaa, 0xaa, 0xaa, 0xaa};
  EXPECT_EQ(bcheckSubStringIsValid(bytes, 1, 10), 1);
  EXPECT_EQ(bcheckSubStringIsValid(hexText(bytes), 1, 10), 1);
  auto src = sourceWith(64, 20, bytes);
  EXPECT_EQ(bcheckSubStringIsValid(src, 20, bytes.size(), 1, 10), 1);
  EXPECT_EQ(bcheckSubStringIsValid(src, 0, bytes.size(), 1, 10), 0);  // offset 0: nothing
  EXPECT_EQ(bCheckDataIsValid(bytes, 1), -1);
  EXPECT_EQ(bCheckDataIsValid(src, 21, 2, 1), -1);
  EXPECT_EQ(bCheckDataIsValid(Bytes{0x01, 0x09, 0x00}, 1), 1);

  Bytes chat = {0xf0, 0x60, 0x0f, 0xff};  // "0600" at position 1
  EXPECT_EQ(bcheckChatIOS6SubStringIsValid(chat, 4), 1);
  EXPECT_EQ(bcheckChatIOS6SubStringIsValid(hexText(chat), 4), 1);
  Bytes message = {0x08, 0x00, 0x01, 0x00, 0x11, 0xff};
  EXPECT_EQ(bcheckMessageIOS6SubStringIsValid(message, 10), 1);
  Bytes shifted = {0xf0, 0x80, 0x00, 0x10, 0x00, 0x0f};
  EXPECT_EQ(bcheckMessageIOS6SubStringIsValid(shifted, 10), 1);
  EXPECT_EQ(bcheckMessageIOS6SubStringIsValid(Bytes{0x08, 0x00, 0x01, 0x00, 0x12, 0xff}, 10), 0);
}

// The byte forms must agree with the hex-text definition everywhere.
TEST(Signatures, ByteFormsAgreeWithTextForms) {
  std::mt19937 rng(12345);
  // Bytes biased towards the values the prefixes use so that matches are frequent.
  const uint8_t pool[] = {0x00, 0x01, 0x02, 0x03, 0x08, 0x09, 0x10, 0x11, 0x80,
                          0x55, 0x06, 0x60, 0x0f, 0xf0, 0xff, 0xd8, 0xe0, 0x04};
  int matches = 0;
  for (int round = 0; round < 4000; ++round) {
    Bytes bytes(1 + rng() % 14);
    for (auto& b : bytes) b = pool[rng() % sizeof pool];
    std::string hex = hexText(bytes);
    auto src = sourceWith(64, 8, bytes);
    size_t width = 2 + rng() % 16;
    for (int kind = 0; kind <= 7; ++kind) {
      int t = bcheckSubStringIsValid(hex, kind, width);
      matches += t;
      ASSERT_EQ(bcheckSubStringIsValid(bytes, kind, width), t) << hex << " " << width;
      ASSERT_EQ(bcheckSubStringIsValid(src, 8, bytes.size(), kind, width), t) << hex;
      ASSERT_EQ(bCheckDataIsValid(bytes, kind), bCheckDataIsValid(hex, kind)) << hex;
      ASSERT_EQ(bCheckDataIsValid(src, 8, bytes.size(), kind), bCheckDataIsValid(hex, kind));
    }
    ASSERT_EQ(bcheckChatIOS6SubStringIsValid(bytes, width),
              bcheckChatIOS6SubStringIsValid(hex, width));
    ASSERT_EQ(bcheckMessageIOS6SubStringIsValid(bytes, width),
              bcheckMessageIOS6SubStringIsValid(hex, width));
  }
  EXPECT_GT(matches, 100);
}

TEST(Signatures, DeletedMarksPerKind) {
  struct Case {
    int kind;
    std::vector<uint8_t> lengths;
  };
  const Case cases[] = {{1, {0x09, 0x0a}},
                        {2, {0x13, 0x23, 0x22}},
                        {3, {0x20, 0x21, 0x22, 0x2a, 0x2b, 0x2c}},
                        {4, {0x23, 0x24, 0x25, 0x26}},
                        {5, {0x0c, 0x14, 0x19, 0x0d, 0x15, 0x1a}},
                        {6, {0x14, 0x15}},
                        {7, {0x20, 0x21, 0x22, 0x2a, 0x2b, 0x2c}}};
  for (const auto& c : cases) {
    for (int v = 0; v < 256; ++v) {
      auto src = sourceWith(16, 4, {static_cast<uint8_t>(v), 0x00, 0x77});
      bool listed =
          std::find(c.lengths.begin(), c.lengths.end(), static_cast<uint8_t>(v)) != c.lengths.end();
      ASSERT_EQ(getDeletedMark(src, 4, 2, c.kind), listed ? 1 : 0) << c.kind << " " << v;
      ASSERT_EQ(getDeletedMark(src, 4, 3, c.kind), listed ? 1 : 0);
    }
    auto notNull = sourceWith(16, 4, {c.lengths[0], 0x01});
    EXPECT_EQ(getDeletedMark(notNull, 4, 2, c.kind), 0);
  }
  auto src = sourceWith(16, 4, {0x09, 0x00});
  EXPECT_EQ(getDeletedMark(src, 4, 1, 1), 0);  // fewer than two bytes
  EXPECT_EQ(getDeletedMark(src, 4, 2, 0), 0);
  EXPECT_EQ(getDeletedMark(src, 4, 2, 8), 0);
  auto atStart = ByteSource::fromBytes({0x09, 0x00});
  EXPECT_EQ(getDeletedMark(atStart, 0, 2, 1), 0);
  auto atEnd = ByteSource::fromBytes({0x00, 0x09});  // the zero comes from past the end
  EXPECT_EQ(getDeletedMark(atEnd, 1, 2, 1), 1);
}

// ---------------------------------------------------------------- single-byte tests

TEST(ByteTests, RangesAndInequalities) {
  for (int v = 0; v < 256; ++v) {
    auto src = sourceWith(8, 3, {static_cast<uint8_t>(v)});
    ASSERT_EQ(bNoteAlter(src, 3), v >= 0x80 && v <= 0x89 ? 1 : 0) << v;
    ASSERT_EQ(bImageURLAlter(src, 3), v != 0x09 ? 1 : 0);
    ASSERT_EQ(IsAlterAboutContent(src, 3), v != 0x04 ? 1 : 0);
    ASSERT_EQ(ISAlterPropertFiled(src, 3), v >= 121 && v <= 136 ? 1 : 0);
    ASSERT_EQ(ISAlterMessageContentFiled(src, 3), v != 0x55 ? 1 : 0);
    ASSERT_EQ(AddressIsAlterbleDBFile(src, 3), 0);
    ASSERT_EQ(checkSQliteVersion(src, 3), v == 2 ? 1 : 0);
    ASSERT_EQ(bIsAlterbleDBFile(src, 3, 2), v >= 14 ? 1 : 0);
    ASSERT_EQ(bIsAlterbleDBFile(src, 3, 3), 0);
  }
}

TEST(ByteTests, StepsBackToZero) {
  auto src = ByteSource::fromBytes({0x53, 0x00, 0x07, 0x08, 0x09, 0x00});
  EXPECT_EQ(bSortAlter(src, 1), 0);
  EXPECT_EQ(bSortAlter(src, 5), 0);
  EXPECT_EQ(bSortAlter(src, 2), 1);
  EXPECT_EQ(bSortAlter(src, 4), 3);
  EXPECT_EQ(bSortAlter(src, 40), 0);  // past the end reads as zero
  auto noZero = ByteSource::fromBytes({0x53, 0x51, 0x4c});
  EXPECT_EQ(bSortAlter(noZero, 2), 2);  // stops at the start of the file
}

TEST(ByteTests, RunOfNonZeroBytes) {
  auto src = ByteSource::fromBytes({0x53, 0x01, 0x02, 0x03, 0x00, 0x04, 0x05});
  EXPECT_EQ(bIsAlterbleDBFile(src, 1, 6), 3);
  EXPECT_EQ(bIsAlterbleDBFile(src, 4, 6), 0);
  EXPECT_EQ(bIsAlterbleDBFile(src, 5, 6), 2);  // ends at the end of the file
  EXPECT_EQ(bIsAlterbleDBFile(src, 0, 6), 0);
}

TEST(ByteTests, HeaderLengthNearOffset) {
  // b zero: the byte before decides.
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x23, 0x00}), 5), 2);
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x12, 0x00}), 5), 1);
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x25, 0x00}), 5), 0);
  // b non-zero: the last non-zero byte before the next zero.
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x13, 0x00}), 4), 1);
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x01, 0x05, 0x24, 0x00}), 4), 2);
  EXPECT_EQ(GetFildLength(sourceWith(16, 4, {0x22, 0x05, 0x00}), 4), 0);
  EXPECT_EQ(GetFildLength(ByteSource::fromBytes({0x00, 0x01, 0x14}), 1), 1);  // ends at EOF
}

// ---------------------------------------------------------------- page text

TEST(PageText, PrintableBytesOnly) {
  Bytes page = {0x1f, 0x20, 0x7e, 0x7f, 0x80, 0xff, 'A', 0x00};
  EXPECT_EQ(GetLastPageStringWithChar(page), ". ~...A.");
  EXPECT_EQ(GetLastPageStringWithChar(Bytes(40, 'z')), std::string(40, 'z'));
}

TEST(PageText, NumberAfterName) {
  EXPECT_EQ(getNextSubStringInString("..JohnSmith555-1234 more..", "johnsmith"), "555-1234 ");
  // Runs to one before the end when no blank follows.
  EXPECT_EQ(getNextSubStringInString("....Bob999.", "BOB"), "999");
  // A candidate longer than 20 characters is passed over.
  std::string page = "Anna" + std::string(25, 'x') + " more Anna12345 tail.";
  EXPECT_EQ(getNextSubStringInString(page, "anna"), "12345 ");
  EXPECT_FALSE(getNextSubStringInString("Anna" + std::string(25, 'x') + " end", "anna"));
  EXPECT_FALSE(getNextSubStringInString("no name here at all", "zed"));
  EXPECT_FALSE(getNextSubStringInString("anything", ""));
  // A name as long as the page text minus one.
  EXPECT_EQ(getNextSubStringInString("abcdef", "abcde"), "abc");
  EXPECT_EQ(getNextSubStringInString("", "x"), "abc");
  // The match must lie before the last character.
  EXPECT_FALSE(getNextSubStringInString("......ab", "ab"));
}

}  // namespace
}  // namespace tamsel
