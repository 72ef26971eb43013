#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "disklib/disk_internal.h"

namespace tamsel::disk {

PreadFunction devicePread = ::pread;

std::string hexOffset(uint64_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
  return text;
}

std::unique_ptr<Device> Device::open(const std::string& path, std::string& error) {
  // O_NONBLOCK: a FIFO given by mistake must not block the open.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  uint64_t size = 0;
  bool block = false;
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISBLK(st.st_mode)) {
    block = true;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      error = path + ": cannot read the device size: " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
  } else {
    error = path + ": neither a disk nor an image file";
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Device>(new Device(fd, size, block));
}

Device::~Device() {
  ::close(fd_);
}

size_t Device::readSome(uint64_t offset, uint8_t* out, size_t n) const {
  size_t done = 0;
  while (done < n) {
    ssize_t got = devicePread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

Device::Status Device::readExact(uint64_t offset, void* buffer, size_t n) const {
  auto* out = static_cast<uint8_t*>(buffer);
  if (offset > size_ || n > size_ - offset) return Status::kEnded;
  for (size_t done = 0; done < n;) {
    ssize_t got = devicePread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    // A device that is no longer there ends here, as one that shrank does.
    if (got < 0)
      return errno == ENODEV || errno == ENXIO || errno == ENOMEDIUM ? Status::kEnded
                                                                     : Status::kFailed;
    if (got == 0) return Status::kEnded;
    done += static_cast<size_t>(got);
  }
  return Status::kRead;
}

size_t Device::read(uint64_t offset, void* buffer, size_t n) const {
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, n);
  if (offset >= size_) return 0;
  size_t want = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  size_t done = readSome(offset, out, want);
  if (done == want) return done;
  // A read error: go on in small pieces so that one bad sector costs only itself.
  constexpr size_t kPiece = 4096;
  size_t total = done;
  bool reported = false;
  for (size_t at = done; at < want;) {
    size_t len = std::min(kPiece, want - at);
    size_t got = readSome(offset + at, out + at, len);
    total += got;
    if (got < len) {
      std::memset(out + at + got, 0, len - got);
      if (!reported)
        diskLog("unreadable bytes at " + hexOffset(offset + at + got) + ", read as zero");
      reported = true;
    }
    at += len;
  }
  return total;
}

Cursor::Cursor(const Device& device, uint64_t start, uint64_t end, const std::atomic<bool>& stop)
    : device_(device), end_(std::min(end, device.size())), pos_(start), stop_(stop) {}

void Cursor::seek(uint64_t pos) {
  uint64_t bufferStart = pos_ - cur_;
  if (pos >= bufferStart && pos < bufferStart + len_) {
    cur_ = static_cast<size_t>(pos - bufferStart);
  } else {
    cur_ = len_ = 0;
  }
  pos_ = pos;
}

int Cursor::refillAndGet() {
  if (pos_ >= end_ || stop_.load(std::memory_order_relaxed)) return -1;
  constexpr size_t kBuffer = 1 << 20;
  if (buffer_.size() != kBuffer) buffer_.resize(kBuffer);
  size_t n = static_cast<size_t>(std::min<uint64_t>(kBuffer, end_ - pos_));
  device_.read(pos_, buffer_.data(), n);
  len_ = n;
  cur_ = 1;
  ++pos_;
  return buffer_[0];
}

bool Cursor::read(void* out, size_t n) {
  auto* o = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < n; ++i) {
    int c = get();
    if (c < 0) return false;
    o[i] = static_cast<uint8_t>(c);
  }
  return true;
}

void RangeSet::add(uint64_t start, uint64_t len) {
  if (len > 0) ranges_.push_back({start, len});
}

void RangeSet::finish() {
  std::sort(ranges_.begin(), ranges_.end(),
            [](const Extent& a, const Extent& b) { return a.start < b.start; });
  std::vector<Extent> merged;
  for (const Extent& r : ranges_) {
    if (!merged.empty() && r.start <= merged.back().start + merged.back().len) {
      uint64_t end = std::max(merged.back().start + merged.back().len, r.start + r.len);
      merged.back().len = end - merged.back().start;
    } else {
      merged.push_back(r);
    }
  }
  ranges_ = std::move(merged);
}

bool RangeSet::contains(uint64_t offset) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), offset,
                             [](uint64_t v, const Extent& r) { return v < r.start; });
  if (it == ranges_.begin()) return false;
  --it;
  return offset < it->start + it->len;
}

}  // namespace tamsel::disk
