// The phone-backup table of the home view and the scan it starts: the table's rows and
// pictures, the Scan button that follows the selection, the hint of an empty list, the folder
// chooser, and a scan of a generated backup through the result screen.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/orlisk_app_delegate.h"
#include "gui/backup_table_model.h"
#include "gui/main_window.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::answerNextAlert;
using testing::chooseInNextFileDialog;
using testing::kWaitMs;

std::shared_ptr<PRIOSDeviceNode> node(std::string name, std::string type, std::string picture,
                                      std::string size, bool encrypted) {
  auto n = std::make_shared<PRIOSDeviceNode>();
  n->strDeviceName = std::move(name);
  n->strDeviceType = std::move(type);
  n->deviceImage = std::move(picture);
  n->strDeviceSize = std::move(size);
  n->encrypted = encrypted;
  n->strIOSVersion = "6.1.3";
  n->strDeviceBackUpTime = "2013-04-09 12:26";
  n->backUpFilePath = "/backups/" + n->strDeviceName;
  return n;
}

QString cellText(const BackupTableModel& m, int row, int column) {
  return m.index(row, column).data().toString();
}

TEST(GuiBackupTable, RowsShowTheNodesWithTheirPictures) {
  BackupTableModel m;
  const struct {
    std::shared_ptr<PRIOSDeviceNode> node;
    QString name, size;
    bool tablet;
  } rows[] = {
      {node("Anna's phone", "Iphone 5", "iphone", "1500", false), "Anna's phone", "1.50K", false},
      {node("Tablet", "NewIpad", "ipad", "999", true), "Tablet (encrypted)", "999.00B", true},
      // Older backups have no Info.plist size; a count that is not a number shows nothing.
      {node("Old", "", "iphone", "", false), "Old", "", false},
      {node("Odd", "Ipad 2", "", "12x", false), "Odd", "", false},
  };
  std::vector<std::shared_ptr<PRIOSDeviceNode>> nodes;
  for (const auto& r : rows) nodes.push_back(r.node);
  m.setNodes(nodes);
  ASSERT_EQ(m.rowCount(), static_cast<int>(std::size(rows)));
  EXPECT_EQ(m.headerData(BackupTableModel::kName, Qt::Horizontal).toString(), "Name");

  for (int i = 0; i < m.rowCount(); ++i) {
    SCOPED_TRACE(i);
    const auto& r = rows[i];
    EXPECT_EQ(cellText(m, i, BackupTableModel::kName), r.name);
    EXPECT_EQ(cellText(m, i, BackupTableModel::kModel),
              QString::fromStdString(r.node->strDeviceType));
    EXPECT_EQ(cellText(m, i, BackupTableModel::kVersion), "6.1.3");
    EXPECT_EQ(cellText(m, i, BackupTableModel::kBackupTime), "2013-04-09 12:26");
    EXPECT_EQ(cellText(m, i, BackupTableModel::kSize), r.size);
    EXPECT_EQ(m.index(i, BackupTableModel::kName)
                  .data(Qt::ToolTipRole)
                  .toString()
                  .startsWith(QString::fromStdString(r.node->backUpFilePath)),
              true);

    // The picture sits beside the name only: a tablet is drawn wider than a phone.
    const auto picture =
        m.index(i, BackupTableModel::kName).data(Qt::DecorationRole).value<QPixmap>();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.height(), 16);
    EXPECT_EQ(picture.width() > 10, r.tablet) << picture.width();
    EXPECT_FALSE(m.index(i, BackupTableModel::kModel).data(Qt::DecorationRole).isValid());

    const QFont font = m.index(i, BackupTableModel::kName).data(Qt::FontRole).value<QFont>();
    EXPECT_EQ(font.family(), "Lucida Grande");
    EXPECT_EQ(font.pointSize(), 11);
  }
  // Pictures of the same resource and size are the same image.
  EXPECT_EQ(devicePicture("ipad", 32).cacheKey(), devicePicture("ipad", 32).cacheKey());
  EXPECT_NE(devicePicture("ipad", 32).cacheKey(), devicePicture("iphone", 32).cacheKey());

  m.setNodes({});
  EXPECT_EQ(m.rowCount(), 0);
  EXPECT_FALSE(m.index(0, 0).data().isValid());
}

