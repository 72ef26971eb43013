#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "events/notification_names.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"

namespace tamsel {
namespace {

using fakes::FakeResultHost;
using fakes::FakeResultView;

struct Selection : ::testing::Test {
  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  PRResultViewController pr{nc, view, host};

  template <class T>
  std::shared_ptr<T> post(std::string_view name, std::shared_ptr<T> rec) {
    nc.post(name, std::shared_ptr<PRNode>(rec));
    return rec;
  }
  std::vector<std::shared_ptr<PRBlackBerryCallNode>> calls(int n) {
    std::vector<std::shared_ptr<PRBlackBerryCallNode>> out;
    for (int i = 0; i < n; ++i) {
      auto c = std::make_shared<PRBlackBerryCallNode>();
      c->CallName = "c" + std::to_string(i);
      out.push_back(post(notify::kBlacBerryCallLogInfo, c));
    }
    return out;
  }
  std::string names(Category table) {
    std::string out;
    for (const auto& r : view.tableRows[table]) {
      if (auto p = std::dynamic_pointer_cast<PRPhotoAndVideoNode>(r)) out += p->fileNodeName + ",";
    }
    return out;
  }
  template <class T, class F>
  std::string listed(Category c, F field) {
    std::string out;
    for (const auto& r : pr.displayList(c)) out += std::invoke(field, dynamic_cast<T&>(*r)) + ",";
    return out;
  }
};

TEST_F(Selection, TickingTicksEverySelectedRowAndCountsChangesOnly) {
  auto rec = calls(5);
  pr.actCallHistory();
  pr.tableViewSelectionDidChange({1, 2, 4});
  pr.tableViewSetObjectValue(1, 2);
  EXPECT_TRUE(rec[1]->bSelected && rec[2]->bSelected && rec[4]->bSelected);
  EXPECT_FALSE(rec[0]->bSelected || rec[3]->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 3);
  EXPECT_EQ(view.text(ResultField::selecteFilelab), "You select 3 files in the recovery results.");
  EXPECT_TRUE(view.fieldVisible(ResultField::selecteFilelab));
  EXPECT_TRUE(view.buttonEnabled(ResultButton::save));

  pr.tableViewSetObjectValue(1, 4);  // already ticked: no change
  EXPECT_EQ(pr.selectedFilesNum(), 3);

  pr.tableViewSetObjectValue(1, 0);  // a row outside the selection becomes the selection
  EXPECT_EQ(pr.selectedRows(), std::vector<int>{0});
  EXPECT_EQ(view.tableSelection[Category::CallHistory], std::vector<int>{0});
  EXPECT_EQ(pr.selectedFilesNum(), 4);

  pr.tableViewSelectionDidChange({0, 1, 2, 4});
  pr.tableViewSetObjectValue(0, 1);
  EXPECT_EQ(pr.selectedFilesNum(), 0);
  EXPECT_FALSE(view.fieldVisible(ResultField::selecteFilelab));
  EXPECT_FALSE(view.buttonEnabled(ResultButton::save));

  pr.tableViewSelectionDidChange({3});
  pr.tableViewSetObjectValue(1, 3);
  EXPECT_EQ(view.text(ResultField::selecteFilelab), "You select 1 files in the recovery results.");
}

TEST_F(Selection, MmsTicks) {
  auto mms =
      post(notify::kBlackBerryMMSMessageInfo, std::make_shared<PRBlackBerryMMSMessageNode>());
  pr.actMMSMessage();
  pr.tableViewSetObjectValue(1, 0);
  EXPECT_TRUE(mms->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 1);
}

// A maker of records of class T, each with its own text in `field`.
template <class T>
std::function<std::shared_ptr<PRNode>(int)> withText(std::string T::*field) {
  return [field](int i) {
    auto r = std::make_shared<T>();
    (*r).*field = "r" + std::to_string(i);
    return r;
  };
}

// Each phone category shows its records, ticks all of them with select-all, counts each once
// for the recovery, and (where records can arrive deleted) filters the deleted ones.
TEST(PhoneCategories, ShowTickCountAndFilterTheirRecords) {
  struct Case {
    Category category;
    std::string_view live, deleted;  // notification names; no deleted one: ""
    std::function<std::shared_ptr<PRNode>(int)> make;
  };
  const Case cases[] = {
      {Category::Photo, notify::kScanPhotoAndVideo, "",
       withText(&PRPhotoAndVideoNode::fileNodeName)},
      {Category::Contact, notify::kScanContactInfo, notify::kScanDelContactInfo,
       withText(&PRContactNode::contactName)},
      {Category::Message, notify::kScanMessageInfo, notify::kScanDelMessageInfo,
       withText(&PRMessageNode::messagePhone)},
      {Category::Note, notify::kScanNoteInfo, notify::kScanDelNoteInfo,
       withText(&PRNoteNode::noteContent)},
      {Category::CallHistory, notify::kScanCallHistoryInfo, notify::kScanDelCallHistoryInfo,
       withText(&PRCallHistoryNode::callPhone)},
      {Category::BookMark, notify::kScanBookMarkInfo, notify::kScanDelBookMarkInfo,
       withText(&PRBookMarkNode::bookMarkURL)},
      {Category::Calender, notify::kScanCalenderInfo, notify::kScanDelCalenderInfo,
       withText(&PRCalenderNode::calTitle)},
      {Category::FaceTwitter, notify::kScanFaceTwitterInfo, "",
       withText(&PRFaceTwitterNode::faceTwitterFileName)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.category));
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    PRResultViewController pr{nc, view, host};
    pr.showView();
    nc.post(c.live, c.make(0));
    nc.post(c.live, c.make(1));
    if (!c.deleted.empty()) nc.post(c.deleted, c.make(2));
    const size_t n = c.deleted.empty() ? 2 : 3;
    pr.ScanThreadFinish();
    EXPECT_TRUE(view.categoryEnabled(c.category));
    pr.showCategory(c.category);
    ASSERT_EQ(view.tableRows[c.category].size(), n);
    pr.ClickSelectAll(true);
    EXPECT_TRUE(pr.selectAllFlag(c.category));
    EXPECT_EQ(pr.selectedFilesNum(), static_cast<int>(n));
    EXPECT_EQ(countTickedRecords(pr.snapshot(), false), static_cast<int>(n));
    if (!c.deleted.empty()) {
      pr.actCheck(true);
      ASSERT_EQ(view.tableRows[c.category].size(), 1u);
      EXPECT_TRUE(pr.tableViewWillDisplayCell(c.category, 0).warning);
      EXPECT_EQ(pr.selectPhoneRecords(c.category, false, true), -1);
    }
    EXPECT_EQ(pr.selectPhoneRecords(c.category, false, false), -2);  // the two live ones left
    EXPECT_EQ(countTickedRecords(pr.snapshot(), false), 0);
  }
}

TEST_F(Selection, SelectAllCountsOnlyChangedTicksAndKeepsTheFlag) {
  auto rec = calls(10);
  for (int i = 0; i < 4; ++i) rec[i]->bSelected = true;
  pr.actCallHistory();
  pr.ClickSelectAll(true);
  EXPECT_EQ(pr.selectedFilesNum(), 6);  // 4 were counted by nobody; only changes count
  EXPECT_TRUE(pr.selectAllFlag(Category::CallHistory));
  pr.ClickSelectAll(false);
  EXPECT_EQ(pr.selectedFilesNum(), -4);
  EXPECT_FALSE(pr.selectAllFlag(Category::CallHistory));

  // The flag comes back on the checkbox when the category is shown again.
  pr.ClickSelectAll(true);
  pr.actNote();
  EXPECT_FALSE(view.checkState(ResultCheck::selectAll));
  pr.ClickSelectAll(true);  // empty category: its flag stays as it was
  EXPECT_FALSE(pr.selectAllFlag(Category::Note));
  pr.actCallHistory();
  EXPECT_TRUE(view.checkState(ResultCheck::selectAll));

  // A new scan clears every flag.
  pr.showView();
  EXPECT_FALSE(pr.selectAllFlag(Category::CallHistory));
  EXPECT_EQ(pr.selectedFilesNum(), 0);
}

TEST_F(Selection, SelectAllOfTenWithFourTickedThroughTicking) {
  calls(10);
  pr.actCallHistory();
  pr.tableViewSelectionDidChange({0, 1, 2, 3});
  pr.tableViewSetObjectValue(1, 0);
  ASSERT_EQ(pr.selectedFilesNum(), 4);
  pr.ClickSelectAll(true);
  EXPECT_EQ(pr.selectedFilesNum(), 10);
  pr.ClickSelectAll(false);
  EXPECT_EQ(pr.selectedFilesNum(), 0);
}

TEST_F(Selection, SelectAllByCategoryForTheWriters) {
  for (int i = 0; i < 3; ++i) {
    auto s = std::make_shared<PRScanListNode>();
    s->fileType = "Document";
    post(notify::kBlackBerryRawRecoveryFileInfo, s);
  }
  EXPECT_EQ(pr.selectAll(Category::RawDocument, true), 3);
  EXPECT_EQ(pr.selectAll(Category::RawDocument, true), 0);
  EXPECT_EQ(pr.selectAll(Category::RawImage, true), 0);
  EXPECT_FALSE(pr.selectAllFlag(Category::RawImage));
  EXPECT_EQ(pr.selectedFilesNum(), 3);
  for (const auto& s : pr.snapshot().bbDocumentArray) EXPECT_TRUE(s->bSelected);
}

TEST_F(Selection, DeletedOnlyFilterKeepsListOrderAndColoursDeletedRows) {
  for (int i = 0; i < 7; ++i) {
    auto m = std::make_shared<PRMessageNode>();
    m->messagePhone = std::to_string(i);
    m->messageName = "m" + std::to_string(i);
    // Rows 2 and 5 arrive as deleted records.
    post(i == 2 || i == 5 ? notify::kScanDelMessageInfo : notify::kScanMessageInfo, m);
  }
  pr.actMessage();
  EXPECT_EQ(pr.displayList(Category::Message).size(), 7u);
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 2).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 3).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 7).warning);  // past the end
  EXPECT_EQ(pr.tableViewWillDisplayCell(Category::Message, 0).font, "Lucida Grande");
  EXPECT_EQ(pr.tableViewWillDisplayCell(Category::Message, 0).pointSize, 11);

  pr.actCheck(true);
  EXPECT_EQ((listed<PRMessageNode>(Category::Message, &PRMessageNode::messageName)), "m2,m5,");
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 0).warning);
  EXPECT_TRUE(view.fieldVisible(ResultField::messagePhone));
  pr.actCheck(false);
  EXPECT_EQ((listed<PRMessageNode>(Category::Message, &PRMessageNode::messageName)),
            "m0,m1,m2,m3,m4,m5,m6,");

  // No deleted notes: the note preview fields hide.
  post(notify::kScanNoteInfo, std::make_shared<PRNoteNode>());
  pr.actNote();
  pr.actCheck(true);
  EXPECT_TRUE(pr.displayList(Category::Note).empty());
  EXPECT_FALSE(view.fieldVisible(ResultField::noteTitle));
  EXPECT_FALSE(view.fieldVisible(ResultField::noteContent));
}

