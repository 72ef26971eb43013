#include "results/result_view_controller.h"

#include <gtest/gtest.h>

#include <thread>

#include "events/notification_names.h"
#include "tests/fixtures/fake_result_view.h"

namespace tamsel {
namespace {

using fakes::FakeResultHost;
using fakes::FakeResultView;

struct Presenter : ::testing::Test {
  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  PRResultViewController pr{nc, view, host};

  template <class T>
  void post(std::string_view name, std::shared_ptr<T> rec) {
    nc.post(name, std::shared_ptr<PRNode>(std::move(rec)));
  }
};

std::shared_ptr<PRContactNode> contact(std::string name, std::string phone) {
  auto c = std::make_shared<PRContactNode>();
  c->contactName = std::move(name);
  c->contactPhone = std::move(phone);
  return c;
}

std::shared_ptr<PRMessageNode> message(std::string phone, std::string content, std::string date) {
  auto m = std::make_shared<PRMessageNode>();
  m->messagePhone = std::move(phone);
  m->messageContent = std::move(content);
  m->messageDate = std::move(date);
  return m;
}

std::shared_ptr<PRScanListNode> found(std::string type, std::string name = "f") {
  auto s = std::make_shared<PRScanListNode>();
  s->fileType = std::move(type);
  s->nodeName = std::move(name);
  return s;
}

TEST_F(Presenter, DeletedContactsAndMessagesDropDuplicatesAndEmpties) {
  post(notify::kScanContactInfo, contact("Ann", "555"));
  post(notify::kScanContactInfo, contact("Ann", "555"));     // live: never checked
  post(notify::kScanDelContactInfo, contact("Ann", "555"));  // equals a live one
  post(notify::kScanDelContactInfo, contact("Ann", "556"));  // new
  post(notify::kScanDelContactInfo, contact("Ann", "556"));  // equals an earlier deleted one
  post(notify::kScanDelContactInfo, contact("An", "n556"));  // same letters, other split
  post(notify::kScanDelContactInfo, contact("", ""));        // contacts are never empty

  post(notify::kScanDelMessageInfo, message("1", "hi", "01-01-2014 10:00"));
  post(notify::kScanDelMessageInfo, message("1", "hi", "01-02-2014 10:00"));  // other date
  post(notify::kScanDelMessageInfo, message("", "", "01-03-2014 10:00"));     // empty
  post(notify::kScanDelMessageInfo, message("", "only text", ""));            // kept
  post(notify::kScanDelMessageInfo, message("1", "HI", "01-01-2014 10:00"));  // case counts

  ResultLists l = pr.snapshot();
  ASSERT_EQ(l.contactArray.size(), 5u);
  EXPECT_FALSE(l.contactArray[0]->bDeleted);
  EXPECT_TRUE(l.contactArray[2]->bDeleted);
  EXPECT_EQ(l.contactArray[2]->contactPhone, "556");
  EXPECT_EQ(l.contactArray[3]->contactName, "An");
  EXPECT_EQ(l.messageArray.size(), 4u);
  ScanCounters c = pr.counters();
  EXPECT_EQ(c.contactNum, 2);
  EXPECT_EQ(c.delContactNum, 3);
  EXPECT_EQ(c.delMessageNum, 4);
}

TEST_F(Presenter, DeletedNotesCallsBookmarksAndCalendarRules) {
  auto note = [](std::string title, std::string content) {
    auto n = std::make_shared<PRNoteNode>();
    n->noteTitle = std::move(title);
    n->noteContent = std::move(content);
    return n;
  };
  post(notify::kScanNoteInfo, note("a", "body"));
  post(notify::kScanDelNoteInfo, note("other title", "body"));  // same content: dropped
  post(notify::kScanDelNoteInfo, note("", ""));                 // kept once
  post(notify::kScanDelNoteInfo, note("", ""));                 // the same again: dropped
  post(notify::kScanDelNoteInfo, note("x", ""));                // no text: told apart by its title

  auto call = [](std::string name, std::string phone, std::string date) {
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callName = std::move(name);
    c->callPhone = std::move(phone);
    c->callDate = std::move(date);
    return c;
  };
  post(notify::kScanDelCallHistoryInfo, call("", "", "01-01-2014 10:00"));  // empty
  post(notify::kScanDelCallHistoryInfo, call("Bob", "", "d"));              // name is enough
  post(notify::kScanDelCallHistoryInfo, call("Rob", "", "d"));              // same phone+date

  auto mark = [](std::string title, std::string url) {
    auto b = std::make_shared<PRBookMarkNode>();
    b->bookMarkTitle = std::move(title);
    b->bookMarkURL = std::move(url);
    return b;
  };
  post(notify::kScanDelBookMarkInfo, mark("", ""));
  post(notify::kScanBookMarkInfo, mark("t", "u"));
  post(notify::kScanDelBookMarkInfo, mark("t", "u"));
  post(notify::kScanDelBookMarkInfo, mark("t", "u2"));

  auto cal = [](std::string title, std::string note, std::string start) {
    auto c = std::make_shared<PRCalenderNode>();
    c->calTitle = std::move(title);
    c->calNote = std::move(note);
    c->startDate = std::move(start);
    return c;
  };
  post(notify::kScanDelCalenderInfo, cal("", "", ""));
  post(notify::kScanDelCalenderInfo, cal("Meet", "room", "01-01-2014 10:00"));
  post(notify::kScanDelCalenderInfo, cal("Meet", "room", "01-02-2014 10:00"));
  post(notify::kScanDelCalenderInfo, cal("Meet", "room", "01-02-2014 10:00"));

  ResultLists l = pr.snapshot();
  EXPECT_EQ(l.noteArray.size(), 3u);
  EXPECT_EQ(l.callHistoryArray.size(), 1u);
  EXPECT_EQ(l.bookMarkArray.size(), 2u);
  EXPECT_EQ(l.calenderArray.size(), 2u);
  ScanCounters c = pr.counters();
  EXPECT_EQ(c.delNoteNum, 2);
  EXPECT_EQ(c.delCallNum, 1);
  EXPECT_EQ(c.bookMarkNum, 1);
  EXPECT_EQ(c.delBookMarkNum, 1);
  EXPECT_EQ(c.delCalenderNum, 2);
}

TEST_F(Presenter, BlackBerryRecordsCountOnTheLabels) {
  host.raw = false;
  pr.showView();
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  ");
  EXPECT_EQ(view.text(ResultField::callNumlab), "Call History:  ");
  EXPECT_EQ(view.text(ResultField::progressText), "1%");

  for (int i = 0; i < 2; ++i)
    post(notify::kBlacBerryContactInfo, std::make_shared<PRBlackBerryContactNode>());
  post(notify::kBlackBerrySMSMessageInfo, std::make_shared<PRBlackBerrySMSMessageNode>());
  post(notify::kBlackBerryMMSMessageInfo, std::make_shared<PRBlackBerryMMSMessageNode>());
  post(notify::kBlackBerryMMSMessageInfo, std::make_shared<PRBlackBerryMMSMessageNode>());
  post(notify::kBlackBerryNoteInfo, std::make_shared<PRBlackBerryNoteNode>());
  for (int i = 0; i < 3; ++i)
    post(notify::kBlacBerryCallLogInfo, std::make_shared<PRBlackBerryCallNode>());
  post(notify::kBlackBerryContentStoreInfo, std::make_shared<PRBlackBerryContentNode>());
  post(notify::kBlackBerryCalenderInfo, std::make_shared<PRBlackBerryCalenderNode>());
  nc.post(notify::kBlacBerryContactInfo);                               // no object: ignored
  post(notify::kBlacBerryContactInfo, std::make_shared<PRNoteNode>());  // wrong class
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{37});

