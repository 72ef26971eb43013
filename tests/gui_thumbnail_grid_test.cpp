// The thumbnail grid of the picture categories, driven by the presenter with a stand-in host
// on the offscreen platform: the grid shows the table's rows, thumbnails arrive from the
// worker at the thumbnail size (only for the items in sight), ticking and selecting go
// through the table's model and selection, pictures that cannot be shown get the generic
// icon, and a new scan or going home drops the thumbnails.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QtTest/QTest>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "events/notification_names.h"
#include "gui/result_widget.h"
#include "gui/thumbnail_grid.h"
#include "results/picture_source.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/png_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/gui_test_support.h"

namespace tamsel {
namespace {

using testing::kWaitMs;

Bytes png(int width, int height) {
  return fixtures::makePng(width, height, [](int x, int y) {
    return fixtures::Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 0x80};
  });
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class GuiThumbnails : public ::testing::Test {
 protected:
  GuiThumbnails() : presenter_(nc_, screen_, host_) {
    screen_.setPresenterSource([this] { return &presenter_; });
    screen_.resize(1000, 640);
  }
  // The worker stops before the host it may read through goes.
  ~GuiThumbnails() override { screen_.beginShutdown(); }

  // A phone photo stored as `bytes` (none: no file at all).
  std::shared_ptr<PRPhotoAndVideoNode> photo(const std::string& name, const Bytes& bytes,
                                             bool video = false) {
    auto p = std::make_shared<PRPhotoAndVideoNode>();
    p->fileNodeName = name;
    p->filePath = (tmp_.path() / name).string();
    p->bmov = video;
    if (!bytes.empty()) writeFile(p->filePath, bytes);
    nc_.post(notify::kScanPhotoAndVideo, std::shared_ptr<PRNode>(p));
    return p;
  }
  // A memory card's image of `size` bytes (the stand-in library delivers host_.fileBytes).
  std::shared_ptr<PRScanListNode> cardImage(std::string name, uint64_t size, bool deleted) {
    auto s = std::make_shared<PRScanListNode>();
    s->nodeName = name;
    s->fileType = "Image";
    s->fileSizeNumber = size;
    s->foundFlags = deleted ? TAMSEL_FOUND_DELETED : 0u;
    s->bDeleted = deleted ? "Yes" : "";
    _rec_file_ele ele{0x1000, static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)),
                      static_cast<uint32_t>(name.size()), name.data(), nullptr};
    s->setfile(ele);
    nc_.post(notify::kBlackBerryRawRecoveryFileInfo, std::shared_ptr<PRNode>(s));
    return s;
  }
  // The scan has ended and `c` is shown as thumbnails.
  void showGrid(Category c) {
    presenter_.ScanFinishOnMainThread();
    presenter_.showCategory(c);
    screen_.show();
    screen_.pictureViews(c)->thumbnailsButton()->click();
    grid_ = screen_.thumbnailGrid(c);
    ASSERT_NE(grid_, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen_));
  }
  bool settled() { return !grid_->maker().busy(); }
  // Waits until no row is waiting for its thumbnail among `rows`.
  bool waitForThumbnails(const std::vector<int>& rows) {
    return QTest::qWaitFor(
        [&] {
          return std::none_of(rows.begin(), rows.end(), [&](int r) {
            return grid_->thumbnailState(r) == ThumbnailGrid::Thumb::waiting;
          });
        },
        kWaitMs);
  }
  std::vector<int> tableSelection(Category c) {
    std::vector<int> rows;
    for (const QModelIndex& i : screen_.table(c)->selectionModel()->selectedRows()) {
      rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // The rows whose items are in the grid's sight.
  std::vector<int> rowsInSight() {
    std::vector<int> rows;
    for (int r = 0; r < grid_->model()->rowCount(); ++r) {
      if (grid_->visualRect(grid_->model()->index(r, 0)).intersects(grid_->viewport()->rect())) {
        rows.push_back(r);
      }
    }
    return rows;
  }

  testing::TempFolder tmp_;
  NotificationCenter nc_;
  ResultWidget screen_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_;
  ThumbnailGrid* grid_ = nullptr;
};

TEST_F(GuiThumbnails, GridShowsTheTableRowsWithThumbnailsAtTheirScaledSize) {
  presenter_.showView();
  struct Case {
    const char* name;
    int width, height;
    QSize thumbnail;
  };
  const Case cases[] = {{"wide.png", 400, 200, QSize(120, 60)},
                        {"tall.png", 100, 300, QSize(40, 120)},
                        {"small.png", 50, 30, QSize(50, 30)},  // never enlarged
                        {"square.png", 640, 640, QSize(120, 120)}};
  for (const Case& c : cases) photo(c.name, png(c.width, c.height));
  showGrid(Category::Photo);

  PictureViews* views = screen_.pictureViews(Category::Photo);
  EXPECT_TRUE(views->showingThumbnails());
  EXPECT_TRUE(grid_->isVisible());
  EXPECT_FALSE(screen_.table(Category::Photo)->isVisible());
  EXPECT_EQ(screen_.pictureViews(Category::Contact), nullptr);  // not a picture category
  EXPECT_EQ(screen_.pictureViews(Category::RawAudio), nullptr);

  const ResultRows& rows = presenter_.displayList(Category::Photo);
  ASSERT_EQ(grid_->model()->rowCount(), static_cast<int>(rows.size()));
  ASSERT_EQ(rows.size(), std::size(cases));
  ASSERT_TRUE(waitForThumbnails({0, 1, 2, 3}));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const auto* p = dynamic_cast<const PRPhotoAndVideoNode*>(rows[r].get());
    ASSERT_NE(p, nullptr);
    const Case& c = *std::find_if(std::begin(cases), std::end(cases),
                                  [&](const Case& k) { return p->fileNodeName == k.name; });
    SCOPED_TRACE(c.name);
    EXPECT_EQ(grid_->itemText(r), c.name);
    EXPECT_FALSE(grid_->markedDeleted(r));
    EXPECT_EQ(grid_->thumbnailState(r), ThumbnailGrid::Thumb::picture);
    EXPECT_EQ(grid_->thumbnail(r).size(), c.thumbnail);
  }
  // Each picture was made once.
  EXPECT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));
  EXPECT_EQ(grid_->maker().madeCount(), 4);
  // Back to the table from the keyboard: the same rows, the grid hidden.
  EXPECT_TRUE(views->tableButton()->focusPolicy() & Qt::TabFocus);
  views->tableButton()->setFocus();
  QTest::keyClick(views->tableButton(), Qt::Key_Space);
  EXPECT_FALSE(views->showingThumbnails());
  EXPECT_TRUE(screen_.table(Category::Photo)->isVisible());
  EXPECT_FALSE(grid_->isVisible());
}

