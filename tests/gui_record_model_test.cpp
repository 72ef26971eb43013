// The record table model and the result screen's own widgets, driven by the presenter with
// a stand-in host: columns, ticks, cell styles, images, alerts, the save panel and sheet.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <functional>
#include <map>
#include <tuple>

#include "events/notification_names.h"
#include "gui/main_window.h"
#include "gui/result_table_view.h"
#include "gui/result_widget.h"
#include "results/record_columns.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/png_writer.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"

namespace tamsel {
namespace {

using testing::answerNextAlert;
using testing::whenDialogAppears;

std::shared_ptr<PRBlackBerryContactNode> contact(const std::string& name) {
  auto c = std::make_shared<PRBlackBerryContactNode>();
  c->contactName = name;
  c->companyName = "ACME";
  c->mobilCall = "+1555";
  return c;
}

// A record of the class each category's table shows.
std::shared_ptr<PRNode> recordFor(Category c) {
  switch (c) {
    case Category::Photo:
      return std::make_shared<PRBlackBerryContentNode>();
    case Category::Contact:
      return contact("Ann");
    case Category::Message:
      return std::make_shared<PRBlackBerrySMSMessageNode>();
    case Category::MMS:
      return std::make_shared<PRBlackBerryMMSMessageNode>();
    case Category::Note:
      return std::make_shared<PRBlackBerryNoteNode>();
    case Category::CallHistory:
      return std::make_shared<PRBlackBerryCallNode>();
    case Category::Calender:
      return std::make_shared<PRBlackBerryCalenderNode>();
    case Category::BookMark:
      return std::make_shared<PRBookMarkNode>();
    case Category::FaceTwitter:
      return std::make_shared<PRFaceTwitterNode>();
    default:
      return std::make_shared<PRScanListNode>();
  }
}

TEST(GuiRecordModel, PassesTheModelTesterThroughResets) {
  RecordTableModel m(Category::Contact, nullptr);
  QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ResultRows rows;
  for (int i = 0; i < 5; ++i) rows.push_back(contact("c" + std::to_string(i)));
  m.setRows(rows);
  EXPECT_EQ(m.rowCount(), 5);
  m.setRows({});
  EXPECT_EQ(m.rowCount(), 0);
  rows.push_back(nullptr);  // a hole draws as an empty row
  m.setRows(rows);
  EXPECT_EQ(m.rowCount(), 6);
  EXPECT_FALSE(m.index(5, 1).data().isValid());
  m.refresh();
}

TEST(GuiRecordModel, EveryTableStartsWithTheTickColumn) {
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto c = static_cast<Category>(i);
    RecordTableModel m(c, nullptr);
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::shared_ptr<PRNode> rec = recordFor(c);
    m.setRows({rec});
    ASSERT_GE(m.columnCount(), 2) << i;
    EXPECT_EQ(m.columnId(0), kColumnTick);
    EXPECT_TRUE(m.flags(m.index(0, 0)) & Qt::ItemIsUserCheckable) << i;
    EXPECT_EQ(m.index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked) << i;
    const_cast<Flag*>(RecordTableModel::tickOf(*rec))->set(true);
    EXPECT_EQ(m.index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked) << i;
    for (int col = 1; col < m.columnCount(); ++col) {
      EXPECT_FALSE(m.headerData(col, Qt::Horizontal).toString().isEmpty()) << i << "," << col;
    }
    // Without a presenter a tick cannot be set.
    EXPECT_FALSE(m.setData(m.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
  }
  // The columns whose widths the presenter sets.
  EXPECT_GE(RecordTableModel(Category::Message, nullptr).columnOf(kColumnContent), 1);
  EXPECT_GE(RecordTableModel(Category::Note, nullptr).columnOf(kColumnContent), 1);
  EXPECT_GE(RecordTableModel(Category::CallHistory, nullptr).columnOf(kColumnPhone), 1);
  EXPECT_GE(RecordTableModel(Category::Contact, nullptr).columnOf(kColumnName), 1);

  RecordTableModel sms(Category::Message, nullptr);
  auto m = std::make_shared<PRBlackBerrySMSMessageNode>();
  m->contentText = "two\nlines";
  m->numberString = "+1555";
  sms.setRows({m});
  const int content = sms.columnOf(kColumnContent);
  EXPECT_EQ(sms.index(0, content).data().toString(), "two lines");
  EXPECT_EQ(sms.index(0, content).data(Qt::ToolTipRole).toString(), "two\nlines");
  EXPECT_EQ(sms.index(0, sms.columnOf(kColumnPhone)).data().toString(), "+1555");
}

// Phone-backup records fill their category's columns, including those BlackBerry records
// have no field for; the screen hides those columns while a table shows BlackBerry records.
TEST(GuiRecordModel, PhoneRecordsFillTheirOwnColumns) {
  auto event = std::make_shared<PRCalenderNode>();
  event->calTitle = "Dentist";
  event->location = "High Street 1";
  event->startDate = "09-04-2013 12:26";
  event->endDate = "09-04-2013 13:26";
  auto message = std::make_shared<PRMessageNode>();
  message->messageName = "Anna Smith";
  message->messagePhone = "+15550100";
  auto video = std::make_shared<PRPhotoAndVideoNode>();
  video->bmov = true;
  const struct {
    Category category;
    std::shared_ptr<PRNode> record;
    std::map<QString, QString> phoneOnly;  // title -> text; hidden for BlackBerry rows
    std::pair<QString, QString> shared;    // a column both kinds fill
  } cases[] = {
      {Category::Calender, event, {{"Deleted", ""}}, {"Subject", "Dentist"}},
      {Category::Message,
       message,
       {{"Name", "Anna Smith"}, {"Deleted", ""}},
       {"Phone", "+15550100"}},
      {Category::Photo, video, {}, {"Type", "Audio/Video"}},
  };
  for (const auto& c : cases) {
    ResultWidget screen;
    RecordTableModel& m = *screen.model(c.category);
    for (const auto& rows : {ResultRows{c.record}, ResultRows{recordFor(c.category)}}) {
      const bool phone = rows[0] == c.record;
      screen.setTableRows(c.category, rows);
      size_t found = 0;
      for (int col = 1; col < m.columnCount(); ++col) {
        const QString title = m.headerData(col, Qt::Horizontal).toString();
        const bool phoneOnly = c.phoneOnly.count(title) > 0;
        EXPECT_EQ(screen.table(c.category)->isColumnHidden(col), phoneOnly && !phone)
            << title.toStdString();
        if (!phone) continue;
        if (phoneOnly) {
          ++found;
          EXPECT_EQ(m.index(0, col).data().toString(), c.phoneOnly.at(title));
        } else if (title == c.shared.first) {
          EXPECT_EQ(m.index(0, col).data().toString(), c.shared.second);
        }
      }
      if (phone) {
        EXPECT_EQ(found, c.phoneOnly.size());
      }
    }
  }
}

// Columns share the width: the stretch column (else the last) takes what is left; when they
// do not fit, long texts give way in the order the cases show; none goes below its minimum.
TEST(GuiColumnFit, WidthsShareTheTable) {
  const ColumnNeed tick{26, 26, 26, false, false};
  const ColumnNeed date{110, 110, 110, false, false};
  const ColumnNeed name{40, 200, 150, true, true};
  const ColumnNeed note{50, 160, 90, false, true};
  const struct {
    const char* what;
    std::vector<ColumnNeed> needs;
    int available;
    std::vector<int> widths;
  } cases[] = {
      {"room left goes to the stretch column", {tick, name, date}, 500, {26, 364, 110}},
      {"without one, to the last column", {tick, date, note}, 400, {26, 110, 264}},
      {"long texts give way in proportion", {tick, name, date, note}, 436, {26, 175, 110, 125}},
      {"then the other long texts to their minimum",
       {tick, name, date, note},
       336,
       {26, 150, 110, 50}},
      {"then the stretch column", {tick, name, date, note}, 286, {26, 100, 110, 50}},
      {"never below a minimum", {tick, name, date, note}, 100, {26, 40, 110, 50}},
      {"nothing to fit", {}, 300, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fitColumnWidths(c.needs, c.available), c.widths) << c.what;
  }
}

class GuiScreen : public ::testing::Test {
 protected:
  GuiScreen() : presenter_(nc_, screen_, host_) {
    screen_.setPresenterSource([this] { return &presenter_; });
  }
  void post(std::string_view name, std::shared_ptr<PRNode> rec) { nc_.post(name, std::move(rec)); }

  NotificationCenter nc_;
  ResultWidget screen_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_;
};

TEST_F(GuiScreen, CellsTakeThePresentersStyle) {
  presenter_.showView();
  auto deleted = std::make_shared<PRContactNode>();
  deleted->contactName = "gone";
  post(notify::kScanDelContactInfo, deleted);
  post(notify::kBlacBerryContactInfo, contact("Ann"));
  presenter_.ScanFinishOnMainThread();
  presenter_.actContact();
  // One table for the category: the BlackBerry contact, then the deleted phone contact.
  RecordTableModel& m = *screen_.model(Category::Contact);
  ASSERT_EQ(m.rowCount(), 2);
  EXPECT_EQ(m.index(0, 1).data().toString(), "Ann");
  EXPECT_FALSE(m.index(0, 1).data(Qt::ForegroundRole).isValid());
  ASSERT_TRUE(presenter_.tableViewWillDisplayCell(Category::Contact, 1).warning);
  const QModelIndex cell = m.index(1, 1);
  EXPECT_EQ(cell.data().toString(), "gone");
  EXPECT_EQ(m.index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(217, 81, 30));
  // Rows are drawn in the table's font, which the header shares.
  EXPECT_FALSE(cell.data(Qt::FontRole).isValid());
  QTableView* table = screen_.table(Category::Contact);
  EXPECT_EQ(table->horizontalHeader()->font(), table->font());
  EXPECT_EQ(screen_.check(ResultCheck::deletedOnly)->text(), "Only dispaly deleted files");

  // A row without the deleted mark has no colour of its own.
  RecordTableModel calls(Category::Note, [this] { return &presenter_; });
  calls.setRows({std::make_shared<PRBlackBerryNoteNode>()});
  EXPECT_FALSE(calls.index(0, 1).data(Qt::ForegroundRole).isValid());
}

TEST_F(GuiScreen, ScanStateAndRawLayout) {
  host_.raw = true;
  presenter_.showView();
  EXPECT_EQ(screen_.fieldText(ResultField::scanTitle), "- Memory Card Recovery");
  EXPECT_FALSE(screen_.shownCategory().has_value());
  EXPECT_FALSE(screen_.categoryButton(Category::RawImage)->isHidden());
  EXPECT_TRUE(screen_.categoryButton(Category::Contact)->isHidden());
  EXPECT_FALSE(screen_.button(ResultButton::stop)->isHidden());
  EXPECT_EQ(screen_.progressBar()->value(), 1);
  EXPECT_EQ(screen_.fieldText(ResultField::progressText), "1%");
  nc_.post(notify::kBlackBerryRawRecoveryProgress, int64_t{37});
  QCoreApplication::processEvents();  // progress reaches the screen through the event loop
  EXPECT_EQ(screen_.progressBar()->value(), 37);
  EXPECT_EQ(screen_.fieldText(ResultField::progressText), "37%");
  EXPECT_EQ(screen_.fieldText(ResultField::imageNumlab), "Images:  0");

  screen_.button(ResultButton::stop)->click();
  EXPECT_EQ(host_.stopCalls.load(), 1);
  EXPECT_TRUE(screen_.progressBar()->isHidden());
  EXPECT_TRUE(screen_.button(ResultButton::stop)->isHidden());
  // A card scan opens on its first raw category and shows no backup-category counts.
  EXPECT_EQ(screen_.shownCategory(), Category::RawImage);
  EXPECT_TRUE(screen_.fieldWidget(ResultField::contactNumlab)->isHidden());
  EXPECT_TRUE(screen_.fieldWidget(ResultField::delCallNumlab)->isHidden());
  EXPECT_TRUE(screen_.fieldWidget(ResultField::photovideoNumlab)->isHidden());
  EXPECT_FALSE(screen_.fieldWidget(ResultField::imageNumlab)->isHidden());
  EXPECT_FALSE(screen_.fieldWidget(ResultField::delArchiveNumlab)->isHidden());
}

// The title reads "<source> - Backup File Recovery" across two labels; a name is no markup
// and a long one is cut in the middle, whole in its tooltip.
TEST_F(GuiScreen, TitleNamesTheScannedSourceOnItsLeft) {
  host_.sourceName = "<b>Anna's</b> iPhone";
  presenter_.showView();
  screen_.resize(850, 560);
  screen_.show();
  auto* source = qobject_cast<QLabel*>(screen_.fieldWidget(ResultField::scanSource));
  auto* title = qobject_cast<QLabel*>(screen_.fieldWidget(ResultField::scanTitle));
  ASSERT_TRUE(source && title);
  EXPECT_EQ(source->text(), "<b>Anna's</b> iPhone");
  EXPECT_EQ(source->textFormat(), Qt::PlainText);
  EXPECT_EQ(title->text(), "- Backup File Recovery");
  EXPECT_LT(source->geometry().right(), title->geometry().left());
  EXPECT_EQ(source->font(), title->font());

  const std::string longName(300, 'x');
  screen_.setText(ResultField::scanSource, longName);
  EXPECT_LT(source->text().size(), 300);
  EXPECT_EQ(source->toolTip().toStdString(), longName);
}

// Selecting a calendar row shows its dates.
TEST_F(GuiScreen, CalendarRowShowsItsDates) {
  auto entry = std::make_shared<PRCalenderNode>();
  entry->startDate = "05-15-2014 15:00";
  post(notify::kScanCalenderInfo, entry);
  presenter_.actCalender();
  screen_.show();
  EXPECT_EQ(screen_.fieldText(ResultField::calStartDate), "Start: 05-15-2014 15:00");
  EXPECT_TRUE(screen_.fieldWidget(ResultField::calStartDate)->isVisibleTo(&screen_));
}

// A found file's details with a long name are cut at the edge (whole in the tooltip) and
// never widen the preview.
TEST_F(GuiScreen, FoundFileDetailsStayInsideThePanel) {
  host_.raw = true;
  auto f = std::make_shared<PRScanListNode>();
  f->nodeName = std::string(300, 'n') + ".pdf";
  f->nodeSizeString = "1.20M";
  f->fileType = "Document";
  f->createTime = "2014-05-12 10:20:00";
  post(notify::kBlackBerryRawRecoveryFileInfo, f);
  presenter_.ClickBBDocument();
  screen_.resize(850, 560);
  screen_.show();
  QCoreApplication::processEvents();
  QWidget* details = screen_.fieldWidget(ResultField::rawDocumentDetails);
  ASSERT_NE(details, nullptr);
  const QString whole = screen_.fieldText(ResultField::rawDocumentDetails);
  EXPECT_TRUE(whole.startsWith("Name: nnn"));
  EXPECT_EQ(details->toolTip(), whole);
  EXPECT_TRUE(details->isVisibleTo(&screen_));
  EXPECT_LE(details->parentWidget()->width(), 280);
  EXPECT_GE(details->height(), 4 * details->fontMetrics().lineSpacing());
}

// Every text the presenter gives a phone record's preview has a place on its panel.
TEST_F(GuiScreen, PhonePreviewFieldsHaveLabels) {
  for (ResultField f : {ResultField::photoFileName, ResultField::photoFileSize,
                        ResultField::calLocation, ResultField::faceTwitterFilePath}) {
    ASSERT_NE(screen_.fieldWidget(f), nullptr) << static_cast<int>(f);
    screen_.setText(f, "shown");
    EXPECT_EQ(screen_.fieldText(f), "shown") << static_cast<int>(f);
  }
}

TEST_F(GuiScreen, ImagesAndTheirFallbacks) {
  const Bytes pngBytes = fixtures::makePng(40, 20, [](int, int) {
    return fixtures::Rgb{255, 0, 0};
  });
  const Bytes garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};

  screen_.showImage(ResultImage::photo, pngBytes);
  QLabel* photo = screen_.imageLabel(ResultImage::photo);
  EXPECT_FALSE(photo->pixmap().isNull());
  EXPECT_LE(photo->pixmap().width(), photo->width());
  EXPECT_FALSE(photo->isHidden());
  // A picture Qt cannot decode (a HEIC photo without a plug-in) shows the picture icon, not
  // the picture shown before; a video (no bytes) clears the view.
  const qint64 pngKey = photo->pixmap().cacheKey();
  const Bytes heic{0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
  for (const Bytes& undecodable : {garbage, heic}) {
    screen_.showImage(ResultImage::photo, pngBytes);
    screen_.showImage(ResultImage::photo, undecodable);
    EXPECT_FALSE(photo->pixmap().isNull());
    EXPECT_NE(photo->pixmap().cacheKey(), pngKey);
  }
  screen_.showImage(ResultImage::photo, {});
  EXPECT_TRUE(photo->pixmap().isNull());
  screen_.setImageVisible(ResultImage::rawImage, false);
  EXPECT_TRUE(screen_.imageLabel(ResultImage::rawImage)->isHidden());
}

TEST_F(GuiScreen, AlertsSavePanelSheetAndDesktop) {
  answerNextAlert(" Back ");
  EXPECT_TRUE(screen_.runConfirmAlert("go?", " Back ", "Cancel"));
  answerNextAlert("Cancel");
  EXPECT_FALSE(screen_.runConfirmAlert("go?", " Back ", "Cancel"));

  // The save panel starts in Documents (else home) with the proposed name; cancelling gives
  // code 0.
  QString proposed;
  whenDialogAppears<QFileDialog>([&](QFileDialog* d) {
    proposed = d->selectedFiles().value(0);
    d->reject();
  });
  int code = -1;
  std::string path = "unset";
  screen_.runSavePanel("Tamsel 2014-05-12 - 10.20.30", [&](int c, const std::string& p) {
    code = c;
    path = p;
  });
  EXPECT_EQ(proposed, QDir(recoveryStartFolder()).filePath("Tamsel 2014-05-12 - 10.20.30"));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(path, "");

  screen_.setSaveSheetVisible(true);
  QProgressDialog* sheet = screen_.saveSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->findChild<QPushButton*>(), nullptr);  // no cancel button
  screen_.setSaveProgress(37, "37%");
  EXPECT_EQ(sheet->labelText(), "37%");
  EXPECT_EQ(sheet->findChild<QProgressBar*>()->value(), 37);
  screen_.setSaveSheetVisible(false);
  EXPECT_EQ(screen_.saveSheet(), nullptr);

  std::vector<QUrl> opened;
  screen_.setUrlOpener([&](const QUrl& u) { opened.push_back(u); });
  screen_.openFolder("/tmp/out dir");
  screen_.openUrl("https://tamsel.example/support");
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile("/tmp/out dir"));
  EXPECT_EQ(opened[1], QUrl("https://tamsel.example/support"));

