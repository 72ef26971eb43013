// Fuzzes the BlackBerry IPD readers: the input is read as an IPD file and as a
// Windows-layout database file, from memory and from a file through a small read window
// (so that records straddle window moves and outgrow the window), and handed to each record
// decoder as a record's fields. Both reads must find the same records with the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "blackberry/ipd_reader.h"
#include "blackberry/record_decoders.h"
#include "events/notification_names.h"
#include "util/byte_source.h"
#include "util/log.h"

namespace {

using namespace tamsel;

volatile size_t g_sink = 0;  // keeps the decoded records from being optimised away

// The byte fields of a posted record, read back through their reference.
const ByteRef* byteField(const Notification& n) {
  if (auto c = n.record<PRBlackBerryContactNode>()) return &c->contactImageData;
  if (auto m = n.record<PRBlackBerryMMSMessageNode>()) return &m->contentData;
  if (auto x = n.record<PRBlackBerryContentNode>()) return &x->contentData;
  return nullptr;
}

// What one read found: per record, its notification and the digest of its bytes.
struct Found {
  std::vector<std::string> records;
  uint64_t offset = 0;
  bool truncated = false;
};

Found scan(const ByteSource& src, bool windows) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  Found found;
  for (auto name : {notify::kBlacBerryContactInfo, notify::kBlacBerryCallLogInfo,
                    notify::kBlackBerrySMSMessageInfo, notify::kBlackBerryMMSMessageInfo,
                    notify::kBlackBerryNoteInfo, notify::kBlackBerryCalenderInfo,
                    notify::kBlackBerryContentStoreInfo}) {
    nc.addObserver(name, [&found, name](const Notification& n) {
      std::string line(name);
      if (const ByteRef* bytes = byteField(n)) {
        auto digest = bytes->sha256Hex();
        if (!digest) __builtin_trap();  // a reference outside the file
        line += " " + *digest;
      }
      found.records.push_back(std::move(line));
    });
  }
  int64_t last = -1;
  nc.addObserver(notify::kBlackBerryRawRecoveryProgress, [&last](const Notification& n) {
    int64_t p = n.number(-1);
    if (p <= last || p > 100) __builtin_trap();  // progress only moves forward
    last = p;
  });
  IpdReader reader(ctx);
  if (windows) {
    reader.AnalyWinbackup(src);
  } else {
    reader.scanBlackBerryBackUp(src);
  }
  found.offset = reader.bbOffSet;
  found.truncated = reader.stats.truncated;
  if (!reader.stats.readError.empty()) __builtin_trap();  // nothing shrinks here
  return found;
}

// The input as a file: an anonymous memory file, opened by its /proc path.
std::string inputFile(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("ipd-fuzz", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0) __builtin_trap();
  for (size_t at = 0; at < size;) {
    ssize_t n = pwrite(fd, data + at, size - at, static_cast<off_t>(at));
    if (n <= 0) __builtin_trap();
    at += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

bool same(const Found& a, const Found& b) {
  return a.records == b.records && a.offset == b.offset && a.truncated == b.truncated;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (tamsel::setLogSink({}), true);
  (void)quiet;
  size_t seen = 0;

  ByteSource memory = ByteSource::fromBytes(std::vector<uint8_t>(data, data + size));
  ByteSource file = ByteSource::open(inputFile(data, size), nullptr, 64);
  if (!file.valid()) __builtin_trap();
  for (bool windows : {false, true}) {
    Found fromMemory = scan(memory, windows);
    // A walk that was not cut short ends exactly at the end of the file.
    if (!windows && !fromMemory.truncated && fromMemory.offset != size) __builtin_trap();
    if (!same(fromMemory, scan(file, windows))) __builtin_trap();
    seen += fromMemory.records.size();
  }

  IpdFieldBytes fields(data, size);
  seen += decodeBlackBerryContact(fields) != nullptr;
  seen += decodeBlackBerryCallLog(fields) != nullptr;
  seen += decodeBlackBerrySMSMessage(fields) != nullptr;
  seen += decodeBlackBerryMMSMessage(fields) != nullptr;
  seen += decodeBlackBerryMemo(fields) != nullptr;
  seen += decodeBlackBerryCalender(fields) != nullptr;
  seen += decodeBlackBerryContentStore(fields) != nullptr;
  g_sink = g_sink + seen;
  return 0;
}
