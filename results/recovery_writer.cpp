#include "results/recovery_writer.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "ios/backup_files.h"
#include "raw/raw_scan.h"
#include "results/recovery_receipt.h"
#include "results/vcf_controller.h"
#include "util/file_names.h"
#include "util/log.h"
#include "util/output_folder.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

template <class T>
int ticked(const RecordList<T>& list) {
  int n = 0;
  for (const auto& r : list) {
    if (r && r->bSelected) ++n;
  }
  return n;
}

// Calls `write` for every ticked record in list order; false when asked to stop.
template <class T, class F>
bool eachTicked(const RecordList<T>& list, const std::stop_token& stop, F write) {
  for (const auto& r : list) {
    if (stop.stop_requested()) return false;
    if (r && r->bSelected) write(*r);
  }
  return !stop.stop_requested();
}

bool deletedRecord(const auto& node) {
  if constexpr (requires { node.bDeleted.get(); }) {
    return node.bDeleted.get();
  } else if constexpr (requires { node.bDeleted.empty(); }) {
    return !node.bDeleted.empty();
  } else {
    return false;  // BlackBerry records carry no deleted mark
  }
}

std::string yesNo(bool b) {
  return b ? "yes" : "no";
}

// Where the bytes lie in the file they were read from (the backup, or the database a backup
// archive held), else "".
std::string whereInInput(const ByteRef& data) {
  if (data.inMemory() || data.ranges().empty()) return "";
  return ", at byte " + std::to_string(data.ranges().front().offset) +
         " of the database it was read from";
}

}  // namespace

std::string incompleteDetail(const RecoveryReport& r) {
  std::string detail;
  if (r.damaged > 0) detail = std::to_string(r.damaged) + " damaged on the card";
  if (r.unreadableBytes > 0 || r.damaged == 0) {
    if (!detail.empty()) detail += ", ";
    detail += std::to_string(r.unreadableBytes) + " unreadable bytes of the card written as zeros";
  }
  return detail;
}

std::string recoverySummary(const RecoveryReport& r) {
  std::string line = std::to_string(r.written.size()) +
                     (r.written.size() == 1 ? " file" : " files") + " written into " +
                     r.recoverPath.string();
  if (r.incomplete > 0) {
    line +=
        "; " + std::to_string(r.incomplete) + " of them incomplete (" + incompleteDetail(r) + ")";
  }
  const size_t notWritten = r.failures.size() - static_cast<size_t>(r.incomplete);
  if (notWritten > 0) line += "; " + std::to_string(notWritten) + " not written";
  return line;
}

int countTickedRecords(const ResultLists& l, bool brawScan) {
  if (brawScan) {
    return ticked(l.bbImageArray) + ticked(l.bbAudioArray) + ticked(l.bbVedioArray) +
           ticked(l.bbDocumentArray) + ticked(l.bbArchiveArray);
  }
  return ticked(l.bbContentStoreArray) + ticked(l.bbContactArray) + ticked(l.bbSMSArray) +
         ticked(l.bbNoteArray) + ticked(l.bbCalderArray) + ticked(l.bbCallArray) +
         ticked(l.bbMMSArray) + ticked(l.photoAndVideoArray) + ticked(l.contactArray) +
         ticked(l.messageArray) + ticked(l.noteArray) + ticked(l.callHistoryArray) +
         ticked(l.bookMarkArray) + ticked(l.calenderArray) + ticked(l.faceTwitterArray);
}

namespace {

bool holdsPhoneRecords(const ResultLists& l) {
  return !l.photoAndVideoArray.empty() || !l.contactArray.empty() || !l.messageArray.empty() ||
         !l.noteArray.empty() || !l.callHistoryArray.empty() || !l.bookMarkArray.empty() ||
         !l.calenderArray.empty() || !l.faceTwitterArray.empty();
}

bool holdsBlackBerryRecords(const ResultLists& l) {
  return !l.bbContentStoreArray.empty() || !l.bbContactArray.empty() || !l.bbSMSArray.empty() ||
         !l.bbNoteArray.empty() || !l.bbCalderArray.empty() || !l.bbCallArray.empty() ||
         !l.bbMMSArray.empty();
}

}  // namespace

