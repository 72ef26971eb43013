// The seven BlackBerry record decoders, fed with records built by the IPD fixture writer.
#include "blackberry/record_decoders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "blackberry/ipd_reader.h"
#include "events/notification_names.h"
#include "tests/fixtures/blackberry_collector.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "util/sha256.h"

namespace tamsel {
namespace {

using fixtures::byteField;
using fixtures::bytesField;
using fixtures::ByteVec;
using fixtures::encodeFields;
using fixtures::IpdField;
using fixtures::leField;
using fixtures::textField;

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // Keeps the encoded fields alive for the span the decoders see.
  IpdFieldBytes fields(const std::vector<IpdField>& f) {
    buffers_.push_back(encodeFields(f));
    return buffers_.back();
  }
  std::vector<ByteVec> buffers_;
};

// The bytes behind a reference, read back whole.
ByteVec bytesOf(const ByteRef& ref) {
  std::string error;
  auto bytes = ref.readAll(UINT64_MAX, &error);
  EXPECT_TRUE(bytes) << error;
  return bytes.value_or(ByteVec{});
}

// 2006-03-09 06:30:46 UTC, in milliseconds.
constexpr int64_t kMarch2006Millis = 1141885846260;

TEST_F(DecoderTest, ContactNamesAndPhoneListsArePrependedWithTrailingSpace) {
  auto c = decodeBlackBerryContact(fields({
      textField(32, "Ann"),
      textField(32, "Lee"),
      textField(6, "111"),
      textField(16, "222"),
      textField(8, "333"),
      textField(35, "1 Main St"),
      textField(36, "Flat 2"),
  }));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->contactName, "Lee Ann ");
  EXPECT_EQ(c->workCall, "222 111 ");
  EXPECT_EQ(c->mobilCall, "333 ");
  // The number list of the category updated last.
  EXPECT_EQ(c->phoneNumber, "333 ");
  EXPECT_EQ(c->address, "Flat 2 1 Main St ");

  auto home = decodeBlackBerryContact(fields({textField(8, "9"), textField(17, "555")}));
  EXPECT_EQ(home->homeCall, "555 ");
  EXPECT_EQ(home->phoneNumber, "555 ");
}

TEST_F(DecoderTest, PhoneNumberFollowsTheListUpdatedLast) {
  auto c = decodeBlackBerryContact(
      fields({textField(6, "1"), textField(8, "2"), textField(7, "3"), textField(16, "4")}));
  EXPECT_EQ(c->workCall, "4 1 ");
  EXPECT_EQ(c->mobilCall, "2 ");
  EXPECT_EQ(c->homeCall, "3 ");
  EXPECT_EQ(c->phoneNumber, "4 1 ");
  auto none = decodeBlackBerryContact(fields({textField(32, "Ann")}));
  EXPECT_EQ(none->phoneNumber, "");
}

// A hostile record can hold a great many prepended fields; each must cost the same, not
// grow with the text built so far (this record took tens of seconds when every prepend
// copied the whole text).
TEST_F(DecoderTest, ManyPrependedFieldsKeepTheirOrder) {
  constexpr int kCount = 120000;
  std::vector<IpdField> f;
  f.reserve(kCount);
  for (int i = 0; i < kCount; ++i) {
    f.push_back(textField(i % 2 ? 32 : 8, std::to_string(i % 10), false));
  }
  auto c = decodeBlackBerryContact(fields(f));
  ASSERT_EQ(c->contactName.size(), kCount);  // kCount / 2 digits, each with its space
  EXPECT_EQ(c->contactName.substr(0, 6), "9 7 5 ");
  EXPECT_EQ(c->contactName.substr(kCount - 6), "5 3 1 ");
  EXPECT_EQ(c->mobilCall.substr(0, 6), "8 6 4 ");
  EXPECT_EQ(c->phoneNumber, c->mobilCall);

  for (auto& field : f) field.type = field.type == 32 ? 111 : 114;
  auto m = decodeBlackBerryMMSMessage(fields(f));
  ASSERT_EQ(m->numberName.size(), 2u * kCount);
  EXPECT_EQ(m->numberName.substr(0, 6), "9 8 7 ");
  EXPECT_EQ(m->numberName.substr(2 * kCount - 6), "2 1 0 ");
}

