// The thumbnail grid of the picture categories over the presenter with a stand-in host.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QtTest/QTest>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
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
using Thumb = ThumbnailGrid::Thumb;

Bytes png(int width, int height) {
  return fixtures::makePng(width, height, [](int x, int y) {
    return fixtures::Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 0x80};
  });
}

class GuiThumbnails : public ::testing::Test {
 protected:
  GuiThumbnails() : presenter_(nc_, screen_, host_) {
    screen_.setPresenterSource([this] { return &presenter_; });
    screen_.resize(1000, 640);
    presenter_.showView();
  }
  // The worker stops before the host it may read through goes.
  ~GuiThumbnails() override { screen_.beginShutdown(); }

  // A phone photo stored as `bytes` (none: no file at all).
  void photo(const std::string& name, const Bytes& bytes, bool video = false) {
    auto p = std::make_shared<PRPhotoAndVideoNode>();
    p->fileNodeName = name;
    p->filePath = (tmp_.path() / name).string();
    p->bmov = video;
    if (!bytes.empty())
      testing::writeWholeFile(p->filePath, std::string(bytes.begin(), bytes.end()));
    nc_.post(notify::kScanPhotoAndVideo, std::shared_ptr<PRNode>(p));
  }
  // A memory card's image of `size` bytes (the stand-in library delivers host_.fileBytes).
  void cardImage(std::string name, uint64_t size, bool deleted) {
    auto s = std::make_shared<PRScanListNode>();
    s->nodeName = name;
    s->fileType = "Image";
    s->fileSizeNumber = size;
    s->foundFlags = deleted ? TAMSEL_FOUND_DELETED : 0u;
    s->bDeleted = deleted ? "Yes" : "";
    s->setfile({0x1000, static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)),
                static_cast<uint32_t>(name.size()), name.data(), nullptr});
    nc_.post(notify::kBlackBerryRawRecoveryFileInfo, std::shared_ptr<PRNode>(s));
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
  // Waits until no row among `rows` waits for its thumbnail.
  bool waitForThumbnails(const std::vector<int>& rows) {
    return QTest::qWaitFor(
        [&] {
          return std::none_of(rows.begin(), rows.end(),
                              [&](int r) { return grid_->thumbnailState(r) == Thumb::waiting; });
        },
        kWaitMs);
  }
  // The thumbnails made once the worker is idle (-1: it never is).
  int madeWhenIdle() {
    const bool idle = QTest::qWaitFor([&] { return !grid_->maker().busy(); }, kWaitMs);
    return idle ? grid_->maker().madeCount() : -1;
  }
  std::vector<int> tableSelection() {
    std::vector<int> rows;
    for (const QModelIndex& i : screen_.table(Category::Photo)->selectionModel()->selectedRows())
      rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  std::vector<int> rowsInSight() {
    std::vector<int> rows;
    for (int r = 0; r < grid_->model()->rowCount(); ++r) {
      if (grid_->visualRect(grid_->model()->index(r, 0)).intersects(grid_->viewport()->rect()))
        rows.push_back(r);
    }
    return rows;
  }
  std::string previewName() { return screen_.fieldText(ResultField::photoFileName).toStdString(); }

  testing::TempFolder tmp_;
  NotificationCenter nc_;
  ResultWidget screen_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_;
  ThumbnailGrid* grid_ = nullptr;
};