  EXPECT_EQ(view.progress(), 37);
  EXPECT_EQ(view.text(ResultField::progressText), "37%");
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  2");
  EXPECT_EQ(view.text(ResultField::delContactNumlab), "Contacts:  0");
  EXPECT_EQ(view.text(ResultField::messageNumlab), "Messages:  3");
  EXPECT_EQ(view.text(ResultField::noteNumlab), "Notes:  1");
  EXPECT_EQ(view.text(ResultField::callNumlab), "Call History:  3");
  EXPECT_EQ(view.text(ResultField::photovideoNumlab), "Photo&Video:  1");
  EXPECT_EQ(view.text(ResultField::delPhotovideoNumlab), "Photo&Video:  0");
  ResultLists l = pr.snapshot();
  EXPECT_EQ(l.bbContactArray.size(), 2u);
  EXPECT_EQ(l.bbCalderArray.size(), 1u);

  // Finishing zeroes the counters but the labels keep the last report.
  host.raw = false;
  pr.ScanThreadFinish();
  EXPECT_EQ(pr.counters().contactNum, 0);
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  2");
  EXPECT_EQ(view.text(ResultField::progressText), "0%");
  EXPECT_EQ(view.progress(), 0);
  EXPECT_FALSE(view.progressBarVisible);
  EXPECT_FALSE(view.fieldVisible(ResultField::scanInfo));
  EXPECT_FALSE(view.buttonVisible(ResultButton::stop));
  EXPECT_TRUE(view.checkVisible(ResultCheck::selectAll));
  EXPECT_TRUE(view.checkVisible(ResultCheck::deletedOnly));
  EXPECT_TRUE(view.buttonEnabled(ResultButton::home));
  EXPECT_TRUE(view.categoryEnabled(Category::BookMark));
  EXPECT_EQ(pr.currentCategory(), Category::CallHistory);
  EXPECT_EQ(view.panel, Category::CallHistory);
  EXPECT_EQ(view.tableRows[Category::CallHistory].size(), 3u);
  EXPECT_EQ(view.waitCalls.load(), 1);
}

TEST_F(Presenter, PhoneScanProgressRewritesAllTenLabels) {
  pr.showView();
  EXPECT_EQ(view.text(ResultField::delNoteNumlab), "Notes:  ");
  EXPECT_EQ(view.text(ResultField::delPhotovideoNumlab), "Photo&Video:  ");
  auto photo = std::make_shared<PRPhotoAndVideoNode>();
  post(notify::kScanPhotoAndVideo, photo);
  post(notify::kScanPhotoAndVideo, std::make_shared<PRPhotoAndVideoNode>());
  post(notify::kScanContactInfo, contact("Ann", "1"));
  post(notify::kScanDelContactInfo, contact("Bob", "2"));
  post(notify::kScanDelContactInfo, contact("Cy", "3"));
  post(notify::kScanMessageInfo, message("1", "a", "d"));
  post(notify::kScanDelMessageInfo, message("1", "b", "d"));
  auto note = std::make_shared<PRNoteNode>();
  note->noteContent = "n";
  post(notify::kScanDelNoteInfo, note);
  auto call = std::make_shared<PRCallHistoryNode>();
  call->callPhone = "5";
  post(notify::kScanCallHistoryInfo, call);
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{37});