TEST_F(DecoderTest, ContactSingleValueFieldsAndPicture) {
  ByteVec picture = {0xFF, 0xD8, 0xFF, 0x00, 0x10, 0x4A};
  auto c = decodeBlackBerryContact(fields({
      textField(1, "ann@example.org"), textField(10, "2100000A"), textField(33, "Acme"),
      textField(38, "Springfield"), textField(39, "Ontario"), textField(40, "K1A 0B1"),
      textField(41, "Canada"), textField(54, "example.org"), textField(55, "Engineer"),
      textField(59, "Business"), textField(64, "met at the fair"), bytesField(77, picture),
      textField(82, "1970-01-01"), textField(99, "ignored type"),
      textField(33, "Acme Two", false),  // without a zero byte: all D bytes are the text
  }));
  EXPECT_EQ(c->email, "ann@example.org");
  EXPECT_EQ(c->pinNumber, "2100000A");
  EXPECT_EQ(c->companyName, "Acme Two");
  EXPECT_EQ(c->city, "Springfield");
  EXPECT_EQ(c->provice, "Ontario");
  EXPECT_EQ(c->postZcode, "K1A 0B1");
  EXPECT_EQ(c->country, "Canada");
  EXPECT_EQ(c->webSite, "example.org");
  EXPECT_EQ(c->titleName, "Engineer");
  EXPECT_EQ(c->categories, "Business");
  EXPECT_EQ(c->note, "met at the fair");
  EXPECT_EQ(bytesOf(c->contactImageData), picture);
  EXPECT_EQ(c->brithday, "1970-01-01");
  EXPECT_EQ(c->contactName, "");
}

TEST_F(DecoderTest, InvalidUtf8TextIsEmpty) {
  auto c =
      decodeBlackBerryContact(fields({bytesField(1, {0xC3, 0x28, 0}), textField(38, "Zürich")}));
  EXPECT_EQ(c->email, "");
  EXPECT_EQ(c->city, "Zürich");
}

TEST_F(DecoderTest, ContactType5SkipsThreeExtraBytes) {
  // A type-5 field is followed by 3 bytes that are not a field.
  ByteVec f = encodeFields({bytesField(5, {0xAA, 0xBB})});
  f.insert(f.end(), {0x09, 0x00, 0x20});  // would read as a 9-byte name field if not skipped
  ByteVec rest = encodeFields({textField(32, "Kim"), textField(1, "kim@x.org")});
  f.insert(f.end(), rest.begin(), rest.end());
  auto c = decodeBlackBerryContact(f);
  EXPECT_EQ(c->contactName, "Kim ");
  EXPECT_EQ(c->email, "kim@x.org");

  // The calendar skips 7 for the same type; the address book's 3 do not apply there.
  ByteVec g = encodeFields({bytesField(5, {1})});
  g.insert(g.end(), {0x04, 0x00, 0x02, 'b', 'a', 'd', 0});
  ByteVec tail = encodeFields({textField(2, "Lunch")});
  g.insert(g.end(), tail.begin(), tail.end());
  auto cal = decodeBlackBerryCalender(g);
  EXPECT_EQ(cal->bbCalSubject, " Lunch");
}

TEST_F(DecoderTest, ContactWithNoFieldsPostsEmptyNodeAndKeepsCursor) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  fixtures::BlackBerryCollector got(nc);
  ByteSource src = ByteSource::fromBytes(ByteVec(32, 0xEE));
  uint64_t off = 20;
  EXPECT_TRUE(ScanBlackBerryContactwith(ctx, src, off, 7));
  EXPECT_EQ(off, 20u);
  ASSERT_EQ(got.contacts.size(), 1u);
  EXPECT_EQ(got.contacts[0]->contactName, "");
  EXPECT_EQ(got.contacts[0]->phoneNumber, "");
  EXPECT_TRUE(got.contacts[0]->contactImageData.empty());
}

