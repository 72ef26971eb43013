// Writes a large IPD backup for the memory and speed runs of bench/scan_memory.sh: the
// decoding benchmark's cycle of records with realistic pictures and files (contact photos of
// tens of KB, MMS attachments and content-store files of hundreds of KB to a few MB), so that
// bytes make up most of the file.
//
//   make_bench_ipd PATH [MEGABYTES]     (default 800)
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "bench/ipd_bench_file.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s PATH [MEGABYTES]\n", argv[0]);
    return 2;
  }
  const uint64_t mb = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 800;
  try {
    const uint64_t size = tamsel::bench::writeBenchIpd(argv[1], mb * 1000000ull,
                                                       tamsel::bench::IpdCycleSizes::realistic());
    std::printf("%s: %.1f MB\n", argv[1], static_cast<double>(size) / 1e6);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_ipd: %s\n", e.what());
    return 1;
  }
  return 0;
}
