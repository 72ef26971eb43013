#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "results/rtf_controller.h"
#include "results/vcf_controller.h"
#include "tests/fixtures/temp_folder.h"
#include "util/base64.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

std::string encode(std::string_view s, bool padded = true) {
  std::string out(16, '?');
  size_t n = baseEncode(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out.data(),
                        out.size(), kBase64Alphabet, padded);
  out.resize(n);
  return out;
}

size_t countCrLf(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < s.size(); ++i) n += s[i] == '\r' && s[i + 1] == '\n';
  return n;
}

TEST(Base64, EncodesWholeGroupsAndPadsTheRest) {
  EXPECT_EQ(encode("abc"), "YWJj");
  EXPECT_EQ(encode("abcd"), "YWJjZA==");
  EXPECT_EQ(encode("abcde"), "YWJjZGU=");
  EXPECT_EQ(encode("abcd", false), "YWJjZA");
  EXPECT_EQ(encode("ab", false), "YWI");
  EXPECT_EQ(encode("\xFF\xFE\xFD"), "//79");
  EXPECT_EQ(base64Encode(std::vector<uint8_t>{0, 0, 0, 0}), "AAAAAA==");
}

TEST(Base64, RefusesMissingBuffersAndShortDestinations) {
  char dest[8];
  const uint8_t src[] = {1, 2, 3, 4};
  EXPECT_EQ(baseEncode(src, 0, dest, sizeof dest, kBase64Alphabet, true), 0u);
  EXPECT_EQ(baseEncode(nullptr, 3, dest, sizeof dest, kBase64Alphabet, true), 0u);
  EXPECT_EQ(baseEncode(src, 3, nullptr, 8, kBase64Alphabet, true), 0u);
  EXPECT_EQ(baseEncode(src, 4, dest, 7, kBase64Alphabet, true), 0u);
  EXPECT_EQ(baseEncode(src, 4, dest, 8, kBase64Alphabet, true), 8u);
}

TEST(RtfController, EntriesAreFollowedByTwoLineFeeds) {
  TempFolder t;
  PRRtfController rtf;
  rtf.addRtfContent("A");
  rtf.addRtfContent("B; \\ {not rtf}");
  auto p = rtf.writeRtfInPath(t.path(), "Note");
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, t.path() / "Notes.txt");
  EXPECT_EQ(readWholeFile(*p), "A\n\nB; \\ {not rtf}\n\n");
  EXPECT_EQ(rtf.content(), "A\n\nB; \\ {not rtf}\n\n");  // kept after writing
}

TEST(RtfController, EveryTypeHasItsFileAndAnEmptyBufferGivesAnEmptyFile) {
  TempFolder t;
  for (const char* type :
       {"Contact", "Message", "CallHistory", "Note", "BookMark", "Calendar&Reminder", "contact"}) {
    PRRtfController rtf;
    ASSERT_TRUE(rtf.writeRtfInPath(t.path(), type));
  }
  EXPECT_EQ(listTree(t.path()),
            (std::set<std::string>{"Contacts.txt", "Messages.txt", "CallHistory.txt", "Notes.txt",
                                   "BookMark.txt", "Calendar&Reminder.txt", "TXT.txt"}));
  EXPECT_EQ(readWholeFile(t.path() / "Contacts.txt"), "");
}

TEST(RtfController, AnExistingReportIsKeptAndTheNewOneWrittenBesideIt) {
  TempFolder t;
  writeWholeFile(t.path() / "Contacts.txt", "from an earlier run\n\n");
  PRRtfController rtf;
  rtf.addRtfContent("new");
  auto p = rtf.writeRtfInPath(t.path(), "Contact");
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, t.path() / "Contacts (2).txt");
  EXPECT_EQ(readWholeFile(t.path() / "Contacts.txt"), "from an earlier run\n\n");
  EXPECT_EQ(readWholeFile(*p), "new\n\n");
  EXPECT_EQ(listTree(t.path()), (std::set<std::string>{"Contacts.txt", "Contacts (2).txt"}));
  EXPECT_FALSE(rtf.writeRtfInPath(t.path() / "missing", "Contact"));
}

PRBlackBerryContactNode sampleContact() {
  PRBlackBerryContactNode c;
  c.contactName = "Lee Ann ";
  c.titleName = "Manager";
  c.companyName = "ACME, Inc.";
  c.email = "ann@example.com";
  c.homeCall = "555-1000 ";
  c.workCall = "555-2000 ";
  c.mobilCall = "555-3000 ";
  c.address = "1 Main St ";
  c.city = "Springfield";
  c.webSite = "http://example.com/a;b";
  c.pinNumber = "2A3B4C5D";
  c.brithday = "1980-01-02";
  c.note = "line1\r\nline2\nback\\slash";
  return c;
}

