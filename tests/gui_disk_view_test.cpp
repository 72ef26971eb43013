// The memory-card source in the desktop front end, over the real controller and the built
// disk library and a generated card image: listing, scanning, stopping, added images and the
// system disk's question.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/orlisk_app_delegate.h"
#include "gui/main_window.h"
#include "raw/disk_library_path.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"
#include "util/format.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::answerNextAlert;
using testing::FatImageWriter;
using testing::kWaitMs;
using testing::TempFolder;
using testing::writeWholeFile;

const std::string kMemo = "a deleted memo\n";

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A card with one FAT16 partition holding a deleted memo and a live photo.
fs::path writeCard(const fs::path& dir) {
  FatImageWriter w(8192);
  w.addFile("memo.txt", kMemo, /*deleted=*/true);
  w.addDirectory("DCIM");
  w.addFile("DCIM/IMG_0001.JPG", std::string(3000, '\x42'));
  const uint32_t start = 2048;
  const fs::path img = dir / "card.img";
  writeWholeFile(img, FatImageWriter::inMbrDisk(w.bytes(), start, start + 8192 + 64));
  return img;
}

class GuiDiskView : public testing::WindowTest {
 protected:
  void beforeWindow() override {
    card_ = writeCard(tmp_.path());
    libraryEnv_.emplace("TAMSEL_DISKLIB", TAMSEL_DISKLIB_PATH);
    imagesEnv_.emplace("TAMSEL_DISKLIB_IMAGES", card_.string());
    // The added images are kept in the test's own folder.
    configEnv_.emplace("XDG_CONFIG_HOME", (tmp_.path() / "config").string());
  }
  void afterAttach() override {
    // As the program does at start-up.
    ASSERT_TRUE(app_->initDll(findDiskLibrary()));
    app_->scanThreadFinish = [this] { ++finished_; };
  }
  void afterWindow() override {
    configEnv_.reset();
    imagesEnv_.reset();
    libraryEnv_.reset();
  }

  DiskViewWidget& disks() { return *window_->diskPage(); }
  ResultWidget& screen() { return *window_->resultWidget(); }
  bool shown(QWidget* w) { return w->isVisibleTo(&*window_); }

  // The home view's memory-card button, as the user presses it.
  QTreeWidgetItem* openDiskView() {
    window_->memoryCardButton()->click();
    return disks().diskItem(QString::fromStdString(card_.string()));
  }
  // Pumps events until the raw scan thread has ended (its finishing step included).
  bool waitForScanEnd() {
    return QTest::qWaitFor([this] { return !app_->rawScanRunning(); }, kWaitMs);
  }
  // The names in the raw document table, shown through its category button.
  QStringList documentNames() {
    screen().categoryButton(Category::RawDocument)->click();
    RecordTableModel& m = *screen().model(Category::RawDocument);
    QStringList names;
    for (int r = 0; r < m.rowCount(); ++r) {
      names << m.index(r, m.columnOf(kColumnName)).data().toString();
    }
    return names;
  }

  fs::path card_;
  // Another card image beside the first.
  fs::path writeOtherCard(const std::string& name) {
    FatImageWriter w(16384);
    w.addFile("OTHER.TXT", "other");
    const fs::path img = tmp_.path() / name;
    w.writeTo(img);
    return img;
  }
  static QString sizeText(uint64_t bytes) { return QString::fromStdString(size_to_unit(bytes)); }
  static QString qs(const fs::path& p) { return QString::fromStdString(p.string()); }
  fs::path imageList() const { return tmp_.path() / "config" / "tamsel" / "disk-images"; }
  // Adds these images through the button, in order.
  void addImages(const std::vector<fs::path>& images) {
    for (const fs::path& image : images) {
      disks().setImageFileChooser([&] { return qs(image); });
      disks().addImageButton()->click();
    }
  }

  std::optional<ScopedEnv> libraryEnv_, imagesEnv_, configEnv_;
  std::atomic<int> finished_{0};
};

