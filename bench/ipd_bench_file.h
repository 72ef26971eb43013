// Large generated IPD files for the benchmarks: a cycle of records of all seven decoded
// databases (and one skipped one) repeated up to a target size.
#pragma once

#include <cstdint>
#include <string>

#include "tests/fixtures/ipd_writer.h"

namespace tamsel::bench {

// Sizes of the byte fields of one cycle. The defaults are the small ones the decoding
// benchmark has always used; realistic() gives a backup where pictures and files dominate.
struct IpdCycleSizes {
  // Contact photos: every contact of a cycle has one of this many bytes (0: none).
  uint32_t photoMin = 0;
  uint32_t photoMax = 0;
  // One MMS attachment and one content-store file per cycle, cut into field-sized pieces.
  uint64_t attachmentMin = 3000;
  uint64_t attachmentMax = 3000;
  uint64_t storeFileMin = 4096;
  uint64_t storeFileMax = 4096;

  // Contact photos of 20 to 60 KB, MMS attachments of 200 KB to 2 MB, content-store files of
  // 100 KB to 4 MB.
  static IpdCycleSizes realistic();
};

// Appends cycle `i` to `out`.
void appendIpdCycle(fixtures::ByteVec& out, int i, const IpdCycleSizes& sizes);

// Writes an IPD file of at least `targetBytes` (whole cycles) to `path`; returns its size.
// Throws std::runtime_error when the file cannot be written.
uint64_t writeBenchIpd(const std::string& path, uint64_t targetBytes, const IpdCycleSizes& sizes);

}  // namespace tamsel::bench
