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

#include "bench/ipd_bench_file.h"
#include "blackberry/ipd_reader.h"
#include "events/notification_names.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using namespace tamsel;

std::string g_path;
uint64_t g_size = 0;
uint64_t g_targetMb = 256;

void generate() {
  g_path = (fs::temp_directory_path() / ("tamsel_ipd_bench_" + std::to_string(getpid()) + ".ipd"))
               .string();
  // Many small records (calls, SMS, contacts) and a few larger ones (MMS attachments and
  // content-store files of a few KB).
  g_size = tamsel::bench::writeBenchIpd(g_path, g_targetMb * 1000000ull, {});
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