  presenter_.clickFeedBack();
  auto* text = screen_.findChild<QPlainTextEdit*>("feedbackText");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->placeholderText(), "Provide any suggestions or problems to us.");
  EXPECT_TRUE(text->window()->isVisible());
}

// A click on a header sorts through the presenter and leaves the mark where it says: dates
// chronologically, reversed by a second click; the tick column sorts nothing.
TEST_F(GuiScreen, ClickingTheDateHeaderOrdersRowsByDate) {
  for (auto [name, date] :
       {std::pair{"new", "01-02-2014 08:00"}, std::pair{"old", "12-31-2013 23:59"},
        std::pair{"mid", "01-01-2014 09:30"}}) {
    auto c = std::make_shared<PRBlackBerryCallNode>();
    c->CallName = name;
    c->CallTime = date;
    post(notify::kBlacBerryCallLogInfo, c);
  }
  presenter_.showView();
  presenter_.ScanFinishOnMainThread();  // opens on the call history
  screen_.resize(850, 560);
  screen_.show();
  QHeaderView* header = screen_.table(Category::CallHistory)->horizontalHeader();
  RecordTableModel& m = *screen_.model(Category::CallHistory);
  const int date = m.columnOf(kColumnDate);
  // Clicks the header of `column`; the names in row order, then the mark.
  auto click = [&](int column) {
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
      out << m.index(r, m.columnOf(kColumnName)).data().toString();
    return std::tuple(out.join(',').toStdString(), header->sortIndicatorSection(),
                      header->sortIndicatorOrder());
  };
  EXPECT_EQ(header->sortIndicatorSection(), -1);
  EXPECT_EQ(click(date), std::tuple("old,mid,new", date, Qt::AscendingOrder));
  EXPECT_EQ(click(date), std::tuple("new,mid,old", date, Qt::DescendingOrder));
  EXPECT_EQ(click(0), std::tuple("new,mid,old", date, Qt::DescendingOrder));  // the tick column
}

