// Writes a large phone backup for the speed and memory runs of the phone scan.
//
//   make_bench_iphone FOLDER [CONTACTS [MESSAGES [old]]]   (default 10000 200000, today's
//                                                           layout; "old": Manifest.mbdb)
// Then: /usr/bin/time -v tamsel-cli -q scan FOLDER
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "bench/iphone_bench_backup.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5 || (argc == 5 && std::string_view(argv[4]) != "old")) {
    std::fprintf(stderr, "usage: %s FOLDER [CONTACTS [MESSAGES [old]]]\n", argv[0]);
    return 2;
  }
  tamsel::bench::IphoneBenchSize size;
  if (argc >= 3) size.contacts = std::strtoull(argv[2], nullptr, 10);
  if (argc >= 4) size.messages = std::strtoull(argv[3], nullptr, 10);
  size.modernLayout = argc < 5;
  try {
    tamsel::bench::writeBenchIphoneBackup(argv[1], size);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_iphone: %s\n", e.what());
    return 1;
  }
  std::printf("%s: %zu contacts, %zu messages\n", argv[1], size.contacts, size.messages);
  return 0;
}