RecoveryWriter::RecoveryWriter(ResultLists lists, bool brawScan, fs::path recoverPath,
                               const export_function_table* disklib, list_disk_struct* currentDisk)
    : lists_(std::move(lists)),
      brawScan_(brawScan),
      recoverPath_(std::move(recoverPath)),
      disklib_(disklib),
      currentDisk_(currentDisk),
      selectedFilesNum_(countTickedRecords(lists_, brawScan)) {
  report_.recoverPath = recoverPath_;
}

RecoveryWriter::~RecoveryWriter() {
  if (worker_.joinable()) {
    worker_.request_stop();
    worker_.join();
  }
}

RecoveryReport RecoveryWriter::run() {
  if (started_) return report_;
  started_ = true;
  recoverFilesThread(std::stop_token{});
  return report_;
}

void RecoveryWriter::start(RecoveryObserver* observer) {
  if (started_) return;
  started_ = true;
  worker_ = std::jthread([this, observer](std::stop_token stop) {
    std::jthread ticker;
    if (observer != nullptr) {
      ticker = std::jthread([this, observer](std::stop_token tick) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        for (;;) {
          cv.wait_for(lock, tick, std::chrono::seconds(1), [] { return false; });
          if (tick.stop_requested()) return;
          observer->progress(recovredFilesNum(), selectedFilesNum_);
        }
      });
    }
    recoverFilesThread(stop);
    if (ticker.joinable()) {
      ticker.request_stop();
      ticker.join();
    }
    if (observer != nullptr) {
      observer->progress(report_.recovered, report_.total);
      observer->finished(report_);
    }
  });
}

void RecoveryWriter::wait() {
  if (worker_.joinable()) worker_.join();
}

void RecoveryWriter::cancel() {
  worker_.request_stop();
}

void RecoveryWriter::setRecoverFilePath(fs::path p) {
  recoverFilePath_ = std::move(p);
  folder_.reset();
  std::string error;
  if (recoverFilePath_.has_filename()) {
    if (auto parent = OutputFolder::open(recoverFilePath_.parent_path(), &error)) {
      folder_ = parent->subfolder(recoverFilePath_.filename().string(), &error);
    }
  }
  if (!folder_) logLine(error);
}

void RecoveryWriter::about(std::string kind, std::string deleted, std::string source) {
  current_.kind = std::move(kind);
  current_.deleted = std::move(deleted);
  current_.source = std::move(source);
}

void RecoveryWriter::wrote(const fs::path& p) {
  report_.written.push_back(p);
  RecoveredItem item = current_;
  item.path = p;
  item.category = recoverFilePath_.filename().string();
  report_.items.push_back(std::move(item));
}

template <class Node>
void RecoveryWriter::tally(const Node& node) {
  ++textRecords_;
  if (deletedRecord(node)) ++textDeleted_;
}

void RecoveryWriter::failed(std::string line) {
  logLine(line);
  report_.failures.push_back(std::move(line));
}

bool RecoveryWriter::folderUsable(std::string_view what) {
  if (!folder_) {
    failed(std::string(what) + " not written: no usable folder " + recoverFilePath_.string());
    return false;
  }
  // The folder is written through its descriptor, so a link put in its place is never
  // followed; a folder that is no longer where the report would say is not written either.
  if (!folder_->stillInPlace()) {
    failed(std::string(what) + " not written: the folder " + recoverFilePath_.string() +
           " was moved or replaced during the recovery");
    return false;
  }
  return true;
}

// ------------------------------------------------------------------ the run

void RecoveryWriter::recoverFilesThread(std::stop_token stop) {
  recovred_.store(0, std::memory_order_relaxed);
  report_ = RecoveryReport{};
  report_.recoverPath = recoverPath_;
  report_.total = selectedFilesNum_;
  report_.source = sourceName_;
  std::string error;
  if (recoverPath_.empty()) {
    failed("recovery not started: no output folder chosen");
  } else if (root_ = OutputFolder::open(recoverPath_, &error); !root_) {
    failed("recovery not started: " + error);
  } else if (brawScan_) {
    recoverRawLists(stop);
  } else {
    recoverBackupLists(stop);
  }
  folder_.reset();
  // The receipt lists what this run created, also after a stop.
  if (root_) {
    std::string receiptError;
    if (!writeRecoveryReceipt(*root_, report_, &receiptError)) failed(receiptError);
  }
  root_.reset();
  report_.cancelled = stop.stop_requested();
  report_.recovered = recovred_.exchange(0, std::memory_order_relaxed);
}