TEST_F(GuiThumbnails, PicturesThatCannotBeShownGetAnIcon) {
  presenter_.showView();
  photo("good.png", png(20, 20));
  photo("garbage.jpg", Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x01, 0x02, 0x03});
  photo("gone.jpg", {});  // no stored file
  photo("clip.mov", png(20, 20), true);
  showGrid(Category::Photo);
  ASSERT_EQ(grid_->model()->rowCount(), 4);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2, 3}));
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(grid_->itemText(r).toStdString());
    const bool good = grid_->itemText(r) == "good.png";
    EXPECT_EQ(grid_->thumbnailState(r),
              good ? ThumbnailGrid::Thumb::picture : ThumbnailGrid::Thumb::generic);
    EXPECT_EQ(grid_->thumbnail(r).isNull(), !good);
    if (!good) {
      EXPECT_FALSE(grid_->fallbackIcon(r).isNull());
    }
  }
  EXPECT_FALSE(ThumbnailGrid::genericPicture().isNull());
  // The video is never read, so only three pictures were made.
  EXPECT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));
  EXPECT_EQ(grid_->maker().madeCount(), 3);
  // Drawing every kind of item works.
  EXPECT_FALSE(grid_->viewport()->grab().isNull());
}

TEST_F(GuiThumbnails, FilterBoxNarrowsTheGridAndKeepsTheThumbnails) {
  presenter_.showView();
  for (const char* name : {"beach-1.png", "city.png", "beach-2.png"}) photo(name, png(30, 30));
  showGrid(Category::Photo);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));

  QTest::keyClicks(screen_.searchBox(), "beach");
  ASSERT_EQ(grid_->model()->rowCount(), 2);
  EXPECT_EQ(grid_->itemText(0), "beach-1.png");
  EXPECT_EQ(grid_->itemText(1), "beach-2.png");
  EXPECT_EQ(grid_->thumbnailState(0), ThumbnailGrid::Thumb::picture);
  EXPECT_EQ(grid_->thumbnailState(1), ThumbnailGrid::Thumb::picture);
  // The presenter's first-row selection shows in the grid.
  EXPECT_TRUE(grid_->selectionModel()->isRowSelected(0, {}));

  QTest::keyClicks(screen_.searchBox(), "xyz");
  EXPECT_EQ(grid_->model()->rowCount(), 0);
  EXPECT_FALSE(grid_->viewport()->grab().isNull());  // the empty text is drawn
  screen_.searchBox()->clear();
  presenter_.setSearchText("");
  EXPECT_EQ(grid_->model()->rowCount(), 3);
  QTest::qWait(50);
  EXPECT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));
  EXPECT_EQ(grid_->maker().madeCount(), 3);  // nothing made twice
}

