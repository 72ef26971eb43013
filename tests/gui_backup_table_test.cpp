// The phone-backup table of the home view over the real controller and generated backups:
// rows and pictures, the Scan button that follows the selection, the hint of an empty list,
// the encrypted mark and password dialog, and scans of the selected row and of a chosen folder.
#include <gtest/gtest.h>

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QTableView>

#include "gui/backup_table_model.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::kWaitMs;
using Col = BackupTableModel::ColumnId;

TEST(GuiBackupTable, SizeTextOfTheByteCount) {
  const std::pair<std::string, QString> cases[] = {
      {"1500", "1.50K"}, {"999", "999.00B"},
      {"", ""},          {"12x", ""},
      {"-5", ""},        {"99999999999", "99999999999B"}};  // past 32 bits: the count as it is
  for (const auto& [bytes, text] : cases) EXPECT_EQ(BackupTableModel::sizeText(bytes), text);
}

class GuiBackupList : public testing::WindowTest {
 protected:
  void beforeWindow() override {
    testing::SampleBackupOptions o;
    o.deviceName = "Anna's phone";
    first_ = testing::writeSampleBackup(tmp_.path() / "Backup" / "a1", o);
    o.deviceName = "Carol's phone";
    o.firstName = "Carol";
    o.version = "5.1.1";
    o.layout = testing::IosBackupWriter::Layout::subfolders;
    o.index = testing::IosBackupWriter::Index::manifestDb;
    second_ = testing::writeSampleBackup(tmp_.path() / "Backup" / "b2", o);
  }
  void afterAttach() override {
    app_->setBackupRoot(tmp_.path() / "Backup");
    app_->applicationDidFinishLaunching();
  }

  QString cell(int row, int column, int role = Qt::DisplayRole) {
    return window_->backupModel()->index(row, column).data(role).toString();
  }
  int rows() { return window_->backupModel()->rowCount(); }
  QPushButton& scanButton() { return *window_->backupScanButton(); }
  void selectRow(int row) { window_->backupTable()->selectRow(row); }
  ResultWidget& screen() { return *window_->resultWidget(); }
  bool scanFinished() {
    PRResultViewController* p = app_->resultViewController();
    return p && p->currentCategory() == Category::CallHistory && !app_->scanRunning();
  }
  // The count labels and every phone table hold what a scan of `backup` finds.
  void expectResultsOf(const testing::SampleBackup& b) {
    EXPECT_EQ(screen().fieldText(ResultField::contactNumlab),
              QString("Contacts:  %1").arg(b.contacts));
    EXPECT_EQ(screen().fieldText(ResultField::messageNumlab),
              QString("Messages:  %1").arg(b.messages));
    EXPECT_EQ(screen().fieldText(ResultField::callNumlab),
              QString("Call History:  %1").arg(b.calls));
    EXPECT_EQ(screen().fieldText(ResultField::noteNumlab), QString("Notes:  %1").arg(b.notes));
    EXPECT_EQ(screen().fieldText(ResultField::photovideoNumlab),
              QString("Photo&Video:  %1").arg(b.photos));
    const std::pair<Category, size_t> tables[] = {
        {Category::Contact, b.contacts},   {Category::Message, b.messages},
        {Category::CallHistory, b.calls},  {Category::Note, b.notes},
        {Category::BookMark, b.bookmarks}, {Category::Calender, b.calendar},
        {Category::Photo, b.photos},       {Category::FaceTwitter, b.appFiles}};
    for (const auto& [c, n] : tables) {
      screen().categoryButton(c)->click();  // as the user shows it
      EXPECT_EQ(screen().model(c)->rowCount(), static_cast<int>(n)) << static_cast<int>(c);
    }
  }

  testing::SampleBackup first_, second_;
};

