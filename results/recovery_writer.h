// Recovery: writes every ticked record of the current results into a fixed tree of category
// folders under the folder the user chose.
//
// After a backup scan: "Content_Store" (one file per content-store record), "Contact"
// ("Contacts.txt" and one vCard per named contact), "Message" ("Messages.txt", SMS), "Note"
// ("Notes.txt"), "Calendar&Reminder" ("Calendar&Reminder.txt"), "CallHistory"
// ("CallHistory.txt") and "MMSMessgae" ("Messages.txt" and the attachments). Every folder
// and every text file is written even when nothing of its category is ticked.
// Phone-backup records join the BlackBerry ones in the same text files, after them:
// contacts in "Contacts.txt" (and a vCard each), messages in "Message/Messages.txt", notes,
// calendar entries and calls likewise. When the results hold phone records there are three
// folders more: "BookMark" ("BookMark.txt"), "Photo&Video" and "FaceBook&Twitter" (exact
// copies of the stored files under their names on the phone); "Content_Store" and
// "MMSMessgae" are then written only if BlackBerry records are there too. A run over
// BlackBerry results writes what it always did.
// After a raw scan: "Image", "Audio", "Video", "Document", "Archive", each file read off the
// card by the disk library and written here (writeFoundFile64 for the records of a version 3
// library, whatever their length; else writeFoundFile, else readFoundFile). A file with
// unreadable sectors is kept with zeros in their place, and the report says how many bytes;
// a file the scan found damaged (its cluster chain broken, or cut by the card's end) is kept
// as the card holds it and reported incomplete too.
//
// Nothing already in the chosen folder is replaced: a name in use gets " (2)", " (3)" ...
// before its suffix. Names taken from records are sanitised (util/file_names.h), so no file
// is written outside the chosen folder. The chosen folder is opened once and every folder
// and file is created relative to it (util/output_folder.h): a link planted in the tree
// during a run is never followed, a category folder moved or replaced during the run is not
// written any more (a failure line says so), and two runs into one folder each create, and
// report, only their own files. Every run ends with its receipt in the chosen folder,
// "report.html" and "manifest.csv" (results/recovery_receipt.h), also after a stop.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "disklib/disklib_api.h"
#include "events/records.h"
#include "results/recovery_entries.h"
#include "results/result_lists.h"
#include "results/rtf_controller.h"
#include "util/output_folder.h"

namespace tamsel {

// What the receipt says of one file a run created (the file's size and digest are read back
// from the folder when the receipt is written).
struct RecoveredItem {
  std::filesystem::path path;  // among RecoveryReport::written
  std::string category;        // the category folder
  std::string kind;            // "vCard", "Contact text file", "found file" ...
  std::string deleted;         // "yes", "no", or for a text file "2 of 5 records"
  std::string source;          // where it came from, as far as the record knows
};

struct RecoveryReport {
  std::filesystem::path recoverPath;
  std::string source;  // what was scanned (a backup, a card or an image), when known
  int recovered = 0;   // records handled (the progress numerator at the end)
  int total = 0;       // ticked records (the progress denominator)
  bool cancelled = false;
  std::vector<std::filesystem::path> written;  // every file created, in order
  // One line per thing not written, or written with unreadable bytes filled with zeros.
  std::vector<std::string> failures;
  // Found files written incomplete (among `written`): with unreadable sectors of the card as
  // zeros (`unreadableBytes` counts those bytes), or found damaged by the scan (`damaged` of
  // them: a cluster chain that loops or ends early, or a file the card's end cuts).
  int incomplete = 0;
  uint64_t unreadableBytes = 0;
  int damaged = 0;
  std::vector<RecoveredItem> items;  // one per file of `written`, in the same order
  // The receipt files written into the folder at the end of the run (empty when not).
  std::filesystem::path reportHtml;
  std::filesystem::path manifestCsv;
};

// The run's summary in one line: the files written, and those written incomplete with the
// count of unreadable bytes, e.g. "12 files written into /out; 1 of them incomplete (512
// unreadable bytes of the card written as zeros)".
std::string recoverySummary(const RecoveryReport& report);
// Why the incomplete files are incomplete, as the summary says it in its parentheses:
// "512 unreadable bytes of the card written as zeros", "1 damaged on the card", or both.
std::string incompleteDetail(const RecoveryReport& report);

// Told about a run started with RecoveryWriter::start. progress() is called from the
// writer's ticker thread every second and once more from the worker at the end, right
// before finished(); a front end moves both to its own UI thread.
struct RecoveryObserver {
  virtual ~RecoveryObserver() = default;
  virtual void progress(int recovered, int total) = 0;
  virtual void finished(const RecoveryReport& report) = 0;
};

// Ticked records among the lists a run writes (the raw lists for a raw scan, the seven
// BlackBerry lists and the eight phone-backup lists otherwise), each counted once.
int countTickedRecords(const ResultLists& lists, bool brawScan);

class RecoveryWriter {
 public:
  // `lists` is a snapshot that shares the records; their bSelected flags are the ticks.
  // `disklib` (may be null) and `currentDisk` serve raw-scan files.
  RecoveryWriter(ResultLists lists, bool brawScan, std::filesystem::path recoverPath,
                 const export_function_table* disklib = nullptr,
                 list_disk_struct* currentDisk = nullptr);
  // Asks a running worker to stop after the record in hand, and waits for it.
  ~RecoveryWriter();
  RecoveryWriter(const RecoveryWriter&) = delete;
  RecoveryWriter& operator=(const RecoveryWriter&) = delete;