TEST_F(GuiThumbnails, TicksAndSelectionGoThroughTheTable) {
  presenter_.showView();
  std::vector<std::shared_ptr<PRPhotoAndVideoNode>> photos;
  for (const char* name : {"a.png", "b.png", "c.png"}) photos.push_back(photo(name, png(16, 16)));
  showGrid(Category::Photo);
  ASSERT_EQ(grid_->model()->rowCount(), 3);
  auto recordAt = [&](int row) {
    return static_cast<PRPhotoAndVideoNode*>(presenter_.displayList(Category::Photo)[row].get());
  };

  // The tick box of an item ticks its record, as the table's tick column does.
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, grid_->tickRect(1).center());
  EXPECT_TRUE(recordAt(1)->bSelected.get());
  EXPECT_EQ(screen_.model(Category::Photo)->index(1, 0).data(Qt::CheckStateRole).toInt(),
            Qt::Checked);
  EXPECT_EQ(presenter_.selectedFilesNum(), 1);
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, grid_->tickRect(1).center());
  EXPECT_FALSE(recordAt(1)->bSelected.get());
  EXPECT_EQ(presenter_.selectedFilesNum(), 0);

  // A click on an item selects the table's row and previews it.
  const QRect item2 = grid_->visualRect(grid_->model()->index(2, 0));
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, item2.center());
  EXPECT_EQ(tableSelection(Category::Photo), std::vector<int>{2});
  EXPECT_EQ(presenter_.selectedRows(), std::vector<int>{2});
  EXPECT_EQ(screen_.fieldText(ResultField::photoFileName).toStdString(),
            "Name: " + recordAt(2)->fileNodeName);

  // The arrow keys move the selection; Space ticks the selected items.
  grid_->setFocus();
  QTest::keyClick(grid_, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(tableSelection(Category::Photo), (std::vector<int>{1, 2}));
  EXPECT_EQ(presenter_.selectedRows().back(), 1);
  QTest::keyClick(grid_, Qt::Key_Space);
  EXPECT_FALSE(recordAt(0)->bSelected.get());
  EXPECT_TRUE(recordAt(1)->bSelected.get());
  EXPECT_TRUE(recordAt(2)->bSelected.get());
  EXPECT_EQ(presenter_.selectedFilesNum(), 2);

  // Enter previews the current item.
  QTest::keyClick(grid_, Qt::Key_Left);
  EXPECT_EQ(tableSelection(Category::Photo), std::vector<int>{0});
  screen_.setText(ResultField::photoFileName, "");
  QTest::keyClick(grid_, Qt::Key_Return);
  EXPECT_EQ(screen_.fieldText(ResultField::photoFileName).toStdString(),
            "Name: " + recordAt(0)->fileNodeName);
}

TEST_F(GuiThumbnails, CardImagesAreReadThroughTheLibraryAndDeletedOnesMarked) {
  host_.raw = true;
  host_.fileBytes = png(240, 60);
  presenter_.showView();
  const auto size = static_cast<uint64_t>(host_.fileBytes.size());
  cardImage("IMG_0001.png", size, false);
  cardImage("huge.jpg", ThumbnailGrid::kMaxSourceBytes + 1, false);
  cardImage("IMG_0002.png", size, true);
  showGrid(Category::RawImage);
  ASSERT_EQ(grid_->model()->rowCount(), 3);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2}));
  const ThumbnailGrid::Thumb want[] = {ThumbnailGrid::Thumb::picture, ThumbnailGrid::Thumb::generic,
                                       ThumbnailGrid::Thumb::picture};
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(grid_->thumbnailState(r), want[r]);
    EXPECT_EQ(grid_->markedDeleted(r), r == 2);
  }
  EXPECT_EQ(grid_->thumbnail(0).size(), QSize(120, 30));
}