TEST_F(GuiDiskView, ListsTheCardAndScansTheSelectedDisk) {
  QTreeWidgetItem* disk = openDiskView();
  EXPECT_EQ(window_->currentPage(), &disks());
  EXPECT_FALSE(shown(window_->memoryCardButton()));
  EXPECT_EQ(window_->size(), QSize(849, 560));
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->text(DiskViewWidget::kDeviceColumn).toStdString(), card_.string());
  EXPECT_EQ(disk->text(DiskViewWidget::kNameColumn).toStdString(), card_.string());
  EXPECT_FALSE(disk->icon(DiskViewWidget::kNameColumn).isNull());
  EXPECT_EQ(disks().rowOf(disk)->deviceIndex, 255);

  // The partition, under its disk row, which is expanded.
  EXPECT_TRUE(disk->isExpanded());
  ASSERT_EQ(disk->childCount(), 1);
  QTreeWidgetItem* part = disk->child(0);
  EXPECT_EQ(part->text(DiskViewWidget::kTypeColumn), "vfat");
  EXPECT_EQ(part->text(DiskViewWidget::kDeviceColumn).toStdString(), card_.string());
  EXPECT_EQ(disks().rowOf(part)->deviceIndex, 1);
  EXPECT_EQ(disk->text(DiskViewWidget::kSizeColumn), sizeText(fs::file_size(card_)));
  EXPECT_EQ(part->text(DiskViewWidget::kSizeColumn), sizeText(8192 * 512));
  for (QTreeWidgetItem* row : {disk, part})
    EXPECT_EQ(row->text(DiskViewWidget::kNoteColumn), "Image file");

  // Scan waits for a selection; either row selects the card's disk and details it.
  EXPECT_FALSE(disks().scanButton()->isEnabled());
  EXPECT_TRUE(disks().detailLabel()->text().isEmpty());
  disks().tree()->setCurrentItem(part);
  const QString detail = disks().detailLabel()->text();
  EXPECT_TRUE(detail.startsWith("Partition 1 of " + qs(card_))) << detail.toStdString();
  EXPECT_TRUE(detail.contains(sizeText(8192 * 512)) && detail.contains("vfat"));
  EXPECT_FALSE(detail.contains("System disk"));
  EXPECT_TRUE(disks().scanButton()->isEnabled());
  EXPECT_EQ(app_->currentDiskName, card_.string());
  EXPECT_EQ(disks().controller()->currentScanNode(), disks().rowOf(part));
  disks().tree()->setCurrentItem(disk);
  EXPECT_EQ(disks().controller()->currentScanNode(), disks().rowOf(disk));

  disks().scanButton()->click();
  EXPECT_EQ(window_->currentPage(), &screen());
  EXPECT_EQ(window_->size(), QSize(849, 620));
  ASSERT_TRUE(waitForScanEnd());
  EXPECT_EQ(finished_.load(), 1);
  EXPECT_EQ(screen().fieldText(ResultField::scanTitle), "- Memory Card Recovery");
  EXPECT_FALSE(shown(screen().button(ResultButton::stop)));
  EXPECT_TRUE(screen().button(ResultButton::home)->isEnabled());

  // Raw categories only.
  EXPECT_TRUE(shown(screen().categoryButton(Category::RawDocument)));
  EXPECT_FALSE(shown(screen().categoryButton(Category::Contact)));
  EXPECT_EQ(documentNames(), QStringList{"memo.txt"});
  screen().categoryButton(Category::RawImage)->click();
  ASSERT_EQ(screen().model(Category::RawImage)->rowCount(), 1);

  // The found memo reads back through the library as the preview and recovery do.
  ResultLists lists = app_->resultViewController()->snapshot();
  ASSERT_EQ(lists.bbDocumentArray.size(), 1u);
  auto& memo = lists.bbDocumentArray[0];
  EXPECT_EQ(memo.get(), screen().model(Category::RawDocument)->rows()[0].get());
  std::string bytes(memo->getfile()->file_len, '\0');
  ASSERT_TRUE(app_->readFoundFile(bytes.data(), memo->getfile()));
  EXPECT_EQ(bytes, kMemo);
}

