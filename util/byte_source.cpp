#include "util/byte_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace tamsel {
namespace {

// A read that does not continue the window (a jump elsewhere in the file) fetches this much
// at least, so that scattered small reads do not each pull in a whole window.
constexpr size_t kScatteredRead = size_t{64} << 10;
// A buffer grown for a large record is kept for the next one up to this size.
constexpr size_t kKeptBuffer = size_t{64} << 20;

}  // namespace

ByteSource::~ByteSource() {
  reset();
}

ByteSource::ByteSource(ByteSource&& other) noexcept {
  *this = std::move(other);
}

void ByteSource::reset() noexcept {
  if (mapping_ != nullptr) munmap(mapping_, size_);
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  valid_ = false;
  owned_.clear();
  file_.reset();
  buffer_.reset();
  bufferSize_ = 0;
  winStart_ = 0;
  winLen_ = 0;
  error_.clear();
}

ByteSource& ByteSource::operator=(ByteSource&& other) noexcept {
  if (this == &other) return *this;
  reset();
  owned_ = std::move(other.owned_);
  mapping_ = other.mapping_;
  size_ = other.size_;
  valid_ = other.valid_;
  file_ = std::move(other.file_);
  windowSize_ = other.windowSize_;
  buffer_ = std::move(other.buffer_);
  bufferSize_ = other.bufferSize_;
  winStart_ = other.winStart_;
  winLen_ = other.winLen_;
  error_ = std::move(other.error_);
  if (mapping_ != nullptr) {
    data_ = static_cast<const uint8_t*>(mapping_);
  } else if (other.data_ != nullptr) {
    data_ = owned_.data();
  }
  other.mapping_ = nullptr;
  other.reset();
  return *this;
}

ByteSource ByteSource::open(const std::string& path, std::string* error, size_t windowSize) {
  ByteSource src;
  std::shared_ptr<InputFile> file = InputFile::open(path, error);
  if (!file) return src;
  src.size_ = file->size();
  src.file_ = std::move(file);
  src.windowSize_ = std::max<size_t>(windowSize, 16);
  src.valid_ = true;
  return src;
}

ByteSource ByteSource::openMapped(const std::string& path, std::string* error) {
  ByteSource src;
  std::shared_ptr<InputFile> file = InputFile::open(path, error);
  if (!file) return src;
  const uint64_t size = file->size();
  if (size > 0) {
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file->fd(), 0);
    if (p == MAP_FAILED) {
      if (error) *error = path + ": " + std::strerror(errno);
      return src;
    }
    madvise(p, size, MADV_SEQUENTIAL);
    src.mapping_ = p;
    src.data_ = static_cast<const uint8_t*>(p);
  }
  src.size_ = size;
  src.file_ = std::move(file);
  src.valid_ = true;
  return src;
}

ByteSource ByteSource::fromBytes(std::vector<uint8_t> bytes) {
  ByteSource src;
  src.owned_ = std::move(bytes);
  src.data_ = src.owned_.data();
  src.size_ = src.owned_.size();
  src.valid_ = true;
  // An empty vector may have no buffer; the source still holds (no) bytes.
  static const uint8_t kNone = 0;
  if (src.data_ == nullptr) src.data_ = &kNone;
  return src;
}

void ByteSource::fillWindow(uint64_t offset, uint64_t want) const {
  // A read that starts in the window or right after it continues a walk through the file.
  const bool continues = winLen_ == 0 || (offset >= winStart_ && offset <= winStart_ + winLen_);
  uint64_t fetch = std::max<uint64_t>(want, continues ? windowSize_ : kScatteredRead);
  // A jump backwards keeps the bytes before the ones asked for, for the reads that follow.
  uint64_t start = offset;
  if (offset < winStart_ && fetch > want) start = offset - std::min(offset, fetch - want);
  fetch = std::min(fetch, size_ - start);
  const size_t need = static_cast<size_t>(std::max<uint64_t>(fetch, windowSize_));
  if (need > bufferSize_ || (bufferSize_ > kKeptBuffer && need <= kKeptBuffer)) {
    buffer_.reset();
    bufferSize_ = 0;
    winLen_ = 0;
    buffer_.reset(new (std::nothrow) uint8_t[need]);
    if (!buffer_) {
      if (error_.empty()) error_ = "no memory for a read of " + std::to_string(need) + " bytes";
      return;
    }
    bufferSize_ = need;
  }
  size_t got = 0;
  std::string error;
  if (!file_->readExact(start, static_cast<size_t>(fetch), buffer_.get(), &got, &error) &&
      error_.empty()) {
    error_ = std::move(error);
  }
  winStart_ = start;
  winLen_ = got;
}

uint8_t ByteSource::windowByteAt(uint64_t offset) const {
  if (offset >= size_ || !file_) return 0;
  fillWindow(offset, 1);
  return offset - winStart_ < winLen_ ? buffer_[offset - winStart_] : 0;
}

void ByteSource::read(uint64_t offset, uint64_t length, uint8_t* dst) const {
  uint64_t done = 0;
  // Bytes that exist are copied window by window; a window can be shorter than asked.
  while (done < length && offset + done < size_) {
    auto piece = view(offset + done, std::min<uint64_t>(length - done, windowSize_));
    if (piece.empty()) break;
    std::memcpy(dst + done, piece.data(), piece.size());
    done += piece.size();
  }
  if (done < length) std::memset(dst + done, 0, length - done);
}

std::vector<uint8_t> ByteSource::readVector(uint64_t offset, uint64_t length) const {
  std::vector<uint8_t> out(length);
  read(offset, length, out.data());
  return out;
}

std::span<const uint8_t> ByteSource::view(uint64_t offset, uint64_t length) const {
  if (offset >= size_) return {};
  const uint64_t want = std::min(length, size_ - offset);
  if (data_ != nullptr) return {data_ + offset, static_cast<size_t>(want)};
  if (!file_) return {};
  if (offset < winStart_ || offset - winStart_ + want > winLen_) fillWindow(offset, want);
  if (offset < winStart_ || offset - winStart_ >= winLen_) return {};
  const uint64_t at = offset - winStart_;
  return {buffer_.get() + at, static_cast<size_t>(std::min(want, winLen_ - at))};
}

uint64_t ByteSource::readLE(uint64_t offset, unsigned count) const {
  uint64_t v = 0;
  for (unsigned i = 0; i < count && i < 8; ++i) v |= uint64_t{byteAt(offset + i)} << (8 * i);
  return v;
}

uint64_t ByteSource::readBE(uint64_t offset, unsigned count) const {
  uint64_t v = 0;
  for (unsigned i = 0; i < count && i < 8; ++i) v = (v << 8) | byteAt(offset + i);
  return v;
}

}  // namespace tamsel
