#include "carve/carve_pages.h"

namespace tamsel {
namespace {

constexpr uint64_t kLogHeader = 32;
constexpr uint64_t kFrameHeader = 24;

bool usablePageSize(uint32_t p) {
  return p >= 512 && p <= 65536 && (p & (p - 1)) == 0;
}

uint32_t bigEndian32(const ByteSource& s, uint64_t at) {
  auto b = s.view(at, 4);
  if (b.size() < 4) return 0;
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

}  // namespace

PageCopy::PageCopy(const ByteSource& stream, uint64_t offset, uint32_t pageSize) : size_(pageSize) {
  std::vector<uint8_t> bytes(kPad + pageSize + kPad, 0);
  stream.read(offset, pageSize, bytes.data() + kPad);
  src_ = ByteSource::fromBytes(std::move(bytes));
}

CarvePages databasePages(const ByteSource& db, std::string* error) {
  CarvePages pages;
  pages.stream = &db;
  pages.what = "database";
  auto head = db.view(16, 2);
  if (head.size() < 2) {
    if (error) *error = "shorter than a database header";
    return pages;
  }
  uint32_t size = (uint32_t{head[0]} << 8) | head[1];
  if (size == 1) size = 65536;
  if (!usablePageSize(size)) {
    if (error) *error = "no usable page size in the header (" + std::to_string(size) + ")";
    return pages;
  }
  pages.pageSize = size;
  const uint64_t count = db.size() / size;
  pages.pageOffsets.reserve(count);
  for (uint64_t k = 0; k < count; ++k) pages.pageOffsets.push_back(k * size);
  return pages;
}

CarvePages logPages(const ByteSource& wal, std::string* error) {
  CarvePages pages;
  pages.stream = &wal;
  pages.fromLog = true;
  pages.what = "write-ahead log";
  const uint32_t magic = bigEndian32(wal, 0);
  if (wal.size() < kLogHeader || (magic != 0x377f0682 && magic != 0x377f0683)) {
    if (error) *error = "not a write-ahead log";
    return pages;
  }
  const uint32_t size = bigEndian32(wal, 8);
  if (!usablePageSize(size)) {
    if (error) *error = "no usable page size in the log header (" + std::to_string(size) + ")";
    return pages;
  }
  pages.pageSize = size;
  for (uint64_t frame = kLogHeader; frame + kFrameHeader + size <= wal.size();
       frame += kFrameHeader + size) {
    pages.pageOffsets.push_back(frame + kFrameHeader);
  }
  return pages;
}

std::unique_ptr<CarveInput> CarveInput::open(const std::string& database, const std::string& log,
                                             std::string* error) {
  auto in = std::unique_ptr<CarveInput>(new CarveInput());
  in->db_ = std::make_unique<ByteSource>(ByteSource::openMapped(database, error));
  if (!in->db_->valid()) return nullptr;
  std::string why;
  CarvePages db = databasePages(*in->db_, &why);
  if (db.pageOffsets.empty() && error) *error = database + ": " + why;
  in->pages_.push_back(std::move(db));
  if (!log.empty()) {
    in->log_ = std::make_unique<ByteSource>(ByteSource::openMapped(log, nullptr));
    if (in->log_->valid()) {
      CarvePages frames = logPages(*in->log_, nullptr);
      if (!frames.pageOffsets.empty()) in->pages_.push_back(std::move(frames));
    }
  }
  return in;
}

std::unique_ptr<CarveInput> CarveInput::fromBytes(std::vector<uint8_t> database,
                                                  std::vector<uint8_t> log) {
  auto in = std::unique_ptr<CarveInput>(new CarveInput());
  in->db_ = std::make_unique<ByteSource>(ByteSource::fromBytes(std::move(database)));
  in->pages_.push_back(databasePages(*in->db_, nullptr));
  if (!log.empty()) {
    in->log_ = std::make_unique<ByteSource>(ByteSource::fromBytes(std::move(log)));
    CarvePages frames = logPages(*in->log_, nullptr);
    if (!frames.pageOffsets.empty()) in->pages_.push_back(std::move(frames));
  }
  return in;
}

}  // namespace tamsel