TEST_F(Selection, PhotoNameSortIsNumericAndTogglesAndTickColumnNeverSorts) {
  for (const char* n : {"10.jpg", "9.jpg", "100.jpg", "abc.png"}) {
    auto p = std::make_shared<PRPhotoAndVideoNode>();
    p->fileNodeName = n;
    post(notify::kScanPhotoAndVideo, p);
  }
  pr.actPhoto();
  auto order = [&] {
    return listed<PRPhotoAndVideoNode>(Category::Photo, &PRPhotoAndVideoNode::fileNodeName);
  };
  pr.tableViewDidClickTableColumn(kColumnTick);
  EXPECT_EQ(order(), "10.jpg,9.jpg,100.jpg,abc.png,");
  pr.tableViewDidClickTableColumn(kColumnName);
  EXPECT_EQ(order(), "abc.png,9.jpg,10.jpg,100.jpg,");  // no leading digits counts as 0
  pr.tableViewDidClickTableColumn(kColumnName);
  EXPECT_EQ(order(), "100.jpg,10.jpg,9.jpg,abc.png,");
  pr.tableViewDidClickTableColumn("Kind");  // other photo columns: nothing
  EXPECT_EQ(order(), "100.jpg,10.jpg,9.jpg,abc.png,");
}

TEST_F(Selection, PhotoSizeSortReadsUnits) {
  for (const char* s : {"1.50M", "999.00B", "2.00K", "1.00G", ""}) {
    auto p = std::make_shared<PRPhotoAndVideoNode>();
    p->fileNodeName = s;
    p->fileNodeSize = s;
    post(notify::kScanPhotoAndVideo, p);
  }
  pr.actPhoto();
  pr.tableViewDidClickTableColumn(kColumnSize);
  EXPECT_EQ((listed<PRPhotoAndVideoNode>(Category::Photo, &PRPhotoAndVideoNode::fileNodeSize)),
            ",999.00B,2.00K,1.50M,1.00G,");
}

