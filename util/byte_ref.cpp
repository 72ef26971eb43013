#include "util/byte_ref.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/sha256.h"

namespace tamsel {

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<InputFile> InputFile::open(const std::string& path, std::string* error) {
  // Non-blocking, so that a FIFO or device node is refused below instead of waited on.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  return adopt(fd, path, error);
}

std::shared_ptr<InputFile> InputFile::adopt(int fd, const std::string& path, std::string* error) {
  if (fd < 0) return nullptr;  // the opener said why
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = path + ": not a regular file";
    ::close(fd);
    return nullptr;
  }
  // Regular files never block; reads are ordinary blocking reads from here on.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::shared_ptr<InputFile>(new InputFile(fd, path, static_cast<uint64_t>(st.st_size)));
}

bool InputFile::readExact(uint64_t offset, size_t length, uint8_t* dst, size_t* got,
                          std::string* error) const {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, dst + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) {
        *error = path_ + ": " +
                 (n < 0 ? std::string("read error: ") + std::strerror(errno)
                        : "nothing at offset " + std::to_string(offset + done) +
                              ": the file is shorter than when it was scanned");
      }
      if (got) *got = done;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (got) *got = done;
  return true;
}

ByteRef ByteRef::fromBytes(std::vector<uint8_t> bytes) {
  ByteRef r;
  r.size_ = bytes.size();
  r.bytes_ = std::move(bytes);
  return r;
}

ByteRef ByteRef::fromFile(std::shared_ptr<const InputFile> file, std::vector<ByteRange> ranges) {
  ByteRef r;
  for (const ByteRange& range : ranges) r.appendRange(file, range);
  return r;
}

void ByteRef::clear() {
  file_.reset();
  ranges_.clear();
  bytes_.clear();
  size_ = 0;
}

void ByteRef::appendRange(const std::shared_ptr<const InputFile>& file, ByteRange range) {
  if (!file) return;
  if (file_ != file) {
    clear();
    file_ = file;
  }
  if (range.length == 0) return;
  if (!ranges_.empty() && ranges_.back().offset + ranges_.back().length == range.offset) {
    ranges_.back().length += range.length;
  } else {
    ranges_.push_back(range);
  }
  size_ += range.length;
}

void ByteRef::appendBytes(std::span<const uint8_t> bytes) {
  if (file_) clear();
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  size_ = bytes_.size();
}

bool ByteRef::forEachChunk(const std::function<bool(std::span<const uint8_t>)>& fn,
                           std::string* error) const {
  if (!file_) {
    for (size_t at = 0; at < bytes_.size(); at += kChunkSize) {
      if (!fn(std::span<const uint8_t>(bytes_).subspan(at,
                                                       std::min(kChunkSize, bytes_.size() - at))))
        return false;
    }
    return true;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size_, kChunkSize)));
  for (const ByteRange& range : ranges_) {
    for (uint64_t at = 0; at < range.length;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(range.length - at, kChunkSize));
      if (!file_->readExact(range.offset + at, n, buffer.data(), nullptr, error)) return false;
      if (!fn(std::span<const uint8_t>(buffer.data(), n))) return false;
      at += n;
    }
  }
  return true;
}

std::optional<std::vector<uint8_t>> ByteRef::readAll(uint64_t maxBytes, std::string* error) const {
  if (size_ > maxBytes) {
    if (error)
      *error = std::to_string(size_) + " bytes, more than the " + std::to_string(maxBytes) +
               " read at once";
    return std::nullopt;
  }
  if (!file_) return bytes_;
  std::vector<uint8_t> out(static_cast<size_t>(size_));
  size_t at = 0;
  for (const ByteRange& range : ranges_) {
    if (!file_->readExact(range.offset, static_cast<size_t>(range.length), out.data() + at, nullptr,
                          error)) {
      return std::nullopt;
    }
    at += static_cast<size_t>(range.length);
  }
  return out;
}

std::optional<std::string> ByteRef::sha256Hex(std::string* error) const {
  Sha256 h;
  if (!forEachChunk(
          [&h](std::span<const uint8_t> chunk) {
            h.update(chunk);
            return true;
          },
          error)) {
    return std::nullopt;
  }
  return h.finishHex();
}

}  // namespace tamsel
