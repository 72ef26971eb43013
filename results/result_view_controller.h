// The result screen's presenter. It files every record a scan posts into the twenty result
// lists, keeps the category counters and the count labels, drives the screen through a scan
// (prepare, progress, finish, stop, home), switches categories, and handles ticking,
// select-all, the deleted-only filter, sorting and the record preview.
//
// Threads: the notification handlers run on the scan thread that posts; they touch only the
// lists and counters, under one mutex, and hand label updates to the UI thread. Everything
// else is called on the UI thread. The recovery worker reads `snapshot()` and the ticks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "events/deleted_keys.h"
#include "events/notification_center.h"
#include "results/recovery_writer.h"
#include "results/result_lists.h"
#include "results/result_view.h"
#include "results/web_links.h"

namespace tamsel {

// What the presenter needs from the application controller.
class ResultHost {
 public:
  virtual ~ResultHost() = default;
  // True while the current results come from a raw memory-card scan.
  virtual bool brawScan() const = 0;
  // The disk library's stopScan entry; does nothing when the library or entry is absent.
  virtual void stopScan() = 0;
  // Shows the home view again.
  virtual void showMainView() = 0;
  // Reads a found file through the disk library (readFoundFile with the current disk) into
  // `buffer` of at least ele->file_len bytes; false when the library or entry is absent.
  virtual bool readFoundFile(void* buffer, _rec_file_ele* ele) = 0;
  // The disk library's table and the disk being scanned, for writing raw-scan files; null
  // when there is no library or no disk.
  virtual const export_function_table* diskTable() const { return nullptr; }
  virtual list_disk_struct* currentDisk() { return nullptr; }
  // What the current results were scanned from (a backup file or folder, a device or an
  // image file); empty when not known.
  virtual std::string scanSourcePath() const { return {}; }
  // The name the user knows the scanned source by, where the path does not tell it (a
  // phone backup's device name); empty otherwise.
  virtual std::string scanSourceName() const { return {}; }
};

// The names of the result lists behind the tables (result_view_detail.h says which a
// category shows): the first fourteen are the lists the category actions show, the last six
// the phone-backup lists whose records join the table of their category (bookMarkController
// and faceTwitterController are both).
enum class DisplayList : int {
  bbContentController,
  bbContactController,
  bbSMSController,
  bbMMSController,
  bbNoteController,
  bbCallController,
  bbCalController,
  bookMarkController,
  faceTwitterController,
  bbImageController,
  bbAudioController,
  bbVideoController,
  bbArchiveController,
  bbDocontroller,
  photoController,
  contactController,
  messageController,
  noteController,
  callHistoryController,
  calendarController,
};

struct ScanCounters {
  int32_t photovideoNum = 0, delPhotovideoNum = 0;
  int32_t contactNum = 0, delContactNum = 0;
  int32_t messageNum = 0, delMessageNum = 0;
  int32_t noteNum = 0, delNoteNum = 0;
  int32_t callNum = 0, delCallNum = 0;
  int32_t bookMarkNum = 0, delBookMarkNum = 0;
  int32_t calenderNum = 0, delCalenderNum = 0;
  int32_t facetwitterNum = 0, delfacetwitterNum = 0;
  // Files of a card scan by kind; the del* ones came from deleted folder entries and are not
  // in the first count.
  int32_t imageNum = 0, delImageNum = 0;
  int32_t videoNum = 0, delVideoNum = 0;
  int32_t audioNum = 0, delAudioNum = 0;
  int32_t documentNum = 0, delDocumentNum = 0;
  int32_t archiveNum = 0, delArchiveNum = 0;
};

class PRResultViewController : private RecoveryObserver {
 public:
  // Subscribes to every scan notification on `center`; unsubscribes when destroyed.
  PRResultViewController(NotificationCenter& center, ResultView& view, ResultHost& host);
  ~PRResultViewController() override;
  PRResultViewController(const PRResultViewController&) = delete;
  PRResultViewController& operator=(const PRResultViewController&) = delete;

  // ------------------------------------------------------------ scan lifecycle (UI thread)
  // Shows the screen and prepares it for the scan about to start (reads brawScan now).
  void showView();
  // From the scan thread when it ends (or the stop button): finishes on the UI thread and
  // waits for it.
  void ScanThreadFinish();
  void ScanFinishOnMainThread();
  void CilckStop();
  // Asks to go home; on " Back " empties the lists and shows the home view.
  void actHome();
  void releaseUIMemory();
  // The controller starts a new scan: records are filed again (after going home they are
  // dropped until then).
  void beginScan();
  // Off: posted records are neither kept nor counted (a front end that streams them
  // elsewhere, such as the command line's export of a whole backup, which then costs memory
  // for no record). On by default.
  void setRetainRecords(bool on);