  EXPECT_EQ(view.progress(), 37);
  EXPECT_EQ(view.text(ResultField::progressText), "37%");
  EXPECT_EQ(view.text(ResultField::photovideoNumlab), "Photo&Video:  2");
  EXPECT_EQ(view.text(ResultField::delPhotovideoNumlab), "Photo&Video:  0");
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  1");
  EXPECT_EQ(view.text(ResultField::delContactNumlab), "Contacts:  2");
  EXPECT_EQ(view.text(ResultField::messageNumlab), "Messages:  1");
  EXPECT_EQ(view.text(ResultField::delMessageNumlab), "Messages:  1");
  EXPECT_EQ(view.text(ResultField::noteNumlab), "Notes:  0");
  EXPECT_EQ(view.text(ResultField::delNoteNumlab), "Notes:  1");
  EXPECT_EQ(view.text(ResultField::callNumlab), "Call History:  1");
  EXPECT_EQ(view.text(ResultField::delCallNumlab), "Call History:  0");
}

// The labels tell the truth at the end of every kind of scan, also when records arrived
// after the last progress report or no report came at all.
TEST_F(Presenter, LabelsShowTheFinalCountsWhenTheScanEnds) {
  pr.showView();
  post(notify::kScanContactInfo, contact("Ann", "1"));
  post(notify::kScanDelContactInfo, contact("Bob", "2"));  // no progress report at all
  pr.ScanThreadFinish();
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  1");
  EXPECT_EQ(view.text(ResultField::delContactNumlab), "Contacts:  1");
  EXPECT_EQ(view.text(ResultField::callNumlab), "Call History:  0");
  EXPECT_EQ(view.text(ResultField::delPhotovideoNumlab), "Photo&Video:  0");
  EXPECT_EQ(view.text(ResultField::progressText), "0%");  // the progress text is not rewritten
  EXPECT_EQ(pr.counters().contactNum, 0);

  // A BlackBerry scan whose last records came after the last report.
  pr.showView();
  post(notify::kBlacBerryContactInfo, std::make_shared<PRBlackBerryContactNode>());
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{20});
  post(notify::kBlacBerryContactInfo, std::make_shared<PRBlackBerryContactNode>());
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  1");
  pr.CilckStop();
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  2");
  // The scan thread ends after the stop and finishes once more: the labels stay.
  pr.ScanThreadFinish();
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  2");
}

