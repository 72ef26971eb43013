// A read-only view of a whole file's bytes. Every read is bounds-checked and bytes past the
// end read as zero, so a parser that follows a corrupt length sees zeros instead of another
// object's memory.
//
// Three ways to hold the bytes:
//  - open(): the file is read through a window (a reusable buffer of a few MB filled by
//    positioned reads). A view stays valid until the next read from the same source. When
//    the file shrinks or a read fails, the missing bytes read as zero, failed() turns true
//    and error() says why; the program never faults on a vanished page.
//  - openMapped(): the file is mapped once. Only for files the program itself made and
//    nobody else changes (a file that shrinks under a mapping faults on access).
//  - fromBytes(): bytes held in memory (tests, fuzzing).
// A source is used by one thread at a time: reads move the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "util/byte_ref.h"

namespace tamsel {

class ByteSource {
 public:
  // The size of the read window of open().
  static constexpr size_t kDefaultWindow = size_t{4} << 20;

  ByteSource() = default;
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ByteSource(ByteSource&& other) noexcept;
  ByteSource& operator=(ByteSource&& other) noexcept;

  // Opens `path` read-only for windowed reads. Returns an empty, invalid source (and sets
  // `error`) when the file cannot be opened or is not a regular file. An empty file is a
  // valid source.
  static ByteSource open(const std::string& path, std::string* error = nullptr,
                         size_t windowSize = kDefaultWindow);
  // Maps `path` read-only (see above for when that is safe).
  static ByteSource openMapped(const std::string& path, std::string* error = nullptr);
  // A source over bytes held in memory (tests, fuzzing).
  static ByteSource fromBytes(std::vector<uint8_t> bytes);

  bool valid() const { return valid_; }
  uint64_t size() const { return size_; }
  // All the bytes, for mapped and in-memory sources; null for a windowed one.
  const uint8_t* data() const { return data_; }
  // The open file behind the source (null for in-memory bytes): what byte references of
  // records found in it point into.
  const std::shared_ptr<const InputFile>& file() const { return file_; }

  // True once a read came back short (the file shrank) or failed; error() says why.
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

  // The byte at `offset`, or 0 past the end.
  uint8_t byteAt(uint64_t offset) const {
    if (data_ != nullptr) return offset < size_ ? data_[offset] : 0;
    if (offset - winStart_ < winLen_) return buffer_[offset - winStart_];
    return windowByteAt(offset);
  }

  // Copies `length` bytes from `offset` into `dst`; bytes past the end come out as zero.
  void read(uint64_t offset, uint64_t length, uint8_t* dst) const;
  std::vector<uint8_t> readVector(uint64_t offset, uint64_t length) const;

  // The bytes that exist in [offset, offset + length): shorter (or empty) near the end, or
  // when a read fails. For a windowed source the view is valid until the next read.
  std::span<const uint8_t> view(uint64_t offset, uint64_t length) const;

  // Unsigned integers of `count` bytes (1 to 8); missing bytes read as zero.
  uint64_t readLE(uint64_t offset, unsigned count) const;
  uint64_t readBE(uint64_t offset, unsigned count) const;

 private:
  void reset() noexcept;
  uint8_t windowByteAt(uint64_t offset) const;
  // Fills the window with the bytes from `offset` on, at least `want` of them (fewer only
  // when a read fails).
  void fillWindow(uint64_t offset, uint64_t want) const;

  const uint8_t* data_ = nullptr;  // mapped or in-memory bytes
  uint64_t size_ = 0;
  bool valid_ = false;
  void* mapping_ = nullptr;     // munmap target, when mapped
  std::vector<uint8_t> owned_;  // when built from memory
  std::shared_ptr<const InputFile> file_;

  // The read window of a windowed source.
  size_t windowSize_ = kDefaultWindow;
  mutable std::unique_ptr<uint8_t[]> buffer_;
  mutable size_t bufferSize_ = 0;
  mutable uint64_t winStart_ = 0;
  mutable uint64_t winLen_ = 0;
  mutable std::string error_;
};

}  // namespace tamsel