  // Runs the whole recovery on the calling thread and returns its report.
  RecoveryReport run();
  // Runs it on a worker thread with a 1-second progress ticker; `observer` (may be null)
  // must outlive the run. One run per writer.
  void start(RecoveryObserver* observer);
  // Waits for a started run to end.
  void wait();
  // Makes a started run stop after the record in hand (the report says cancelled).
  void cancel();

  // The progress denominator; counted from the lists unless set.
  void setSelectedFilesNum(int n) { selectedFilesNum_ = n; }
  int selectedFilesNum() const { return selectedFilesNum_; }
  // Records handled so far; back to 0 when a run ends. Safe to read from any thread.
  int recovredFilesNum() const { return recovred_.load(std::memory_order_relaxed); }

  // What was scanned, for the receipt.
  void setSourceName(std::string name) { sourceName_ = std::move(name); }
  const std::filesystem::path& recoverPath() const { return recoverPath_; }
  void setRecoverPath(std::filesystem::path p) { recoverPath_ = std::move(p); }
  // The category folder being written. Set by a run; set it by hand only to call the record
  // writers below directly (the folder must exist).
  const std::filesystem::path& recoverFilePath() const { return recoverFilePath_; }
  void setRecoverFilePath(std::filesystem::path p);

  // Record writers: each counts 1 (recoverMMSNode excepted) and writes into
  // recoverFilePath(). The text ones add their entry to `rtf`.
  void recoverContactNode(const PRBlackBerryContactNode& node, PRRtfController& rtf);
  void recoverMessageNode(const PRBlackBerrySMSMessageNode& node, PRRtfController& rtf);
  void recoverNoteNode(const PRBlackBerryNoteNode& node, PRRtfController& rtf);
  void recoverCalenderNode(const PRBlackBerryCalenderNode& node, PRRtfController& rtf);
  void recoverCallHistoryNode(const PRBlackBerryCallNode& node, PRRtfController& rtf);
  void recoverMMSNode(const PRBlackBerryMMSMessageNode& node, PRRtfController& rtf);
  void recoverMMSNodeFile(const PRBlackBerryMMSMessageNode& node);
  void recoverContentStore(const PRBlackBerryContentNode& node);
  void RecoverRawFile(PRScanListNode& node);
  // Writers for the phone-backup records. A contact gets a vCard named after its name, else
  // its company; the photo, video and app-file writers copy the stored file byte for byte.
  void recoverContactNode(const PRContactNode& node, PRRtfController& rtf);
  void recoverMessageNode(const PRMessageNode& node, PRRtfController& rtf);
  void recoverNoteNode(const PRNoteNode& node, PRRtfController& rtf);
  void recoverCalenderNode(const PRCalenderNode& node, PRRtfController& rtf);
  void recoverCallHistoryNode(const PRCallHistoryNode& node, PRRtfController& rtf);
  void recoverBookMarkNode(const PRBookMarkNode& node, PRRtfController& rtf);
  void recoverPhotoAndVideo(const PRPhotoAndVideoNode& node);
  void recoverFaceBookAndTwitter(const PRFaceTwitterNode& node);

  static uint64_t sizeFormString(std::string_view sizeText) {
    return tamsel::sizeFormString(sizeText);
  }

  // What the record writers have done since the run (or the writer) began.
  const RecoveryReport& report() const { return report_; }

 private:
  void recoverFilesThread(std::stop_token stop);
  void recoverRawLists(std::stop_token& stop);
  void recoverBackupLists(std::stop_token& stop);
  bool openFolder(const char* name);
  void closeCategory(PRRtfController& rtf, std::string_view fileType);
  // Opens `folder`, lets `fill` add the entries and writes the text file of `fileType`;
  // false (nothing written) when `fill` was stopped.
  template <class Fill>
  bool textCategory(const char* folder, std::string_view fileType, Fill fill);
  void writeCard(const std::string& name, const std::string& card);
  // A new file in the category folder (failure lines when there is none).
  std::optional<OutputFolder::NewFile> createFile(const std::string& name, std::string_view what);
  void writeWholeFile(const std::string& name, std::string_view bytes, std::string_view what);
  void count() { recovred_.fetch_add(1, std::memory_order_relaxed); }
  // Records a created file with the facts of the record in hand (set by about()).
  void wrote(const std::filesystem::path& p);
  void about(std::string kind, std::string deleted, std::string source);
  template <class Node>
  void tally(const Node& node);
  void failed(std::string line);
  void wroteIncomplete(const std::string& name, const std::filesystem::path& path,
                       const std::string& damage, uint64_t unreadable);
  bool folderUsable(std::string_view what);
  void writeRecordFile(std::string_view rawName, const ByteRef& data, std::string_view what);
  void copyPhoneFile(const std::string& source, const std::string& origin, const std::string& name,
                     std::string_view what);

  ResultLists lists_;
  bool brawScan_;
  std::filesystem::path recoverPath_;
  std::filesystem::path recoverFilePath_;
  std::optional<OutputFolder> root_;    // the chosen folder, while a run goes on
  std::optional<OutputFolder> folder_;  // the category folder being written
  const export_function_table* disklib_;
  list_disk_struct* currentDisk_;
  int selectedFilesNum_;
  std::atomic<int> recovred_{0};
  RecoveryReport report_;
  std::string sourceName_;
  RecoveredItem current_;  // facts of the next file written
  int textRecords_ = 0;    // records of the text file being filled
  int textDeleted_ = 0;    // of them, deleted ones
  std::jthread worker_;
  bool started_ = false;
};

}  // namespace tamsel