TEST_F(Presenter, RawFilesSortByKindArchivesIncluded) {
  host.raw = true;
  pr.showView();
  EXPECT_EQ(view.text(ResultField::scanTitle), "- Memory Card Recovery");
  EXPECT_TRUE(view.buttonVisible(ResultButton::stop));
  EXPECT_EQ(view.rawLayout, true);
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Image"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Video"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Audio"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Document"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Archive"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("image"));  // case-sensitive: dropped
  nc.post(notify::kBlackBerryRawRecoveryFileInfo);
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{100});

  ResultLists l = pr.snapshot();
  EXPECT_EQ(l.bbImageArray.size(), 1u);
  EXPECT_EQ(l.bbVedioArray.size(), 1u);
  EXPECT_EQ(l.bbAudioArray.size(), 1u);
  EXPECT_EQ(l.bbDocumentArray.size(), 1u);
  EXPECT_EQ(l.bbArchiveArray.size(), 1u);
  // Each kind counts on its own label; none on the phone's photo label.
  EXPECT_EQ(view.text(ResultField::imageNumlab), "Images:  1");
  EXPECT_EQ(view.text(ResultField::archiveNumlab), "Archives:  1");
  EXPECT_EQ(view.text(ResultField::photovideoNumlab), "Photo&Video:  0");

  pr.ClickBBArchive();
  EXPECT_EQ(view.panel, Category::RawArchive);
  EXPECT_EQ(view.tableRows[Category::RawArchive].size(), 1u);

  pr.CilckStop();
  EXPECT_EQ(host.stopCalls.load(), 1);
  EXPECT_EQ(pr.currentCategory(), Category::RawImage);
}

// A card scan opens on the first kind of file found, in the order of the buttons, and shows
// no counts of the backup categories.
TEST(CardScanEnd, OpensOnTheFirstRawCategoryWithFiles) {
  const std::pair<std::vector<const char*>, Category> cases[] = {
      {{}, Category::RawImage},
      {{"Document", "Audio"}, Category::RawAudio},
      {{"Document"}, Category::RawDocument},
      {{"Audio", "Video", "Archive"}, Category::RawVideo},
      {{"Document", "Image"}, Category::RawImage},
      {{"Archive"}, Category::RawArchive},
  };
  for (const auto& [kinds, expected] : cases) {
    SCOPED_TRACE(static_cast<int>(expected));
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    host.raw = true;
    PRResultViewController pr{nc, view, host};
    pr.showView();
    for (const char* kind : kinds) {
      nc.post(notify::kBlackBerryRawRecoveryFileInfo, std::shared_ptr<PRNode>(found(kind)));
    }
    pr.ScanThreadFinish();
    EXPECT_EQ(pr.currentCategory(), expected);
    EXPECT_EQ(view.panel, expected);
    EXPECT_EQ(view.tableRows[expected].size(), kinds.empty() ? 0u : 1u);
    for (ResultField f :
         {ResultField::photovideoNumlab, ResultField::contactNumlab, ResultField::delContactNumlab,
          ResultField::messageNumlab, ResultField::noteNumlab, ResultField::callNumlab,
          ResultField::delCallNumlab}) {
      EXPECT_FALSE(view.fieldVisible(f)) << static_cast<int>(f);
    }
    EXPECT_TRUE(view.fieldVisible(ResultField::imageNumlab));
    EXPECT_TRUE(view.fieldVisible(ResultField::delArchiveNumlab));

    host.raw = false;  // the next scan is a backup scan: its counts are shown again
    pr.showView();
    pr.ScanThreadFinish();
    EXPECT_EQ(pr.currentCategory(), Category::CallHistory);
    EXPECT_TRUE(view.fieldVisible(ResultField::contactNumlab));
    EXPECT_TRUE(view.fieldVisible(ResultField::delCallNumlab));
    EXPECT_FALSE(view.fieldVisible(ResultField::imageNumlab));
  }
}

