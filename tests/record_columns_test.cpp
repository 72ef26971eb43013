// The result tables' columns: the texts each record class shows and the keys its rows sort by.
#include "results/record_columns.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "util/byte_ref.h"

namespace tamsel {
namespace {

TEST(RecordColumnValues, DatesDurationsAndCase) {
  const struct {
    std::string_view text;
    std::optional<DateParts> date;
  } dates[] = {
      {"12-07-2026 10:15", DateParts{2026, 12, 7, 10, 15, 0}},
      {"2014-01-02 08:00:59", DateParts{2014, 1, 2, 8, 0, 59}},
      {"01-02-2014", DateParts{2014, 1, 2, 0, 0, 0}},
      {"13-01-2014 10:00", std::nullopt},  // no month 13
      {"not a date", std::nullopt},
      {"", std::nullopt},
      {"12-31", std::nullopt},
  };
  for (const auto& d : dates) EXPECT_EQ(parseDateText(d.text), d.date) << d.text;

  const struct {
    std::string_view text;
    std::optional<int64_t> seconds;
  } durations[] = {
      {"1 second", 1},    {"45 seconds", 45}, {"1 minute", 60},
      {"5 minutes", 300}, {"2 hours", 7200},  {"Missed", 0},
      {"", std::nullopt}, {"3 Days", 259200}, {"99999999999 hours", int64_t{2147483647} * 3600},
  };
  for (const auto& d : durations) EXPECT_EQ(parseDurationText(d.text), d.seconds) << d.text;

  EXPECT_EQ(foldCase("AbC-Z"), "abc-z");
  EXPECT_EQ(foldCase("\xC3\x89lise \xC3\x97"), "\xC3\xA9lise \xC3\x97");  // É folds, × stays
  EXPECT_EQ(foldCase("\xC3"), "\xC3");  // a cut sequence is left alone
}

// Each category's columns in order, with unique ids; those only phone records fill marked.
TEST(RecordColumns, EachCategoryListsItsColumns) {
  const struct {
    Category category;
    std::vector<std::string_view> titles;
    std::set<std::string_view> phoneOnly;
  } tables[] = {
      {Category::Photo, {"Name", "Type", "Size"}, {}},
      {Category::Contact, {"Name", "Company", "Mobile", "Email", "Deleted"}, {"Deleted"}},
      {Category::Message,
       {"Name", "Phone", "Type", "Date", "Content", "Deleted"},
       {"Contact", "Deleted"}},
      {Category::MMS, {"Number", "Attachment", "Type", "Text", "Size"}, {}},
      {Category::Note, {"Title", "Content", "Date", "Deleted"}, {"Date", "Deleted"}},
      {Category::CallHistory,
       {"Name", "Phone", "Type", "Duration", "Date", "Deleted"},
       {"Deleted"}},
      {Category::Calender,
       {"Subject", "Location", "Start", "End", "Information", "Deleted"},
       {"Deleted"}},
      {Category::BookMark, {"Title", "URL", "Deleted"}, {}},
      {Category::FaceTwitter, {"Name", "Size"}, {}},
      {Category::RawImage, {"Name", "Size", "Created", "Modified", "Deleted", "Validity"}, {}},
      {Category::RawDocument, {"Name", "Size", "Created", "Modified", "Deleted", "Validity"}, {}},
  };
  for (const auto& t : tables) {
    SCOPED_TRACE(static_cast<int>(t.category));
    std::vector<std::string_view> titles;
    std::set<std::string_view> ids, phoneOnly;
    for (const RecordColumn& c : recordColumns(t.category)) {
      titles.push_back(c.title);
      EXPECT_TRUE(ids.insert(c.id).second) << c.id;
      if (c.phoneOnly) phoneOnly.insert(c.id);
      EXPECT_EQ(findRecordColumn(t.category, c.id), &c);
    }
    EXPECT_EQ(titles, t.titles);
    EXPECT_EQ(phoneOnly, t.phoneOnly);
    EXPECT_EQ(findRecordColumn(t.category, kColumnTick), nullptr);
  }
}

// One record of each kind, read through the column of its table.
struct CellCase {
  const char* what;
  Category category;
  std::string_view column;
  std::shared_ptr<PRNode> record;
  std::string text;
  std::optional<ColumnSortKey> key;
};

template <class T>
std::shared_ptr<PRNode> make(const std::function<void(T&)>& fill) {
  auto r = std::make_shared<T>();
  fill(*r);
  return r;
}

TEST(RecordColumns, TextsAndSortKeysOfEachRecordClass) {
  using Key = std::optional<ColumnSortKey>;
  const Bytes attachment(2500, 'x');
  const CellCase cases[] = {
      {"content-store name: its last path component", Category::Photo, kColumnName,
       make<PRBlackBerryContentNode>([](auto& r) { r.filePathName = "/store/DCIM/Bee.JPG"; }),
       "Bee.JPG", Key(std::string("bee.jpg"))},
      {"content-store size: the byte count", Category::Photo, kColumnSize,
       make<PRBlackBerryContentNode>(
           [](auto& r) { r.contentFileSize = "2.50K", r.fileSize = 2500; }),
       "2.50K", Key(uint64_t{2500})},
      {"phone media size: read from its text", Category::Photo, kColumnSize,
       make<PRPhotoAndVideoNode>([](auto& r) { r.fileNodeSize = "1.50M"; }), "1.50M",
       Key(uint64_t{1500000})},
      {"phone media kind", Category::Photo, kColumnType,
       make<PRPhotoAndVideoNode>([](auto& r) { r.bmov = true; }), "Audio/Video",
       Key(std::string("audio/video"))},
      {"note title ignoring case", Category::Note, kColumnName,
       make<PRNoteNode>([](auto& r) { r.noteTitle = "\xC3\x89T\xC3\x89"; }), "\xC3\x89T\xC3\x89",
       Key(std::string("\xC3\xA9t\xC3\xA9"))},
      {"deleted phone contact", Category::Contact, kColumnDeleted,
       make<PRContactNode>([](auto& r) { r.bDeleted = true; }), "Yes", Key(int64_t{1})},
      {"live phone contact", Category::Contact, kColumnDeleted, make<PRContactNode>([](auto&) {}),
       "", Key(int64_t{0})},
      {"a BlackBerry contact has no deleted mark", Category::Contact, kColumnDeleted,
       make<PRBlackBerryContactNode>([](auto&) {}), "", std::nullopt},
      {"message date", Category::Message, kColumnDate,
       make<PRMessageNode>([](auto& r) { r.messageDate = "04-02-2014 10:15"; }), "04-02-2014 10:15",
       Key(DateParts{2014, 4, 2, 10, 15, 0})},
      {"SMS date that is no date", Category::Message, kColumnDate,
       make<PRBlackBerrySMSMessageNode>([](auto& r) { r.dateTime = "unknown"; }), "unknown",
       std::nullopt},
      {"empty text has no key", Category::Message, kColumnContent,
       make<PRBlackBerrySMSMessageNode>([](auto&) {}), "", std::nullopt},
      {"MMS attachment size", Category::MMS, kColumnSize,
       make<PRBlackBerryMMSMessageNode>(
           [&](auto& r) { r.contentData = ByteRef::fromBytes(Bytes(attachment)); }),
       "2.50K", Key(uint64_t{2500})},
      {"MMS without attachment", Category::MMS, kColumnSize,
       make<PRBlackBerryMMSMessageNode>([](auto&) {}), "", std::nullopt},
      {"phone call length in seconds", Category::CallHistory, kColumnDuration,
       make<PRCallHistoryNode>([](auto& r) { r.callTime = 150, r.callDuration = "2 minutes"; }),
       "2 minutes", Key(int64_t{150})},
      {"BlackBerry call length from its text", Category::CallHistory, kColumnDuration,
       make<PRBlackBerryCallNode>([](auto& r) { r.callDuration = "1 hour"; }), "1 hour",
       Key(int64_t{3600})},
      {"calendar start", Category::Calender, kColumnDate,
       make<PRCalenderNode>([](auto& r) { r.startDate = "09-04-2013 12:26"; }), "09-04-2013 12:26",
       Key(DateParts{2013, 9, 4, 12, 26, 0})},
      {"BlackBerry calendar end", Category::Calender, "End",
       make<PRBlackBerryCalenderNode>([](auto& r) { r.bbCalEndDate = "04-03-2013 10:00"; }),
       "04-03-2013 10:00", Key(DateParts{2013, 4, 3, 10, 0, 0})},
      {"card file size: the whole length", Category::RawVideo, kColumnSize,
       make<PRScanListNode>(
           [](auto& r) { r.nodeSizeString = "5.00G", r.fileSizeNumber = 5000000123; }),
       "5.00G", Key(uint64_t{5000000123})},
      {"card file modified", Category::RawImage, kColumnModified,
       make<PRScanListNode>([](auto& r) { r.modifyTime = "12-07-2026 09:05"; }), "12-07-2026 09:05",
       Key(DateParts{2026, 12, 7, 9, 5, 0})},
      {"card file from a deleted entry", Category::RawImage, kColumnDeleted,
       make<PRScanListNode>([](auto& r) { r.bDeleted = "Yes"; }), "Yes", Key(int64_t{1})},
      {"card file from a live entry", Category::RawImage, kColumnDeleted,
       make<PRScanListNode>([](auto&) {}), "", std::nullopt},
      {"a record of another table", Category::RawImage, kColumnName,
       make<PRContactNode>([](auto& r) { r.contactName = "Ann"; }), "", std::nullopt},
  };
  for (const CellCase& c : cases) {
    SCOPED_TRACE(c.what);
    const RecordColumn* col = findRecordColumn(c.category, c.column);
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->text(*c.record), c.text);
    EXPECT_EQ(col->sortKey(*c.record), c.key);
  }
}

}  // namespace
}  // namespace tamsel