// The home view over the real controller, with a backup root of generated phone backups.
class GuiBackupList : public testing::WindowTest {
 protected:
  void beforeWindow() override {
    if (const char* home = std::getenv("HOME")) previousHome_ = home;
    fs::create_directories(tmp_.path() / "home");
    setenv("HOME", (tmp_.path() / "home").c_str(), 1);
    root_ = tmp_.path() / "Backup";
    testing::SampleBackupOptions anna;
    anna.deviceName = "Anna's phone";
    first_ = testing::writeSampleBackup(root_ / "a1", anna);
    testing::SampleBackupOptions carol;
    carol.deviceName = "Carol's phone";
    carol.firstName = "Carol";
    carol.version = "5.1.1";
    carol.serial = "C39SAMPLE02";
    carol.layout = testing::IosBackupWriter::Layout::subfolders;
    carol.index = testing::IosBackupWriter::Index::manifestDb;
    second_ = testing::writeSampleBackup(root_ / "b2", carol);
  }
  void afterAttach() override {
    app_->setBackupRoot(root_);
    app_->applicationDidFinishLaunching();
  }
  void afterWindow() override {
    if (previousHome_) {
      setenv("HOME", previousHome_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

  BackupTableModel& list() { return *window_->backupModel(); }
  QPushButton& scanButton() { return *window_->backupScanButton(); }
  void selectRow(int row) { window_->backupTable()->selectRow(row); }
  ResultWidget& screen() { return *window_->resultWidget(); }
  PRResultViewController* presenter() { return app_->resultViewController(); }
  bool scanFinished() {
    return presenter() && presenter()->currentCategory() == Category::CallHistory &&
           !app_->scanRunning();
  }
  // Shows a category as the user does and returns its table's row count.
  int rowsOf(Category c) {
    screen().categoryButton(c)->click();
    return screen().model(c)->rowCount();
  }
  // Every cell text of a table's column with this identifier.
  QStringList column(Category c, std::string_view id) {
    RecordTableModel& m = *screen().model(c);
    QStringList texts;
    for (int r = 0; r < m.rowCount(); ++r) texts << m.index(r, m.columnOf(id)).data().toString();
    return texts;
  }
  // The result screen holds what a scan of `backup` finds.
  void expectResultsOf(const testing::SampleBackup& backup) {
    EXPECT_EQ(screen().fieldText(ResultField::contactNumlab),
              QStringLiteral("Contacts:  %1").arg(backup.contacts));
    EXPECT_EQ(screen().fieldText(ResultField::messageNumlab),
              QStringLiteral("Messages:  %1").arg(backup.messages));
    EXPECT_EQ(screen().fieldText(ResultField::callNumlab),
              QStringLiteral("Call History:  %1").arg(backup.calls));
    EXPECT_EQ(screen().fieldText(ResultField::noteNumlab),
              QStringLiteral("Notes:  %1").arg(backup.notes));
    EXPECT_EQ(screen().fieldText(ResultField::photovideoNumlab),
              QStringLiteral("Photo&Video:  %1").arg(backup.photos));
    const struct {
      Category category;
      size_t expected;
    } tables[] = {{Category::Contact, backup.contacts},   {Category::Message, backup.messages},
                  {Category::CallHistory, backup.calls},  {Category::Note, backup.notes},
                  {Category::BookMark, backup.bookmarks}, {Category::Calender, backup.calendar},
                  {Category::Photo, backup.photos},       {Category::FaceTwitter, backup.appFiles}};
    for (const auto& t : tables) {
      EXPECT_EQ(rowsOf(t.category), static_cast<int>(t.expected)) << static_cast<int>(t.category);
    }
  }

  fs::path root_;
  testing::SampleBackup first_, second_;

 private:
  std::optional<std::string> previousHome_;
};

TEST_F(GuiBackupList, ListsTheBackupsAndScanFollowsTheSelection) {
  ASSERT_EQ(list().rowCount(), 2);
  EXPECT_EQ(cellText(list(), 0, BackupTableModel::kName), "Anna's phone");
  EXPECT_EQ(cellText(list(), 1, BackupTableModel::kName), "Carol's phone");
  EXPECT_EQ(cellText(list(), 1, BackupTableModel::kModel), "Iphone 5");
  EXPECT_EQ(cellText(list(), 1, BackupTableModel::kVersion), "5.1.1");
  EXPECT_FALSE(cellText(list(), 0, BackupTableModel::kSize).isEmpty());
  EXPECT_FALSE(window_->backupListHint()->isVisibleTo(&*window_));

  EXPECT_FALSE(scanButton().isEnabled());
  selectRow(1);
  EXPECT_TRUE(scanButton().isEnabled());
  window_->backupTable()->clearSelection();
  EXPECT_FALSE(scanButton().isEnabled());
  selectRow(0);
  EXPECT_TRUE(scanButton().isEnabled());

  // A new listing selects nothing.
  app_->showIphoneDiskView();
  EXPECT_EQ(list().rowCount(), 2);
  EXPECT_FALSE(scanButton().isEnabled());
}

TEST_F(GuiBackupList, EmptyRootSaysWhereBackupsAreLookedFor) {
  const fs::path empty = tmp_.path() / "no backups here";
  fs::create_directories(empty / ".hidden");
  app_->setBackupRoot(empty);
  app_->showIphoneDiskView();
  EXPECT_EQ(list().rowCount(), 0);
  EXPECT_FALSE(scanButton().isEnabled());
  EXPECT_TRUE(window_->backupListHint()->isVisibleTo(&*window_));
  EXPECT_TRUE(window_->backupListHint()->text().contains(QString::fromStdString(empty.string())));
}

TEST_F(GuiBackupList, EncryptedBackupIsMarked) {
  const fs::path other = tmp_.path() / "other";
  testing::SampleBackupOptions locked;
  locked.deviceName = "Locked phone";
  locked.encrypted = true;
  testing::writeSampleBackup(other / "c3", locked);
  app_->setBackupRoot(other);
  app_->showIphoneDiskView();
  ASSERT_EQ(list().rowCount(), 1);
  EXPECT_EQ(cellText(list(), 0, BackupTableModel::kName), "Locked phone (encrypted)");
}

// Scan takes the selected row's backup, not the first one: the second backup's first
// contact is Carol, the first backup's Anna.
TEST_F(GuiBackupList, ScanOfTheSelectedRowFillsTheResultScreen) {
  selectRow(1);
  scanButton().click();
  EXPECT_EQ(window_->currentPage(), window_->resultWidget());
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(second_);
  const QStringList names = column(Category::Contact, kColumnName);
  EXPECT_TRUE(names.join('|').contains("Carol")) << names.join('|').toStdString();
  EXPECT_FALSE(names.join('|').contains("Anna")) << names.join('|').toStdString();
  // The phone's photos are listed by their names on the phone.
  QStringList photos = column(Category::Photo, kColumnName);
  photos.sort();
  QStringList expected;
  for (const std::string& n : second_.photoNames) expected << QString::fromStdString(n);
  expected.sort();
  EXPECT_EQ(photos, expected);

  // Home, then the first row's backup.
  answerNextAlert(" Back ");
  screen().button(ResultButton::home)->click();
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return window_->currentPage() == window_->homePage(); }, kWaitMs));
  selectRow(0);
  scanButton().click();
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(first_);
  EXPECT_TRUE(column(Category::Contact, kColumnName).join('|').contains("Anna"));
}

TEST_F(GuiBackupList, ChosenFolderIsScanned) {
  chooseInNextFileDialog(first_.folder, [](QFileDialog* d) {
    EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(d->testOption(QFileDialog::ShowDirsOnly));
  });
  window_->chooseFolderButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([this] { return scanFinished(); }, kWaitMs));
  expectResultsOf(first_);
}

}  // namespace
}  // namespace tamsel