TEST_F(GuiThumbnails, GridShowsTheTableRowsWithThumbnailsAtTheirScaledSize) {
  // picture -> thumbnail (none: the generic icon)
  const std::map<std::string, std::pair<Bytes, QSize>> cases = {
      {"wide.png", {png(400, 200), {120, 60}}},
      {"tall.png", {png(100, 300), {40, 120}}},
      {"small.png", {png(50, 30), {50, 30}}},  // never enlarged
      {"square.png", {png(640, 640), {120, 120}}},
      {"clip.mov", {png(20, 20), {}}},  // a video is never read
      {"garbage.jpg", {{0xFF, 0xD8, 0xFF, 0x00, 0x01, 0x02, 0x03}, {}}},
      {"gone.jpg", {}}};  // no stored file
  for (const auto& [name, c] : cases) photo(name, c.first, name.ends_with(".mov"));
  showGrid(Category::Photo);

  PictureViews* views = screen_.pictureViews(Category::Photo);
  EXPECT_TRUE(views->showingThumbnails());
  EXPECT_TRUE(grid_->isVisible());
  EXPECT_FALSE(screen_.table(Category::Photo)->isVisible());
  EXPECT_EQ(screen_.pictureViews(Category::Contact), nullptr);  // not a picture category
  ASSERT_EQ(grid_->model()->rowCount(), 7);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2, 3, 4, 5, 6}));
  for (int r = 0; r < 7; ++r) {
    const std::string name = grid_->itemText(r).toStdString();
    SCOPED_TRACE(name);
    ASSERT_EQ(cases.count(name), 1u);
    const QSize want = cases.at(name).second;
    EXPECT_FALSE(grid_->markedDeleted(r));
    EXPECT_EQ(grid_->thumbnailState(r), want.isValid() ? Thumb::picture : Thumb::generic);
    EXPECT_EQ(grid_->thumbnail(r).size(), want.isValid() ? want : QSize(0, 0));
    EXPECT_TRUE(want.isValid() || !grid_->fallbackIcon(r).isNull());
  }
  EXPECT_EQ(madeWhenIdle(), 6);                      // each once
  EXPECT_FALSE(grid_->viewport()->grab().isNull());  // every kind of item draws
  // Back to the table from the keyboard.
  EXPECT_TRUE(views->tableButton()->focusPolicy() & Qt::TabFocus);
  views->tableButton()->setFocus();
  QTest::keyClick(views->tableButton(), Qt::Key_Space);
  EXPECT_FALSE(views->showingThumbnails());
  EXPECT_TRUE(screen_.table(Category::Photo)->isVisible());
  EXPECT_FALSE(grid_->isVisible());
  // A new scan drops the thumbnails.
  EXPECT_EQ(grid_->cachedCount(), 6u);  // all but the video
  presenter_.showView();
  EXPECT_EQ(grid_->cachedCount(), 0u);
}

// The filter box narrows the grid (keeping the thumbnails); ticks, clicks and keys go through
// the table's model and selection to the presenter.
TEST_F(GuiThumbnails, FilterTicksAndSelectionGoThroughTheTable) {
  for (const char* name : {"beach-1.png", "city.png", "beach-2.png"}) photo(name, png(30, 30));
  showGrid(Category::Photo);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2}));
  ASSERT_EQ(madeWhenIdle(), 3);

  QTest::keyClicks(screen_.searchBox(), "beach");
  ASSERT_EQ(grid_->model()->rowCount(), 2);
  EXPECT_EQ(grid_->itemText(1), "beach-2.png");
  EXPECT_TRUE(grid_->thumbnailState(0) == Thumb::picture &&
              grid_->thumbnailState(1) == Thumb::picture);
  EXPECT_TRUE(grid_->selectionModel()->isRowSelected(0, {}));  // the presenter's first row
  QTest::keyClicks(screen_.searchBox(), "xyz");
  EXPECT_EQ(grid_->model()->rowCount(), 0);
  EXPECT_FALSE(grid_->viewport()->grab().isNull());  // the empty text draws
  screen_.searchBox()->clear();
  presenter_.setSearchText("");
  ASSERT_EQ(grid_->model()->rowCount(), 3);
  QTest::qWait(50);
  EXPECT_EQ(madeWhenIdle(), 3);  // nothing made twice

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
  EXPECT_EQ(presenter_.selectedFilesNum(), 0);
  // A click on an item selects the table's row and previews it.
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {},
                    grid_->visualRect(grid_->model()->index(2, 0)).center());
  EXPECT_EQ(tableSelection(), std::vector<int>{2});
  EXPECT_EQ(presenter_.selectedRows(), std::vector<int>{2});
  EXPECT_EQ(previewName(), "Name: " + recordAt(2)->fileNodeName);
  // The arrow keys move the selection; Space ticks the selected items; Enter previews.
  grid_->setFocus();
  QTest::keyClick(grid_, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(tableSelection(), (std::vector<int>{1, 2}));
  EXPECT_EQ(presenter_.selectedRows().back(), 1);
  QTest::keyClick(grid_, Qt::Key_Space);
  EXPECT_FALSE(recordAt(0)->bSelected.get());
  EXPECT_TRUE(recordAt(1)->bSelected.get() && recordAt(2)->bSelected.get());
  EXPECT_EQ(presenter_.selectedFilesNum(), 2);
  QTest::keyClick(grid_, Qt::Key_Left);
  EXPECT_EQ(tableSelection(), std::vector<int>{0});
  screen_.setText(ResultField::photoFileName, "");
  QTest::keyClick(grid_, Qt::Key_Return);
  EXPECT_EQ(previewName(), "Name: " + recordAt(0)->fileNodeName);
  // Going home drops the thumbnails and the rows.
  EXPECT_EQ(grid_->cachedCount(), 3u);
  testing::answerNextAlert(" Back ");
  presenter_.actHome();
  EXPECT_EQ(grid_->cachedCount(), 0u);
  EXPECT_EQ(grid_->model()->rowCount(), 0);
}

