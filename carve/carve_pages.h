// The pages a deleted-record carver visits: those of a database file (page k at k x page
// size) and those held in the frames of a write-ahead log (each frame: a 24-byte header,
// then one page), in file order. A log keeps old versions of pages that a checkpoint later
// replaced, and deleted rows survive in them. Every offset listed leaves a whole page inside
// the stream; a page size that is not a power of two from 512 to 65536 gives no pages.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
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

// One page copied between runs of zero bytes, for a carver that takes offsets and lengths
// from the page's own bytes: any of them can then reach outside the page only into zeros
// (never into the next page or the previous one), and no page position is offset 0, which
// the column readers never read.
class PageCopy {
 public:
  static constexpr uint64_t kPad = 16;

  PageCopy(const ByteSource& stream, uint64_t offset, uint32_t pageSize);

  const ByteSource& source() const { return src_; }
  int64_t size() const { return size_; }
  // The source offset of page position `pos` (which may lie a few bytes outside the page).
  uint64_t at(int64_t pos) const { return static_cast<uint64_t>(static_cast<int64_t>(kPad) + pos); }
  // The byte at page position `pos`; zero outside the page.
  uint8_t byte(int64_t pos) const { return pos < 0 || pos >= size_ ? 0 : src_.data()[at(pos)]; }
  // `n` bytes from page position `pos` (0 <= pos < size, n <= kPad).
  std::span<const uint8_t> span(int64_t pos, size_t n) const { return {src_.data() + at(pos), n}; }
  // The page's bytes, followed by kPad zero bytes.
  const uint8_t* bytes() const { return src_.data() + kPad; }

 private:
  ByteSource src_;
  int64_t size_;
};

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