// The deleted column says "Yes" on deleted phone records' rows; BlackBerry tables hide it.
TEST_F(GuiScreen, DeletedColumnSaysYesForDeletedRows) {
  for (bool gone : {false, true}) {
    auto k = std::make_shared<PRContactNode>();
    k->contactName = gone ? "gone" : "kept";
    post(gone ? notify::kScanDelContactInfo : notify::kScanContactInfo, k);
  }
  presenter_.actContact();
  RecordTableModel& m = *screen_.model(Category::Contact);
  const int deleted = m.columnOf(kColumnDeleted);
  ASSERT_GE(deleted, 1);
  EXPECT_FALSE(screen_.table(Category::Contact)->isColumnHidden(deleted));
  EXPECT_EQ(m.index(1, deleted).data().toString(), "Yes");
  screen_.setTableRows(Category::Contact, {contact("Ann")});
  EXPECT_TRUE(screen_.table(Category::Contact)->isColumnHidden(deleted));
}

// At the window's size headers and short values are whole and no table scrolls sideways.
class GuiTableFit : public testing::WindowTest {
 protected:
  template <class T>
  void post(std::string_view name, const std::function<void(T&)>& fill) {
    auto r = std::make_shared<T>();
    fill(*r);
    app_->nc.post(name, std::shared_ptr<PRNode>(r));
  }

