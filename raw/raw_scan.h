// The raw scan of a memory card: the disk library scans the chosen disk or partition and
// reports each file it finds and its progress through two callbacks; each accepted file
// becomes a PRScanListNode posted as "BlackBerryRawRecoveryFileInfo", each progress report
// a percentage posted as "BlackBerryRawRecoveryProgress". A library of interface version 3
// hands each callback the scan's own pointer (scanDeviceFor), so scans are independent and
// files of any length, with their deleted mark, times and damage, are listed. With an older
// library one raw scan runs at a time (the plain callbacks reach the running scan through a
// pointer set for its duration) and its 32-bit records carry files under 4 GiB only.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "disklib/disklib_api.h"
#include "events/notification_center.h"
#include "events/records.h"
#include "events/scan_source.h"

namespace tamsel {

// The largest found file that is kept: every length the 32-bit file_len of a found-file
// record can carry (4 GiB - 1), since a camera card holds videos of several GB. Empty files
// are dropped.
inline constexpr uint32_t kMaxRawFileLen = UINT32_MAX;

// The record for a found file: name, kind by suffix, size text, a copy of the element.
// Null when the file is dropped (length 0 or over kMaxRawFileLen).
std::shared_ptr<PRScanListNode> makeScanListNode(const _rec_file_ele& ele);

// The record for a file of a version 3 scan, whatever its length (null for length 0 or a
// record too short to hold a name): as above, plus bDeleted ("Yes" for a deleted entry),
// createTime and modifyTime (date texts, empty when unknown), foundFlags, and validaty for
// a damaged file (a broken cluster chain, or bytes cut by the end of the disk), which is
// also logged. `file` is read up to its record_size only.
std::shared_ptr<PRScanListNode> makeScanListNode(const tamsel_found_file& file);

// What validaty says of a file with these TAMSEL_FOUND_* flags: "" when it is not damaged.
std::string damageText(uint32_t foundFlags);

// The version 3 record of a listed file, for readFoundFile64 and writeFoundFile64: its
// start, 64-bit length, flags and name (which points into the node).
tamsel_found_file foundFileOf(const PRScanListNode& node);

// current x 100 / total in unsigned 64-bit arithmetic, truncated to 32 bits; -1 when total
// is 0 (nothing is posted then).
int64_t rawProgressPercent(const rec_progress& progress);

// The callbacks handed to an older library's scanDevice; they forward to the running scan.
void m_finded(_rec_file_ele* ele);
void m_progress(rec_progress* progress);

class RawScanSession {
 public:
  // `stopRequested`, when given, is the program's own stop flag: while it is set every
  // callback asks the library to stop again (a stop that came just before the library
  // began its scan is not lost).
  RawScanSession(NotificationCenter& nc, const export_function_table* table,
                 const std::atomic<bool>* stopRequested = nullptr);
  RawScanSession(const RawScanSession&) = delete;
  RawScanSession& operator=(const RawScanSession&) = delete;

  // Runs the library's scan on the device path with the device index (255: the whole disk)
  // and returns when it ends: scanDeviceFor when the library has it, else scanDevice. False,
  // with nothing posted, when there is neither entry, or when through scanDevice another raw
  // scan is running.
  bool run(const std::string& devicePath, int deviceIndex);

  uint64_t filesPosted() const { return filesPosted_; }

  void found(const _rec_file_ele& ele);
  void found(const tamsel_found_file& file);
  void progress(const rec_progress& p);

 private:
  void post(std::shared_ptr<PRScanListNode> node);
  void restop();
  NotificationCenter& nc_;
  const export_function_table* table_;
  const std::atomic<bool>* stopRequested_;
  uint64_t filesPosted_ = 0;
};

// True when the first sector `head` (512 bytes or more) is a boot sector: the 0x55AA
// signature with either a FAT/exFAT boot jump or an MBR partition table (status bytes 0x00
// or 0x80, at least one partition type).
bool looksLikeBootSector(std::string_view head);

// The memory card as a source: a block device, or an image file that begins with a boot
// sector, scanned as a whole disk through the disk library. The library is looked up when
// the scan starts (it may be loaded after the source is made).
class MemoryCardSource : public ScanSource {
 public:
  explicit MemoryCardSource(std::function<const export_function_table*()> table)
      : table_(std::move(table)) {}
  std::string_view name() const override { return "memory card"; }
  bool probe(const std::string& path) const override;
  ScanOutcome scan(const std::string& path, ScanContext& ctx) override;
  bool findsFiles() const override { return true; }

 private:
  std::function<const export_function_table*()> table_;
};

}  // namespace tamsel