TEST_F(Selection, NameOrderIsSharedAndCallDatesSortAsDates) {
  for (auto [name, date, phone] :
       {std::tuple{"bo", "12-31-2013 23:59", "+1 2"}, std::tuple{"Al", "01-02-2014 08:00", "+1 3"},
        std::tuple{"al", "01-01-2014 09:30", "+1 1"}}) {
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callName = name;
    c->callDate = date;
    c->callPhone = name;
    post(notify::kScanCallHistoryInfo, c);
    auto k = std::make_shared<PRContactNode>();
    k->contactName = name;
    k->contactPhone = phone;
    post(notify::kScanContactInfo, k);
  }
  pr.actContact();
  // The phone column sorts by the numbers (and flips the order names share).
  pr.tableViewDidClickTableColumn(kColumnPhone);
  EXPECT_EQ((listed<PRContactNode>(Category::Contact, &PRContactNode::contactName)), "al,bo,Al,");
  EXPECT_EQ(view.sortIndicators[Category::Contact], std::make_pair(std::string("Phone"), true));
  pr.actCallHistory();
  pr.tableViewDidClickTableColumn(kColumnName);  // the shared name order flips to descending
  EXPECT_EQ((listed<PRCallHistoryNode>(Category::CallHistory, &PRCallHistoryNode::callName)),
            "bo,al,Al,");
  pr.tableViewDidClickTableColumn(kColumnDate);
  EXPECT_EQ((listed<PRCallHistoryNode>(Category::CallHistory, &PRCallHistoryNode::callName)),
            "bo,al,Al,");
  pr.tableViewDidClickTableColumn(kColumnDate);
  EXPECT_EQ((listed<PRCallHistoryNode>(Category::CallHistory, &PRCallHistoryNode::callName)),
            "Al,al,bo,");
}