  void expectFitted(Category c) {
    SCOPED_TRACE(static_cast<int>(c));
    app_->resultViewController()->showCategory(c);
    QCoreApplication::processEvents();
    ResultWidget& screen = *window_->resultWidget();
    QTableView* table = screen.table(c);
    RecordTableModel& m = *screen.model(c);
    ASSERT_GT(m.rowCount(), 0);
    QHeaderView* header = table->horizontalHeader();
    const int headerMargin = header->style()->pixelMetric(QStyle::PM_HeaderMargin);
    int total = 0;
    std::string widths;  // for the message of a failure
    for (int col = 0; col < m.columnCount(); ++col) {
      if (table->isColumnHidden(col)) continue;
      const QString title = m.headerData(col, Qt::Horizontal).toString();
      const int width = table->columnWidth(col);
      total += width;
      widths += title.toStdString() + "=" + std::to_string(width) + " ";
      EXPECT_GE(width, QFontMetrics(header->font()).horizontalAdvance(title) + 2 * headerMargin)
          << title.toStdString();
      const RecordColumn* rc = findRecordColumn(c, m.columnId(col));
      const bool shortValues = rc && (rc->order != ColumnOrder::text || rc->id == kColumnPhone);
      for (int r = 0; shortValues && r < m.rowCount(); ++r) {
        const QString text = m.index(r, col).data().toString();
        EXPECT_GE(width, table->fontMetrics().horizontalAdvance(text)) << text.toStdString();
      }
    }
    EXPECT_LE(total, table->viewport()->width()) << widths;
    EXPECT_FALSE(table->horizontalScrollBar()->isVisible());
  }
};