TEST_F(Presenter, ShowViewPreparesABackupScanWithoutClearingLists) {
  post(notify::kBlacBerryCallLogInfo, std::make_shared<PRBlackBerryCallNode>());
  pr.showView();
  EXPECT_TRUE(view.screenShown);
  EXPECT_EQ(view.text(ResultField::scanTitle), "- Backup File Recovery");
  EXPECT_FALSE(view.buttonVisible(ResultButton::stop));
  EXPECT_EQ(view.rawLayout, false);
  EXPECT_TRUE(view.progressPanel);
  EXPECT_EQ(view.progress(), 1);
  EXPECT_FALSE(view.checkVisible(ResultCheck::selectAll));
  EXPECT_FALSE(view.checkVisible(ResultCheck::deletedOnly));
  EXPECT_FALSE(view.fieldVisible(ResultField::selecteFilelab));
  EXPECT_FALSE(view.buttonEnabled(ResultButton::save));
  EXPECT_FALSE(view.buttonEnabled(ResultButton::home));
  EXPECT_FALSE(view.buttonEnabled(ResultButton::feedback));
  EXPECT_FALSE(view.categoryEnabled(Category::FaceTwitter));
  EXPECT_TRUE(view.categoryEnabled(Category::MMS));  // usable while scanning
  EXPECT_EQ((view.columnWidths[{Category::Message, "Content"}]), 240);
  EXPECT_EQ((view.columnWidths[{Category::Note, "Content"}]), 307);
  EXPECT_EQ((view.columnWidths[{Category::CallHistory, "Phone"}]), 174);
  EXPECT_EQ((view.columnWidths[{Category::Contact, "Name"}]), 200);
  EXPECT_EQ(pr.snapshot().bbCallArray.size(), 1u);
}

TEST_F(Presenter, CategorySwitchShowsEachRecordOnceAndPreviewsRowZero) {
  for (const char* number : {"111", "222"}) {
    auto s = std::make_shared<PRBlackBerrySMSMessageNode>();
    s->numberString = number;
    post(notify::kBlackBerrySMSMessageInfo, s);
  }
  pr.actMessage();
  pr.actMessage();
  EXPECT_EQ(view.tableRows[Category::Message].size(), 2u);
  EXPECT_EQ(view.tableSelection[Category::Message], std::vector<int>{0});
  EXPECT_EQ(view.text(ResultField::messagePhone), "Phone: 111");
  EXPECT_TRUE(view.categoryPressed(Category::Message));
  EXPECT_FALSE(view.categoryPressed(Category::Contact));
  EXPECT_TRUE(view.checkVisible(ResultCheck::deletedOnly));
  EXPECT_TRUE(view.fieldVisible(ResultField::messageContent));

  pr.actCallHistory();  // empty list: its preview fields hide
  EXPECT_FALSE(view.fieldVisible(ResultField::callName));
  EXPECT_FALSE(view.fieldVisible(ResultField::callDate));
  pr.actFaceTwitter();
  EXPECT_FALSE(view.checkVisible(ResultCheck::deletedOnly));
  EXPECT_FALSE(view.buttonVisible(ResultButton::preview));
}

