// `tamsel-cli carve DATABASE [--wal FILE] [--json FILE|-]`: the deleted rows of every table
// of one SQLite database, found by the tables' own shapes. The database (and its write-ahead
// log) is copied into a run folder first; only the copies are read, by SQLite and by the
// carver, so the user's file is never opened for writing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tamsel::cli {

struct CarveCommand {
  std::string database;
  std::string log;  // empty: DATABASE-wal when there is one
  std::string jsonDest;
  bool force = false;
  std::optional<std::filesystem::path> workDir;
};

// Prints the deleted rows per table and their count (and writes the JSON document). Exit
// status: 0, 2 when DATABASE cannot be read as a database, 1 when the output cannot be
// written or would go over the database, its log or a file SQLite keeps beside it, 3 when
// a damaged structure was met (a warning line each on stderr; rows that may be live rows of
// a damaged table are not listed).
int runCarveCommand(const CarveCommand& command);

}  // namespace tamsel::cli
