// The icon set: every picture a screen names exists, draws and differs from its pressed
// partner; the buttons and previews show the set's pictures.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QSet>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gui/icon_set.h"
#include "gui/main_window.h"
#include "results/result_view_controller.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

constexpr QColor kAccent(0x2c, 0x6f, 0xb7);

QImage imageOf(const QIcon& icon, int side, QIcon::State state = QIcon::Off) {
  return icon.pixmap(QSize(side, side), 1.0, QIcon::Normal, state)
      .toImage()
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Something is drawn: some pixels are not transparent and not all of them alike.
bool drawsSomething(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) > 0) colours.insert(image.pixel(x, y));
    }
  }
  return colours.size() >= 2;
}

int accentPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      n += std::abs(c.red() - kAccent.red()) <= 3 && std::abs(c.green() - kAccent.green()) <= 3 &&
           std::abs(c.blue() - kAccent.blue()) <= 3;
    }
  }
  return n;
}

// Every picture the screens name: the home buttons', the previews' and each category
// button's normal and pressed pair ("": a single picture).
std::vector<std::pair<std::string_view, std::string_view>> pictures() {
  std::vector<std::pair<std::string_view, std::string_view>> all = {{"firstBtn", "firstBtnDown"},
                                                                    {"ipdBtn", "ipdBtnDown"},
                                                                    {"cardBtn", "cardBtnDown"},
                                                                    {"partitionImg", ""},
                                                                    {"contact", ""},
                                                                    {"picture", ""},
                                                                    {"iphone", ""},
                                                                    {"ipad", ""}};
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto c = static_cast<Category>(i);
    all.emplace_back(categoryButtonImage(c, false), categoryButtonImage(c, true));
  }
  return all;
}

TEST(IconSet, PicturesExistAndDrawAndPressedDiffers) {
  for (const auto& [normal, pressed] : pictures()) {
    for (std::string_view name : {normal, pressed}) {
      if (name.empty()) continue;
      SCOPED_TRACE(std::string(name));
      EXPECT_TRUE(QFile::exists(iconPath(name)));
      for (int side : {16, 32, 96})
        EXPECT_TRUE(drawsSomething(imageOf(iconFor(name), side))) << side;
    }
    if (pressed.empty()) continue;
    SCOPED_TRACE(std::string(normal));
    EXPECT_NE(imageOf(iconFor(normal), 32), imageOf(iconFor(pressed), 32));
    // One icon for both: Off is the normal picture, On (checked) the pressed one.
    const QIcon both = buttonIcon(normal, pressed);
    EXPECT_EQ(imageOf(both, 32, QIcon::Off), imageOf(iconFor(normal), 32));
    EXPECT_EQ(imageOf(both, 32, QIcon::On), imageOf(iconFor(pressed), 32));
  }
}

TEST(IconSet, UnknownNamesGiveNoPicture) {
  EXPECT_TRUE(iconFor("").isNull());
  EXPECT_TRUE(iconFor("noSuchPicture").isNull());
  EXPECT_TRUE(buttonIcon("", "noSuchPicture").isNull());
  // A missing pressed picture leaves the normal one for both states.
  const QIcon half = buttonIcon("noteNom", "noSuchPicture");
  EXPECT_EQ(imageOf(half, 24, QIcon::On), imageOf(iconFor("noteNom"), 24));
}

TEST(IconSet, PreviewsFallBackToTheSetsPictures) {
  ResultWidget screen;
  QLabel* contact = screen.imageLabel(ResultImage::contact);
  ASSERT_NE(contact, nullptr);
  screen.showImage(ResultImage::contact, {});
  EXPECT_EQ(contact->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            imageOf(iconFor("contact"), contact->width()));

  QLabel* raw = screen.imageLabel(ResultImage::rawImage);
  ASSERT_NE(raw, nullptr);
  screen.showImage(ResultImage::rawImage, Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm'});
  EXPECT_EQ(raw->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            imageOf(iconFor("picture"), raw->pixmap().width()));
}

// The buttons of the program's window, over the real controller and a scan of the sample.
class GuiIconButtons : public testing::WindowTest {
 protected:
  static QImage buttonIconImage(QAbstractButton* b, QIcon::State state) {
    return imageOf(b->icon(), b->iconSize().width(), state);
  }
};

TEST_F(GuiIconButtons, HomeButtonsCarryTheirPictures) {
  HoverButton* backup = window_->backupFileButton();
  HoverButton* card = window_->memoryCardButton();
  const int side = backup->iconSize().width();
  EXPECT_EQ(buttonIconImage(backup, QIcon::Off), imageOf(iconFor("ipdBtn"), side));
  EXPECT_EQ(buttonIconImage(card, QIcon::Off), imageOf(iconFor("cardBtn"), side));
  EXPECT_EQ(imageOf(backup->frame(), 64, QIcon::Off), imageOf(iconFor("firstBtn"), 64));
  EXPECT_EQ(imageOf(backup->frame(), 64, QIcon::On), imageOf(iconFor("firstBtnDown"), 64));

  // Hovering swaps in the "Down" pictures, leaving puts the normal ones back.
  QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(card, &enter);
  EXPECT_EQ(buttonIconImage(card, QIcon::Off), imageOf(iconFor("cardBtnDown"), side));
  EXPECT_EQ(imageOf(card->frame(), 64, QIcon::Off), imageOf(iconFor("firstBtnDown"), 64));
  EXPECT_GT(accentPixels(card->grab().toImage()), 0);
  QApplication::sendEvent(card, &leave);
  EXPECT_EQ(buttonIconImage(card, QIcon::Off), imageOf(iconFor("cardBtn"), side));
  EXPECT_EQ(imageOf(card->frame(), 64, QIcon::Off), imageOf(iconFor("firstBtn"), 64));
}

TEST_F(GuiIconButtons, ShownCategoryShowsItsPressedPicture) {
  const fs::path sample = fs::path(TAMSEL_SOURCE_DIR) / "examples" / "sample.bbb";
  if (!fs::exists(sample)) GTEST_SKIP() << "no " << sample;
  window_->backupFileChosen(QString::fromStdString(sample.string()));
  ASSERT_TRUE(QTest::qWaitFor(
      [this] {
        auto* p = app_->resultViewController();
        return p && p->currentCategory() == Category::CallHistory && !app_->scanRunning();
      },
      testing::kWaitMs));

  ResultWidget& rs = *window_->resultWidget();
  for (Category c : {Category::Contact, Category::Note, Category::MMS}) {
    SCOPED_TRACE(std::string(categoryButtonImage(c, true)));
    QAbstractButton* b = rs.categoryButton(c);
    b->click();
    ASSERT_EQ(rs.shownCategory(), c);
    EXPECT_TRUE(b->isChecked());
    EXPECT_EQ(buttonIconImage(b, QIcon::On),
              imageOf(iconFor(categoryButtonImage(c, true)), b->iconSize().width()));
    // Drawn: the pressed tile is on the button while it is shown, and on no other button.
    EXPECT_GT(accentPixels(b->grab().toImage()), 100);
    for (Category other : {Category::Photo, Category::CallHistory, Category::Message}) {
      EXPECT_FALSE(rs.categoryButton(other)->isChecked());
      EXPECT_EQ(accentPixels(rs.categoryButton(other)->grab().toImage()), 0);
    }
  }
}

}  // namespace
}  // namespace tamsel