  // ------------------------------------------------------------ category actions
  void actPhoto() { showCategory(Category::Photo); }
  void actContact() { showCategory(Category::Contact); }
  void actMessage() { showCategory(Category::Message); }
  void actMMSMessage() { showCategory(Category::MMS); }
  void actNote() { showCategory(Category::Note); }
  void actCallHistory() { showCategory(Category::CallHistory); }
  void actCalender() { showCategory(Category::Calender); }
  void actBookMark() { showCategory(Category::BookMark); }
  void actFaceTwitter() { showCategory(Category::FaceTwitter); }
  void ClickBBImage() { showCategory(Category::RawImage); }
  void ClickBBAudio() { showCategory(Category::RawAudio); }
  void ClickBBVedio() { showCategory(Category::RawVideo); }
  void ClickBBArchive() { showCategory(Category::RawArchive); }
  void ClickBBDocument() { showCategory(Category::RawDocument); }
  void showCategory(Category c);
  // The category on screen (its table is the current table); none while scanning.
  std::optional<Category> currentCategory() const { return current_; }

  // ------------------------------------------------------------ periphery
  void clickFeedBack();
  // Open the configured address; without one the button is hidden and a click does nothing.
  void clickFacebook();
  void clickTwitter();
  void clickSupport();  // the suggestions address
  // Replaces the addresses read from the environment and shows the Facebook and Twitter
  // buttons only when theirs is set.
  void setWebLinks(const WebLinks& links);
  const WebLinks& webLinks() const { return links_; }

  // ------------------------------------------------------------ notification handlers
  void ScanPhotoAndVideoHandle(const Notification& n);
  void ScanPhotoAndVideoInfomationHandle(const Notification& n);
  void ScanContactInfomationHandle(const Notification& n);
  void ScanMessageInfomationHandle(const Notification& n);
  void ScanCallHistoryInfomationHandle(const Notification& n);
  void ScanNoteInfomationHandle(const Notification& n);
  void ScanDelContactInfomationHandle(const Notification& n);
  void ScanDelMessageInfomationHandle(const Notification& n);
  void ScanDelNoteInfomationHandle(const Notification& n);
  void ScanDelCallHistoryInfomationHandle(const Notification& n);
  void scanBookMarkInfoHandle(const Notification& n);
  void scanDelBookMarkInfoHandle(const Notification& n);
  void scanCalenderInfoHandle(const Notification& n);
  void scanDelCalenderInfoHandle(const Notification& n);
  void scanFaceTwitterInfoHandle(const Notification& n);
  void BlacBerryContactInfoHandle(const Notification& n);
  void BlacBerryCallLogInfoHandle(const Notification& n);
  void BlackBerrySMSMessageInfoHandle(const Notification& n);
  void BlackBerryMMSMessageInfoHandle(const Notification& n);
  void BlackBerryNoteInfoHandle(const Notification& n);
  void BlackBerryCalenderInfoHandle(const Notification& n);
  void BlackBerryContentStoreInfoHandle(const Notification& n);
  void BlackBerryRawRecoveryFileInfoHandle(const Notification& n);
  void ScanProgressInfomationHandle(const Notification& n);
  // "ScanProgressInfo" of a phone-backup scan: its steps report overlapping ranges (the
  // index 0 to 20, then the folder listing 1 to 29, then 40 ...), so the bar shows the
  // highest value seen in this scan and never goes back.
  void ScanProgressInfoHandle(const Notification& n);

  // ------------------------------------------------------------ ticking, filter, sorting
  // The tick column of the current table was set to `value` (1 = ticked) on `row`: every
  // selected row of the table gets the tick. A row outside the selection becomes the
  // selection first, as a click on it selects it.
  void tableViewSetObjectValue(int value, int row);
  void ClickSelectAll(bool on);
  void actCheck(bool deletedOnly);
  void tableViewDidClickTableColumn(std::string_view column);
  CellStyle tableViewWillDisplayCell(Category table, int row) const;
  // The user selected `rows` of the current table; previews the last one.
  void tableViewSelectionDidChange(const std::vector<int>& rows);
  void actPreView();
  // Space on the table: toggles the tick of every selected row of the current table, by the
  // tick of the row selected last.
  void toggleSelectedTicks();
  // The filter box: the current table shows the rows, among those the deleted-only box lets
  // through, whose texts hold every typed word (record_search.h). Cleared when another
  // category is shown. Ticking and select-all act on the rows shown.
  void setSearchText(const std::string& text);
  const std::string& searchText() const { return searchText_; }
  // True from a stop during a scan until the next scan starts: the results are partial.
  bool scanStopped() const { return scanStopped_; }

  // ------------------------------------------------------------ recovery (UI thread)
  // The recover button: resets the run's progress and opens the save panel with the
  // proposed folder name.
  void actRecovery();
  // The save panel's end: with code 1 writes every ticked record into `path` on a worker,
  // with the progress sheet and a 1-second tick; any other code does nothing.
  void savePanelDidEnd(int returnCode, const std::string& path);
  // The progress tick: percentage of selectedFilesNum done.
  void IphonerecoveryTimer_hander(int recovered);
  // The end of a run, on the UI thread: closes the sheet and resets the progress.
  void saveProgressorHanderToMainThread();
  // Waits for a running recovery to end (front ends without a UI thread).
  void waitForRecovery();
  bool recoveryRunning() const { return recovering_.load(); }
  // The last run's report (what was written and what was not).
  RecoveryReport lastRecoveryReport() const;
  const std::string& recoverPath() const { return recoverPath_; }
  std::string scanSourcePath() const { return host_.scanSourcePath(); }

