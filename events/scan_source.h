// A source of records: one kind of input the program can scan (a BlackBerry IPD file, a
// .bbb archive, a memory card). The controller asks every source whether it recognises a
// chosen path by its content and hands the path to the one that does; the source posts its
// records through the scan context and says how the scan ended.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "events/scan_context.h"

namespace tamsel {

// How one scan ended, for the front ends: whether the input could be read at all, and every
// damaged, refused or unreadable part met on the way (with its offset where known).
struct ScanOutcome {
  bool readable = true;  // false: the input could not be read as a backup at all
  std::string error;     // one clear line when !readable
  std::string source;    // the name of the source that read the input
  bool windowsLayout = false;
  uint64_t recordsPosted = 0;
  uint64_t bytesRead = 0;
  bool truncated = false;             // a corrupt record ended a walk early
  std::vector<std::string> warnings;  // one line each

  // Read, but parts of the input were damaged or refused: the results are partial.
  bool damaged() const { return readable && (truncated || !warnings.empty()); }
  void fail(std::string line) {
    readable = false;
    error = std::move(line);
  }
};

class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // A short name for messages ("BlackBerry IPD file").
  virtual std::string_view name() const = 0;
  // True when the input at `path` looks like this source's by its content. Reads at most
  // the first few bytes and never blocks (FIFOs and other special files are not claimed
  // unless the source reads devices).
  virtual bool probe(const std::string& path) const = 0;
  // Reads the input, posting records through `ctx`; writes only inside ctx.runDir.
  virtual ScanOutcome scan(const std::string& path, ScanContext& ctx) = 0;
  // True when the records are found files of a memory card (the result screen's raw
  // categories) rather than phone records.
  virtual bool findsFiles() const { return false; }
};

// The first `count` bytes of the regular file at `path` (fewer when it is shorter; none when
// it is not a regular file or cannot be opened). Opens without blocking.
std::string readFileHead(const std::string& path, size_t count);

}  // namespace tamsel