TEST_F(DecoderTest, CallLogNameTypeAndNumber) {
  auto c = decodeBlackBerryCallLog(
      fields({textField(31, "Bob"), textField(12, "+15551234"), byteField(2, 1)}));
  EXPECT_EQ(c->CallName, " Bob");
  EXPECT_EQ(c->CallNumber, "+15551234");
  EXPECT_EQ(c->CallType, "Send");
  auto two = decodeBlackBerryCallLog(fields({textField(31, "Bob"), textField(55, "Smith")}));
  EXPECT_EQ(two->CallName, " Bob Smith");

  const char* expected[] = {"Recived", "Send", "UnKnown", "Cancel", "UnKnown"};
  for (uint8_t v = 0; v < 5; ++v) {
    EXPECT_EQ(decodeBlackBerryCallLog(fields({byteField(2, v)}))->CallType, expected[v]) << int(v);
  }
}

TEST_F(DecoderTest, CallDurationIsLittleEndianSeconds) {
  auto dur = [&](IpdField f) { return decodeBlackBerryCallLog(fields({f}))->callDuration; };
  EXPECT_EQ(dur(byteField(3, 75)), "1 minute");
  EXPECT_EQ(dur(byteField(3, 130)), "2 minutes");
  EXPECT_EQ(dur(byteField(3, 1)), "1 second");
  EXPECT_EQ(dur(byteField(3, 45)), "45 seconds");
  EXPECT_EQ(dur(leField(3, 3600, 2)), "1 hour");              // 10 0E
  EXPECT_EQ(dur(leField(3, 130, 4)), "2 minutes");            // 82 00 00 00
  EXPECT_EQ(dur(leField(3, 9000, 4)), "2 hours");             // 28 23 00 00
  EXPECT_EQ(dur(leField(3, 0xFFFFFFFF, 4)), "596523 hours");  // clamped, never negative
}

TEST_F(DecoderTest, CallTimeOfEightBytesIsMillisecondsSince1970) {
  auto t = decodeBlackBerryCallLog(fields({leField(4, kMarch2006Millis, 8)}));
  EXPECT_EQ(t->CallTime, "03-09-2006 06:30");
  // Other sizes are kept as text.
  auto text = decodeBlackBerryCallLog(fields({textField(4, "yesterday")}));
  EXPECT_EQ(text->CallTime, "yesterday");
}

TEST_F(DecoderTest, SmsDirectionDateNumberAndText) {
  auto in = decodeBlackBerrySMSMessage(fields({
      fixtures::smsMetaField(fixtures::kSmsIncoming, kMarch2006Millis),
      fixtures::smsNumberField("+8613725573137"),
      textField(4, "qwerty111", false),
  }));
  EXPECT_EQ(in->type, "Incoming");
  EXPECT_EQ(in->dateTime, "03-09-2006 06:30");
  EXPECT_EQ(in->numberString, "+8613725573137");
  EXPECT_EQ(in->contentText, "qwerty111");
  EXPECT_FALSE(in->isUncode);
  EXPECT_TRUE(in->contentData.empty());

  auto out = decodeBlackBerrySMSMessage(
      fields({fixtures::smsMetaField(fixtures::kSmsOutgoing, 0), textField(4, "hi")}));
  EXPECT_EQ(out->type, "outgoing");
  EXPECT_EQ(out->dateTime, "01-01-1970 00:00");

  // Other direction bytes leave the type alone; a number field of 4 bytes or less is empty.
  auto other = decodeBlackBerrySMSMessage(
      fields({bytesField(1, {7}), bytesField(2, {1, 2, 3, 4}), textField(4, "x")}));
  EXPECT_EQ(other->type, "");
  EXPECT_EQ(other->dateTime, "");
  EXPECT_EQ(other->numberString, "");
}