TEST_F(GuiDiskView, HomeGoesBackAndAnotherVisitListsAnew) {
  ASSERT_NE(openDiskView(), nullptr);
  disks().homeButton()->click();
  EXPECT_EQ(window_->currentPage(), window_->homePage());
  EXPECT_EQ(window_->size(), QSize(849, 560));
  EXPECT_TRUE(shown(window_->memoryCardButton()));
  EXPECT_TRUE(shown(window_->backupFileButton()));
  EXPECT_EQ(finished_.load(), 0);

  // A second visit lists anew; the earlier selection is gone and Scan waits for a new one.
  QTreeWidgetItem* disk = openDiskView();
  ASSERT_NE(disk, nullptr);
  disks().tree()->setCurrentItem(disk);
  disks().homeButton()->click();
  disk = openDiskView();
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(window_->currentPage(), &disks());
  EXPECT_TRUE(disks().tree()->selectedItems().isEmpty());
  EXPECT_FALSE(disks().scanButton()->isEnabled());
  EXPECT_EQ(disks().tree()->topLevelItemCount(),
            static_cast<int>(disks().controller()->rows().size()));
}

TEST_F(GuiDiskView, StopEndsTheScanAndTheNextScanRunsInFull) {
  disks().tree()->setCurrentItem(openDiskView());
  disks().scanButton()->click();
  screen().button(ResultButton::stop)->click();
  // The finishing step has run at once; the thread ends by itself.
  EXPECT_FALSE(shown(screen().button(ResultButton::stop)));
  ASSERT_TRUE(waitForScanEnd());
  EXPECT_EQ(finished_.load(), 1);

  answerNextAlert(" Back ");
  screen().button(ResultButton::home)->click();
  ASSERT_EQ(window_->currentPage(), window_->homePage());
  disks().tree()->setCurrentItem(openDiskView());
  disks().scanButton()->click();
  ASSERT_TRUE(waitForScanEnd());
  EXPECT_EQ(finished_.load(), 2);
  EXPECT_EQ(documentNames(), QStringList{"memo.txt"});
}

// Quitting during a scan: the scan thread's finishing step waits for the UI thread, which is
// busy shutting down and pumps no events. The window releases it, stops the scan and waits.
TEST_F(GuiDiskView, ShuttingDownDuringAScanStopsItWithoutDeadlock) {
  disks().tree()->setCurrentItem(openDiskView());
  disks().scanButton()->click();
  window_->shutDown();  // no event is processed in between
  EXPECT_FALSE(app_->rawScanRunning());
  EXPECT_EQ(finished_.load(), 1);
}

TEST_F(GuiDiskView, AddedImageIsListedSelectedAndKept) {
  const fs::path other = writeOtherCard("other card.img");
  ASSERT_NE(openDiskView(), nullptr);
  int asked = 0;
  QString answer;
  disks().setImageFileChooser([&] {
    ++asked;
    return answer;
  });
  const int before = disks().tree()->topLevelItemCount();
  disks().addImageButton()->click();  // cancelled: nothing changes
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(disks().tree()->topLevelItemCount(), before);

  answer = qs(tmp_.path());  // a folder
  disks().addImageButton()->click();
  EXPECT_EQ(disks().tree()->topLevelItemCount(), before);
  EXPECT_TRUE(disks().infoLabel()->text().contains("cannot be added"));

  answer = qs(other);
  disks().addImageButton()->click();
  QTreeWidgetItem* added = disks().diskItem(answer);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(disks().tree()->currentItem(), added);
  EXPECT_TRUE(disks().scanButton()->isEnabled());
  EXPECT_EQ(app_->currentDiskName, other.string());
  EXPECT_EQ(added->text(DiskViewWidget::kSizeColumn), sizeText(fs::file_size(other)));
  EXPECT_EQ(added->text(DiskViewWidget::kTypeColumn), "vfat");  // a card without a table
  EXPECT_EQ(testing::readWholeFile(imageList()), other.string() + "\n");

  // The next run (a new controller) hands the kept image to the library again.
  disks().detach();
  disks().attach(*app_);
  ASSERT_NE(openDiskView(), nullptr);
  EXPECT_EQ(disks().controller()->addedImages(), std::vector<std::string>{other.string()});
  EXPECT_NE(disks().diskItem(answer), nullptr);
}