bool RecoveryWriter::openFolder(const char* name) {
  recoverFilePath_ = recoverPath_ / name;
  std::string error;
  folder_ = root_->subfolder(name, &error);
  if (!folder_) failed(error);
  return folder_.has_value();
}

void RecoveryWriter::writeWholeFile(const std::string& name, std::string_view bytes,
                                    std::string_view what) {
  if (!folderUsable(std::string(what) + " " + name)) return;
  std::string error;
  if (auto p = folder_->writeFile(name, bytes, &error)) {
    wrote(*p);
  } else {
    failed(std::string(what) + " " + name + " not written: " + error);
  }
}

void RecoveryWriter::closeCategory(PRRtfController& rtf, std::string_view fileType) {
  rtf.setRtfEnder();
  about(std::string(fileType) + " text file",
        std::to_string(textDeleted_) + " of " + std::to_string(textRecords_) + " records",
        std::to_string(textRecords_) + " records of the scan");
  writeWholeFile(PRRtfController::fileNameForType(fileType), rtf.content(), "text file");
}

void RecoveryWriter::recoverRawLists(std::stop_token& stop) {
  const std::pair<const char*, RecordList<PRScanListNode>*> categories[] = {
      {"Image", &lists_.bbImageArray},     {"Audio", &lists_.bbAudioArray},
      {"Video", &lists_.bbVedioArray},     {"Document", &lists_.bbDocumentArray},
      {"Archive", &lists_.bbArchiveArray},
  };
  for (const auto& [folder, list] : categories) {
    if (stop.stop_requested()) return;
    openFolder(folder);
    if (!eachTicked(*list, stop, [&](PRScanListNode& n) { RecoverRawFile(n); })) return;
  }
}

template <class Fill>
bool RecoveryWriter::textCategory(const char* folder, std::string_view fileType, Fill fill) {
  // One text controller per category folder: the controller keeps its text after writing.
  PRRtfController rtf;
  textRecords_ = 0;
  textDeleted_ = 0;
  openFolder(folder);
  if (!fill(rtf)) return false;
  closeCategory(rtf, fileType);
  return true;
}

void RecoveryWriter::recoverBackupLists(std::stop_token& stop) {
  // The BlackBerry-only folders are left out of a run over phone-backup results alone.
  const bool phone = holdsPhoneRecords(lists_);
  const bool blackBerry = holdsBlackBerryRecords(lists_) || !phone;
  if (blackBerry) {
    openFolder("Content_Store");
    if (!eachTicked(lists_.bbContentStoreArray, stop,
                    [&](const PRBlackBerryContentNode& n) { recoverContentStore(n); })) {
      return;
    }
  }
  // The ticked records of a BlackBerry list, then those of the phone list of the same
  // category, each written by `write`.
  auto both = [&](auto& blackBerryList, auto& phoneList, auto write) {
    auto counted = [&](const auto& n) {
      tally(n);
      write(n);
    };
    return eachTicked(blackBerryList, stop, counted) && eachTicked(phoneList, stop, counted);
  };
  if (!textCategory("Contact", "Contact",
                    [&](PRRtfController& rtf) {
                      return both(lists_.bbContactArray, lists_.contactArray,
                                  [&](const auto& n) { recoverContactNode(n, rtf); });
                    }) ||
      !textCategory("Message", "Message",
                    [&](PRRtfController& rtf) {
                      return both(lists_.bbSMSArray, lists_.messageArray,
                                  [&](const auto& n) { recoverMessageNode(n, rtf); });
                    }) ||
      !textCategory("Note", "Note",
                    [&](PRRtfController& rtf) {
                      return both(lists_.bbNoteArray, lists_.noteArray,
                                  [&](const auto& n) { recoverNoteNode(n, rtf); });
                    }) ||
      !textCategory("Calendar&Reminder", "Calendar&Reminder",
                    [&](PRRtfController& rtf) {
                      return both(lists_.bbCalderArray, lists_.calenderArray,
                                  [&](const auto& n) { recoverCalenderNode(n, rtf); });
                    }) ||
      !textCategory("CallHistory", "CallHistory", [&](PRRtfController& rtf) {
        return both(lists_.bbCallArray, lists_.callHistoryArray,
                    [&](const auto& n) { recoverCallHistoryNode(n, rtf); });
      })) {
    return;
  }
  // The MMS entries go to a "Messages.txt" of their own, beside the attachments.
  if (blackBerry && !textCategory("MMSMessgae", "Message", [&](PRRtfController& rtf) {
        return eachTicked(lists_.bbMMSArray, stop, [&](const PRBlackBerryMMSMessageNode& n) {
          tally(n);
          recoverMMSNode(n, rtf);
          recoverMMSNodeFile(n);
        });
      })) {
    return;
  }
  if (!phone) return;
  if (!textCategory("BookMark", "BookMark", [&](PRRtfController& rtf) {
        return eachTicked(lists_.bookMarkArray, stop, [&](const PRBookMarkNode& n) {
          tally(n);
          recoverBookMarkNode(n, rtf);
        });
      })) {
    return;
  }
  openFolder("Photo&Video");
  if (!eachTicked(lists_.photoAndVideoArray, stop,
                  [&](const PRPhotoAndVideoNode& n) { recoverPhotoAndVideo(n); })) {
    return;
  }
  openFolder("FaceBook&Twitter");
  eachTicked(lists_.faceTwitterArray, stop,
             [&](const PRFaceTwitterNode& n) { recoverFaceBookAndTwitter(n); });
}