TEST_F(DecoderTest, SmsUtf16Bodies) {
  auto meta = fixtures::smsMetaField(fixtures::kSmsIncoming, kMarch2006Millis);
  // Not valid UTF-8 (byte-order mark FF FE): little-endian by the mark.
  auto le = decodeBlackBerrySMSMessage(
      fields({meta, fixtures::utf16Field(4, u"Hello", /*bigEndian=*/false, /*withBom=*/true)}));
  EXPECT_EQ(le->contentText, "Hello");
  auto be = decodeBlackBerrySMSMessage(
      fields({meta, fixtures::utf16Field(4, u"Hej \u00e5", true, true)}));
  EXPECT_EQ(be->contentText, "Hej å");
  // Without a mark the text up to the first zero byte is empty: big-endian UTF-16, cut at a
  // zero unit.
  auto plain = decodeBlackBerrySMSMessage(
      fields({meta, fixtures::utf16Field(4, std::u16string(u"Hi there") + u'\0', true, false)}));
  EXPECT_EQ(plain->contentText, "Hi there");
}

TEST_F(DecoderTest, SmsUcs2CodingByteDecodesBigEndianDirectly) {
  // 你好 as UTF-16BE is 4F 60 59 7D, which is also the valid UTF-8 text "O`Y}".
  auto body = fixtures::utf16Field(4, u"\u4f60\u597d", true, false);
  auto ucs2 = decodeBlackBerrySMSMessage(
      fields({fixtures::smsMetaField(fixtures::kSmsIncoming, 0, ipd::kSmsCodingUcs2), body}));
  EXPECT_EQ(ucs2->contentText, "你好");
  auto plain = decodeBlackBerrySMSMessage(
      fields({fixtures::smsMetaField(fixtures::kSmsIncoming, 0, 0), body}));
  EXPECT_EQ(plain->contentText, "O`Y}");
  // The coding byte counts even when the body comes before the metadata.
  auto later = decodeBlackBerrySMSMessage(
      fields({body, fixtures::smsMetaField(fixtures::kSmsIncoming, 0, ipd::kSmsCodingUcs2)}));
  EXPECT_EQ(later->contentText, "你好");
}

TEST_F(DecoderTest, MmsAttachmentKindAndNumbers) {
  auto m = decodeBlackBerryMMSMessage(fields({
      textField(111, "+1555"),
      textField(114, "+1666"),
      textField(103, "PHOTO.JPG"),
  }));
  EXPECT_EQ(m->numberName, "+1666 +1555 ");
  EXPECT_EQ(m->contentDataName, "PHOTO.JPG");
  EXPECT_EQ(m->contentType, "Image");
  EXPECT_EQ(m->contentText, "");

  auto kind = [&](const char* name) {
    return decodeBlackBerryMMSMessage(fields({textField(103, name)}))->contentType;
  };
  EXPECT_EQ(kind("clip.3gp"), "Video");
  EXPECT_EQ(kind("tone.mp3"), "Audio");
  EXPECT_EQ(kind("note.eml"), "Email");
  EXPECT_EQ(kind("pack.zip"), "Archive");
  EXPECT_EQ(kind("file.pdf"), "Document");
  EXPECT_EQ(kind("noext"), "");
  // An unknown suffix leaves the earlier kind.
  auto keep =
      decodeBlackBerryMMSMessage(fields({textField(103, "a.png"), textField(103, "b.qqqq")}));
  EXPECT_EQ(keep->contentDataName, "b.qqqq");
  EXPECT_EQ(keep->contentType, "Image");
}

TEST_F(DecoderTest, MmsContentAccumulation) {
  ByteVec nine(9, 0x41), five(5, 0x42), two = {1, 2};
  // 104 replaces; 105 appends once 2 bytes or more are held.
  auto m = decodeBlackBerryMMSMessage(
      fields({bytesField(104, five), bytesField(104, two), bytesField(105, five)}));
  ByteVec expect = two;
  expect.insert(expect.end(), five.begin(), five.end());
  EXPECT_EQ(bytesOf(m->contentData), expect);
  // A first 105 piece below 9 bytes is dropped; one of 9 bytes starts the data.
  auto small = decodeBlackBerryMMSMessage(fields({bytesField(105, five)}));
  EXPECT_TRUE(small->contentData.empty());
  auto big = decodeBlackBerryMMSMessage(fields({bytesField(105, nine), bytesField(105, five)}));
  EXPECT_EQ(big->contentData.size(), 14u);
}

