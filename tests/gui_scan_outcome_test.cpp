// The desktop program tells the user how a scan ended: an input that is not a backup gets an
// alert with the reason and the home view again, a damaged one an alert listing the damaged
// parts over its partial results.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/orlisk_app_delegate.h"
#include "gui/main_window.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/zip_writer.h"
#include "tests/gui_test_support.h"
#include "tests/gui_window_fixture.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::kWaitMs;

class GuiScanOutcome : public testing::WindowTest {
 protected:
  // Chooses `path` and waits until the scan's worker has ended and its outcome was handled.
  void scan(const fs::path& path) {
    window_->backupFileChosen(QString::fromStdString(path.string()));
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return app_->lastOutcome().source != "" || !app_->lastOutcome().readable; },
        kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !app_->scanRunning(); }, kWaitMs));
    QTest::qWait(50);  // the queued outcome reaches the window
  }
};

TEST_F(GuiScanOutcome, NotABackupGivesTheReasonThenTheHomeView) {
  const fs::path file = tmp_.path() / "holiday.ipd";
  std::ofstream(file) << std::string(300, 'x');
  scan(file);
  ASSERT_TRUE(QTest::qWaitFor([this] { return window_->outcomeAlert() != nullptr; }, kWaitMs));
  QMessageBox* box = window_->outcomeAlert();
  EXPECT_EQ(box->text(), QStringLiteral("Not a backup"));
  EXPECT_TRUE(box->informativeText().contains(QStringLiteral("holiday.ipd: not a backup")))
      << box->informativeText().toStdString();
  EXPECT_EQ(window_->currentPage(), window_->resultWidget());
  const fs::path run = app_->runFolder();
  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return window_->currentPage() == window_->homePage(); }, kWaitMs));
  EXPECT_TRUE(window_->homePage()->isVisible());
  EXPECT_FALSE(fs::exists(run));  // home drops the run and its folder
}

TEST_F(GuiScanOutcome, DamagedBackupListsTheDamageOverItsResults) {
  fixtures::IpdWriter good, bad;
  good.addRecord(good.addDatabase("Memos"), {fixtures::textField(1, "good")});
  bad.addRawRecord(bad.addDatabase("SMS Messages"), 900, std::vector<uint8_t>(4, 0));
  const fs::path bbb = tmp_.path() / "win.bbb";
  fixtures::writeWindowsBbb(bbb, {good.bytes(), bad.bytes()});
  scan(bbb);
  ASSERT_TRUE(QTest::qWaitFor([this] { return window_->outcomeAlert() != nullptr; }, kWaitMs));
  QMessageBox* box = window_->outcomeAlert();
  EXPECT_EQ(box->text(), QString::fromUtf8("Damaged \u2014 partial results"));
  EXPECT_TRUE(box->informativeText().contains(QStringLiteral("Databases/2.dat: IPD record")))
      << box->informativeText().toStdString();
  EXPECT_TRUE(box->detailedText().contains(QStringLiteral("2.dat")));
  box->button(QMessageBox::Ok)->click();
  QTest::qWait(50);
  EXPECT_EQ(window_->currentPage(), window_->resultWidget());  // the partial results stay
  EXPECT_EQ(app_->resultViewController()->snapshot().bbNoteArray.size(), 1u);
}

}  // namespace
}  // namespace tamsel
