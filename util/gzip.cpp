#include "util/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "util/log.h"

namespace tamsel {
namespace {

// zlib counts in 32-bit units: input and output are handed over in pieces of this size.
constexpr size_t kPiece = size_t{1} << 30;
constexpr size_t kFirstOutput = size_t{16} << 10;

}  // namespace

bool hasCompressedHeader(std::span<const uint8_t> b) {
  if (b.size() >= 3 && b[0] == 0x1f && b[1] == 0x8b && b[2] == 8) return true;
  // zlib: deflate (method 8), window of at most 2^15, and the two bytes a multiple of 31.
  return b.size() >= 2 && (b[0] & 0x0f) == 8 && (b[0] >> 4) <= 7 &&
         ((unsigned{b[0]} << 8) | b[1]) % 31 == 0;
}

InflateResult inflateBytes(std::span<const uint8_t> input, size_t maxOutput) {
  InflateResult r;
  if (!hasCompressedHeader(input)) {
    r.error = "no gzip or zlib header";
    return r;
  }
  z_stream zs{};
  // 15 + 32: the largest window, and the header (gzip or zlib) decides the format.
  if (inflateInit2(&zs, 15 + 32) != Z_OK) {
    r.status = InflateResult::Status::corrupt;
    r.error = "the inflater could not be started";
    return r;
  }
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&zs};

  // One byte more than allowed is room enough to tell that the output goes past the cap.
  const size_t room = maxOutput == std::numeric_limits<size_t>::max() ? maxOutput : maxOutput + 1;
  const size_t guess = input.size() > room / 4 ? room : std::max(kFirstOutput, input.size() * 4);
  r.bytes.resize(std::min(room, guess));
  size_t given = 0;  // input bytes handed to zlib so far
  size_t produced = 0;
  for (;;) {
    if (zs.avail_in == 0 && given < input.size()) {
      const size_t n = std::min(input.size() - given, kPiece);
      zs.next_in = const_cast<Bytef*>(input.data() + given);
      zs.avail_in = static_cast<uInt>(n);
      given += n;
    }
    if (produced == r.bytes.size() && r.bytes.size() < room) {
      const size_t grown = r.bytes.size() > room / 2 ? room : r.bytes.size() * 2;
      r.bytes.resize(std::min(room, std::max(grown, kFirstOutput)));
    }
    const size_t space = std::min(r.bytes.size() - produced, kPiece);
    zs.next_out = r.bytes.data() + produced;
    zs.avail_out = static_cast<uInt>(space);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    produced += space - zs.avail_out;
    if (produced > maxOutput) {
      r.status = InflateResult::Status::tooLarge;
      r.error = "inflates to more than " + std::to_string(maxOutput) + " bytes";
      logLine("compressed data " + r.error + ": read no further");
      produced = maxOutput;
      break;
    }
    if (rc == Z_STREAM_END) {
      r.status = InflateResult::Status::ok;
      break;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      if (zs.avail_in == 0 && given == input.size()) {
        r.status = InflateResult::Status::truncated;
        r.error = "the compressed data ends before its stream does";
        break;
      }
      continue;  // the output was full: it grows on the next round
    }
    r.status = InflateResult::Status::corrupt;
    if (rc == Z_NEED_DICT) {
      r.error = "the stream needs a preset dictionary";
    } else {
      r.error = zs.msg ? std::string("damaged compressed data: ") + zs.msg
                       : "damaged compressed data (zlib status " + std::to_string(rc) + ")";
    }
    break;
  }
  r.bytes.resize(produced);
  return r;
}

}  // namespace tamsel
