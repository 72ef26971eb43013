// Writes a large IPD backup for the memory and speed runs of bench/scan_memory.sh: the
// decoding benchmark's cycle of records with realistic pictures and files (contact photos of
// tens of KB, MMS attachments and content-store files of hundreds of KB to a few MB), so that
// bytes make up most of the file. "dense" writes the decoding benchmark's own cycle instead:
// small records only, so that the number of records is as large as the size allows.
//
//   make_bench_ipd PATH [MEGABYTES [dense]]     (default 800, realistic sizes)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "bench/ipd_bench_file.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4 || (argc == 4 && std::string_view(argv[3]) != "dense")) {
    std::fprintf(stderr, "usage: %s PATH [MEGABYTES [dense]]\n", argv[0]);
    return 2;
  }
  const uint64_t mb = argc >= 3 ? std::strtoull(argv[2], nullptr, 10) : 800;
  const auto sizes =
      argc == 4 ? tamsel::bench::IpdCycleSizes{} : tamsel::bench::IpdCycleSizes::realistic();
  try {
    const uint64_t size = tamsel::bench::writeBenchIpd(argv[1], mb * 1000000ull, sizes);
    std::printf("%s: %.1f MB\n", argv[1], static_cast<double>(size) / 1e6);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_ipd: %s\n", e.what());
    return 1;
  }
  return 0;
}
