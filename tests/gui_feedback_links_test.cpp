// The feedback window keeps what the user typed in a file of their choice, and the
// suggestions link and social buttons show only with a configured address (offscreen).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>

#include "gui/main_window.h"
#include "gui/result_widget.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

bool configuredFromEnvironment() {
  for (const char* name : {"TAMSEL_SUGGESTIONS_URL", "TAMSEL_FACEBOOK_URL", "TAMSEL_TWITTER_URL"}) {
    if (std::getenv(name)) return true;
  }
  return false;
}

class GuiFeedback : public ::testing::Test {
 protected:
  GuiFeedback() : presenter_(nc_, screen_, host_) {
    screen_.setPresenterSource([this] { return &presenter_; });
    screen_.setUrlOpener([this](const QUrl& u) { opened_.push_back(u); });
  }
  QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<none>");
  }

  NotificationCenter nc_;
  ResultWidget screen_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_;
  std::vector<QUrl> opened_;
  testing::TempFolder tmp_;
};

TEST_F(GuiFeedback, SaveWritesTextAndEmailToTheChosenFile) {
  QString proposed;
  QString chosen;
  screen_.setFeedbackFileChooser([&](const QString& p) {
    proposed = p;
    return chosen;
  });
  presenter_.clickFeedBack();
  QWidget* dialog = screen_.feedbackWindow();
  ASSERT_NE(dialog, nullptr);
  auto* save = dialog->findChild<QPushButton*>("feedbackSave");
  ASSERT_NE(save, nullptr);
  dialog->findChild<QPlainTextEdit*>("feedbackText")->setPlainText("Crashed on the notes\nßü");
  dialog->findChild<QLineEdit*>("feedbackEmail")->setText("  me@mail.test ");
  auto* status = dialog->findChild<QLabel*>("feedbackStatus");

  // Cancelled: nothing written, nothing said.
  save->click();
  EXPECT_TRUE(proposed.endsWith("/feedback.txt"));
  EXPECT_TRUE(status->text().isEmpty());

  chosen = QString::fromStdString((tmp_.path() / "mine.txt").string());
  save->click();
  EXPECT_EQ(readAll(chosen), "E-mail: me@mail.test\n\nCrashed on the notes\nßü\n");
  EXPECT_TRUE(status->text().contains("saved to")) << status->text().toStdString();

  // Without an e-mail only the text; a folder that does not exist is reported.
  dialog->findChild<QLineEdit*>("feedbackEmail")->clear();
  save->click();
  EXPECT_EQ(readAll(chosen), "Crashed on the notes\nßü\n");
  chosen = QString::fromStdString((tmp_.path() / "no such dir" / "f.txt").string());
  save->click();
  EXPECT_TRUE(status->text().startsWith("The feedback could not be saved"))
      << status->text().toStdString();
  EXPECT_TRUE(opened_.empty());
}

TEST_F(GuiFeedback, SocialButtonsHiddenUnlessConfigured) {
  if (configuredFromEnvironment()) GTEST_SKIP() << "web addresses set in the environment";
  EXPECT_TRUE(screen_.button(ResultButton::facebook)->isHidden());
  EXPECT_TRUE(screen_.button(ResultButton::twitter)->isHidden());
  screen_.button(ResultButton::facebook)->click();
  EXPECT_TRUE(opened_.empty());

  presenter_.setWebLinks({"", "https://social.tamsel.test/fb", "https://social.tamsel.test/tw"});
  EXPECT_FALSE(screen_.button(ResultButton::facebook)->isHidden());
  EXPECT_FALSE(screen_.button(ResultButton::twitter)->isHidden());
  screen_.button(ResultButton::twitter)->click();
  screen_.button(ResultButton::facebook)->click();
  EXPECT_EQ(opened_, (std::vector<QUrl>{QUrl("https://social.tamsel.test/tw"),
                                        QUrl("https://social.tamsel.test/fb")}));
}

TEST(GuiSuggestions, LinkHiddenUnlessConfiguredAndOpensTheAddress) {
  if (configuredFromEnvironment()) GTEST_SKIP() << "web addresses set in the environment";
  MainWindow window;
  std::vector<QUrl> opened;
  window.setUrlOpener([&](const QUrl& u) { opened.push_back(u); });
  QLabel* label = window.suggestionsLabel();
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isHidden());

  window.setSuggestionsAddress("https://ideas.tamsel.test/?a=1&b=2");
  EXPECT_FALSE(label->isHidden());
  EXPECT_TRUE(label->text().contains("suggestions</a>"));
  emit label->linkActivated(QStringLiteral("ignored"));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("https://ideas.tamsel.test/?a=1&b=2"));

  window.setSuggestionsAddress("javascript:alert(1)");
  EXPECT_TRUE(label->isHidden());
  emit label->linkActivated(QStringLiteral("javascript:alert(1)"));
  EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
}  // namespace tamsel