  // ------------------------------------------------------------ state for writers and front ends
  // A copy of the twenty lists (the records are shared, so ticks show through).
  ResultLists snapshot() const;
  ScanCounters counters() const;
  // The controller this presenter reports to (the front end reads memory-card pictures
  // through it).
  ResultHost& host() const { return host_; }
  int selectedFilesNum() const { return selectedFilesNum_.load(); }
  int recovredFilesNum() const { return recovredFilesNum_.load(); }
  void setRecovredFilesNum(int n) { recovredFilesNum_.store(n); }
  bool brawScan() const { return host_.brawScan(); }
  // Ticks or clears every record of a category's list (the lists the recovery writes),
  // keeps selectedFilesNum, and sets the category's select-all flag unless the list is
  // empty. Returns the change of selectedFilesNum.
  int selectAll(Category c, bool on);
  // Ticks or clears the phone-backup records of a category (only those that arrived as
  // deleted records when `deletedOnly`; photos and app files never did). Returns the change
  // of selectedFilesNum.
  int selectPhoneRecords(Category c, bool on, bool deletedOnly);
  bool selectAllFlag(Category c) const { return selectAll_[static_cast<int>(c)]; }
  // What a category's table shows.
  const ResultRows& displayList(Category c) const { return display_[static_cast<int>(c)]; }
  const std::vector<int>& selectedRows() const { return selectedRows_; }
  // Rewrites the selection sentence and the recover button from selectedFilesNum.
  void updateSelectionState();

 private:
  // Indexes of the equality keys of each deletable category (live and deleted records), so
  // that the duplicate test of a deleted record does not walk the list.
  void subscribe();
  void rewriteCountLabels(int progress);
  void writeFinalCountLabels(const ScanCounters& c);
  // Shows `rows` in the table of `c`.
  void setDisplayList(Category c, ResultRows rows);
  // The rows of `base` that hold every word of the filter box; keeps `base` while words are
  // typed, so that further typing (and sorting) starts from it.
  ResultRows narrowBySearch(ResultRows base);
  void selectFirstRow();
  void previewRow(Category table, int row);
  void previewRawImage(PRScanListNode& node);
  void previewPhoto(const PRPhotoAndVideoNode& node);
  void showFilterPreviewFields(Category table, bool visible);
  // Sorting by a header click (result_selection.cpp): the shared order flag of a name, size
  // or date column (null for other columns), the sort itself, and the return to list order.
  bool* sharedSortOrder(std::string_view column);
  void sortByColumn(Category c, std::string_view column);
  void clearSort(Category c);
  int tickRecords(const ResultRows& rows, bool on);

  NotificationCenter& center_;
  ResultView& view_;
  WebLinks links_ = configuredWebLinks();
  ResultHost& host_;

  mutable std::mutex mutex_;  // guards lists_, counters_, dup_, accepting_, retain_, filing_
  // False from going home until the next scan starts: a worker that is still ending cannot
  // file a late record into the emptied lists.
  bool accepting_ = true;
  bool retain_ = true;  // see setRetainRecords
  bool filing_ = true;  // accepting_ && retain_: posted records go into the lists
  ResultLists lists_;
  ScanCounters counters_;
  DeletedRecordKeys dup_;  // the duplicate rule of the deleted phone records
  int phoneProgress_ = 1;  // the highest "ScanProgressInfo" value of this scan

  std::atomic<int> selectedFilesNum_{0};
  std::atomic<int> recovredFilesNum_{0};

  // UI-thread state.
  // One list per category: what its table shows, and what ticking, the deleted-only filter,
  // the warning colour and sorting act on.
  std::array<ResultRows, kCategoryCount> display_;
  std::array<bool, kCategoryCount> selectAll_{};
  std::optional<Category> current_;
  bool scanOpen_ = false;  // between showView and the first finishing step
  std::vector<int> selectedRows_;
  bool nameOrder_ = false, sizeOrder_ = false, dateOrder_ = false;
  // The column each table's rows are sorted by (empty: list order) and the direction.
  struct TableSort {
    std::string column;
    bool ascending = true;
  };
  std::array<TableSort, kCategoryCount> sort_{};
  std::string searchText_;
  std::vector<std::string> searchWords_;
  // The current table's rows before the filter box narrowed them; none without typed words.
  std::optional<ResultRows> searchBase_;
  bool scanStopped_ = false;

  // Recovery run. The writer calls progress() from its ticker thread and finished() from
  // its worker.
  void progress(int recovered, int total) override;
  void finished(const RecoveryReport& report) override;
  std::string recoverPath_;
  std::unique_ptr<RecoveryWriter> recoverThread_;
  std::atomic<bool> recovering_{false};
  mutable std::mutex reportMutex_;
  RecoveryReport lastReport_;
};

}  // namespace tamsel
