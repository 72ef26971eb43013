#include "util/byte_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tamsel {

ByteSource::~ByteSource() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
}

ByteSource::ByteSource(ByteSource&& other) noexcept {
  *this = std::move(other);
}

ByteSource& ByteSource::operator=(ByteSource&& other) noexcept {
  if (this == &other) return *this;
  if (mapping_ != nullptr) munmap(mapping_, size_);
  owned_ = std::move(other.owned_);
  mapping_ = other.mapping_;
  size_ = other.size_;
  valid_ = other.valid_;
  data_ = mapping_ != nullptr ? static_cast<const uint8_t*>(mapping_) : owned_.data();
  other.mapping_ = nullptr;
  other.data_ = nullptr;
  other.size_ = 0;
  other.valid_ = false;
  return *this;
}

ByteSource ByteSource::open(const std::string& path, std::string* error) {
  ByteSource src;
  // Non-blocking, so that a FIFO or device node is refused below instead of waited on.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return src;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = path + ": not a regular file";
    ::close(fd);
    return src;
  }
  src.size_ = static_cast<uint64_t>(st.st_size);
  if (src.size_ > 0) {
    void* p = mmap(nullptr, src.size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      if (error) *error = path + ": " + std::strerror(errno);
      ::close(fd);
      src.size_ = 0;
      return src;
    }
    madvise(p, src.size_, MADV_SEQUENTIAL);
    src.mapping_ = p;
    src.data_ = static_cast<const uint8_t*>(p);
  }
  ::close(fd);
  src.valid_ = true;
  return src;
}

ByteSource ByteSource::fromBytes(std::vector<uint8_t> bytes) {
  ByteSource src;
  src.owned_ = std::move(bytes);
  src.data_ = src.owned_.data();
  src.size_ = src.owned_.size();
  src.valid_ = true;
  return src;
}

void ByteSource::read(uint64_t offset, uint64_t length, uint8_t* dst) const {
  if (length == 0) return;
  uint64_t avail = offset < size_ ? std::min(length, size_ - offset) : 0;
  if (avail > 0) std::memcpy(dst, data_ + offset, avail);
  if (avail < length) std::memset(dst + avail, 0, length - avail);
}

std::vector<uint8_t> ByteSource::readVector(uint64_t offset, uint64_t length) const {
  std::vector<uint8_t> out(length);
  read(offset, length, out.data());
  return out;
}

std::span<const uint8_t> ByteSource::view(uint64_t offset, uint64_t length) const {
  if (offset >= size_) return {};
  return {data_ + offset, static_cast<size_t>(std::min(length, size_ - offset))};
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
