// The whole phone-backup scan over a generated backup of 10,000 contacts and 200,000
// messages (made once, in a temporary folder): every step from the index to the calendar,
// with the records counted as a front end that keeps none would.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>

#include "bench/iphone_bench_backup.h"
#include "events/notification_names.h"
#include "events/scan_context.h"
#include "ios/iphone_source.h"
#include "tests/fixtures/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const fs::path& benchBackup() {
  static tamsel::testing::TempFolder folder;
  static const fs::path backup = [] {
    fs::path p = folder.path() / "backup";
    tamsel::bench::writeBenchIphoneBackup(p, {});
    return p;
  }();
  return backup;
}

void BM_PhoneBackupScan(benchmark::State& state) {
  const fs::path& backup = benchBackup();
  tamsel::testing::TempFolder work;
  size_t messages = 0;
  for (auto _ : state) {
    tamsel::NotificationCenter nc;
    size_t posted = 0;
    nc.addObserver(tamsel::notify::kScanMessageInfo,
                   [&](const tamsel::Notification&) { ++posted; });
    tamsel::ScanContext ctx(nc);
    ctx.runDir = work.path() / ("run" + std::to_string(state.iterations()));
    fs::create_directories(ctx.runDir);
    tamsel::ScanOutcome o = tamsel::scanPhoneBackup(backup.string(), ctx);
    if (!o.readable) state.SkipWithError(o.error.c_str());
    messages = posted;
    fs::remove_all(ctx.runDir);
  }
  state.counters["messages"] = static_cast<double>(messages);
}
BENCHMARK(BM_PhoneBackupScan)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
