#include "results/recovery_writer.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>

#include "results/vcf_controller.h"
#include "util/file_names.h"
#include "util/log.h"

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

bool isRealFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(p, ec));
}

bool somethingAt(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found;
}

std::string_view asText(const Bytes& data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

}  // namespace

int countTickedRecords(const ResultLists& l, bool brawScan) {
  if (brawScan) {
    return ticked(l.bbImageArray) + ticked(l.bbAudioArray) + ticked(l.bbVedioArray) +
           ticked(l.bbDocumentArray);
  }
  return ticked(l.bbContentStoreArray) + ticked(l.bbContactArray) + ticked(l.bbSMSArray) +
         ticked(l.bbNoteArray) + ticked(l.bbCalderArray) + ticked(l.bbCallArray) +
         ticked(l.bbMMSArray);
}

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
  folderOk_ = isRealFolder(recoverFilePath_);
}

void RecoveryWriter::failed(std::string line) {
  logLine(line);
  report_.failures.push_back(std::move(line));
}

bool RecoveryWriter::folderUsable(std::string_view what) {
  if (folderOk_) return true;
  failed(std::string(what) + " not written: no usable folder " + recoverFilePath_.string());
  return false;
}

// ------------------------------------------------------------------ the run

void RecoveryWriter::recoverFilesThread(std::stop_token stop) {
  recovred_.store(0, std::memory_order_relaxed);
  report_ = RecoveryReport{};
  report_.recoverPath = recoverPath_;
  report_.total = selectedFilesNum_;
  std::error_code ec;
  if (recoverPath_.empty()) {
    failed("recovery not started: no output folder chosen");
  } else if (fs::create_directories(recoverPath_, ec); !fs::is_directory(recoverPath_, ec)) {
    failed("recovery not started: cannot create " + recoverPath_.string());
  } else if (brawScan_) {
    recoverRawLists(stop);
  } else {
    recoverBackupLists(stop);
  }
  report_.cancelled = stop.stop_requested();
  report_.recovered = recovred_.exchange(0, std::memory_order_relaxed);
}

bool RecoveryWriter::openFolder(const char* name) {
  recoverFilePath_ = recoverPath_ / name;
  std::error_code ec;
  fs::create_directories(recoverFilePath_, ec);
  folderOk_ = isRealFolder(recoverFilePath_);
  if (!folderOk_) failed("cannot create the folder " + recoverFilePath_.string());
  return folderOk_;
}

void RecoveryWriter::closeCategory(PRRtfController& rtf, std::string_view fileType) {
  if (!folderUsable(PRRtfController::fileNameForType(fileType))) return;
  if (auto p = rtf.writeRtfInPath(recoverFilePath_, fileType)) {
    wrote(*p);
  } else {
    failed(PRRtfController::fileNameForType(fileType) + " not written in " +
           recoverFilePath_.string());
  }
}

void RecoveryWriter::recoverRawLists(std::stop_token& stop) {
  const std::pair<const char*, RecordList<PRScanListNode>*> categories[] = {
      {"Image", &lists_.bbImageArray},
      {"Audio", &lists_.bbAudioArray},
      {"Video", &lists_.bbVedioArray},
      {"Document", &lists_.bbDocumentArray},
  };
  for (const auto& [folder, list] : categories) {
    if (stop.stop_requested()) return;
    openFolder(folder);
    if (!eachTicked(*list, stop, [&](PRScanListNode& n) { RecoverRawFile(n); })) return;
  }
}

void RecoveryWriter::recoverBackupLists(std::stop_token& stop) {
  openFolder("Content_Store");
  if (!eachTicked(lists_.bbContentStoreArray, stop,
                  [&](const PRBlackBerryContentNode& n) { recoverContentStore(n); })) {
    return;
  }

  // One text controller per category folder: the controller keeps its text after writing.
  auto textCategory = [&](const char* folder, const char* fileType, auto& list, auto write) {
    PRRtfController rtf;
    openFolder(folder);
    if (!eachTicked(list, stop, [&](const auto& n) { write(n, rtf); })) return false;
    closeCategory(rtf, fileType);
    return true;
  };
  if (!textCategory("Contact", "Contact", lists_.bbContactArray,
                    [&](const PRBlackBerryContactNode& n, PRRtfController& rtf) {
                      recoverContactNode(n, rtf);
                    }) ||
      !textCategory("Message", "Message", lists_.bbSMSArray,
                    [&](const PRBlackBerrySMSMessageNode& n, PRRtfController& rtf) {
                      recoverMessageNode(n, rtf);
                    }) ||
      !textCategory(
          "Note", "Note", lists_.bbNoteArray,
          [&](const PRBlackBerryNoteNode& n, PRRtfController& rtf) { recoverNoteNode(n, rtf); }) ||
      !textCategory("Calendar&Reminder", "Calendar&Reminder", lists_.bbCalderArray,
                    [&](const PRBlackBerryCalenderNode& n, PRRtfController& rtf) {
                      recoverCalenderNode(n, rtf);
                    }) ||
      !textCategory("CallHistory", "CallHistory", lists_.bbCallArray,
                    [&](const PRBlackBerryCallNode& n, PRRtfController& rtf) {
                      recoverCallHistoryNode(n, rtf);
                    })) {
    return;
  }
  // The MMS entries go to a "Messages.txt" of their own, beside the attachments.
  textCategory("MMSMessgae", "Message", lists_.bbMMSArray,
               [&](const PRBlackBerryMMSMessageNode& n, PRRtfController& rtf) {
                 recoverMMSNode(n, rtf);
                 recoverMMSNodeFile(n);
               });
}