TEST_F(GuiThumbnails, CardImagesAreReadThroughTheLibraryAndDeletedOnesMarked) {
  host_.raw = true;
  host_.fileBytes = png(240, 60);
  presenter_.showView();
  cardImage("IMG_0001.png", host_.fileBytes.size(), false);
  cardImage("huge.jpg", ThumbnailGrid::kMaxSourceBytes + 1, false);
  cardImage("IMG_0002.png", host_.fileBytes.size(), true);
  showGrid(Category::RawImage);
  ASSERT_EQ(grid_->model()->rowCount(), 3);
  ASSERT_TRUE(waitForThumbnails({0, 1, 2}));
  const Thumb want[] = {Thumb::picture, Thumb::generic, Thumb::picture};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(grid_->thumbnailState(r), want[r]) << r;
    EXPECT_EQ(grid_->markedDeleted(r), r == 2) << r;
  }
  EXPECT_EQ(grid_->thumbnail(0).size(), QSize(120, 30));
}

TEST_F(GuiThumbnails, OnlyItemsInSightAreMadeUntilTheGridScrolls) {
  const Bytes picture = png(64, 48);
  for (int i = 0; i < 80; ++i) photo("p" + std::to_string(100 + i) + ".png", picture);
  showGrid(Category::Photo);
  ASSERT_EQ(grid_->model()->rowCount(), 80);
  const std::vector<int> first = rowsInSight();
  ASSERT_FALSE(first.empty());
  ASSERT_LT(first.size(), 80u);
  ASSERT_TRUE(waitForThumbnails(first));
  EXPECT_EQ(madeWhenIdle(), static_cast<int>(first.size()));
  EXPECT_EQ(grid_->thumbnailState(79), Thumb::waiting);

  grid_->verticalScrollBar()->setValue(grid_->verticalScrollBar()->maximum());
  const std::vector<int> last = rowsInSight();
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(last.back(), 79);
  ASSERT_TRUE(waitForThumbnails(last));
  EXPECT_EQ(madeWhenIdle(), static_cast<int>(first.size() + last.size()));
}

TEST_F(GuiThumbnails, ClosingStopsTheWorker) {
  const Bytes picture = png(800, 600);
  for (int i = 0; i < 40; ++i) photo("big" + std::to_string(i) + ".png", picture);
  showGrid(Category::Photo);
  ASSERT_TRUE(QTest::qWaitFor([&] { return grid_->maker().busy(); }, kWaitMs));
  screen_.beginShutdown();
  // Nothing waits and nothing is made later, however the grid is asked.
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
  PRPhotoAndVideoNode stored;
  stored.filePath = (tmp.path() / "p.png").string();
  testing::writeWholeFile(stored.filePath, std::string(bytes.begin(), bytes.end()));
  PRBlackBerryContentNode content, sound;
  content.ContentFileType = "Image";
  sound.ContentFileType = "Audio";
  content.contentData = sound.contentData = ByteRef::fromBytes(bytes);
  PRScanListNode found;
  std::string name = "f.png";
  found.setfile({0, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(name.size()),
                 name.data(), nullptr});
  found.fileSizeNumber = bytes.size();
  FoundFileReader reader = [&](void* buffer, _rec_file_ele* ele) {
    std::memcpy(buffer, bytes.data(), std::min<size_t>(bytes.size(), ele->file_len));
    return true;
  };

  const std::tuple<PRNode*, PictureSource> cases[] = {{&stored, PictureSource::storedFile},
                                                      {&content, PictureSource::contentStore},
                                                      {&sound, PictureSource::none},
                                                      {&found, PictureSource::foundFile}};
  for (const auto& [record, source] : cases) {
    SCOPED_TRACE(static_cast<int>(source));
    EXPECT_EQ(pictureSourceOf(*record), source);
    std::string why;
    const Bytes got = readPictureBytes(*record, PictureLimits{}, reader, &why);
    EXPECT_EQ(got, source == PictureSource::none ? Bytes{} : bytes);
    // One byte under the size: not read.
    EXPECT_TRUE(
        readPictureBytes(*record, PictureLimits::uniform(bytes.size() - 1), reader, &why).empty());
    EXPECT_FALSE(why.empty());
  }
  // A found file without a library is not read.
  std::string why;
  EXPECT_TRUE(readPictureBytes(found, PictureLimits{}, FoundFileReader(), &why).empty());
  EXPECT_NE(why.find("no disk library"), std::string::npos);
}

}  // namespace
}  // namespace tamsel