TEST_F(GuiThumbnails, OnlyItemsInSightAreMadeUntilTheGridScrolls) {
  presenter_.showView();
  const Bytes picture = png(64, 48);
  for (int i = 0; i < 80; ++i) photo("p" + std::to_string(100 + i) + ".png", picture);
  showGrid(Category::Photo);
  ASSERT_EQ(grid_->model()->rowCount(), 80);
  const std::vector<int> first = rowsInSight();
  ASSERT_FALSE(first.empty());
  ASSERT_LT(first.size(), 80u);
  ASSERT_TRUE(waitForThumbnails(first));
  ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));
  EXPECT_EQ(grid_->maker().madeCount(), static_cast<int>(first.size()));
  EXPECT_EQ(grid_->thumbnailState(79), ThumbnailGrid::Thumb::waiting);

  grid_->verticalScrollBar()->setValue(grid_->verticalScrollBar()->maximum());
  const std::vector<int> last = rowsInSight();
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(last.back(), 79);
  ASSERT_TRUE(waitForThumbnails(last));
  ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, kWaitMs));
  EXPECT_EQ(grid_->maker().madeCount(), static_cast<int>(first.size() + last.size()));
}

TEST_F(GuiThumbnails, NewScanAndGoingHomeDropTheThumbnails) {
  presenter_.showView();
  photo("a.png", png(10, 10));
  photo("b.png", png(10, 10));
  showGrid(Category::Photo);
  ASSERT_TRUE(waitForThumbnails({0, 1}));
  EXPECT_EQ(grid_->cachedCount(), 2u);

  presenter_.showView();  // a new scan
  EXPECT_EQ(grid_->cachedCount(), 0u);

  photo("c.png", png(10, 10));
  showGrid(Category::Photo);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2}));
  EXPECT_EQ(grid_->cachedCount(), 3u);
  testing::answerNextAlert(" Back ");
  presenter_.actHome();
  EXPECT_EQ(grid_->cachedCount(), 0u);
  EXPECT_EQ(grid_->model()->rowCount(), 0);
}

TEST_F(GuiThumbnails, ClosingStopsTheWorker) {
  presenter_.showView();
  const Bytes picture = png(800, 600);
  for (int i = 0; i < 40; ++i) photo("big" + std::to_string(i) + ".png", picture);
  showGrid(Category::Photo);
  ASSERT_TRUE(QTest::qWaitFor([&] { return grid_->maker().busy(); }, kWaitMs));
  screen_.beginShutdown();
  // The worker has ended: nothing waits, nothing is made later, however the grid is asked.
  EXPECT_FALSE(grid_->maker().busy());
  const int made = grid_->maker().madeCount();
  grid_->verticalScrollBar()->setValue(grid_->verticalScrollBar()->maximum());
  QTest::qWait(100);
  EXPECT_FALSE(grid_->maker().busy());
  EXPECT_EQ(grid_->maker().madeCount(), made);
}

TEST(PictureSource, ReadsEachSourceWithinItsLimit) {
  testing::TempFolder tmp;
  const Bytes bytes = png(8, 8);
  const std::string path = (tmp.path() / "p.png").string();
  writeFile(path, bytes);

  PRPhotoAndVideoNode stored;
  stored.filePath = path;
  PRBlackBerryContentNode content;
  content.ContentFileType = "Image";
  content.contentData = ByteRef::fromBytes(bytes);
  PRBlackBerryContentNode sound;
  sound.ContentFileType = "Audio";
  sound.contentData = ByteRef::fromBytes(bytes);
  PRScanListNode found;
  std::string name = "f.png";
  found.setfile({0, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(name.size()),
                 name.data(), nullptr});
  found.fileSizeNumber = bytes.size();
  FoundFileReader reader = [&](void* buffer, _rec_file_ele* ele) {
    std::memcpy(buffer, bytes.data(), std::min<size_t>(bytes.size(), ele->file_len));
    return true;
  };

  struct Case {
    const char* what;
    PRNode* record;
    PictureSource source;
  };
  const Case cases[] = {{"stored", &stored, PictureSource::storedFile},
                        {"content", &content, PictureSource::contentStore},
                        {"sound", &sound, PictureSource::none},
                        {"found", &found, PictureSource::foundFile}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(pictureSourceOf(*c.record), c.source);
    std::string why;
    const Bytes got = readPictureBytes(*c.record, PictureLimits{}, reader, &why);
    EXPECT_EQ(got, c.source == PictureSource::none ? Bytes{} : bytes);
    // One byte under the size: not read.
    const Bytes cut =
        readPictureBytes(*c.record, PictureLimits::uniform(bytes.size() - 1), reader, &why);
    EXPECT_TRUE(cut.empty());
    EXPECT_FALSE(why.empty());
  }
  // A found file without a library is not read.
  std::string why;
  EXPECT_TRUE(readPictureBytes(found, PictureLimits{}, FoundFileReader(), &why).empty());
  EXPECT_NE(why.find("no disk library"), std::string::npos);
}

}  // namespace
}  // namespace tamsel