// ------------------------------------------------------------------ record writers

void RecoveryWriter::recoverContactNode(const PRBlackBerryContactNode& node, PRRtfController& rtf) {
  count();
  rtf.addRtfContent(contactEntry(node));
  const std::string& name = !node.contactName.empty() ? node.contactName : node.companyName;
  if (name.empty()) return;  // nothing to name the card after
  if (!folderUsable("vCard of " + name)) return;
  PRVCFController vcf;
  if (auto p = vcf.creatFile(node, recoverFilePath_ / sanitizeFileName(name + ".vcf"))) {
    wrote(*p);
  } else {
    failed("vCard of " + name + " not written in " + recoverFilePath_.string());
  }
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
  if (!folderUsable(std::string(what) + " " + name)) return;
  // The bytes are read from the backup; one that shrank since the scan writes nothing.
  std::string error;
  std::optional<Bytes> bytes = data.readAll(UINT64_MAX, &error);
  if (!bytes) {
    failed(std::string(what) + " " + name + " not written: " + error);
    return;
  }
  if (auto p = writeNewFile(recoverFilePath_, name, asText(*bytes))) {
    wrote(*p);
  } else {
    failed(std::string(what) + " " + name + " not written in " + recoverFilePath_.string());
  }
}

void RecoveryWriter::recoverMMSNodeFile(const PRBlackBerryMMSMessageNode& node) {
  count();
  writeRecordFile(node.contentDataName, node.contentData, "attachment");
}

void RecoveryWriter::recoverContentStore(const PRBlackBerryContentNode& node) {
  count();
  writeRecordFile(node.filePathName, node.contentData, "content-store file");
}

void RecoveryWriter::RecoverRawFile(PRScanListNode& node) {
  count();
  std::string name = sanitizeFileName(node.nodeName);
  if (!folderUsable("found file " + name)) return;
  fs::path target = uniquePath(recoverFilePath_, name);
  if (target.empty()) {
    failed("RecoverRawFile: no free name for " + name + " in " + recoverFilePath_.string());
    return;
  }
  const std::string& text = target.native();
  if (text.size() >= TAMSEL_DISKLIB_PATH_MAX) {
    failed("RecoverRawFile: the path of " + std::to_string(text.size()) +
           " bytes does not fit the disk library's " + std::to_string(TAMSEL_DISKLIB_PATH_MAX) +
           "-byte buffer, not written: " + text);
    return;
  }
  if (disklib_ == nullptr || disklib_->recoverFoundFile == nullptr) {
    failed("RecoverRawFile: no disk library to read the card, not written: " + text);
    return;
  }
  char buffer[TAMSEL_DISKLIB_PATH_MAX] = {};
  std::memcpy(buffer, text.data(), text.size());
  disklib_->recoverFoundFile(buffer, currentDisk_, node.getfile());
  if (somethingAt(target)) {
    wrote(target);
  } else {
    failed("RecoverRawFile: the disk library wrote nothing to " + text);
  }
}

void RecoveryWriter::copyPhoneFile(const std::string& source, const std::string& name,
                                   std::string_view what) {
  std::string safe = sanitizeFileName(name);
  if (!folderUsable(std::string(what) + " " + safe)) return;
  if (auto p = copyToNewFile(source, recoverFilePath_, safe)) {
    wrote(*p);
  } else {
    failed(std::string(what) + " " + safe + " not copied from " + source);
  }
}

void RecoveryWriter::recoverPhotoAndVideo(const PRPhotoAndVideoNode& node) {
  count();
  copyPhoneFile(node.filePath, node.fileNodeName, "photo or video");
}

void RecoveryWriter::recoverFaceBookAndTwitter(const PRFaceTwitterNode& node) {
  count();
  copyPhoneFile(node.faceTwitterFilePath, node.faceTwitterFileName, "app file");
}

}  // namespace tamsel