// ------------------------------------------------------------------ record writers

void RecoveryWriter::recoverContactNode(const PRBlackBerryContactNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(contactEntry(node));
  const std::string& name = !node.contactName.empty() ? node.contactName : node.companyName;
  if (name.empty()) return;  // nothing to name the card after
  about("vCard", "no", "contact record of the backup");
  PRVCFController vcf;
  writeCard(name, vcf.buildCard(node));
}

void RecoveryWriter::recoverMessageNode(const PRBlackBerrySMSMessageNode& node,
                                        PRRtfController& rtf) {
  count();
  rtf.addRtfContent(smsEntry(node));
}

void RecoveryWriter::recoverNoteNode(const PRBlackBerryNoteNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(memoEntry(node));
}

void RecoveryWriter::recoverCalenderNode(const PRBlackBerryCalenderNode& node,
                                         PRRtfController& rtf) {
  count();
  rtf.addRtfContent(calendarEntry(node));
}

void RecoveryWriter::recoverCallHistoryNode(const PRBlackBerryCallNode& node,
                                            PRRtfController& rtf) {
  count();
  rtf.addRtfContent(callLogEntry(node));
}

void RecoveryWriter::writeCard(const std::string& name, const std::string& card) {
  writeWholeFile(sanitizeFileName(name + ".vcf"), card, "vCard");
}

void RecoveryWriter::recoverContactNode(const PRContactNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(contactEntry(node));
  // The address book's appended fields begin with a blank, which a file name does without.
  std::string_view name = !node.contactName.empty() ? node.contactName : node.contactCompany;
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty()) return;  // nothing to name the card after
  about("vCard", yesNo(node.bDeleted), "address book row " + std::to_string(node.rowid));
  PRVCFController vcf;
  writeCard(std::string(name), vcf.buildCard(node));
}

void RecoveryWriter::recoverMessageNode(const PRMessageNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(messageEntry(node));
}

void RecoveryWriter::recoverNoteNode(const PRNoteNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(noteEntry(node));
}

void RecoveryWriter::recoverCalenderNode(const PRCalenderNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(calendarEntry(node));
}

void RecoveryWriter::recoverCallHistoryNode(const PRCallHistoryNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(callHistoryEntry(node));
}

void RecoveryWriter::recoverBookMarkNode(const PRBookMarkNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(bookMarkEntry(node));
}

void RecoveryWriter::recoverMMSNode(const PRBlackBerryMMSMessageNode& node, PRRtfController& rtf) {
  rtf.addRtfContent(mmsEntry(node));  // counted with its attachment
}

void RecoveryWriter::writeRecordFile(std::string_view rawName, const ByteRef& data,
                                     std::string_view what) {
  if (data.empty()) return;
  std::string name = sanitizeFileName(lastPathComponent(rawName));
  std::optional<OutputFolder::NewFile> file = createFile(name, what);
  if (!file) return;
  // The bytes are read from the backup chunk by chunk; one that can no longer be read (it
  // shrank since the scan) leaves no partial file behind.
  std::string readError;
  int writeErrno = 0;
  const bool fed = data.forEachChunk(
      [&](std::span<const uint8_t> chunk) {
        if (writeAll(file->fd(), chunk.data(), chunk.size())) return true;
        writeErrno = errno;
        return false;
      },
      &readError);
  if (!fed && writeErrno == 0) {
    file->discard();
    failed(std::string(what) + " " + name + " not written: " + readError);
    return;
  }
  if (!fed || !file->finish()) {
    if (writeErrno == 0) writeErrno = errno;
    failed(std::string(what) + " " + name + " not written: " + file->path().string() + ": " +
           std::strerror(writeErrno));
    return;
  }
  wrote(file->path());
}

