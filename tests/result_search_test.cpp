// The result screen's filter box, the text over an empty table, the Space toggle of ticks and
// the notice of a stopped scan, through the presenter and a recording view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/notification_names.h"
#include "results/record_search.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"

namespace tamsel {
namespace {

using fakes::FakeResultHost;
using fakes::FakeResultView;

TEST(RecordSearch, WordsAndMatches) {
  EXPECT_EQ(searchWords("  Anna\tSMITH  x "), (std::vector<std::string>{"anna", "smith", "x"}));
  EXPECT_TRUE(searchWords(" \t ").empty());

  PRMessageNode m;
  m.messageName = "Anna Smith";
  m.messagePhone = "+15550100";
  m.messageContent = "See you at the Ferry";
  PRBlackBerryCallNode call;
  call.CallName = "Bob";
  call.CallNumber = "555-0199";
  PRScanListNode file;
  file.nodeName = "IMG_0042.JPG";
  const struct {
    const PRNode& record;
    const char* typed;
    bool matches;
  } cases[] = {
      {m, "", true},
      {m, "anna", true},
      {m, "FERRY smith", true},  // words in different fields, any case
      {m, "anna bob", false},    // every word must be found
      {m, "smith+1555", false},  // a word does not run from one field into the next
      {m, "0100", true},         // part of a field
      {call, "0199 bob", true},  // BlackBerry records
      {call, "anna", false},
      {file, "img_0042.jpg", true},  // memory-card files
      {file, ".png", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(recordMatches(c.record, searchWords(c.typed)), c.matches) << c.typed;
  }
  PRDiskInfoNode other;  // no text of a table
  EXPECT_FALSE(recordMatches(other, searchWords("untitled")));
}

struct Search : ::testing::Test {
  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  PRResultViewController pr{nc, view, host};

  std::shared_ptr<PRMessageNode> message(const std::string& name, const std::string& text,
                                         bool deleted) {
    auto m = std::make_shared<PRMessageNode>();
    m->messageName = name;
    m->messageContent = text;
    m->bDeleted = deleted;
    nc.post(deleted ? notify::kScanDelMessageInfo : notify::kScanMessageInfo,
            std::shared_ptr<PRNode>(m));
    return m;
  }
  std::string shown(Category c = Category::Message) {
    std::string out;
    for (const auto& r : pr.displayList(c)) {
      out += dynamic_cast<PRMessageNode&>(*r).messageContent + ",";
    }
    return out;
  }
  std::string emptyText(Category c = Category::Message) { return view.emptyTexts[c]; }
};

TEST_F(Search, NarrowsTheTableAndCombinesWithDeletedOnly) {
  pr.showView();
  message("Anna", "lunch today", false);
  message("Bob", "Lunch tomorrow", true);
  message("anna", "dinner", true);
  message("Carl", "lunch with anna", false);
  pr.ScanFinishOnMainThread();
  pr.actMessage();
  ASSERT_EQ(shown(), "lunch today,Lunch tomorrow,dinner,lunch with anna,");

  pr.setSearchText("ANNA");
  EXPECT_EQ(shown(), "lunch today,dinner,lunch with anna,");
  EXPECT_EQ(view.tableRows[Category::Message].size(), 3u);
  EXPECT_EQ(pr.selectedRows(), std::vector<int>{0});  // the first row shown is selected
  pr.setSearchText("anna lunch");
  EXPECT_EQ(shown(), "lunch today,lunch with anna,");
  EXPECT_EQ(emptyText(), "");

  // The deleted-only box narrows what the search lets through, and back.
  pr.actCheck(true);
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(emptyText(), "No rows match the filter");
  pr.setSearchText("lunch");
  EXPECT_EQ(shown(), "Lunch tomorrow,");
  pr.actCheck(false);
  EXPECT_EQ(shown(), "lunch today,Lunch tomorrow,lunch with anna,");
  pr.setSearchText("lunch  ");  // blanks change nothing
  EXPECT_EQ(pr.searchText(), "lunch  ");
  pr.setSearchText("");
  EXPECT_EQ(shown(), "lunch today,Lunch tomorrow,dinner,lunch with anna,");
  EXPECT_EQ(emptyText(), "");
  pr.setSearchText("nowhere");
  EXPECT_EQ(emptyText(), "No rows match the filter");

  // Another category starts with an empty box (a category without rows says so, deleted-only
  // or not); coming back shows every row.
  pr.setSearchText("dinner");
  EXPECT_EQ(shown(), "dinner,");
  pr.actNote();
  EXPECT_EQ(view.searchTexts.back(), "");
  EXPECT_EQ(pr.searchText(), "");
  EXPECT_EQ(emptyText(Category::Note), "Nothing found in this category");
  pr.actCheck(true);
  EXPECT_EQ(emptyText(Category::Note), "Nothing found in this category");
  pr.actCheck(false);
  pr.actMessage();
  EXPECT_EQ(shown(), "lunch today,Lunch tomorrow,dinner,lunch with anna,");
}

TEST_F(Search, TicksThroughTheFilterReachTheRecordsShown) {
  pr.showView();
  auto a = message("Anna", "one", false);
  auto b = message("Bob", "two", false);
  auto c = message("Anna", "three", false);
  pr.ScanFinishOnMainThread();
  pr.actMessage();
  pr.setSearchText("anna");
  ASSERT_EQ(shown(), "one,three,");
  pr.tableViewSetObjectValue(1, 1);  // the second row shown
  EXPECT_TRUE(c->bSelected);
  EXPECT_FALSE(a->bSelected || b->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 1);
  pr.ClickSelectAll(true);  // the rows shown
  EXPECT_TRUE(a->bSelected && c->bSelected);
  EXPECT_FALSE(b->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 2);
}

TEST_F(Search, SortingSurvivesFurtherTyping) {
  pr.showView();
  message("Cara Lee", "x", false);
  message("Ada Lee", "y", false);
  message("Bob", "z", false);
  pr.ScanFinishOnMainThread();
  pr.actMessage();
  pr.setSearchText("lee");
  ASSERT_EQ(shown(), "x,y,");
  pr.tableViewDidClickTableColumn(kColumnName);  // phone messages sort by name
  EXPECT_EQ(shown(), "y,x,");
  pr.setSearchText("e");
  EXPECT_EQ(shown(), "y,x,");
  pr.setSearchText("");
  EXPECT_EQ(shown(), "y,z,x,");  // the rows the search hid were sorted too
}

TEST_F(Search, SpaceTogglesTheSelectedRowsByTheLastOne) {
  pr.showView();
  auto a = message("a", "1", false);
  auto b = message("b", "2", false);
  auto c = message("c", "3", false);
  pr.ScanFinishOnMainThread();
  pr.actMessage();
  pr.tableViewSelectionDidChange({0, 2});
  pr.toggleSelectedTicks();
  EXPECT_TRUE(a->bSelected && c->bSelected);
  EXPECT_FALSE(b->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 2);
  pr.tableViewSelectionDidChange({2, 1});  // the last one, 1, is unticked: both get ticked
  pr.toggleSelectedTicks();
  EXPECT_TRUE(b->bSelected && c->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 3);
  pr.toggleSelectedTicks();
  EXPECT_FALSE(b->bSelected || c->bSelected);
  EXPECT_TRUE(a->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 1);
  pr.tableViewSelectionDidChange({});
  pr.toggleSelectedTicks();  // nothing selected: nothing changes
  EXPECT_EQ(pr.selectedFilesNum(), 1);
}

TEST_F(Search, StoppedScanSaysItsResultsArePartialUntilTheNextScan) {
  host.raw = true;
  pr.showView();
  EXPECT_FALSE(view.stoppedNotice);
  pr.CilckStop();
  EXPECT_TRUE(view.stoppedNotice);
  EXPECT_TRUE(pr.scanStopped());
  pr.ScanThreadFinish();  // the scan thread's own end keeps it
  EXPECT_TRUE(view.stoppedNotice);
  pr.showView();
  EXPECT_FALSE(view.stoppedNotice);
  EXPECT_FALSE(pr.scanStopped());
  pr.ScanThreadFinish();  // a scan that ends by itself is whole
  EXPECT_FALSE(view.stoppedNotice);
  pr.CilckStop();  // after the end a stop cuts nothing short
  EXPECT_FALSE(view.stoppedNotice);
}

}  // namespace
}  // namespace tamsel
