// Decoding speed of the IPD reader: a generated IPD file of about 256 MB mixing all seven
// decoded databases (and one skipped one) is read end to end, with an observer counting
// every posted record as the result view would receive it.
//
//   ipd_decode_bench [--ipd_bench_mb=N] [benchmark options]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "blackberry/ipd_reader.h"
#include "events/notification_names.h"
#include "tests/fixtures/ipd_writer.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using namespace tamsel;
using namespace tamsel::fixtures;

std::string g_path;
uint64_t g_size = 0;
uint64_t g_targetMb = 256;

// One cycle of records: many small ones (calls, SMS, contacts) and a few large ones (MMS
// attachments, content-store files).
void appendCycle(ByteVec& out, int i) {
  const std::string n = std::to_string(i);
  for (int k = 0; k < 4; ++k) {
    IpdWriter::appendRecord(out, 1,
                            {textField(32, "Firstname" + n), textField(32, "Lastname"),
                             textField(6, "+1 555 0100 " + n), textField(8, "+1 555 0199"),
                             textField(1, "person" + n + "@example.org"), bytesField(5, {1, 2}),
                             textField(33, "Example Company Ltd"), textField(38, "Springfield"),
                             textField(64, "Met at the conference; call back about the offer.")});
  }
  for (int k = 0; k < 6; ++k) {
    IpdWriter::appendRecord(out, 2,
                            {byteField(2, static_cast<uint8_t>(k % 4)), leField(3, 75u + k, 4),
                             leField(4, 1300000000000ull + i * 1000ull, 8),
                             textField(12, "+15550100" + n), textField(31, "Caller")});
  }
  for (int k = 0; k < 8; ++k) {
    IpdWriter::appendRecord(
        out, 3,
        {smsMetaField(k % 2 ? kSmsIncoming : kSmsOutgoing, 1300000000000 + i, 0),
         smsNumberField("+8613725573137"),
         k == 7 ? utf16Field(4, u"Unicode message body \u4f60\u597d", true, false)
                : textField(4, "See you at eight tonight, bring the tickets please.", false)});
  }
  IpdWriter::appendRecord(out, 4,
                          {textField(111, "+15550100"), textField(114, "+15550101"),
                           textField(103, "IMG_" + n + ".JPG"), bytesField(104, ByteVec(1500, 7)),
                           bytesField(105, ByteVec(1500, 8))});
  for (int k = 0; k < 3; ++k) {
    IpdWriter::appendRecord(
        out, 5,
        {textField(1, "Memo " + n), textField(2, std::string(240, 'm') + " end of memo " + n)});
  }
  for (int k = 0; k < 3; ++k) {
    IpdWriter::appendRecord(
        out, 6,
        {textField(2, "Weekly meeting"), bytesField(5, {0}), textField(3, "Room 4, floor 2"),
         textField(3, "Bring the quarterly figures")});
  }
  IpdWriter::appendRecord(out, 7,
                          {textField(1, "/store/home/user/documents/report" + n + ".pdf"),
                           bytesField(7, ByteVec(2048, 1)), bytesField(7, ByteVec(2048, 2))});
  IpdWriter::appendRecord(out, 0, {textField(1, "service book entry"), bytesField(9, ByteVec(64))});
}

void generate() {
  g_path = (fs::temp_directory_path() / ("tamsel_ipd_bench_" + std::to_string(getpid()) + ".ipd"))
               .string();
  IpdWriter w;
  for (const char* name : {"Service Book", "Address Book - All", "Phone Call Logs", "SMS Messages",
                           "MMS Messages", "Memos", "Calendar - All", "Content Store"}) {
    w.addDatabase(name);
  }
  std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
  ByteVec chunk = w.headerBytes();
  const uint64_t target = g_targetMb * 1000000ull;
  uint64_t written = 0;
  for (int i = 0; written + chunk.size() < target; ++i) {
    appendCycle(chunk, i);
    if (chunk.size() >= (4u << 20)) {
      out.write(reinterpret_cast<const char*>(chunk.data()),
                static_cast<std::streamsize>(chunk.size()));
      written += chunk.size();
      chunk.clear();
    }
  }
  out.write(reinterpret_cast<const char*>(chunk.data()),
            static_cast<std::streamsize>(chunk.size()));
  written += chunk.size();
  out.close();
  g_size = written;
}

void BM_IpdDecode(benchmark::State& state) {
  uint64_t records = 0;
  for (auto _ : state) {
    NotificationCenter nc;
    ScanContext ctx(nc);
    uint64_t received = 0;
    for (auto name : {notify::kBlacBerryContactInfo, notify::kBlacBerryCallLogInfo,
                      notify::kBlackBerrySMSMessageInfo, notify::kBlackBerryMMSMessageInfo,
                      notify::kBlackBerryNoteInfo, notify::kBlackBerryCalenderInfo,
                      notify::kBlackBerryContentStoreInfo}) {
      nc.addObserver(name, [&received](const Notification&) { ++received; });
    }
    IpdReader reader(ctx);
    if (!reader.scanBlackBerryBackUpThread(g_path)) {
      state.SkipWithError(reader.lastError.c_str());
      return;
    }
    benchmark::DoNotOptimize(received);
    records = reader.stats.recordsPosted;
  }
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(g_size) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records),
                                                   benchmark::Counter::kIsIterationInvariantRate);
  state.counters["records"] = static_cast<double>(records);
  state.counters["file_MB"] = static_cast<double>(g_size) / 1e6;
}
BENCHMARK(BM_IpdDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--ipd_bench_mb=", 15) == 0)
      g_targetMb = std::strtoull(argv[i] + 15, nullptr, 10);
  }
  generate();
  std::fprintf(stderr, "generated %s: %.1f MB\n", g_path.c_str(),
               static_cast<double>(g_size) / 1e6);
  tamsel::setLogSink({});  // the reader logs each database name on every pass
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove(g_path, ec);
  return 0;
}