std::optional<OutputFolder::NewFile> RecoveryWriter::createFile(const std::string& name,
                                                                std::string_view what) {
  if (!folderUsable(std::string(what) + " " + name)) return std::nullopt;
  std::string error;
  std::optional<OutputFolder::NewFile> file = folder_->createFile(name, &error);
  if (!file) failed(std::string(what) + " " + name + " not written: " + error);
  return file;
}

void RecoveryWriter::recoverMMSNodeFile(const PRBlackBerryMMSMessageNode& node) {
  count();
  about("MMS attachment" + (node.contentType.empty() ? "" : " (" + node.contentType + ")"), "no",
        "MMS attachment " + node.contentDataName + whereInInput(node.contentData));
  writeRecordFile(node.contentDataName, node.contentData, "attachment");
}

void RecoveryWriter::recoverContentStore(const PRBlackBerryContentNode& node) {
  count();
  about("content-store file" +
            (node.ContentFileType.empty() ? "" : " (" + node.ContentFileType + ")"),
        "no", "content store " + node.filePathName + whereInInput(node.contentData));
  writeRecordFile(node.filePathName, node.contentData, "content-store file");
}

namespace {

// What the scan found wrong with a file's place on the card ("" when nothing): its cluster
// chain looped, ended early or left the volume, or the card ends inside it. The bytes the
// card holds are written; the rest of the file is not there.
std::string damageOnCard(const PRScanListNode& node) {
  std::string why;
  if ((node.foundFlags & TAMSEL_FOUND_CHAIN_DAMAGED) != 0) {
    why = "its cluster chain on the card is damaged";
  }
  if ((node.foundFlags & TAMSEL_FOUND_TRUNCATED) != 0) {
    why += std::string(why.empty() ? "" : "; ") + "the card ends inside it";
  }
  if (!why.empty()) why += " (" + std::to_string(node.fileSizeNumber) + " bytes written)";
  return why;
}

}  // namespace

// A file written with part of it missing: counted once, and named by one failure line that
// ends with its path (the receipt marks its row by that path).
void RecoveryWriter::wroteIncomplete(const std::string& name, const fs::path& path,
                                     const std::string& damage, uint64_t unreadable) {
  std::string why = damage;
  if (unreadable > 0) {
    why += std::string(why.empty() ? "" : "; ") + std::to_string(unreadable) +
           " unreadable bytes of the card filled with zeros";
  }
  ++report_.incomplete;
  report_.unreadableBytes += unreadable;
  if (!damage.empty()) ++report_.damaged;
  failed("found file " + name + " written incomplete: " + why + ": " + path.string());
}