// Years too large for any calendar must not overflow the date comparison.
TEST_F(Selection, CallDateSortSurvivesHugeYears) {
  for (auto [name, date] :
       {std::pair{"far", "01-01-999999999 10:00"}, std::pair{"now", "01-01-2014 10:00"},
        std::pair{"big", "999999999-12-31 23:59:59"},
        std::pair{"old", "12-31-1999 999999999:999999999"}}) {
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callName = name;
    c->callDate = date;
    c->callPhone = name;
    post(notify::kScanCallHistoryInfo, c);
  }
  pr.actCallHistory();
  pr.tableViewDidClickTableColumn(kColumnDate);
  EXPECT_EQ((listed<PRCallHistoryNode>(Category::CallHistory, &PRCallHistoryNode::callName)),
            "old,now,far,big,");
}

// One text per row of what a table shows, whatever the record class.
std::string shownNames(const ResultRows& rows) {
  std::string out;
  for (const auto& r : rows) {
    if (auto* c = dynamic_cast<PRBlackBerryCallNode*>(r.get())) out += c->CallName;
    if (auto* c = dynamic_cast<PRBlackBerryContactNode*>(r.get())) out += c->contactName;
    if (auto* c = dynamic_cast<PRBlackBerrySMSMessageNode*>(r.get())) out += c->contentText;
    if (auto* c = dynamic_cast<PRBlackBerryMMSMessageNode*>(r.get())) out += c->contentText;
    if (auto* c = dynamic_cast<PRBlackBerryContentNode*>(r.get())) out += c->ContentFileType;
    if (auto* c = dynamic_cast<PRBlackBerryNoteNode*>(r.get())) out += c->noteContent;
    if (auto* c = dynamic_cast<PRScanListNode*>(r.get())) out += c->nodeName;
    if (auto* c = dynamic_cast<PRMessageNode*>(r.get())) out += c->messageName;
    out += ",";
  }
  return out;
}

