// Fuzzes the BlackBerry IPD readers: the input is read as an IPD file and as a
// Windows-layout database file, and handed to each record decoder as a record's fields.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "blackberry/ipd_reader.h"
#include "blackberry/record_decoders.h"
#include "events/notification_names.h"
#include "util/byte_source.h"
#include "util/log.h"

namespace {

volatile size_t g_sink = 0;  // keeps the decoded records from being optimised away

// Touches what the result view would read of each posted record.
size_t touch(const tamsel::Notification& n) {
  size_t s = 0;
  if (auto c = n.record<tamsel::PRBlackBerryContactNode>()) {
    s += c->contactName.size() + c->phoneNumber.size() + c->contactImageData.size();
  } else if (auto m = n.record<tamsel::PRBlackBerrySMSMessageNode>()) {
    s += m->contentText.size() + m->numberString.size() + m->dateTime.size();
  } else if (auto x = n.record<tamsel::PRBlackBerryContentNode>()) {
    s += x->contentData.size() + x->contentFileSize.size();
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (tamsel::setLogSink({}), true);
  (void)quiet;
  using namespace tamsel;
  NotificationCenter nc;
  ScanContext ctx(nc);
  size_t seen = 0;
  for (auto name : {notify::kBlacBerryContactInfo, notify::kBlacBerryCallLogInfo,
                    notify::kBlackBerrySMSMessageInfo, notify::kBlackBerryMMSMessageInfo,
                    notify::kBlackBerryNoteInfo, notify::kBlackBerryCalenderInfo,
                    notify::kBlackBerryContentStoreInfo}) {
    nc.addObserver(name, [&seen](const Notification& n) { seen += touch(n) + 1; });
  }
  int64_t last = -1;
  nc.addObserver(notify::kBlackBerryRawRecoveryProgress, [&last](const Notification& n) {
    int64_t p = n.number(-1);
    if (p <= last || p > 100) __builtin_trap();  // progress only moves forward
    last = p;
  });

  ByteSource src = ByteSource::fromBytes(std::vector<uint8_t>(data, data + size));
  IpdReader reader(ctx);
  reader.scanBlackBerryBackUp(src);
  // A walk that was not cut short ends exactly at the end of the file.
  if (!reader.stats.truncated && reader.bbOffSet != src.size()) __builtin_trap();
  last = -1;
  reader.AnalyWinbackup(src);

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