TEST_F(Presenter, GoingHomeAsksAndEmptiesEverythingOnBack) {
  post(notify::kScanContactInfo, contact("Ann", "1"));
  post(notify::kBlackBerryNoteInfo, std::make_shared<PRBlackBerryNoteNode>());
  pr.showView();
  pr.ScanThreadFinish();
  pr.actNote();
  view.alertAnswer = false;
  pr.actHome();
  ASSERT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(view.alerts[0],
            "Are you sure you want to go back to Home? If Back, the scanning results will not "
            "be saved.| Back |Cancel");
  // Cancel: lists, screen and window as they were.
  EXPECT_EQ(pr.snapshot().contactArray.size(), 1u);
  EXPECT_EQ(pr.snapshot().bbNoteArray.size(), 1u);
  EXPECT_EQ(host.mainViewCalls, 0);
  EXPECT_EQ(host.stopCalls.load(), 0);
  EXPECT_TRUE(view.screenShown);
  EXPECT_EQ(view.windowSize, std::make_pair(0, 0));
  EXPECT_EQ(pr.currentCategory(), Category::Note);
  EXPECT_EQ(view.tableRows[Category::Note].size(), 1u);

  view.alertAnswer = true;
  pr.actHome();
  ResultLists l = pr.snapshot();
  EXPECT_TRUE(l.contactArray.empty());
  EXPECT_TRUE(l.bbNoteArray.empty());
  EXPECT_EQ(host.mainViewCalls, 1);
  EXPECT_EQ(host.stopCalls.load(), 1);
  EXPECT_EQ(view.windowSize, std::make_pair(849, 560));
  EXPECT_FALSE(view.screenShown);
  EXPECT_EQ(pr.selectedFilesNum(), 0);

  // The duplicate index went with the lists: in the next scan the same deleted contact is
  // new again.
  pr.beginScan();
  post(notify::kScanDelContactInfo, contact("Ann", "1"));
  EXPECT_EQ(pr.snapshot().contactArray.size(), 1u);
}

// A worker still ending after Home must not leave its last records in the emptied lists,
// where the next scan's screen would show them; the next scan files records again.
TEST_F(Presenter, RecordsPostedAfterHomeAreDroppedUntilTheNextScan) {
  view.alertAnswer = true;
  pr.actHome();
  post(notify::kBlackBerryNoteInfo, std::make_shared<PRBlackBerryNoteNode>());
  post(notify::kScanContactInfo, contact("Late", "1"));
  post(notify::kScanDelContactInfo, contact("Late", "2"));
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Image"));
  nc.post(notify::kScanProgressInfo, int64_t{50});
  ResultLists l = pr.snapshot();
  EXPECT_TRUE(l.bbNoteArray.empty());
  EXPECT_TRUE(l.contactArray.empty());
  EXPECT_TRUE(l.bbImageArray.empty());
  EXPECT_EQ(pr.counters().contactNum, 0);

  pr.beginScan();
  post(notify::kBlackBerryNoteInfo, std::make_shared<PRBlackBerryNoteNode>());
  EXPECT_EQ(pr.snapshot().bbNoteArray.size(), 1u);

  // A front end that streams the records elsewhere keeps none here, across scans too.
  pr.setRetainRecords(false);
  pr.beginScan();
  post(notify::kBlackBerryNoteInfo, std::make_shared<PRBlackBerryNoteNode>());
  post(notify::kBlackBerryRawRecoveryFileInfo, found("Image"));
  EXPECT_EQ(pr.snapshot().bbNoteArray.size(), 1u);
  EXPECT_TRUE(pr.snapshot().bbImageArray.empty());
}

TEST_F(Presenter, WorkerPostsWhileUiThreadReads) {
  constexpr int kRecords = 3000;
  view.uiThread = std::this_thread::get_id();
  pr.showView();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < kRecords; ++i) {
      post(notify::kBlackBerryMMSMessageInfo, std::make_shared<PRBlackBerryMMSMessageNode>());
      post(notify::kScanDelMessageInfo, message(std::to_string(i % 1000), "x", "d"));
      if (i % 100 == 0) nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{i / 30});
    }
    pr.ScanThreadFinish();
    done = true;
  });
  size_t last = 0;
  while (!done) {
    ResultLists l = pr.snapshot();
    EXPECT_GE(l.bbMMSArray.size(), last);  // lists only grow while the scan runs
    last = l.bbMMSArray.size();
    pr.actMMSMessage();  // the MMS category may be shown during a scan
    view.pump();
  }
  worker.join();
  view.pump();
  // The finishing step ran here, after every queued progress update.
  EXPECT_EQ(view.text(ResultField::progressText), "0%");
  EXPECT_FALSE(view.progressBarVisible);
  // The last report came after MMS number 2901, the finishing step wrote the final counts;
  // the deleted label counts distinct phones.
  EXPECT_EQ(view.text(ResultField::messageNumlab), "Messages:  3000");
  EXPECT_EQ(view.text(ResultField::delMessageNumlab), "Messages:  1000");
  ResultLists l = pr.snapshot();
  EXPECT_EQ(l.bbMMSArray.size(), static_cast<size_t>(kRecords));
  EXPECT_EQ(l.messageArray.size(), 1000u);
}

