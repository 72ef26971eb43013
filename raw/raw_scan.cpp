#include "raw/raw_scan.h"

#include <sys/stat.h>

#include <cstring>

#include "events/notification_names.h"
#include "raw/suffix.h"
#include "util/format.h"
#include "util/log.h"

namespace tamsel {
namespace {
std::atomic<RawScanSession*> gRunning{nullptr};
}

std::shared_ptr<PRScanListNode> makeScanListNode(const _rec_file_ele& ele) {
  if (ele.file_len < 1 || ele.file_len > kMaxRawFileLen) return nullptr;
  std::string name;
  if (ele.pFileName != nullptr) {
    name.assign(ele.pFileName, ::strnlen(ele.pFileName, ele.file_name_len));
  }
  auto node = std::make_shared<PRScanListNode>();
  node->fileType = rawScanKind(name);
  node->fileSizeNumber = ele.file_len;
  node->nodeSizeString = size_to_unit(ele.file_len);
  node->nodeName = name;
  node->setfile(ele);
  return node;
}

int64_t rawProgressPercent(const rec_progress& progress) {
  if (progress.total == 0) return -1;
  return static_cast<int32_t>(static_cast<uint32_t>(progress.current * 100 / progress.total));
}

void m_finded(_rec_file_ele* ele) {
  RawScanSession* scan = gRunning.load();
  if (scan != nullptr && ele != nullptr) scan->found(*ele);
}

void m_progress(rec_progress* progress) {
  RawScanSession* scan = gRunning.load();
  if (scan != nullptr && progress != nullptr) scan->progress(*progress);
}

RawScanSession::RawScanSession(NotificationCenter& nc, const export_function_table* table,
                               const std::atomic<bool>* stopRequested)
    : nc_(nc), table_(table), stopRequested_(stopRequested) {}

bool RawScanSession::run(const std::string& devicePath, int deviceIndex) {
  if (table_ == nullptr || table_->scanDevice == nullptr) return false;
  RawScanSession* none = nullptr;
  if (!gRunning.compare_exchange_strong(none, this)) {
    logLine("a raw scan is already running; " + devicePath + " is not scanned");
    return false;
  }
  logDebug("tembuffer====" + devicePath + "==");
  _rec_file_ele ele{};
  rec_progress progress{};
  table_->scanDevice(devicePath.c_str(), deviceIndex, &m_finded, &ele, &m_progress, &progress);
  gRunning.store(nullptr);
  return true;
}

void RawScanSession::restop() {
  if (stopRequested_ != nullptr && stopRequested_->load() && table_->stopScan != nullptr) {
    table_->stopScan();
  }
}

void RawScanSession::found(const _rec_file_ele& ele) {
  restop();
  std::shared_ptr<PRScanListNode> node = makeScanListNode(ele);
  if (!node) return;
  ++filesPosted_;
  nc_.post(notify::kBlackBerryRawRecoveryFileInfo, std::shared_ptr<PRNode>(std::move(node)));
}

void RawScanSession::progress(const rec_progress& p) {
  restop();
  int64_t percent = rawProgressPercent(p);
  if (percent >= 0) nc_.post(notify::kBlackBerryRawRecoveryProgress, percent);
}

bool looksLikeBootSector(std::string_view head) {
  if (head.size() < 512) return false;
  const auto byte = [&head](size_t i) { return static_cast<uint8_t>(head[i]); };
  if (byte(510) != 0x55 || byte(511) != 0xAA) return false;
  if (byte(0) == 0xEB || byte(0) == 0xE9) return true;  // a volume boot sector's jump
  bool anyPartition = false;
  for (size_t entry = 446; entry < 510; entry += 16) {
    if (byte(entry) != 0x00 && byte(entry) != 0x80) return false;
    anyPartition = anyPartition || byte(entry + 4) != 0;
  }
  return anyPartition;
}

bool MemoryCardSource::probe(const std::string& path) const {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) return true;
  return S_ISREG(st.st_mode) && looksLikeBootSector(readFileHead(path, 512));
}

ScanOutcome MemoryCardSource::scan(const std::string& path, ScanContext& ctx) {
  ScanOutcome o;
  const export_function_table* table = table_ ? table_() : nullptr;
  if (table == nullptr || table->scanDevice == nullptr) {
    o.fail(path + ": a memory card, but the disk library is not loaded");
    return o;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && table->addDiskImage != nullptr) {
    table->addDiskImage(path.c_str());
  }
  RawScanSession session(ctx.nc, table, &ctx.stopRequested);
  if (!session.run(path, 255)) {
    o.fail(path + ": the memory-card scan could not start (another one is running)");
    return o;
  }
  o.recordsPosted = session.filesPosted();
  return o;
}

}  // namespace tamsel
