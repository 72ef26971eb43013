// The desktop front end over the real controller: a scan of the bundled sample backup
// through the home view's file chooser, the result screen it fills, ticking, going home,
// recovery and closing the window during a scan.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/orlisk_app_delegate.h"
#include "gui/main_window.h"
#include "gui/result_table_view.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::answerNextAlert;
using testing::chooseInNextFileDialog;
using testing::kWaitMs;
using testing::whenDialogAppears;

const fs::path kSample = fs::path(TAMSEL_SOURCE_DIR) / "examples" / "sample.bbb";

class GuiSampleScan : public testing::WindowTest {
 protected:
  void beforeWindow() override {
    if (const char* home = std::getenv("HOME")) previousHome_ = home;
    fs::create_directories(tmp_.path() / "home" / "Documents");
    setenv("HOME", (tmp_.path() / "home").c_str(), 1);
  }
  void afterWindow() override {
    if (previousHome_) setenv("HOME", previousHome_->c_str(), 1);
  }

  ResultWidget& screen() { return *window_->resultWidget(); }
  PRResultViewController* presenter() { return app_->resultViewController(); }
  // The finishing step has run on the UI thread and the worker has ended.
  bool scanFinished() {
    return presenter() && presenter()->currentCategory() == Category::CallHistory &&
           !app_->scanRunning();
  }
  // Chooses the sample in the file chooser, as the user does, and waits for the end.
  void scanSample() {
    chooseInNextFileDialog(kSample);
    window_->backupFileButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  }
  QString text(ResultField f) { return screen().fieldText(f); }
  bool shown(QWidget* w) { return w->isVisibleTo(&*window_); }
  bool shown(ResultField f) { return shown(screen().fieldWidget(f)); }
  RecordTableModel& model(Category c) { return *screen().model(c); }
  void tick(Category c, int row, bool on) {
    RecordTableModel& m = model(c);
    ASSERT_TRUE(m.setData(m.index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
  }
  bool ticked(Category c, int row) {
    return model(c).index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
  }
  std::vector<int> selectedRows(Category c) {
    std::vector<int> rows;
    for (const QModelIndex& i : screen().table(c)->selectionModel()->selectedRows()) {
      rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::optional<std::string> previousHome_;
};

TEST_F(GuiSampleScan, HomeViewHoverTextsAndChooser) {
  EXPECT_EQ(window_->size(), QSize(849, 560));
  EXPECT_EQ(window_->currentPage(), window_->homePage());
  EXPECT_EQ(window_->hintLabel()->text(),
            "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.");

  QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(window_->backupFileButton(), &enter);
  EXPECT_EQ(window_->hintLabel()->text(),
            "* This option will scan your BlackBerry's .BBB or .IPD backup files.");
  EXPECT_EQ(window_->backupFileButton()->property("picture").toString(), "ipdBtnDown");
  QApplication::sendEvent(window_->backupFileButton(), &leave);
  EXPECT_EQ(window_->hintLabel()->text(),
            "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.");
  EXPECT_EQ(window_->backupFileButton()->property("picture").toString(), "ipdBtn");
  QApplication::sendEvent(window_->memoryCardButton(), &enter);
  EXPECT_EQ(window_->hintLabel()->text(),
            "* Please plug the external memory card into the computer before scanning.");
  QApplication::sendEvent(window_->memoryCardButton(), &leave);
  EXPECT_EQ(window_->hintLabel()->text(),
            "* Extract data and files from your BlackBerry's .BBB or .IPD backup files.\n"
            "* Recover deleted Photos, Videos, Audios, Document and others from BlackBerry's "
            "external memory card.");

  // The chooser: .bbb and .ipd only, in the Documents folder, as a sheet. Cancelling it
  // starts nothing.
  QStringList filters;
  QString folder;
  bool windowModal = false;
  whenDialogAppears<QFileDialog>([&](QFileDialog* d) {
    filters = d->nameFilters();
    folder = d->directory().absolutePath();
    windowModal = d->windowModality() == Qt::WindowModal;
    d->reject();
  });
  window_->backupFileButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !filters.isEmpty(); }, kWaitMs));
  EXPECT_TRUE(filters.join(";").contains("*.bbb *.ipd")) << filters.join(";").toStdString();
  EXPECT_EQ(folder, QString::fromStdString((tmp_.path() / "home" / "Documents").string()));
  EXPECT_TRUE(windowModal);
  QCoreApplication::processEvents();
  EXPECT_EQ(presenter(), nullptr);
  EXPECT_EQ(window_->currentPage(), window_->homePage());
}

TEST_F(GuiSampleScan, ScanFillsTablesAndCountLabels) {
  ASSERT_NO_FATAL_FAILURE(scanSample());
  ResultWidget& rs = screen();
  EXPECT_EQ(window_->size(), QSize(850, 620));
  EXPECT_EQ(window_->currentPage(), &rs);
  EXPECT_EQ(text(ResultField::scanTitle), "- Backup File Recovery");

  // The finished state: call history on screen, progress gone, checkboxes shown.
  EXPECT_EQ(rs.shownCategory(), Category::CallHistory);
  EXPECT_EQ(model(Category::CallHistory).rowCount(), 10);
  EXPECT_FALSE(shown(rs.progressBar()));
  EXPECT_TRUE(shown(rs.check(ResultCheck::selectAll)));
  EXPECT_TRUE(rs.button(ResultButton::home)->isEnabled());
  EXPECT_FALSE(rs.button(ResultButton::save)->isEnabled());
  EXPECT_FALSE(shown(rs.button(ResultButton::stop)));
  EXPECT_EQ(selectedRows(Category::CallHistory), std::vector<int>{0});
  EXPECT_TRUE(text(ResultField::callPhone).startsWith("Phone: "));

  EXPECT_EQ(text(ResultField::contactNumlab), "Contacts:  8");
  EXPECT_EQ(text(ResultField::delContactNumlab), "Contacts:  0");
  EXPECT_EQ(text(ResultField::messageNumlab), "Messages:  13");  // 10 SMS and 3 MMS
  EXPECT_EQ(text(ResultField::noteNumlab), "Notes:  5");
  EXPECT_EQ(text(ResultField::callNumlab), "Call History:  10");
  EXPECT_EQ(text(ResultField::photovideoNumlab), "Photo&Video:  2");
  EXPECT_EQ(text(ResultField::delPhotovideoNumlab), "Photo&Video:  0");

  // Backup buttons shown, raw ones hidden.
  EXPECT_TRUE(shown(rs.categoryButton(Category::MMS)));
  EXPECT_FALSE(shown(rs.categoryButton(Category::RawImage)));

  rs.categoryButton(Category::Contact)->click();
  EXPECT_EQ(rs.shownCategory(), Category::Contact);
  EXPECT_TRUE(rs.categoryButton(Category::Contact)->isChecked());
  EXPECT_FALSE(rs.categoryButton(Category::CallHistory)->isChecked());
  RecordTableModel& contacts = model(Category::Contact);
  ASSERT_EQ(contacts.rowCount(), 8);
  const int nameColumn = contacts.columnOf(kColumnName);
  // The columns share the table's width: the name column shows the names whole.
  auto* contactTable = static_cast<ResultTableView*>(rs.table(Category::Contact));
  EXPECT_GE(contactTable->columnWidth(nameColumn),
            contactTable->textWidth(contacts.index(0, nameColumn).data().toString()));
  const auto* first = dynamic_cast<const PRBlackBerryContactNode*>(contacts.rows()[0].get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(contacts.index(0, nameColumn).data().toString().toStdString(), first->contactName);
  EXPECT_EQ(text(ResultField::contactName).toStdString(), first->contactName);
  EXPECT_EQ(text(ResultField::contactPinNumber).toStdString(), "PinNumber: " + first->pinNumber);
  EXPECT_FALSE(rs.imageLabel(ResultImage::contact)->pixmap().isNull());

  rs.categoryButton(Category::Message)->click();
  RecordTableModel& sms = model(Category::Message);
  ASSERT_EQ(sms.rowCount(), 10);
  const auto* firstSms = dynamic_cast<const PRBlackBerrySMSMessageNode*>(sms.rows()[0].get());
  ASSERT_NE(firstSms, nullptr);
  EXPECT_EQ(text(ResultField::messageContent).toStdString(), firstSms->contentText);
  EXPECT_EQ(text(ResultField::messagePhone).toStdString(), "Phone: " + firstSms->numberString);

  // The user's selection previews the row selected last.
  rs.table(Category::Message)->selectRow(3);
  const auto* fourth = dynamic_cast<const PRBlackBerrySMSMessageNode*>(sms.rows()[3].get());
  EXPECT_EQ(text(ResultField::messageContent).toStdString(), fourth->contentText);

  rs.categoryButton(Category::MMS)->click();
  EXPECT_EQ(model(Category::MMS).rowCount(), 3);
  rs.categoryButton(Category::Photo)->click();
  EXPECT_EQ(model(Category::Photo).rowCount(), 2);
  EXPECT_FALSE(shown(rs.check(ResultCheck::deletedOnly)));
}

// Shows `c` and selects its first row whose record is a T that `match`es.
template <class T>
bool selectFirst(ResultWidget& rs, Category c, const std::function<bool(const T&)>& match) {
  if (rs.shownCategory() != c) rs.categoryButton(c)->click();
  const ResultRows& rows = rs.model(c)->rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto* r = dynamic_cast<const T*>(rows[i].get());
    if (r && match(*r)) {
      rs.table(c)->selectRow(static_cast<int>(i));
      return true;
    }
  }
  return false;
}

// The previews of the sample's rows on screen: an MMS picture, cleared by a text attachment;
// a memo's text once; a document after a picture clears the picture.
TEST_F(GuiSampleScan, PreviewsShowTheSelectedRecord) {
  ASSERT_NO_FATAL_FAILURE(scanSample());
  ResultWidget& rs = screen();
  using Mms = PRBlackBerryMMSMessageNode;
  ASSERT_TRUE(
      selectFirst<Mms>(rs, Category::MMS, [](auto& m) { return m.contentType == "Image"; }));
  EXPECT_TRUE(shown(ResultField::mmsNumber));
  EXPECT_FALSE(rs.imageLabel(ResultImage::mms)->pixmap().isNull());
  ASSERT_TRUE(selectFirst<Mms>(rs, Category::MMS, [](auto& m) { return !m.contentText.empty(); }));
  EXPECT_TRUE(text(ResultField::mmsContent).contains("Dinner at eight"));
  EXPECT_TRUE(rs.imageLabel(ResultImage::mms)->pixmap().isNull());

  using Memo = PRBlackBerryNoteNode;
  std::string memo;
  ASSERT_TRUE(selectFirst<Memo>(rs, Category::Note, [&](auto& n) {
    memo = n.noteContent;
    return !memo.empty();
  }));
  int times = 0;
  for (ResultField f : {ResultField::noteTitle, ResultField::noteDate, ResultField::noteNote,
                        ResultField::noteContent, ResultField::noteDetails}) {
    times += shown(f) && text(f).contains(QString::fromStdString(memo));
  }
  EXPECT_EQ(times, 1);

  using Content = PRBlackBerryContentNode;
  auto kind = [](const char* k) {
    return [k](const Content& c) { return c.ContentFileType == k; };
  };
  ASSERT_TRUE(selectFirst<Content>(rs, Category::Photo, kind("Image")));
  EXPECT_FALSE(rs.imageLabel(ResultImage::photo)->pixmap().isNull());
  ASSERT_TRUE(selectFirst<Content>(rs, Category::Photo, kind("Document")));
  EXPECT_TRUE(rs.imageLabel(ResultImage::photo)->pixmap().isNull());
  EXPECT_EQ(text(ResultField::photoFileName), "Name: packing-list.txt");
}

TEST_F(GuiSampleScan, TickingThroughTheModelUpdatesTheSelection) {
  ASSERT_NO_FATAL_FAILURE(scanSample());
  ResultWidget& rs = screen();
  rs.categoryButton(Category::Contact)->click();
  EXPECT_FALSE(shown(ResultField::selecteFilelab));

  // A tick on a row outside the selection selects that row and ticks it.
  tick(Category::Contact, 2, true);
  EXPECT_EQ(selectedRows(Category::Contact), std::vector<int>{2});
  EXPECT_TRUE(ticked(Category::Contact, 2));
  EXPECT_EQ(text(ResultField::selecteFilelab), "You select 1 files in the recovery results.");
  EXPECT_TRUE(shown(ResultField::selecteFilelab));
  EXPECT_TRUE(rs.button(ResultButton::save)->isEnabled());

  // With three rows selected by the user, one tick ticks all three.
  QTableView* t = rs.table(Category::Contact);
  QItemSelection three(
      model(Category::Contact).index(3, 0),
      model(Category::Contact).index(5, model(Category::Contact).columnCount() - 1));
  t->selectionModel()->select(three, QItemSelectionModel::ClearAndSelect);
  tick(Category::Contact, 4, true);
  EXPECT_TRUE(ticked(Category::Contact, 3));
  EXPECT_TRUE(ticked(Category::Contact, 5));
  EXPECT_EQ(text(ResultField::selecteFilelab), "You select 4 files in the recovery results.");
  tick(Category::Contact, 4, false);
  EXPECT_EQ(text(ResultField::selecteFilelab), "You select 1 files in the recovery results.");
  tick(Category::Contact, 2, false);
  EXPECT_FALSE(shown(ResultField::selecteFilelab));
  EXPECT_FALSE(rs.button(ResultButton::save)->isEnabled());

  // Select-all, as clicked by the user, then the same category shown again keeps its box.
  rs.check(ResultCheck::selectAll)->click();
  EXPECT_EQ(text(ResultField::selecteFilelab), "You select 8 files in the recovery results.");
  for (int r = 0; r < 8; ++r) EXPECT_TRUE(ticked(Category::Contact, r)) << r;
  rs.categoryButton(Category::Note)->click();
  EXPECT_FALSE(rs.check(ResultCheck::selectAll)->isChecked());
  rs.categoryButton(Category::Contact)->click();
  EXPECT_TRUE(rs.check(ResultCheck::selectAll)->isChecked());

  // A mouse click on a row's box: the row becomes the selection and loses its tick.
  QTableView* view = rs.table(Category::Contact);
  const QRect box = view->visualRect(model(Category::Contact).index(6, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box.center());
  EXPECT_EQ(selectedRows(Category::Contact), std::vector<int>{6});
  EXPECT_FALSE(ticked(Category::Contact, 6));
  EXPECT_EQ(text(ResultField::selecteFilelab), "You select 7 files in the recovery results.");
}

TEST_F(GuiSampleScan, RecoveryWritesTheTickedRecordsAndShowsItsReceipt) {
  ASSERT_NO_FATAL_FAILURE(scanSample());
  ResultWidget& rs = screen();
  std::vector<QUrl> opened;
  rs.setFolderOpener([&](const QUrl& u) {
    opened.push_back(u);
    return true;
  });
  rs.categoryButton(Category::Contact)->click();
  rs.check(ResultCheck::selectAll)->click();

  // The panel opens in Documents. The chosen folder lies on the device of the scanned sample
  // (one file system here): the user is asked, and continues.
  const fs::path out = tmp_.path() / "out";
  QString proposed, warning;
  QStringList buttons;
  chooseInNextFileDialog(out, [&](QFileDialog* d) {
    proposed = d->selectedFiles().value(0);
    answerNextAlert("Continue", &warning, &buttons);
  });
  rs.button(ResultButton::save)->click();
  const QString documents = QString::fromStdString((tmp_.path() / "home" / "Documents").string());
  EXPECT_TRUE(proposed.startsWith(documents + "/Tamsel ")) << proposed.toStdString();
  EXPECT_TRUE(warning.contains("is on the device being scanned")) << warning.toStdString();
  EXPECT_EQ(buttons, QStringList({"Choose again", "Continue"}));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !presenter()->recoveryRunning() && rs.receiptDialog() != nullptr; }, kWaitMs));
  EXPECT_EQ(rs.saveSheet(), nullptr);  // closed at the end of the run
  EXPECT_TRUE(fs::exists(out / "Contact" / "Contacts.txt"));
  EXPECT_TRUE(presenter()->lastRecoveryReport().failures.empty());
  EXPECT_TRUE(fs::exists(out / "report.html"));
  EXPECT_TRUE(fs::exists(out / "manifest.csv"));

  // The receipt (its texts are checked on their own) opens the folder only when asked.
  RecoveryReceiptDialog* receipt = rs.receiptDialog();
  EXPECT_TRUE(receipt->isVisible());
  EXPECT_TRUE(opened.empty());
  receipt->openButton()->click();
  EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(out.string()))});
}