TEST_F(GuiBackupList, ListsTheBackupsAndScanFollowsTheSelection) {
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(cell(0, Col::kName), "Anna's phone");
  EXPECT_EQ(cell(1, Col::kName), "Carol's phone");
  EXPECT_EQ(cell(1, Col::kModel), "Iphone 5");
  EXPECT_EQ(cell(1, Col::kVersion), "5.1.1");
  EXPECT_FALSE(cell(0, Col::kSize).isEmpty());
  EXPECT_EQ(cell(1, Col::kName, Qt::ToolTipRole), QString::fromStdString(second_.folder.string()));
  // The device's picture beside the name, in the table's font.
  const QModelIndex name = window_->backupModel()->index(0, Col::kName);
  EXPECT_EQ(name.data(Qt::DecorationRole).value<QPixmap>().height(), 16);
  EXPECT_FALSE(name.siblingAtColumn(Col::kModel).data(Qt::DecorationRole).isValid());
  EXPECT_EQ(name.data(Qt::FontRole).value<QFont>().family(), "Lucida Grande");
  EXPECT_EQ(name.data(Qt::FontRole).value<QFont>().pointSize(), 11);
  EXPECT_EQ(window_->backupModel()->headerData(Col::kName, Qt::Horizontal, Qt::FontRole),
            name.data(Qt::FontRole));  // the header matches the rows
  EXPECT_GT(devicePicture("ipad", 16).width(), devicePicture("iphone", 16).width());
  EXPECT_FALSE(window_->backupListHint()->isVisibleTo(&*window_));

  EXPECT_FALSE(scanButton().isEnabled());
  selectRow(1);
  EXPECT_TRUE(scanButton().isEnabled());
  window_->backupTable()->clearSelection();
  EXPECT_FALSE(scanButton().isEnabled());
  selectRow(0);
  app_->showIphoneDiskView();  // a new listing selects nothing
  EXPECT_EQ(rows(), 2);
  EXPECT_FALSE(scanButton().isEnabled());
}

TEST_F(GuiBackupList, EmptyRootSaysWhereBackupsAreLookedFor) {
  const fs::path empty = tmp_.path() / "no backups here";
  fs::create_directories(empty / ".hidden");
  app_->setBackupRoot(empty);
  app_->showIphoneDiskView();
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(window_->backupListHint()->isVisibleTo(&*window_));
  EXPECT_TRUE(window_->backupListHint()->text().contains(QString::fromStdString(empty.string())));
}

TEST_F(GuiBackupList, EncryptedBackupIsMarkedAndAsksForItsPassword) {
  // Carol's backup, encrypted.
  const testing::EncryptionOptions locked;
  testing::encryptBackup(second_.folder, tmp_.path() / "other" / "c3", locked);
  app_->setBackupRoot(tmp_.path() / "other");
  app_->showIphoneDiskView();
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(cell(0, Col::kName), "Carol's phone (encrypted)");
  auto askedFor = [this] {
    selectRow(0);  // the home view coming back lists the backups anew
    scanButton().click();
    return QTest::qWaitFor([this] { return window_->passwordDialog() != nullptr; }, kWaitMs);
  };

  // Cancel: no scan.
  ASSERT_TRUE(askedFor());
  EXPECT_EQ(window_->passwordDialog()->textEchoMode(), QLineEdit::Password);
  window_->passwordDialog()->reject();
  QTest::qWait(200);
  EXPECT_FALSE(app_->scanRunning());
  EXPECT_EQ(window_->outcomeAlert(), nullptr);
  EXPECT_EQ(window_->currentPage(), window_->homePage());

  // A wrong password: the alert says so, and the home view comes back.
  ASSERT_TRUE(askedFor());
  window_->passwordDialog()->setTextValue("not it");
  window_->passwordDialog()->accept();
  ASSERT_TRUE(QTest::qWaitFor([this] { return window_->outcomeAlert() != nullptr; }, kWaitMs));
  EXPECT_EQ(window_->outcomeAlert()->text(), "Wrong password");
  EXPECT_TRUE(window_->outcomeAlert()->informativeText().contains("wrong password"));
  window_->outcomeAlert()->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return window_->currentPage() == window_->homePage(); }, kWaitMs));

  // The right one: the records of the clear backup.
  ASSERT_TRUE(askedFor());
  window_->passwordDialog()->setTextValue(QString::fromStdString(locked.password));
  window_->passwordDialog()->accept();
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(second_);
}

// Scan takes the selected row's backup, not the first one: the second backup's first
// contact is Carol, the first backup's Anna.
TEST_F(GuiBackupList, ScanOfTheSelectedRowFillsTheResultScreen) {
  selectRow(1);
  scanButton().click();
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(second_);
  RecordTableModel& contacts = *screen().model(Category::Contact);
  QString names;
  for (int r = 0; r < contacts.rowCount(); ++r) {
    names += contacts.index(r, contacts.columnOf(kColumnName)).data().toString() + '|';
  }
  EXPECT_TRUE(names.contains("Carol") && !names.contains("Anna")) << names.toStdString();
}

TEST_F(GuiBackupList, ChosenFolderIsScanned) {
  testing::chooseInNextFileDialog(first_.folder, [](QFileDialog* d) {
    EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(d->testOption(QFileDialog::ShowDirsOnly));
  });
  window_->chooseFolderButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(first_);
}

}  // namespace
}  // namespace tamsel