TEST_F(GuiTableFit, HeadersAndShortValuesAreWholeAtTheWindowSize) {
  window_->setWindowScanSize(true);
  app_->showResultView();
  const char* date = "12-07-2026 10:15";
  const char* phone = "+46 70 123 45 67";
  const char* name = "Anna Lindqvist";
  const char* longText = "Running 10 minutes late, sorry! See you at the station";
  // Deleted phone records, so that their tables show the deleted column.
  post<PRPhotoAndVideoNode>(notify::kScanPhotoAndVideo, [](auto& r) {
    r.fileNodeName = "IMG_0002.MOV", r.fileNodeSize = "118.56M";
  });
  post<PRContactNode>(notify::kScanDelContactInfo,
                      [&](auto& r) { r.contactName = name, r.contactPhone = phone; });
  post<PRMessageNode>(notify::kScanDelMessageInfo, [&](auto& r) {
    r.messagePhone = phone, r.messageType = "Received", r.messageDate = date,
    r.messageContent = longText;
  });
  post<PRNoteNode>(notify::kScanDelNoteInfo,
                   [&](auto& r) { r.noteContent = longText, r.noteDate = date; });
  post<PRCallHistoryNode>(notify::kScanDelCallHistoryInfo, [&](auto& r) {
    r.callName = name, r.callPhone = phone, r.callType = "Outgoing", r.callTime = 7300,
    r.callDuration = "2 hours", r.callDate = date;
  });
  post<PRCalenderNode>(notify::kScanDelCalenderInfo, [&](auto& r) {
    r.location = "Storgatan 1 Stockholm", r.startDate = r.endDate = date, r.calNote = longText;
  });
  post<PRBookMarkNode>(notify::kScanDelBookMarkInfo, [](auto& r) {
    r.bookMarkURL = "https://timetables.example/stockholm/routes?line=4";
  });
  post<PRFaceTwitterNode>(notify::kScanFaceTwitterInfo, [](auto& r) {
    r.faceTwitterFileName = "timeline-cache.sqlite", r.fileSize = "2.01M";
  });
  post<PRBlackBerryMMSMessageNode>(notify::kBlackBerryMMSMessageInfo, [&](auto& r) {
    r.contentDataName = "/store/mms/IMG_2231.jpg", r.contentText = longText,
    r.contentData = ByteRef::fromBytes(Bytes(123456, 1));
  });
  PRResultViewController* p = app_->resultViewController();
  ASSERT_NE(p, nullptr);
  p->ScanFinishOnMainThread();
  for (Category c :
       {Category::Photo, Category::Contact, Category::Message, Category::MMS, Category::Note,
        Category::CallHistory, Category::Calender, Category::BookMark, Category::FaceTwitter}) {
    expectFitted(c);
  }

  // A card scan's files.
  app_->brawScan_ = true;
  app_->showResultView();
  for (const char* type : {"Image", "Video", "Audio", "Document", "Archive"}) {
    post<PRScanListNode>(notify::kBlackBerryRawRecoveryFileInfo, [&](auto& f) {
      f.fileType = type, f.nodeName = std::string("DCIM/100APPLE/IMG_0001.") + type;
      f.nodeSizeString = "118.56M", f.fileSizeNumber = 118560000, f.bDeleted = "Yes";
      f.createTime = date, f.modifyTime = "01-31-2027 23:59";
      f.validaty = "Damaged (broken chain, cut short)";
    });
  }
  p->ScanFinishOnMainThread();
  for (Category c : {Category::RawImage, Category::RawVideo, Category::RawAudio,
                     Category::RawDocument, Category::RawArchive}) {
    expectFitted(c);
  }
}

}  // namespace
}  // namespace tamsel
