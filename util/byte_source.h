// A read-only view of a whole file's bytes. The file is memory-mapped once (or held in
// memory for tests); every read is bounds-checked and bytes past the end read as zero, so
// a parser that follows a corrupt length sees zeros instead of another object's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamsel {

class ByteSource {
 public:
  ByteSource() = default;
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ByteSource(ByteSource&& other) noexcept;
  ByteSource& operator=(ByteSource&& other) noexcept;

  // Maps `path` read-only. Returns an empty, invalid source (and sets `error`) when the
  // file cannot be opened or is not a regular file. An empty file is a valid source.
  static ByteSource open(const std::string& path, std::string* error = nullptr);
  // A source over bytes held in memory (tests, fuzzing, unpacked archive members).
  static ByteSource fromBytes(std::vector<uint8_t> bytes);

  bool valid() const { return valid_; }
  uint64_t size() const { return size_; }
  const uint8_t* data() const { return data_; }

  // The byte at `offset`, or 0 past the end.
  uint8_t byteAt(uint64_t offset) const { return offset < size_ ? data_[offset] : 0; }

  // Copies `length` bytes from `offset` into `dst`; bytes past the end come out as zero.
  void read(uint64_t offset, uint64_t length, uint8_t* dst) const;
  std::vector<uint8_t> readVector(uint64_t offset, uint64_t length) const;

  // The bytes that exist in [offset, offset + length): shorter (or empty) near the end.
  std::span<const uint8_t> view(uint64_t offset, uint64_t length) const;

  // Unsigned integers of `count` bytes (1 to 8); missing bytes read as zero.
  uint64_t readLE(uint64_t offset, unsigned count) const;
  uint64_t readBE(uint64_t offset, unsigned count) const;

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool valid_ = false;
  void* mapping_ = nullptr;          // munmap target, when mapped
  std::vector<uint8_t> owned_;       // when built from memory
};

}  // namespace tamsel