// An MMS's typed text travels as a text attachment: the record's text is taken from it, so
// that the MMS table's text column and preview show it. Other attachments give none.
TEST_F(DecoderTest, MmsTextComesFromItsTextAttachment) {
  const std::string typed = "See you at eight ☺";
  const ByteVec piece(32 * 1024, 'x');
  const struct {
    const char* what;
    std::vector<IpdField> fields;
    std::string text;
  } cases[] = {
      {"UTF-8",
       {textField(111, "+1555"), textField(103, "Text.TXT"),
        bytesField(104, {typed.begin(), typed.end()})},
       typed},
      {"UTF-16", {textField(103, "a.txt"), bytesField(104, {0xFF, 0xFE, 'H', 0, 'i', 0})}, "Hi"},
      {"a picture", {textField(103, "a.png"), bytesField(104, {0x89, 'P', 'N', 'G'})}, ""},
      {"not UTF-8", {textField(103, "b.txt"), bytesField(104, {0xC3, 0x28})}, ""},
      // A field holds at most 65535 bytes: 64 KiB come in two pieces; more is not read.
      {"64 KiB",
       {textField(103, "c.txt"), bytesField(104, piece), bytesField(105, piece)},
       std::string(64 * 1024, 'x')},
      {"above 64 KiB",
       {textField(103, "c.txt"), bytesField(104, piece), bytesField(105, piece),
        bytesField(105, {'x'})},
       ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodeBlackBerryMMSMessage(fields(c.fields))->contentText, c.text) << c.what;
  }
}

TEST_F(DecoderTest, MemoAndCalendar) {
  auto n = decodeBlackBerryMemo(fields({textField(1, "Shopping"), textField(2, "milk, eggs")}));
  EXPECT_EQ(n->noteTittle, "Shopping");
  EXPECT_EQ(n->noteContent, "milk, eggs");
  auto c = decodeBlackBerryCalender(fields(
      {textField(2, "Team"), textField(2, "meeting"), textField(3, "Room 4"), textField(1, "x")}));
  EXPECT_EQ(c->bbCalSubject, " Team meeting");
  EXPECT_EQ(c->bbCalInformation, " Room 4");
}

// Appointment times are minutes since 1900 (UTC), 4 bytes little-endian.
ByteVec minutes1900(int64_t unixSeconds) {
  const auto m = static_cast<uint32_t>(unixSeconds / 60 + int64_t{25567} * 24 * 60);
  return {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), static_cast<uint8_t>(m >> 16),
          static_cast<uint8_t>(m >> 24)};
}

TEST_F(DecoderTest, CalendarLocationAndTimes) {
  const ByteVec start = minutes1900(1365066000);  // 04-04-2013 09:00 UTC
  const ByteVec end = minutes1900(1365069600);    // 04-04-2013 10:00 UTC
  struct Case {
    const char* what;
    ByteVec bytes;
    const char *location, *startDate, *endDate;
  };
  const ByteVec afterReminder =
      encodeFields({textField(2, "Dentist"), bytesField(5, {1, 2, 3, 4}), bytesField(6, start),
                    bytesField(7, end), textField(4, "Clinic")});
  const Case cases[] = {
      {"plain fields",
       encodeFields({textField(4, "Room 4"), bytesField(6, start), bytesField(7, end)}), "Room 4",
       "04-04-2013 09:00", "04-04-2013 10:00"},
      // The start stepped over after the reminder time is still read.
      {"start after a reminder", afterReminder, "Clinic", "04-04-2013 09:00", "04-04-2013 10:00"},
      {"zero and short times", encodeFields({bytesField(6, {0, 0, 0, 0}), bytesField(7, {1, 2})}),
       "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto cal = decodeBlackBerryCalender(c.bytes);
    EXPECT_EQ(cal->bbCalLocation, c.location);
    EXPECT_EQ(cal->bbCalStartDate, c.startDate);
    EXPECT_EQ(cal->bbCalEndDate, c.endDate);
  }
  EXPECT_EQ(decodeBlackBerryCalender(afterReminder)->bbCalSubject, " Dentist");
}

TEST_F(DecoderTest, ContentStoreDropRules) {
  EXPECT_FALSE(decodeBlackBerryContentStore(fields({textField(1, "/store/a.jpg")})));
  EXPECT_FALSE(decodeBlackBerryContentStore(
      fields({textField(1, "/store/a.jpg"), bytesField(7, ByteVec(5, 1))})));
  EXPECT_FALSE(decodeBlackBerryContentStore(fields({bytesField(7, {})})));

  ByteVec part1(1500, 0x11), part2(1000, 0x22);
  auto c = decodeBlackBerryContentStore(
      fields({textField(1, "/store/home/user/pictures/IMG_01.Jpeg"), bytesField(7, part1),
              bytesField(7, ByteVec(3, 0x33)), bytesField(7, part2)}));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->filePathName, "/store/home/user/pictures/IMG_01.Jpeg");
  EXPECT_EQ(c->ContentFileType, "Image");
  EXPECT_EQ(c->fileSize, 2503u);
  EXPECT_EQ(c->contentData.size(), 2503u);
  EXPECT_EQ(bytesOf(c->contentData)[1500], 0x33);
  EXPECT_EQ(c->contentFileSize, "2.50K");

  auto noName = decodeBlackBerryContentStore(fields({bytesField(7, ByteVec(9, 0))}));
  ASSERT_TRUE(noName);
  EXPECT_EQ(noName->ContentFileType, "");
  EXPECT_EQ(noName->contentFileSize, "9.00B");
}