void RecoveryWriter::RecoverRawFile(PRScanListNode& node) {
  count();
  std::string name = sanitizeFileName(node.nodeName);
  _rec_file_ele* ele = node.getfile();
  about("found file" + (node.fileType.empty() ? "" : " (" + node.fileType + ")"),
        yesNo(deletedRecord(node)),
        "card byte " + std::to_string(ele->file_start) + ", found as " + node.nodeName);
  const std::string damage = damageOnCard(node);
  const bool streams64 = disklib_ != nullptr && disklib_->writeFoundFile64 != nullptr;
  const bool streams = streams64 || (disklib_ != nullptr && disklib_->writeFoundFile != nullptr);
  if (ele == nullptr || (!streams && (disklib_ == nullptr || disklib_->readFoundFile == nullptr))) {
    failed("found file " + name + " not written: no disk library to read the card");
    return;
  }
  // The 32-bit entries cannot carry a file of 4 GiB or more.
  if (!streams64 && node.fileSizeNumber > ele->file_len) {
    failed("found file " + name + " not written: its " + std::to_string(node.fileSizeNumber) +
           " bytes are more than the disk library's entries can read");
    return;
  }
  // The file is created here, relative to the open category folder; the library is never
  // given a path, only the new file's descriptor (which stays ours to close).
  if (streams) {
    std::optional<OutputFolder::NewFile> file = createFile(name, "found file");
    if (!file) return;
    // The library copies the file a piece at a time: a large video is never held whole.
    uint64_t unreadable = 0;
    int error = 0;
    if (streams64) {
      const tamsel_found_file found = foundFileOf(node);
      error = disklib_->writeFoundFile64(currentDisk_, &found, file->fd(), &unreadable);
    } else {
      error = disklib_->writeFoundFile(currentDisk_, ele, file->fd(), &unreadable);
    }
    const bool zeroFilled = error == TAMSEL_DISKLIB_ZERO_FILLED;
    if (error != 0 && !zeroFilled) {
      const std::string path = file->path().string();
      file->discard();  // no partial file is left
      failed("found file " + name + " not written: " + path + ": " + std::strerror(error));
      return;
    }
    if (!file->finish()) {
      failed("found file " + name + " not written: " + file->path().string() + ": " +
             std::strerror(errno));
      return;
    }
    wrote(file->path());
    // Kept, as the rest of a long video is worth having, but never silently incomplete.
    if (zeroFilled || !damage.empty()) {
      wroteIncomplete(name, file->path(), damage, zeroFilled ? unreadable : 0);
    }
    return;
  }
  // A library from before writeFoundFile fills one buffer of the file's whole size.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[ele->file_len + size_t{1}]);
  if (!buffer) {
    failed("found file " + name + " not written: no memory for its " +
           std::to_string(ele->file_len) + " bytes");
    return;
  }
  std::optional<OutputFolder::NewFile> file = createFile(name, "found file");
  if (!file) return;
  if (ele->file_len > 0) disklib_->readFoundFile(currentDisk_, buffer.get(), ele);
  if (!writeAll(file->fd(), buffer.get(), ele->file_len) || !file->finish()) {
    failed("found file " + name + " not written: " + file->path().string() + ": " +
           std::strerror(errno));
    return;
  }
  wrote(file->path());
  if (!damage.empty()) wroteIncomplete(name, file->path(), damage, 0);
}

// The stored file is copied whole, byte for byte: its length is the file's own, not the
// rounded one of the record's size text. A file of an encrypted backup is read from its clear
// copy in the scan's run folder, which goes with the run: its failure lines name the backup's
// own file (`origin`) instead.
void RecoveryWriter::copyPhoneFile(const std::string& source, const std::string& origin,
                                   const std::string& name, std::string_view what) {
  // The name on the phone, else the stored file's own (hashed) name.
  std::string safe = sanitizeFileName(name.empty() ? lastPathComponent(source) : name);
  if (!folderUsable(std::string(what) + " " + safe)) return;
  std::string error;
  // Opened below its backup folder without following a link: a link planted in the backup
  // (or in its clear copy) in place of the file or its subfolder is never copied out.
  std::optional<std::filesystem::path> p;
  if (const int in = openStoredFile(source, &error); in >= 0) {
    p = folder_->copyFrom(in, origin.empty() ? source : origin, safe, &error);
  } else if (!origin.empty()) {
    for (size_t at = error.find(source); at != std::string::npos;
         at = error.find(source, at + origin.size())) {
      error.replace(at, source.size(), origin);
    }
  }
  if (p) {
    wrote(*p);
  } else {
    failed(std::string(what) + " " + safe + " not copied: " + error);
  }
}

void RecoveryWriter::recoverPhotoAndVideo(const PRPhotoAndVideoNode& node) {
  count();
  // A file of an encrypted backup is copied from its decrypted copy; the report names the
  // backup's own file, which outlives the run.
  about(node.bmov ? "video" : "photo", "no",
        node.originPath.empty() ? "backup file " + node.filePath
                                : "encrypted backup file " + node.originPath);
  copyPhoneFile(node.filePath, node.originPath, node.fileNodeName, "photo or video");
}

void RecoveryWriter::recoverFaceBookAndTwitter(const PRFaceTwitterNode& node) {
  count();
  about("app file", "no",
        node.originPath.empty() ? "backup file " + node.faceTwitterFilePath
                                : "encrypted backup file " + node.originPath);
  copyPhoneFile(node.faceTwitterFilePath, node.originPath, node.faceTwitterFileName, "app file");
}

}  // namespace tamsel
