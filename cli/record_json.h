// JSON export of result records: one object per record, keyed by field name; texts as
// strings, flags as booleans, byte fields as {"size": n, "sha256": "..."} (hashed from the
// input as they are written). The document is written record by record, never built whole.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "events/deleted_keys.h"
#include "ios/device_list.h"
#include "results/result_lists.h"

namespace tamsel::cli {

// The "device" member of a phone backup's document: every field of its node, texts as
// strings, `encrypted` as a boolean, already laid out at the document's first level.
std::string deviceMember(const PRIOSDeviceNode& node);

// Writes {"source": ..., "kind": ..., "records": {CLASS: [record, ...]}} for every non-empty
// list of the BlackBerry, phone-backup and raw-scan kinds, laid out as a two-space indented
// document, in pieces through `write`. Text that is not valid UTF-8 is written with U+FFFD in place
// of the bad bytes. A byte field whose bytes can no longer be read is written with "sha256": null
// and a "readError" line, and reported through `warn`. Returns false as soon as `write` does.
bool writeRecordsJson(std::string_view source, std::string_view kind, const ResultLists& lists,
                      const std::function<bool(std::string_view)>& write,
                      const std::function<void(const std::string&)>& warn);

// The same document for a BlackBerry or phone backup, made while the scan posts its records, so
// that no record has to be kept: each record is counted and (when writing JSON) serialised as it
// arrives, byte fields hashed then, into an unnamed spool file of its class in the folder
// `spoolDir` gives (the scan's run folder; the system's temporary folder when it gives
// none). finish() writes the document from the spools in the classes' order. add() is called
// on the scan thread, everything else after the scan.
class RecordJsonSpool {
 public:
  static constexpr int kClassCount = 15;
  // Classes 0..6 are the BlackBerry ones, the rest the phone backup's.
  static constexpr int kFirstPhoneClass = 7;

  RecordJsonSpool(std::function<std::filesystem::path()> spoolDir,
                  std::function<void(const std::string&)> warn, bool writeJson);
  ~RecordJsonSpool();
  RecordJsonSpool(const RecordJsonSpool&) = delete;
  RecordJsonSpool& operator=(const RecordJsonSpool&) = delete;

  // A posted record; classes other than the fifteen are ignored. A deleted phone record
  // (posted as one) is left out when it is empty or already listed, by the result presenter's
  // rule, and is marked deleted otherwise.
  void add(PRNode& record, bool deleted = false);
  // Records of class `i` (the document's order: BlackBerry contact, call, SMS, MMS, memo,
  // calendar, content store; phone contact, message, call, note, bookmark, calendar entry,
  // photo or video, app file) seen so far.
  size_t count(int i) const { return counts_[i]; }
  // The name of class `i`.
  static const char* className(int i);
  // Writes the whole document through `write`; false when `write` fails or a spool could not
  // be written or read (error() says why). `device` (see deviceMember) follows "kind" when
  // it is not empty.
  bool finish(std::string_view source, std::string_view kind,
              const std::function<bool(std::string_view)>& write, std::string_view device = {});
  const std::string& error() const { return error_; }

 private:
  std::function<std::filesystem::path()> spoolDir_;
  std::function<void(const std::string&)> warn_;
  bool writeJson_;
  std::array<size_t, kClassCount> counts_{};
  std::array<std::FILE*, kClassCount> spools_{};
  DeletedRecordKeys keys_;
  std::string error_;
};

}  // namespace tamsel::cli