// A crafted record of thousands of one-byte pieces must not cost 16 bytes of range per byte
// of content: such bytes are copied, and still read back identical.
TEST_F(DecoderTest, TinyPiecesAreCopiedRatherThanReferred) {
  std::vector<IpdField> fields = {textField(1, "/store/x.bin"), bytesField(7, ByteVec(9, 0xAB))};
  ByteVec expect(9, 0xAB);
  for (int i = 0; i < 3000; ++i) {
    fields.push_back(bytesField(7, {static_cast<uint8_t>(i)}));
    expect.push_back(static_cast<uint8_t>(i));
  }
  fixtures::IpdWriter w;
  w.addRecord(w.addDatabase("Content Store"), fields);
  testing::TempFolder t;
  w.writeFile(t.path() / "crafted.ipd");
  ByteSource src = ByteSource::open((t.path() / "crafted.ipd").string());
  NotificationCenter nc;
  ScanContext ctx(nc);
  fixtures::BlackBerryCollector got(nc);
  IpdReader reader(ctx);
  reader.scanBlackBerryBackUp(src);
  ASSERT_EQ(got.content.size(), 1u);
  const ByteRef& data = got.content[0]->contentData;
  EXPECT_TRUE(data.inMemory());
  EXPECT_EQ(bytesOf(data), expect);
}

TEST_F(DecoderTest, CursorAlwaysEndsAtRecordEndAndFieldsAreCutThere) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  fixtures::BlackBerryCollector got(nc);
  // One memo record whose second field claims 200 data bytes; the next record's bytes
  // follow and must not be read into it.
  ByteVec rec = encodeFields({textField(1, "Title")});
  rec.insert(rec.end(), {200, 0, 2, 'a', 'b'});
  const uint32_t R = static_cast<uint32_t>(7 + rec.size());
  ByteVec file(10, 0);
  file.insert(file.end(), rec.begin(), rec.end());
  ByteVec next = encodeFields({textField(2, "NEXT")});
  file.insert(file.end(), next.begin(), next.end());
  ByteSource src = ByteSource::fromBytes(file);
  uint64_t off = 10;
  EXPECT_TRUE(ScanBlackBerryMemoswith(ctx, src, off, R));
  EXPECT_EQ(off, 10 + R - 7);
  ASSERT_EQ(got.memos.size(), 1u);
  EXPECT_EQ(got.memos[0]->noteTittle, "Title");
  EXPECT_EQ(got.memos[0]->noteContent, "ab");
}