// "Remove image" (the button or Delete) serves only the rows of added images; it takes them
// off the view and the kept list and leaves their files.
TEST_F(GuiDiskView, RemovedImagesLeaveTheViewAndTheListButTheirFilesStay) {
  const fs::path removed = writeOtherCard("removed.img"), gone = writeOtherCard("gone.img"),
                 kept = writeOtherCard("kept.img");
  ASSERT_NE(openDiskView(), nullptr);
  addImages({removed, gone, kept});
  const std::string evidence = testing::readWholeFile(removed);
  // Not for the disks of this computer, the image the environment offers or partitions.
  for (QTreeWidgetItemIterator it(disks().tree()); *it != nullptr; ++it) {
    const auto row = disks().rowOf(*it);
    SCOPED_TRACE(row->diskdev + " #" + std::to_string(row->deviceIndex));
    disks().tree()->setCurrentItem(*it);
    const fs::path file = row->diskdev;
    EXPECT_EQ(disks().removeImageButton()->isEnabled(),
              (file == removed || file == gone || file == kept) && row->deviceIndex == 255);
  }
  disks().tree()->setCurrentItem(disks().diskItem(qs(card_)));
  QTest::keyClick(disks().tree(), Qt::Key_Delete);  // not the user's: stays
  EXPECT_NE(disks().diskItem(qs(card_)), nullptr);
  disks().tree()->clearSelection();
  EXPECT_FALSE(disks().removeImageButton()->isEnabled());

  // One whose file went away while the program runs is marked, and can be removed too.
  fs::remove(gone);
  disks().refreshButton()->click();
  ASSERT_NE(disks().diskItem(qs(gone)), nullptr);
  EXPECT_EQ(disks().diskItem(qs(gone))->text(DiskViewWidget::kNoteColumn), "Missing");

  for (const bool deleteKey : {false, true}) {  // the button, then Delete
    const fs::path& image = deleteKey ? gone : removed;
    SCOPED_TRACE(image.string());
    disks().tree()->setCurrentItem(disks().diskItem(qs(image)));
    ASSERT_TRUE(disks().removeImageButton()->isEnabled());
    EXPECT_EQ(disks().scanButton()->isEnabled(), !deleteKey);  // a missing file is not scanned
    if (deleteKey) QTest::keyClick(disks().tree(), Qt::Key_Delete);
    if (!deleteKey) disks().removeImageButton()->click();
    EXPECT_EQ(disks().diskItem(qs(image)), nullptr);
    EXPECT_NE(disks().diskItem(qs(kept)), nullptr);
    EXPECT_FALSE(disks().removeImageButton()->isEnabled());
  }
  EXPECT_EQ(testing::readWholeFile(imageList()), kept.string() + "\n");
  EXPECT_EQ(testing::readWholeFile(removed), evidence);
}

TEST_F(GuiDiskView, AnImageAddedTwiceIsListedOnce) {
  const fs::path image = writeOtherCard("twice.img");
  fs::create_symlink(image, tmp_.path() / "link.img");
  ASSERT_NE(openDiskView(), nullptr);
  const auto listed = [&](const fs::path& file) {
    int n = 0;
    for (int i = 0; i < disks().tree()->topLevelItemCount(); ++i) {
      std::error_code ec;
      n += fs::equivalent(disks().rowOf(disks().tree()->topLevelItem(i))->diskdev, file, ec);
    }
    return n;
  };
  // The same path, another spelling, a link, then the image the environment offers.
  for (const fs::path& chosen :
       {image, image, tmp_.path() / "sub" / ".." / "twice.img", tmp_.path() / "link.img", card_}) {
    SCOPED_TRACE(chosen.string());
    addImages({chosen});
    EXPECT_EQ(listed(image), 1);
    EXPECT_EQ(listed(card_), 1);
    EXPECT_EQ(testing::readWholeFile(imageList()), image.string() + "\n");
    ASSERT_NE(disks().tree()->currentItem(), nullptr);
    EXPECT_TRUE(fs::equivalent(disks().rowOf(disks().tree()->currentItem())->diskdev,
                               chosen == card_ ? card_ : image));
  }
}