struct SortCase {
  const char* what;
  Category table;
  std::string_view column;
  std::function<void(NotificationCenter&)> post;
  const char* ascending;   // the rows after one click on the column
  const char* descending;  // after a second click
};

template <class T>
void postAll(NotificationCenter& nc, std::string_view name,
             std::vector<std::function<void(T&)>> fills) {
  for (const auto& fill : fills) {
    auto rec = std::make_shared<T>();
    fill(*rec);
    nc.post(name, std::shared_ptr<PRNode>(rec));
  }
}

// Each BlackBerry and raw table sorts the rows it shows by the column clicked.
TEST(BlackBerrySorting, TheShownTableSortsByNameNumberDateOrSize) {
  using Call = PRBlackBerryCallNode;
  using Sms = PRBlackBerrySMSMessageNode;
  using Content = PRBlackBerryContentNode;
  using Found = PRScanListNode;
  auto calls = [](NotificationCenter& nc) {
    postAll<Call>(nc, notify::kBlacBerryCallLogInfo,
                  {[](Call& c) {
                     c.CallName = "bo", c.CallTime = "12-31-2013 23:59", c.CallType = "Outgoing";
                     c.callDuration = "2 minutes";
                   },
                   [](Call& c) {
                     c.CallName = "Al", c.CallTime = "01-02-2014 08:00", c.CallType = "Incoming";
                     c.callDuration = "45 seconds";
                   },
                   [](Call& c) {
                     c.CallName = "cy", c.CallTime = "01-01-2014 09:30", c.CallType = "missed";
                     c.callDuration = "1 hour";
                   }});
  };
  auto sms = [](NotificationCenter& nc) {
    postAll<Sms>(
        nc, notify::kBlackBerrySMSMessageInfo,
        {[](Sms& m) { m.contentText = "b", m.numberString = "2", m.dateTime = "02-01-2014 10:00"; },
         [](Sms& m) { m.contentText = "a", m.numberString = "3", m.dateTime = "01-01-2015 10:00"; },
         [](Sms& m) { m.contentText = "c", m.numberString = "1", m.dateTime = "not a date"; }});
  };
  auto contents = [](NotificationCenter& nc) {
    postAll<Content>(
        nc, notify::kBlackBerryContentStoreInfo,
        {[](Content& c) { c.ContentFileType = "x", c.filePathName = "/a/zz.jpg", c.fileSize = 30; },
         [](Content& c) {
           c.ContentFileType = "y", c.filePathName = "/z/aa.jpg", c.fileSize = 2000;
         },
         [](Content& c) {
           c.ContentFileType = "z", c.filePathName = "/m/mm.jpg", c.fileSize = 1;
         }});
  };
  auto images = [](NotificationCenter& nc) {
    postAll<Found>(nc, notify::kBlackBerryRawRecoveryFileInfo,
                   {[](Found& f) {
                      f.fileType = "Image", f.nodeName = "b.jpg";
                      f.fileSizeNumber = 7;
                    },
                    [](Found& f) {
                      f.fileType = "Image", f.nodeName = "a.jpg";
                      f.fileSizeNumber = 9;
                    },
                    [](Found& f) {
                      f.fileType = "Image", f.nodeName = "c.jpg";
                      f.fileSizeNumber = 8;
                    }});
  };
  const SortCase cases[] = {
      {"calls by name", Category::CallHistory, kColumnName, calls, "Al,bo,cy,", "cy,bo,Al,"},
      {"calls by date", Category::CallHistory, kColumnDate, calls, "bo,cy,Al,", "Al,cy,bo,"},
      {"calls by type, ignoring case", Category::CallHistory, "Type", calls, "Al,cy,bo,",
       "bo,cy,Al,"},
      {"calls by duration in seconds", Category::CallHistory, "Duration", calls, "Al,bo,cy,",
       "cy,bo,Al,"},
      {"SMS by number", Category::Message, kColumnPhone, sms, "c,b,a,", "a,b,c,"},
      {"SMS by date, no date last", Category::Message, kColumnDate, sms, "b,a,c,", "a,b,c,"},
      {"content store by size", Category::Photo, kColumnSize, contents, "z,x,y,", "y,x,z,"},
      {"content store by file name", Category::Photo, kColumnName, contents, "y,z,x,", "x,z,y,"},
  };
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.what);
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    PRResultViewController pr{nc, view, host};
    c.post(nc);
    pr.showCategory(c.table);
    pr.tableViewDidClickTableColumn(c.column);
    EXPECT_EQ(shownNames(view.tableRows[c.table]), c.ascending);
    EXPECT_EQ(view.tableSelection[c.table], std::vector<int>{0});
    pr.tableViewDidClickTableColumn(c.column);
    EXPECT_EQ(shownNames(view.tableRows[c.table]), c.descending);
  }

  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  host.raw = true;
  host.fileBytes = Bytes(16, 0);  // what the image preview of row 0 reads
  PRResultViewController pr{nc, view, host};
  images(nc);
  pr.ClickBBImage();
  auto names = [&] { return shownNames(view.tableRows[Category::RawImage]); };
  pr.tableViewDidClickTableColumn(kColumnSize);
  EXPECT_EQ(names(), "b.jpg,c.jpg,a.jpg,");
  pr.tableViewDidClickTableColumn(kColumnName);
  EXPECT_EQ(names(), "a.jpg,b.jpg,c.jpg,");
}

