// The pages a deleted-record carver visits: those of a database file (page k at k x page
// size) and those held in the frames of a write-ahead log (each frame: a 24-byte header,
// then one page), in file order. A log keeps old versions of pages that a checkpoint later
// replaced, and deleted rows survive in them. Every offset listed leaves a whole page inside
// the stream; a page size that is not a power of two from 512 to 65536 gives no pages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/byte_source.h"

namespace tamsel {

struct CarvePages {
  const ByteSource* stream = nullptr;  // not owned
  uint32_t pageSize = 0;
  std::vector<uint64_t> pageOffsets;  // in file order; a database's page 0 is listed too
  bool fromLog = false;               // the pages are frames of a write-ahead log
  std::string what;                   // "database" or "write-ahead log", for messages
};

// The pages of a database file: page size from the header (bytes 16-17, 1 meaning 65536),
// page k at k x page size for every whole page. No pages (and `error` set) when the header
// holds no usable page size.
CarvePages databasePages(const ByteSource& db, std::string* error = nullptr);

// The pages of a write-ahead log: header magic 0x377f0682 or 0x377f0683 and its page size
// checked; every whole frame's page, in order. No pages (and `error` set) otherwise.
CarvePages logPages(const ByteSource& wal, std::string* error = nullptr);

// A database and, when there is one, the log that was stored beside it, kept open (mapped)
// for one carver: the sources live as long as this object.
class CarveInput {
 public:
  // Maps `database` (a private copy made by the program) and `log` (empty: none).
  static std::unique_ptr<CarveInput> open(const std::string& database, const std::string& log,
                                          std::string* error = nullptr);
  // For tests and fuzzing: bytes held in memory.
  static std::unique_ptr<CarveInput> fromBytes(std::vector<uint8_t> database,
                                               std::vector<uint8_t> log = {});

  const ByteSource& database() const { return *db_; }
  // The database's pages first, then the log's (when there is one and it has pages).
  const std::vector<CarvePages>& pages() const { return pages_; }

 private:
  std::unique_ptr<ByteSource> db_;
  std::unique_ptr<ByteSource> log_;
  std::vector<CarvePages> pages_;
};

}  // namespace tamsel