TEST_F(GuiSampleScan, HomeAsksAndGoesBack) {
  ASSERT_NO_FATAL_FAILURE(scanSample());
  QString message;
  QStringList buttons;
  answerNextAlert("Cancel", &message, &buttons);
  screen().button(ResultButton::home)->click();
  EXPECT_EQ(message,
            "Are you sure you want to go back to Home? If Back, the scanning results will not "
            "be saved.");
  EXPECT_EQ(buttons, QStringList({" Back ", "Cancel"}));
  EXPECT_EQ(window_->currentPage(), window_->resultWidget());
  EXPECT_EQ(presenter()->snapshot().bbContactArray.size(), 8u);

  answerNextAlert(" Back ");
  screen().button(ResultButton::home)->click();
  EXPECT_EQ(window_->currentPage(), window_->homePage());
  EXPECT_EQ(window_->size(), QSize(849, 560));
  EXPECT_TRUE(window_->backupFileButton()->isVisibleTo(&*window_));
  EXPECT_TRUE(presenter()->snapshot().bbContactArray.empty());
}

TEST_F(GuiSampleScan, CloseAsksBeforeExit) {
  QString message;
  QStringList buttons;
  answerNextAlert("Cancel", &message, &buttons);
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(message, "Are you sure you want to Exit ?");
  EXPECT_EQ(buttons, QStringList({" Exit ", "Cancel"}));
  EXPECT_TRUE(window_->isVisible());

  answerNextAlert(" Exit ");
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(screen().shuttingDown());
}

// Closing during a scan: the worker's finishing step waits for the UI thread, which is busy
// closing and pumps no events. The window releases it, stops the scan and waits for it.
TEST_F(GuiSampleScan, ClosingDuringAScanReleasesTheWorker) {
  fixtures::IpdWriter w;
  const uint16_t memos = w.addDatabase("Memos");
  for (int i = 0; i < 3000; ++i) {
    w.addRecord(memos, {fixtures::textField(1, "memo " + std::to_string(i))});
  }
  const fs::path ipd = tmp_.path() / "many.ipd";
  w.writeFile(ipd);
  int finished = 0;
  app_->scanThreadFinish = [&] { ++finished; };
  app_->openPanelDidEnd(ipd.string(), 1);
  window_->shutDown();  // no event is processed in between
  EXPECT_FALSE(app_->scanRunning());
  EXPECT_EQ(finished, 1);
}

}  // namespace
}  // namespace tamsel