// A table shows the BlackBerry records and the phone-backup ones of its category as one
// list: the deleted-only filter, the warning colour and the phone sort rules act on it.
TEST_F(Selection, FilterColourAndSortActOnTheListOnScreen) {
  for (const char* text : {"s1", "s2"}) {
    auto s = std::make_shared<PRBlackBerrySMSMessageNode>();
    s->contentText = text;
    post(notify::kBlackBerrySMSMessageInfo, s);
  }
  for (int i = 0; i < 4; ++i) {
    auto m = std::make_shared<PRMessageNode>();
    m->messagePhone = std::to_string(i);
    m->messageName = "m" + std::to_string(3 - i);
    post(i % 2 == 1 ? notify::kScanDelMessageInfo : notify::kScanMessageInfo, m);
  }
  pr.actMessage();
  EXPECT_EQ(shownNames(view.tableRows[Category::Message]), "s1,s2,m3,m2,m1,m0,");
  std::vector<bool> warning;
  for (int row = 0; row < 6; ++row) {
    warning.push_back(pr.tableViewWillDisplayCell(Category::Message, row).warning);
  }
  EXPECT_EQ(warning, (std::vector<bool>{false, false, false, true, false, true}));

  pr.actCheck(true);
  EXPECT_EQ(shownNames(view.tableRows[Category::Message]), "m2,m0,");
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 0).warning);
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 1).warning);
  EXPECT_EQ(view.tableSelection[Category::Message], std::vector<int>{0});

  pr.actCheck(false);
  // Phone messages sort by name; the SMS rows have no name and go last.
  pr.tableViewDidClickTableColumn("Contact");
  EXPECT_EQ(shownNames(view.tableRows[Category::Message]), "m0,m1,m2,m3,s1,s2,");
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 0).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 1).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 4).warning);
}

