#include <gtest/gtest.h>

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
  std::string listed(DisplayList d, F field) {
    std::string out;
    for (const auto& r : pr.displayList(d)) out += std::invoke(field, dynamic_cast<T&>(*r)) + ",";
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

TEST_F(Selection, MmsTicksAndBookmarksDoNot) {
  auto mms =
      post(notify::kBlackBerryMMSMessageInfo, std::make_shared<PRBlackBerryMMSMessageNode>());
  auto mark = post(notify::kScanBookMarkInfo, std::make_shared<PRBookMarkNode>());
  pr.actMMSMessage();
  pr.tableViewSetObjectValue(1, 0);
  EXPECT_TRUE(mms->bSelected);
  pr.actBookMark();
  pr.tableViewSetObjectValue(1, 0);
  pr.ClickSelectAll(true);
  EXPECT_FALSE(mark->bSelected);
  EXPECT_FALSE(pr.selectAllFlag(Category::BookMark));
  EXPECT_EQ(pr.selectedFilesNum(), 1);
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
  EXPECT_EQ(pr.displayList(DisplayList::messageController).size(), 7u);
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 2).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 3).warning);
  EXPECT_FALSE(pr.tableViewWillDisplayCell(Category::Message, 7).warning);  // past the end
  EXPECT_EQ(pr.tableViewWillDisplayCell(Category::Message, 0).font, "Lucida Grande");
  EXPECT_EQ(pr.tableViewWillDisplayCell(Category::Message, 0).pointSize, 11);

  pr.actCheck(true);
  EXPECT_EQ((listed<PRMessageNode>(DisplayList::messageController, &PRMessageNode::messageName)),
            "m2,m5,");
  EXPECT_TRUE(pr.tableViewWillDisplayCell(Category::Message, 0).warning);
  EXPECT_TRUE(view.fieldVisible(ResultField::messagePhone));
  pr.actCheck(false);
  EXPECT_EQ((listed<PRMessageNode>(DisplayList::messageController, &PRMessageNode::messageName)),
            "m0,m1,m2,m3,m4,m5,m6,");

  // No deleted notes: the note preview fields hide.
  post(notify::kScanNoteInfo, std::make_shared<PRNoteNode>());
  pr.actNote();
  pr.actCheck(true);
  EXPECT_TRUE(pr.displayList(DisplayList::noteController).empty());
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
    return listed<PRPhotoAndVideoNode>(DisplayList::photoController,
                                       &PRPhotoAndVideoNode::fileNodeName);
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
  EXPECT_EQ((listed<PRPhotoAndVideoNode>(DisplayList::photoController,
                                         &PRPhotoAndVideoNode::fileNodeSize)),
            ",999.00B,2.00K,1.50M,1.00G,");
}

TEST_F(Selection, NameOrderIsSharedAndCallDatesSortAsDates) {
  for (auto [name, date] :
       {std::pair{"bo", "12-31-2013 23:59"}, std::pair{"Al", "01-02-2014 08:00"},
        std::pair{"al", "01-01-2014 09:30"}}) {
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callName = name;
    c->callDate = date;
    c->callPhone = name;
    post(notify::kScanCallHistoryInfo, c);
    auto k = std::make_shared<PRContactNode>();
    k->contactName = name;
    post(notify::kScanContactInfo, k);
  }
  pr.actContact();
  pr.tableViewDidClickTableColumn("Phone");  // any contact column sorts by name
  EXPECT_EQ((listed<PRContactNode>(DisplayList::contactController, &PRContactNode::contactName)),
            "Al,al,bo,");
  pr.actCallHistory();
  pr.tableViewDidClickTableColumn(kColumnName);  // the shared name order flips to descending
  EXPECT_EQ(
      (listed<PRCallHistoryNode>(DisplayList::callHistoryController, &PRCallHistoryNode::callName)),
      "bo,al,Al,");
  pr.tableViewDidClickTableColumn(kColumnDate);
  EXPECT_EQ(
      (listed<PRCallHistoryNode>(DisplayList::callHistoryController, &PRCallHistoryNode::callName)),
      "bo,al,Al,");
  pr.tableViewDidClickTableColumn(kColumnDate);
  EXPECT_EQ(
      (listed<PRCallHistoryNode>(DisplayList::callHistoryController, &PRCallHistoryNode::callName)),
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
  EXPECT_EQ(
      (listed<PRCallHistoryNode>(DisplayList::callHistoryController, &PRCallHistoryNode::callName)),
      "old,now,far,big,");
}

}  // namespace
}  // namespace tamsel