TEST_F(GuiDiskView, RefreshListsAnewAndKeepsTheSelection) {
  QTreeWidgetItem* disk = openDiskView();
  ASSERT_NE(disk, nullptr);
  disks().tree()->setCurrentItem(disk->child(0));
  const fs::path other = writeOtherCard("late.img");
  app_->diskTable()->addDiskImage(other.c_str());  // appears behind the view's back
  EXPECT_EQ(disks().diskItem(qs(other)), nullptr);

  disks().refreshButton()->click();
  EXPECT_NE(disks().diskItem(qs(other)), nullptr);
  QTreeWidgetItem* current = disks().tree()->currentItem();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(disks().rowOf(current)->diskdev, card_.string());
  EXPECT_EQ(disks().rowOf(current)->deviceIndex, 1);
  EXPECT_EQ(disks().controller()->currentScanNode(), disks().rowOf(current));
  EXPECT_TRUE(disks().scanButton()->isEnabled());
}

TEST_F(GuiDiskView, TheSystemDiskIsMarkedAndScannedOnlyWhenConfirmed) {
  // The card stands in for the system disk.
  disks().controller()->diskFileController().setDetailsReader(
      [this](const std::vector<std::string>& paths) {
        auto details = readDisksDetails(paths);
        details[card_.string()].systemDisk = true;
        return details;
      });
  QTreeWidgetItem* disk = openDiskView();
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->text(DiskViewWidget::kNoteColumn), "System disk");
  EXPECT_EQ(disk->child(0)->text(DiskViewWidget::kNoteColumn), "System disk");
  disks().tree()->setCurrentItem(disk);
  EXPECT_TRUE(disks().detailLabel()->text().contains("System disk"));

  // The real question, answered Cancel: no scan, the view stays.
  QString message;
  answerNextAlert("Cancel", &message);
  disks().scanButton()->click();
  EXPECT_TRUE(message.contains(QString::fromStdString(card_.string())));
  EXPECT_TRUE(message.contains("system disk"));
  EXPECT_EQ(window_->currentPage(), &disks());
  EXPECT_FALSE(app_->rawScanRunning());
  EXPECT_EQ(finished_.load(), 0);

  int asked = 0;
  disks().setSystemDiskConfirmer([&](const QString&) { return ++asked > 0; });
  disks().scanButton()->click();
  ASSERT_EQ(asked, 1);
  EXPECT_EQ(window_->currentPage(), &screen());
  ASSERT_TRUE(waitForScanEnd());
  EXPECT_EQ(finished_.load(), 1);
  EXPECT_EQ(documentNames(), QStringList{"memo.txt"});
}

TEST(GuiDiskViewWithoutLibrary, SaysSoAndListsNothing) {
  TempFolder tmp;
  MainWindow window;
  {
    OrliskAppDelegate app(&window, tmp.path() / "work");
    window.attach(app);
    window.memoryCardButton()->click();
    DiskViewWidget& disks = *window.diskPage();
    EXPECT_EQ(window.currentPage(), &disks);
    EXPECT_EQ(disks.tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(disks.infoLabel()->text().contains("disk library"));
    EXPECT_FALSE(disks.scanButton()->isEnabled());
    EXPECT_FALSE(disks.addImageButton()->isEnabled());
    EXPECT_FALSE(disks.controller()->CilckScan());
    disks.homeButton()->click();
    EXPECT_EQ(window.currentPage(), window.homePage());
    window.shutDown();
    window.detach();
  }
}

}  // namespace
}  // namespace tamsel
