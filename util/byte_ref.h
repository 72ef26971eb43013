// Bytes by reference: a record's picture or attachment as byte ranges of the input file it
// was found in, read when they are needed (preview, hashing, recovery) instead of copied
// into memory during the scan. Bytes that had to be assembled, and those of sources held in
// memory (tests, fuzzing), are kept as a small in-memory copy instead.
//
// The file is held open (a shared descriptor), so a reference stays readable after the file
// is unlinked, e.g. when a scan's private folder is removed. A file that shrinks after the
// scan gives a read error, never a crash.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tamsel {

// An input file opened read-only, shared by every reference into it. Reads are positioned
// (pread), so one file can serve several readers.
class InputFile {
 public:
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` read-only; null (and `error` set) when it cannot be opened or is not a
  // regular file. A FIFO or device node is refused without blocking.
  static std::shared_ptr<InputFile> open(const std::string& path, std::string* error = nullptr);
  // Takes over the open descriptor `fd` of a regular file (closed here on failure); `path`
  // is the name it is shown under. Null (and `error` set) when it is not a regular file;
  // null with `error` untouched for -1, so that an opener's reason stays.
  static std::shared_ptr<InputFile> adopt(int fd, const std::string& path,
                                          std::string* error = nullptr);

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  // The size when the file was opened.
  uint64_t size() const { return size_; }

  // Reads exactly `length` bytes at `offset` into `dst`; false (and `error` set) when the
  // file ends first (it shrank) or the read fails. Returns the bytes read in `got`.
  bool readExact(uint64_t offset, size_t length, uint8_t* dst, size_t* got = nullptr,
                 std::string* error = nullptr) const;

 private:
  InputFile(int fd, std::string path, uint64_t size)
      : fd_(fd), path_(std::move(path)), size_(size) {}
  int fd_ = -1;
  std::string path_;
  uint64_t size_ = 0;
};

struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

class ByteRef {
 public:
  // Reads go through a buffer of this size at most.
  static constexpr size_t kChunkSize = size_t{1} << 20;

  ByteRef() = default;
  // Bytes held in memory.
  static ByteRef fromBytes(std::vector<uint8_t> bytes);
  // The concatenation of `ranges` of `file`.
  static ByteRef fromFile(std::shared_ptr<const InputFile> file, std::vector<ByteRange> ranges);

  uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool inMemory() const { return file_ == nullptr; }
  const std::vector<ByteRange>& ranges() const { return ranges_; }

  // Removes everything (and forgets the file).
  void clear();
  // Appends a range of `file`; a range that continues the last one extends it. A reference
  // holding in-memory bytes, or bytes of another file, is replaced by the range.
  void appendRange(const std::shared_ptr<const InputFile>& file, ByteRange range);
  // Appends bytes held in memory; a reference into a file is replaced by them.
  void appendBytes(std::span<const uint8_t> bytes);

  // Calls fn with consecutive pieces of the bytes (at most kChunkSize each, valid during the
  // call) until fn returns false or the end is reached. False when a read failed (with
  // `error` set) or fn stopped the walk.
  bool forEachChunk(const std::function<bool(std::span<const uint8_t>)>& fn,
                    std::string* error = nullptr) const;
  // All the bytes, when there are at most `maxBytes` of them and they can be read; none
  // otherwise (with `error` set).
  std::optional<std::vector<uint8_t>> readAll(uint64_t maxBytes,
                                              std::string* error = nullptr) const;
  // Lower-case hex SHA-256 of the bytes, read in chunks; none when a read failed.
  std::optional<std::string> sha256Hex(std::string* error = nullptr) const;

 private:
  std::shared_ptr<const InputFile> file_;
  std::vector<ByteRange> ranges_;  // when file_ is set
  std::vector<uint8_t> bytes_;     // otherwise
  uint64_t size_ = 0;
};

}  // namespace tamsel
