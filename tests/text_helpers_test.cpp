// Text from stored bytes, and the contact name lookup by phone number.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events/name_lookup.h"
#include "util/text.h"

namespace tamsel {
namespace {

std::vector<uint8_t> bytesOf(std::string_view s) {
  return {s.begin(), s.end()};
}

// ---------------------------------------------------------------- GetStringFormChar

TEST(StoredText, StopsAtTheFirstZeroByte) {
  auto bytes = bytesOf(std::string("Hello\0World", 11));
  EXPECT_EQ(GetStringFormChar(bytes), "Hello");
  EXPECT_EQ(GetStringFormChar(std::span<const uint8_t>()), "");
}

TEST(StoredText, UnterminatedBytesAreNotReadPast) {
  // Exactly sized heap buffers: an over-read would be reported by the address checker.
  auto text = bytesOf("caf\xc3\xa9");
  EXPECT_EQ(GetStringFormChar(text), "caf\xc3\xa9");
  auto cut = bytesOf("ab\xc3");  // a multi-byte sequence cut by the end of the field
  EXPECT_EQ(GetStringFormChar(cut), "");
  char32_t units[8];
  EXPECT_EQ(Char2Unicode(cut, units, 8), 0u);
}

TEST(StoredText, InvalidUtf8GivesTheEmptyText) {
  // "Grüße" in an 8-bit code page.
  EXPECT_EQ(GetStringFormChar(bytesOf("Gr\xfc\xdf"
                                      "e")),
            "");
  EXPECT_EQ(GetStringFormChar(bytesOf("\xc0\xaf")), "");          // overlong "/"
  EXPECT_EQ(GetStringFormChar(bytesOf("\xed\xa0\x80")), "");      // surrogate
  EXPECT_EQ(GetStringFormChar(bytesOf("\xf4\x90\x80\x80")), "");  // above U+10FFFF
  EXPECT_EQ(GetStringFormChar(bytesOf("\x80")), "");
  // Invalid bytes after the first zero do not matter.
  EXPECT_EQ(GetStringFormChar(bytesOf(std::string("ok\0\xff", 4))), "ok");
}

TEST(StoredText, FourByteCharactersSurvive) {
  EXPECT_EQ(GetStringFormChar(bytesOf("\xf0\x9f\x98\x80!")), "\xf0\x9f\x98\x80!");
}

TEST(StoredText, Char2UnicodeFillsAtMostCountUnits) {
  char32_t units[4] = {U'x', U'x', U'x', U'x'};
  EXPECT_EQ(Char2Unicode(bytesOf("a\xc3\xa9"), units, 4), 2u);
  EXPECT_EQ(units[0], U'a');
  EXPECT_EQ(units[1], U'\u00e9');
  EXPECT_EQ(units[2], U'\0');
  EXPECT_EQ(units[3], U'\0');  // cleared first

  char32_t small[2];
  EXPECT_EQ(Char2Unicode(bytesOf("abcdef"), small, 2), 2u);
  EXPECT_EQ(small[0], U'a');
  EXPECT_EQ(small[1], U'b');

  char32_t bad[3] = {U'x', U'x', U'x'};
  EXPECT_EQ(Char2Unicode(bytesOf("\xff"), bad, 3), 0u);
  EXPECT_EQ(bad[0], U'\0');
}

TEST(StoredText, WideTextToString) {
  EXPECT_FALSE(GetNSStringDate(nullptr));
  const char32_t wide[] = {U'0', U'1', U'-', U'\u00e9', U'\U0001F600', U'\0', U'z'};
  EXPECT_EQ(GetNSStringDate(wide), "01-\xc3\xa9\xf0\x9f\x98\x80");
}

// ---------------------------------------------------------------- UTF-16

TEST(Utf16, ByteOrderMarkDecidesAndIsDropped) {
  std::vector<uint8_t> be = {0xFE, 0xFF, 0x00, 'H', 0x00, 'i'};
  std::vector<uint8_t> le = {0xFF, 0xFE, 'H', 0x00, 'i', 0x00};
  EXPECT_EQ(utf16ToUtf8(be, false), "Hi");
  EXPECT_EQ(utf16ToUtf8(le, true), "Hi");
}

TEST(Utf16, WithoutMarkTheDefaultOrderHolds) {
  std::vector<uint8_t> be = {0x00, 'A', 0x00, 0xE9};
  EXPECT_EQ(utf16ToUtf8(be, true), "A\xc3\xa9");
  std::vector<uint8_t> le = {'A', 0x00, 0xE9, 0x00};
  EXPECT_EQ(utf16ToUtf8(le, false), "A\xc3\xa9");
}

TEST(Utf16, SurrogatesAndOddLengths) {
  // U+1F600 as a pair, then an unpaired high surrogate, then an odd trailing byte.
  std::vector<uint8_t> bytes = {0xD8, 0x3D, 0xDE, 0x00, 0xD8, 0x00, 0x00, 'x', 0x41};
  EXPECT_EQ(utf16ToUtf8(bytes, true),
            "\xf0\x9f\x98\x80\xef\xbf\xbd"
            "x");
  std::vector<uint8_t> lowAlone = {0xDC, 0x00};
  EXPECT_EQ(utf16ToUtf8(lowAlone, true), "\xef\xbf\xbd");
  std::vector<uint8_t> highAtEnd = {0xD8, 0x00};
  EXPECT_EQ(utf16ToUtf8(highAtEnd, true), "\xef\xbf\xbd");
  EXPECT_EQ(utf16ToUtf8(std::span<const uint8_t>(), true), "");
}

// ---------------------------------------------------------------- name lookup

std::shared_ptr<PRContactNode> contact(std::string name, std::string phones) {
  auto c = std::make_shared<PRContactNode>();
  c->contactName = std::move(name);
  c->contactPhone = std::move(phones);
  return c;
}

TEST(NameLookup, PunctuatedNumberMatchesStoredDigits) {
  std::vector<std::shared_ptr<PRContactNode>> contacts = {
      contact("Nobody", ""),
      contact("Alice", " 4155550100 4155550199"),  // as stored: blank-separated, leading blank
  };
  EXPECT_EQ(getNameByPhoneNumber(contacts, "(415) 555-0199"), "Alice");
  EXPECT_EQ(getNameByPhoneNumber(contacts, "415-555-0100"), "Alice");
  EXPECT_FALSE(getNameByPhoneNumber(contacts, "(415) 555-0142"));
}

TEST(NameLookup, StoredNumbersAreNormalisedToo) {
  std::vector<std::shared_ptr<PRContactNode>> contacts = {contact("Bob", " +1 (212) 555-0123")};
  EXPECT_EQ(getNameByPhoneNumber(contacts, "+12125550123"), "Bob");
}

TEST(NameLookup, ShortNumberMatchesFirstContactContainingIt) {
  std::vector<std::shared_ptr<PRContactNode>> contacts = {
      contact("First", " 0207 946 0000"),
      contact("Second", " 911"),
      contact("Third", " 5550911"),
  };
  EXPECT_EQ(getNameByPhoneNumber(contacts, "911"), "Second");
  contacts.insert(contacts.begin(), contact("Zero", " 99112"));
  EXPECT_EQ(getNameByPhoneNumber(contacts, "911"), "Zero");
}

TEST(NameLookup, ChatAddressesIgnoreCase) {
  std::vector<std::shared_ptr<PRContactNode>> contacts = {
      contact("Carol", " Carol.Smith@Example.com")};
  EXPECT_EQ(getNameByPhoneNumber(contacts, "carol.smith@example.COM"), "Carol");
}

TEST(NameLookup, NothingForEmptyInputs) {
  std::vector<std::shared_ptr<PRContactNode>> none;
  EXPECT_FALSE(getNameByPhoneNumber(none, "123"));
  std::vector<std::shared_ptr<PRContactNode>> contacts = {contact("Dan", " 123")};
  EXPECT_FALSE(getNameByPhoneNumber(contacts, ""));
  EXPECT_FALSE(getNameByPhoneNumber(contacts, " - ( ) "));  // empty once normalised
  EXPECT_FALSE(getNameByPhoneNumber(contacts, "1234"));     // longer than any stored number
  EXPECT_EQ(normalisePhoneNumber("(0) 12-34 "), "01234");
}

}  // namespace
}  // namespace tamsel