const char kSampleCardBody[] =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "N:Lee Ann \r\n"
    "FN:Lee Ann \r\n"
    "TITLE:Manager\r\n"
    "ORG:ACME\\, Inc.\r\n"
    "EMAIL;INTERNET;EMAIL;PREF:ann@example.com\r\n"
    "item1.ADR;type=ADR;type=pref:;;1 Main St  Springfield   \r\n"
    "TEL;HOME:555-1000 \r\n"
    "TEL;WORK:555-2000 \r\n"
    "TEL;CELL:555-3000 \r\n"
    "item1.URL;type=pref:http://example.com/a\\;b\r\n"
    "item1.PIN;type=pref:2A3B4C5D\r\n"
    "item1.BIRTHDAY;type=pref:1980-01-02\r\n"
    "item1.NOTE;type=pref:line1\\nline2\\nback\\\\slash\r\n";

TEST(VcfController, CardWithoutPhotoIsExactlyTheSpecifiedLines) {
  TempFolder t;
  PRVCFController vcf;
  auto p = vcf.creatFile(sampleContact(), t.path() / "Lee Ann .vcf");
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, t.path() / "Lee Ann .vcf");
  std::string card = readWholeFile(*p);
  EXPECT_EQ(card, std::string(kSampleCardBody) + "END:VCARD");
  EXPECT_EQ(countCrLf(card), 15u);
  EXPECT_EQ(std::count(card.begin(), card.end(), '\n'), 15);  // no bare line feeds
}

TEST(VcfController, PhotoIsOneBase64LineTypedJpeg) {
  TempFolder t;
  PRBlackBerryContactNode c = sampleContact();
  c.contactImageData = ByteRef::fromBytes({'a', 'b', 'c'});
  PRVCFController vcf;
  auto p = vcf.creatFile(c, t.path() / "x.vcf");
  ASSERT_TRUE(p);
  std::string card = readWholeFile(*p);
  EXPECT_EQ(card,
            std::string(kSampleCardBody) + "PHOTO;ENCODING=b;TYPE=JPEG:YWJj\r\n" + "END:VCARD");
  EXPECT_EQ(countCrLf(card), 16u);

  c.contactImageData = ByteRef::fromBytes({0x89, 'P', 'N', 'G'});
  std::string png = vcf.buildCard(c);
  EXPECT_NE(png.find("\r\nPHOTO;ENCODING=b;TYPE=JPEG:iVBORw==\r\nEND:VCARD"), std::string::npos);

  // A long picture stays on one unfolded line.
  c.contactImageData = ByteRef::fromBytes(Bytes(3000, 0x41));
  std::string big = vcf.buildCard(c);
  EXPECT_EQ(countCrLf(big), 16u);
  std::string run;
  for (int i = 0; i < 1000; ++i) run += "QUFB";
  EXPECT_NE(big.find("PHOTO;ENCODING=b;TYPE=JPEG:" + run + "\r\nEND:VCARD"), std::string::npos);
}

TEST(VcfController, NamelessCardUsesTheCompanyForFnAndEmptyValuesKeepTheirLines) {
  PRBlackBerryContactNode c;
  c.companyName = "ACME";
  PRVCFController vcf;
  EXPECT_EQ(vcf.buildCard(c),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:\r\nFN:ACME\r\nTITLE:\r\nORG:ACME\r\n"
            "EMAIL;INTERNET;EMAIL;PREF:\r\nitem1.ADR;type=ADR;type=pref:;;    \r\n"
            "TEL;HOME:\r\nTEL;WORK:\r\nTEL;CELL:\r\nitem1.URL;type=pref:\r\n"
            "item1.PIN;type=pref:\r\nitem1.BIRTHDAY;type=pref:\r\nitem1.NOTE;type=pref:\r\n"
            "END:VCARD");
  // The same controller writes the next card from nothing.
  c.contactName = "Bo";
  std::string second = vcf.buildCard(c);
  EXPECT_EQ(second.find("BEGIN:VCARD"), 0u);
  EXPECT_NE(second.find("\r\nN:Bo\r\nFN:Bo\r\nTITLE:\r\nORG:ACME\r\n"), std::string::npos);
}

TEST(VcfController, EscapesTextValues) {
  EXPECT_EQ(PRVCFController::escapeValue("a,b;c\\d\re\nf\r\ng"), "a\\,b\\;c\\\\d\\ne\\nf\\ng");
  EXPECT_EQ(PRVCFController::escapeValue("plain text: ok"), "plain text: ok");
}

TEST(VcfController, CardsOfEqualNamesDoNotReplaceEachOther) {
  TempFolder t;
  PRBlackBerryContactNode a;
  a.contactName = "Bob";
  a.email = "first@example.com";
  PRBlackBerryContactNode b;
  b.contactName = "Bob";
  b.email = "second@example.com";
  PRVCFController vcf;
  auto p1 = vcf.creatFile(a, t.path() / "Bob.vcf");
  auto p2 = vcf.creatFile(b, t.path() / "Bob.vcf");
  ASSERT_TRUE(p1 && p2);
  EXPECT_EQ(*p2, t.path() / "Bob (2).vcf");
  EXPECT_NE(readWholeFile(*p1).find("first@example.com"), std::string::npos);
  EXPECT_NE(readWholeFile(*p2).find("second@example.com"), std::string::npos);
  EXPECT_FALSE(vcf.creatFile(a, fs::path()));
  EXPECT_EQ(listTree(t.path()), (std::set<std::string>{"Bob.vcf", "Bob (2).vcf"}));
}

}  // namespace
}  // namespace tamsel