TEST_F(DecoderTest, EachDecoderPostsUnderItsName) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  fixtures::BlackBerryCollector got(nc);
  ByteVec body = encodeFields({textField(1, "x.png"), bytesField(7, ByteVec(12, 7))});
  ByteSource src = ByteSource::fromBytes(body);
  const auto R = static_cast<uint32_t>(7 + body.size());
  using K = ipd::DatabaseKind;
  for (K k : {K::kContacts, K::kCallLogs, K::kSms, K::kMms, K::kMemos, K::kCalendar,
              K::kContentStore, K::kUnknown}) {
    uint64_t off = 0;
    EXPECT_EQ(ScanBlackBerryRecordwith(k, ctx, src, off, R), k != K::kUnknown);
    EXPECT_EQ(off, body.size());
  }
  uint64_t off = 0;
  EXPECT_TRUE(ScanBlackBerryWinContentStorewith(ctx, src, off, R));
  std::vector<std::string> expect = {std::string(notify::kBlacBerryContactInfo),
                                     std::string(notify::kBlacBerryCallLogInfo),
                                     std::string(notify::kBlackBerrySMSMessageInfo),
                                     std::string(notify::kBlackBerryMMSMessageInfo),
                                     std::string(notify::kBlackBerryNoteInfo),
                                     std::string(notify::kBlackBerryCalenderInfo),
                                     std::string(notify::kBlackBerryContentStoreInfo),
                                     std::string(notify::kBlackBerryContentStoreInfo)};
  EXPECT_EQ(got.order, expect);
  EXPECT_TRUE(got.progress.empty());
}

// Byte fields of records read from a file refer to their bytes there: one range per piece
// (adjacent pieces would merge), nothing copied, and the bytes read back identical, whether
// the records fit the read window or are many times larger than it.
TEST_F(DecoderTest, ByteFieldsReferToTheFileAndReadBackIdentical) {
  ByteVec picture(40000), first(65535), second(65535), third(12345);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i >> 8);
  for (size_t i = 0; i < third.size(); ++i) third[i] = static_cast<uint8_t>(i * 13);
  ByteVec attachment = first;
  attachment.insert(attachment.end(), second.begin(), second.end());
  attachment.insert(attachment.end(), third.begin(), third.end());

  fixtures::IpdWriter w;
  const uint16_t contacts = w.addDatabase("Address Book - All");
  const uint16_t mms = w.addDatabase("MMS Messages");
  const uint16_t store = w.addDatabase("Content Store");
  w.addRecord(contacts, {textField(32, "Ann"), bytesField(77, picture)});
  w.addRecord(mms, {textField(103, "a.jpg"), bytesField(104, first), bytesField(105, second),
                    textField(111, "+1555"), bytesField(105, third)});
  w.addRecord(store, {textField(1, "/store/b.jpg"), bytesField(7, first), bytesField(7, second),
                      bytesField(7, third)});
  testing::TempFolder t;
  const auto path = t.path() / "backup.ipd";
  w.writeFile(path);

  for (size_t window : {size_t{4096}, ByteSource::kDefaultWindow}) {
    SCOPED_TRACE(window);
    std::string error;
    ByteSource src = ByteSource::open(path.string(), &error, window);
    ASSERT_TRUE(src.valid()) << error;
    NotificationCenter nc;
    ScanContext ctx(nc);
    fixtures::BlackBerryCollector got(nc);
    IpdReader reader(ctx);
    reader.scanBlackBerryBackUp(src);
    EXPECT_FALSE(reader.stats.truncated);
    ASSERT_EQ(got.contacts.size(), 1u);
    ASSERT_EQ(got.mms.size(), 1u);
    ASSERT_EQ(got.content.size(), 1u);

    const ByteRef& photo = got.contacts[0]->contactImageData;
    EXPECT_FALSE(photo.inMemory());
    EXPECT_EQ(photo.ranges().size(), 1u);
    EXPECT_EQ(bytesOf(photo), picture);
    for (const ByteRef* ref : {&got.mms[0]->contentData, &got.content[0]->contentData}) {
      EXPECT_FALSE(ref->inMemory());
      EXPECT_EQ(ref->ranges().size(), 3u);
      EXPECT_EQ(ref->size(), attachment.size());
      EXPECT_EQ(bytesOf(*ref), attachment);
      EXPECT_EQ(ref->sha256Hex(), sha256Hex(attachment));
    }
    EXPECT_EQ(got.content[0]->fileSize, attachment.size());
  }
}

}  // namespace
}  // namespace tamsel
