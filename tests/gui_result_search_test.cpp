// The result screen's filter box, keys, empty-table text, stopped-scan notice and progress
// strip, driven by the presenter with a stand-in host on the offscreen platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QtTest/QTest>
#include <algorithm>
#include <tuple>

#include "events/notification_names.h"
#include "gui/result_widget.h"
#include "gui/thumbnail_grid.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"

namespace tamsel {
namespace {

class GuiSearch : public ::testing::Test {
 protected:
  GuiSearch() : presenter_(nc_, screen_, host_) {
    screen_.setPresenterSource([this] { return &presenter_; });
  }
  // Four messages (two deleted), the scan ended, the message table shown.
  void scanMessages() {
    presenter_.showView();
    const std::tuple<const char*, const char*, bool> messages[] = {
        {"Anna", "lunch today", false},
        {"Bob", "Lunch tomorrow", true},
        {"anna", "dinner", true},
        {"Carl", "lunch with anna", false}};
    for (auto [name, text, deleted] : messages) {
      auto m = std::make_shared<PRMessageNode>();
      m->messageName = name;
      m->messageContent = text;
      m->bDeleted = deleted;
      nc_.post(deleted ? notify::kScanDelMessageInfo : notify::kScanMessageInfo,
               std::shared_ptr<PRNode>(m));
      rows_.push_back(m);
    }
    presenter_.ScanFinishOnMainThread();
    screen_.categoryButton(Category::Message)->click();
  }
  QTableView* table() { return screen_.table(Category::Message); }
  int rowCount() { return screen_.model(Category::Message)->rowCount(); }
  QString content(int row) {
    const RecordTableModel& m = *screen_.model(Category::Message);
    return m.index(row, m.columnOf(kColumnContent)).data().toString();
  }
  std::vector<int> selected() {
    std::vector<int> rows;
    for (const QModelIndex& i : table()->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  bool shown(QWidget* w) { return w->isVisibleTo(&screen_); }

  NotificationCenter nc_;
  ResultWidget screen_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_;
  std::vector<std::shared_ptr<PRMessageNode>> rows_;
};

TEST_F(GuiSearch, TypingNarrowsTheTableWithTheDeletedOnlyBox) {
  scanMessages();
  QLineEdit* box = screen_.searchBox();
  ASSERT_EQ(rowCount(), 4);
  QTest::keyClicks(box, "LUNCH anna");
  ASSERT_EQ(rowCount(), 2);
  EXPECT_EQ(content(1), "lunch with anna");
  EXPECT_FALSE(shown(screen_.emptyTableLabel(Category::Message)));

  screen_.check(ResultCheck::deletedOnly)->click();
  EXPECT_EQ(rowCount(), 0);
  EXPECT_TRUE(shown(screen_.emptyTableLabel(Category::Message)));
  EXPECT_EQ(screen_.emptyTableLabel(Category::Message)->text(), "No rows match the filter");
  box->clear();
  QTest::keyClicks(box, "lunch");
  ASSERT_EQ(rowCount(), 1);
  EXPECT_EQ(content(0), "Lunch tomorrow");

  // The tick of a filtered row goes to its record.
  screen_.model(Category::Message)
      ->setData(screen_.model(Category::Message)->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_TRUE(rows_[1]->bSelected);
  EXPECT_EQ(presenter_.selectedFilesNum(), 1);

  // Another category empties the box (an empty one says so); the message table is whole
  // again when shown again.
  screen_.categoryButton(Category::Note)->click();
  EXPECT_TRUE(box->text().isEmpty());
  EXPECT_EQ(screen_.emptyTableLabel(Category::Note)->text(), "Nothing found in this category");
  EXPECT_TRUE(shown(screen_.emptyTableLabel(Category::Note)));
  screen_.categoryButton(Category::Message)->click();
  EXPECT_EQ(rowCount(), 4);
}

TEST_F(GuiSearch, SpaceTicksCtrlASelectsEnterPreviews) {
  scanMessages();
  QTableView* t = table();
  QItemSelectionModel* sel = t->selectionModel();
  const QAbstractItemModel* m = t->model();
  sel->select(m->index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  sel->select(m->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(t, Qt::Key_Space);
  EXPECT_TRUE(rows_[1]->bSelected && rows_[3]->bSelected);
  EXPECT_FALSE(rows_[0]->bSelected || rows_[2]->bSelected);
  EXPECT_EQ(screen_.fieldText(ResultField::selecteFilelab),
            "You select 2 files in the recovery results.");
  QTest::keyClick(t, Qt::Key_Space);
  EXPECT_FALSE(rows_[1]->bSelected || rows_[3]->bSelected);
  EXPECT_EQ(presenter_.selectedFilesNum(), 0);

  QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_THAT(presenter_.selectedRows(), ::testing::UnorderedElementsAre(0, 1, 2, 3));

  // Enter on a row that is current but not selected: it alone is selected and previewed.
  sel->select(m->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  sel->setCurrentIndex(m->index(2, 1), QItemSelectionModel::NoUpdate);
  QTest::keyClick(t, Qt::Key_Return);
  EXPECT_EQ(selected(), std::vector<int>{2});
  EXPECT_EQ(presenter_.selectedRows(), std::vector<int>{2});
  EXPECT_EQ(screen_.fieldText(ResultField::messageContent), "dinner");
}

TEST_F(GuiSearch, TabGoesFromTheCategoriesToTheBoxTheTableAndThePreview) {
  scanMessages();
  screen_.show();
  QApplication::setActiveWindow(&screen_);
  screen_.categoryButton(Category::Message)->setFocus();
  // Past the other category buttons to the box, then the table, then the preview's text.
  QWidget* w = screen_.categoryButton(Category::Message);
  for (int i = 0; i < 20 && w != screen_.searchBox(); ++i) w = w->nextInFocusChain();
  ASSERT_EQ(w, screen_.searchBox());
  screen_.searchBox()->setFocus();
  QTest::keyClick(screen_.searchBox(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), table());
  QTest::keyClick(table(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), screen_.fieldWidget(ResultField::messageContent));
  // A picture category's table/thumbnails switch comes before its table.
  PictureViews* views = screen_.pictureViews(Category::Photo);
  ASSERT_NE(views, nullptr);
  EXPECT_EQ(views->tableButton()->nextInFocusChain(), views->thumbnailsButton());
  EXPECT_EQ(views->thumbnailsButton()->nextInFocusChain(), screen_.table(Category::Photo));
}

// During a raw scan the progress strip stays whatever category is shown; a stopped scan's
// notice stays until the next scan.
TEST_F(GuiSearch, ProgressStripAndStoppedScanNotice) {
  host_.raw = true;
  presenter_.showView();
  nc_.post(notify::kBlackBerryRawRecoveryProgress, int64_t{40});
  QCoreApplication::processEvents();
  screen_.categoryButton(Category::RawVideo)->click();
  ASSERT_EQ(screen_.shownCategory(), Category::RawVideo);
  EXPECT_TRUE(shown(screen_.progressBar()));
  EXPECT_EQ(screen_.progressBar()->value(), 40);
  EXPECT_TRUE(shown(screen_.fieldWidget(ResultField::progressText)));
  EXPECT_FALSE(shown(screen_.stoppedNotice()));
  screen_.button(ResultButton::stop)->click();
  EXPECT_TRUE(shown(screen_.stoppedNotice()));
  EXPECT_EQ(screen_.stoppedNotice()->text(), "The scan was stopped: these results are partial.");
  presenter_.ScanThreadFinish();
  EXPECT_FALSE(shown(screen_.progressBar()));
  presenter_.showView();
  EXPECT_FALSE(shown(screen_.stoppedNotice()));
}

}  // namespace
}  // namespace tamsel