// Columns beyond the name, size and date ones sort by their own values (a phone call's
// length in seconds, the deleted mark): ascending first, reversed by a second click, ties in
// their former order, rows without a value last; the header shows the mark.
TEST_F(Selection, EveryColumnSortsByItsOwnValueAndTheHeaderShowsIt) {
  for (auto [name, seconds, duration, deleted] :
       {std::tuple{"a", 61, "1 minute", false}, std::tuple{"b", 5, "5 seconds", true},
        std::tuple{"c", 600, "10 minutes", false}, std::tuple{"d", -1, "", true}}) {
    auto r = std::make_shared<PRCallHistoryNode>();
    r->callName = r->callPhone = name;
    r->callTime = seconds;
    r->callDuration = duration;
    post(deleted ? notify::kScanDelCallHistoryInfo : notify::kScanCallHistoryInfo, r);
  }
  // The names in row order, then the header's mark ("+" ascending).
  auto state = [&] {
    const auto& [column, ascending] = view.sortIndicators[Category::CallHistory];
    return listed<PRCallHistoryNode>(Category::CallHistory, &PRCallHistoryNode::callName) + " " +
           column + (ascending ? "+" : "-");
  };
  auto click = [&](std::string_view column) {
    pr.tableViewDidClickTableColumn(column);
    return state();
  };
  pr.actCallHistory();
  EXPECT_EQ(state(), "a,b,c,d, +");
  EXPECT_EQ(click("Duration"), "b,a,c,d, Duration+");
  EXPECT_EQ(view.tableSelection[Category::CallHistory], std::vector<int>{0});
  EXPECT_EQ(click("Duration"), "c,a,b,d, Duration-");
  EXPECT_EQ(click("Deleted"), "c,a,b,d, Deleted+");  // another column starts ascending
  EXPECT_EQ(click("Deleted"), "b,d,c,a, Deleted-");
  // The tick column and unknown columns change neither the rows nor the mark.
  EXPECT_EQ(click(kColumnTick), "b,d,c,a, Deleted-");
  EXPECT_EQ(click("Kind"), "b,d,c,a, Deleted-");
  // The deleted-only filter and a category switch show the list order again, unmarked.
  pr.actCheck(true);
  EXPECT_EQ(state(), "b,d, +");
  pr.tableViewDidClickTableColumn("Deleted");
  pr.actCallHistory();
  EXPECT_EQ(state(), "a,b,c,d, +");
}

// Card dates sort as dates across years (as texts 01-02-2026 would come first); the filter
// box narrows the sorted rows, ticks reach the records on those rows, and a second click
// reverses the rows shown and those the box hides alike.
TEST_F(Selection, CardDatesSortChronologicallyAndFilterAndTicksFollowTheOrder) {
  host.raw = true;
  host.fileBytes = Bytes(16, 0);  // what the image preview of row 0 reads
  std::map<std::string, std::shared_ptr<PRScanListNode>> files;
  for (auto [name, created] :
       {std::pair{"x1.jpg", "12-07-2025 10:00"}, std::pair{"x2.jpg", "01-02-2026 09:00"},
        std::pair{"y3.jpg", "02-01-2025 23:59"}, std::pair{"x4.jpg", ""}}) {
    auto f = std::make_shared<PRScanListNode>();
    f->fileType = "Image";
    f->nodeName = name;
    f->createTime = created;
    f->fileSizeNumber = 1;
    files[name] = post(notify::kBlackBerryRawRecoveryFileInfo, f);
  }
  auto order = [&] {
    return listed<PRScanListNode>(Category::RawImage, &PRScanListNode::nodeName);
  };
  pr.ClickBBImage();
  pr.tableViewDidClickTableColumn("Created");
  EXPECT_EQ(order(), "y3.jpg,x1.jpg,x2.jpg,x4.jpg,");
  pr.setSearchText("x");
  EXPECT_EQ(order(), "x1.jpg,x2.jpg,x4.jpg,");
  pr.tableViewSelectionDidChange({1});
  pr.tableViewSetObjectValue(1, 1);
  EXPECT_TRUE(files["x2.jpg"]->bSelected);
  EXPECT_FALSE(files["x1.jpg"]->bSelected || files["y3.jpg"]->bSelected);
  pr.tableViewDidClickTableColumn("Created");
  EXPECT_EQ(order(), "x2.jpg,x1.jpg,x4.jpg,");
  pr.setSearchText("");
  EXPECT_EQ(order(), "x2.jpg,x1.jpg,y3.jpg,x4.jpg,");
  EXPECT_EQ(view.sortIndicators[Category::RawImage], std::make_pair(std::string("Created"), false));
}

}  // namespace
}  // namespace tamsel
