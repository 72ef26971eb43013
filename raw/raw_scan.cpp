#include "raw/raw_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "events/notification_names.h"
#include "raw/suffix.h"
#include "util/date.h"
#include "util/format.h"
#include "util/log.h"

namespace tamsel {
namespace {

std::atomic<RawScanSession*> gRunning{nullptr};

// The bytes a record must hold for its name to be read.
constexpr size_t kFoundFileMinimum = offsetof(tamsel_found_file, name) + sizeof(const char*);

// A card's FAT times are its clock's reading: shown as they are, not moved into our zone.
std::string dateText(int64_t seconds, bool clockTime) {
  if (seconds <= 0) return {};
  return (clockTime ? formatClockTime(seconds) : formatUnixTime(seconds)).value_or("");
}

// The entry of a found file of `length` bytes, its kind going by the name's suffix.
std::shared_ptr<PRScanListNode> newScanListNode(const std::string& name, uint64_t length,
                                                const _rec_file_ele& ele) {
  auto node = std::make_shared<PRScanListNode>();
  node->fileType = rawScanKind(name);
  node->fileSizeNumber = length;
  node->nodeSizeString = size_to_unit(length);
  node->nodeName = name;
  node->setfile(ele);
  return node;
}

}  // namespace

std::shared_ptr<PRScanListNode> makeScanListNode(const _rec_file_ele& ele) {
  if (ele.file_len < 1 || ele.file_len > kMaxRawFileLen) return nullptr;
  std::string name;
  if (ele.pFileName != nullptr) {
    name.assign(ele.pFileName, ::strnlen(ele.pFileName, ele.file_name_len));
  }
  return newScanListNode(name, ele.file_len, ele);
}

std::string damageText(uint32_t flags) {
  const bool broken = (flags & TAMSEL_FOUND_CHAIN_DAMAGED) != 0;
  const bool cut = (flags & TAMSEL_FOUND_TRUNCATED) != 0;
  if (broken && cut) return "Damaged (broken chain, cut short)";
  if (broken) return "Damaged (broken chain)";
  if (cut) return "Damaged (cut short)";
  return {};
}

std::shared_ptr<PRScanListNode> makeScanListNode(const tamsel_found_file& given) {
  // A library built with a shorter record leaves the fields it does not have at zero.
  tamsel_found_file f{};
  const size_t size = std::min<size_t>(given.record_size, sizeof f);
  if (size < kFoundFileMinimum) return nullptr;
  std::memcpy(&f, &given, size);
  if (f.file_len < 1) return nullptr;
  std::string name;
  if (f.name != nullptr) name.assign(f.name, ::strnlen(f.name, f.name_len));
  // The 32-bit copy is what an older entry would be given; the 64-bit length is kept beside.
  const _rec_file_ele ele{f.file_start,
                          static_cast<uint32_t>(std::min<uint64_t>(f.file_len, UINT32_MAX)),
                          static_cast<uint32_t>(name.size()), name.data(), nullptr};
  auto node = newScanListNode(name, f.file_len, ele);
  node->foundFlags = f.flags;
  node->bDeleted = (f.flags & TAMSEL_FOUND_DELETED) != 0 ? "Yes" : "";
  const bool clock = (f.flags & TAMSEL_FOUND_CLOCK_TIMES) != 0;
  node->createTime = dateText(f.create_time, clock);
  node->modifyTime = dateText(f.modify_time, clock);
  node->validaty = damageText(f.flags);
  if (!node->validaty.empty()) {
    std::string line = "found file " + name + " at " + std::to_string(f.file_start) + ": ";
    if ((f.flags & TAMSEL_FOUND_CHAIN_DAMAGED) != 0) line += "its cluster chain is broken; ";
    if ((f.flags & TAMSEL_FOUND_TRUNCATED) != 0) line += "the disk ends inside it; ";
    line += std::to_string(f.file_len) + " of " +
            std::to_string(std::max(f.declared_len, f.file_len)) + " bytes are on the disk";
    logLine(line);
  }
  return node;
}

tamsel_found_file foundFileOf(const PRScanListNode& node) {
  tamsel_found_file f{};
  f.record_size = sizeof f;
  f.flags = node.foundFlags;
  f.file_start = node.getfile()->file_start;
  f.file_len = node.fileSizeNumber;
  f.declared_len = node.fileSizeNumber;
  f.name_len = node.getfile()->file_name_len;
  f.name = node.getfile()->pFileName;
  return f;
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
  if (table_ != nullptr && table_->scanDeviceFor != nullptr) {
    logDebug("tembuffer====" + devicePath + "==");
    table_->scanDeviceFor(
        devicePath.c_str(), deviceIndex, this,
        [](void* caller, const tamsel_found_file* file) {
          if (caller != nullptr && file != nullptr)
            static_cast<RawScanSession*>(caller)->found(*file);
        },
        [](void* caller, uint64_t current, uint64_t total) {
          rec_progress p{};
          p.current = current;
          p.total = total;
          if (caller != nullptr) static_cast<RawScanSession*>(caller)->progress(p);
        });
    return true;
  }
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
  post(makeScanListNode(ele));
}

void RawScanSession::found(const tamsel_found_file& file) {
  restop();
  post(makeScanListNode(file));
}

void RawScanSession::post(std::shared_ptr<PRScanListNode> node) {
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
