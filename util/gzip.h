// Inflating compressed bytes taken from the phone's databases (note bodies are gzip'd),
// through zlib. The input is not trusted: the output is capped, and a stream that is cut
// short, damaged or inflates past the cap is a clear failure, never a read outside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tamsel {

// The most a stored body may inflate to before it is taken for a bomb.
inline constexpr size_t kMaxInflatedSize = size_t{64} << 20;

struct InflateResult {
  enum class Status {
    ok,
    notCompressed,  // no gzip or zlib header at the start
    corrupt,        // the stream does not decode (zlib's message in `error`)
    truncated,      // the input ended before the stream did
    tooLarge,       // the output would pass the cap
  };
  Status status = Status::notCompressed;
  // The whole output when ok; otherwise what had been inflated when the failure was met (at
  // most the cap), which may still hold a readable beginning.
  std::vector<uint8_t> bytes;
  std::string error;  // empty when ok

  bool ok() const { return status == Status::ok; }
};

// True when `bytes` start with a gzip member header (1f 8b 08) or a valid zlib header
// (deflate method, a window of at most 32 KiB, header check digit right).
bool hasCompressedHeader(std::span<const uint8_t> bytes);

// Inflates one gzip member or zlib stream (told apart by its header) into at most
// `maxOutput` bytes. Bytes after the stream's end are ignored. A stream that would inflate
// past the cap is stopped there (tooLarge) and logged.
InflateResult inflateBytes(std::span<const uint8_t> input, size_t maxOutput = kMaxInflatedSize);

}  // namespace tamsel