// The index reports 0 to 20, then the folder listing counts 1 to 29 from the start again:
// the bar shows the highest value of the scan. After Home a late worker moves nothing.
TEST_F(Presenter, PhoneScanProgressNeverGoesBackAndStopsAfterHome) {
  pr.showView();
  post(notify::kScanContactInfo, contact("Ann", "1"));
  const std::pair<int64_t, int> steps[] = {{0, 1},   {12, 12},   {20, 20},  {1, 20},
                                           {21, 21}, {29, 29},   {40, 40},  {35, 40},
                                           {75, 75}, {100, 100}, {-5, 100}, {250, 100}};
  for (const auto& [posted, shown] : steps) {
    nc.post(notify::kScanProgressInfo, posted);
    EXPECT_EQ(view.progress(), shown) << posted;
    EXPECT_EQ(view.text(ResultField::progressText), std::to_string(shown) + "%") << posted;
  }
  EXPECT_EQ(view.text(ResultField::contactNumlab), "Contacts:  1");

  pr.showView();  // the next scan starts from the bottom
  nc.post(notify::kScanProgressInfo, int64_t{5});
  EXPECT_EQ(view.progress(), 5);
  view.alertAnswer = true;
  pr.actHome();
  nc.post(notify::kScanProgressInfo, int64_t{60});
  EXPECT_EQ(view.progress(), 5);
  pr.beginScan();
  nc.post(notify::kScanProgressInfo, int64_t{3});
  EXPECT_EQ(view.progress(), 3);
}

TEST_F(Presenter, UnsubscribesWhenDestroyed) {
  {
    NotificationCenter center;
    FakeResultView v;
    FakeResultHost h;
    auto p = std::make_unique<PRResultViewController>(center, v, h);
    EXPECT_EQ(center.observerCount(notify::kScanDelCalenderInfo), 1u);
    EXPECT_EQ(center.observerCount(notify::kScanProgressInfo), 1u);
    p.reset();
    EXPECT_EQ(center.observerCount(notify::kScanProgressInfo), 0u);
    EXPECT_EQ(center.observerCount(notify::kBlackBerryRawRecoveryFileInfo), 0u);
    center.post(notify::kBlackBerryRawRecoveryFileInfo,
                std::shared_ptr<PRNode>(found("Image")));  // no observer left
  }
}

// Left of the scan title, what is scanned: the phone's name, else the backup file's, the
// folder's or the image's name, or the card device's path; the title's own text stays.
TEST(ScanTitle, NamesTheScannedSourceBesideTheTitle) {
  const struct {
    bool raw;
    std::string name, path, source;
  } cases[] = {
      {false, "Anna's iPhone", "/backups/0a1b2c", "Anna's iPhone"},
      {false, "", "/home/u/old phone/sample.bbb", "sample.bbb"},
      {false, "", "/backups/0a1b2c/", "0a1b2c"},
      {false, "Line\nbreak\x7f", "/b", "Line break "},
      {true, "", "/dev/sdb", "/dev/sdb"},
      {true, "", "/tmp/cards/card.img", "card.img"},
      {false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    host.raw = c.raw;
    host.sourceName = c.name;
    host.sourcePath = c.path;
    PRResultViewController pr{nc, view, host};
    pr.showView();
    EXPECT_EQ(view.text(ResultField::scanSource), c.source);
    EXPECT_EQ(view.text(ResultField::scanTitle),
              c.raw ? "- Memory Card Recovery" : "- Backup File Recovery");
  }
}

}  // namespace
}  // namespace tamsel
