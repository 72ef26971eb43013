// The recover button: save panel, worker, progress tick, end of run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "events/notification_names.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using fakes::FakeResultHost;
using fakes::FakeResultView;

struct RecoverButton : ::testing::Test {
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tamsel-recbtn-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void postSms(const std::string& number, const std::string& body) {
    auto sms = std::make_shared<PRBlackBerrySMSMessageNode>();
    sms->numberString = number;
    sms->type = "Incoming";
    sms->contentText = body;
    nc.post(notify::kBlackBerrySMSMessageInfo, std::shared_ptr<PRNode>(sms));
  }
  std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir;
  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  PRResultViewController pr{nc, view, host};
};

TEST_F(RecoverButton, CancelledPanelLeavesNoFolderAndStartsNothing) {
  postSms("+1", "a");
  pr.selectAll(Category::Message, true);
  view.saveAnswer = {0, dir.string()};
  pr.actRecovery();
  ASSERT_EQ(view.proposedNames.size(), 1u);
  EXPECT_EQ(view.proposedNames[0].rfind("Tamsel ", 0), 0u);
  EXPECT_FALSE(pr.recoveryRunning());
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_TRUE(view.saveSheetCalls.empty());
  ASSERT_FALSE(view.saveProgressCalls.empty());
  EXPECT_EQ(view.saveProgressCalls.back(), (std::pair<int, std::string>{0, "0%"}));
}

TEST_F(RecoverButton, AcceptedPanelWritesTickedRecordsAndClosesTheSheet) {
  postSms("+1 555", "first");
  postSms("+1 556", "second");
  pr.selectAll(Category::Message, true);
  ASSERT_EQ(pr.selectedFilesNum(), 2);
  view.saveAnswer = {1, dir.string()};
  pr.actRecovery();
  pr.waitForRecovery();
  RecoveryReport report = pr.lastRecoveryReport();
  EXPECT_EQ(report.recovered, 2);
  EXPECT_EQ(read(dir / "Message" / "Messages.txt"),
            "Phone:+1 555  type:Incoming  Content:first  \n\n"
            "Phone:+1 556  type:Incoming  Content:second  \n\n");
  // The sheet was shown, then closed with the progress reset; the folder was opened.
  EXPECT_EQ(view.saveSheetCalls, (std::vector<bool>{true, false}));
  EXPECT_EQ(view.saveProgressCalls.back(), (std::pair<int, std::string>{0, "0%"}));
  EXPECT_EQ(view.openedFolders, (std::vector<std::string>{dir.string()}));
  EXPECT_EQ(pr.recovredFilesNum(), 0);
  EXPECT_FALSE(pr.recoveryRunning());
  // Ticks stay: the same selection can be recovered again, into new names.
  EXPECT_EQ(pr.selectedFilesNum(), 2);
  pr.savePanelDidEnd(1, dir.string());
  pr.waitForRecovery();
  EXPECT_TRUE(fs::exists(dir / "Message" / "Messages (2).txt"));
  EXPECT_TRUE(fs::exists(dir / "Message" / "Messages.txt"));
}

// The worker hands the end of the run, folder window included, to the UI thread.
TEST_F(RecoverButton, EndOfRunTouchesTheViewOnTheUiThreadOnly) {
  postSms("+1", "a");
  pr.selectAll(Category::Message, true);
  view.uiThread = std::this_thread::get_id();
  pr.savePanelDidEnd(1, dir.string());
  while (pr.recoveryRunning()) view.pump();
  pr.waitForRecovery();
  view.pump();
  ASSERT_EQ(view.openedFolders, (std::vector<std::string>{dir.string()}));
  EXPECT_EQ(view.openedFolderThreads[0], std::this_thread::get_id());
  EXPECT_EQ(view.saveSheetCalls, (std::vector<bool>{true, false}));
  EXPECT_TRUE(fs::exists(dir / "Message" / "Messages.txt"));
}

TEST_F(RecoverButton, ProgressTickIsThePercentageOfTheSelection) {
  for (int i = 0; i < 4; ++i) postSms("+1", std::to_string(i));
  pr.selectAll(Category::Message, true);
  pr.IphonerecoveryTimer_hander(3);
  EXPECT_EQ(view.saveProgressCalls.back(), (std::pair<int, std::string>{75, "75%"}));
}

TEST_F(RecoverButton, DeletedOnlyTicksJustTheDeletedPhoneRecords) {
  auto live = std::make_shared<PRNoteNode>();
  live->noteTitle = "live";
  auto gone = std::make_shared<PRNoteNode>();
  gone->noteTitle = "gone";
  gone->noteContent = "was deleted";
  nc.post(notify::kScanNoteInfo, std::shared_ptr<PRNode>(live));
  nc.post(notify::kScanDelNoteInfo, std::shared_ptr<PRNode>(gone));
  EXPECT_EQ(pr.selectPhoneRecords(Category::Note, true, true), 1);
  EXPECT_TRUE(gone->bSelected);
  EXPECT_FALSE(live->bSelected);
  EXPECT_EQ(pr.selectPhoneRecords(Category::Note, true, false), 1);
  EXPECT_TRUE(live->bSelected);
  EXPECT_EQ(pr.selectedFilesNum(), 2);
}

}  // namespace
}  // namespace tamsel
