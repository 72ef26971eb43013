// SHA-256 digests, for fingerprints of recovered byte fields in reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tamsel {

class Sha256 {
 public:
  Sha256();
  void update(std::span<const uint8_t> bytes);
  std::array<uint8_t, 32> finish();
  // finish() as 64 lower-case hex digits.
  std::string finishHex();

 private:
  void block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buf_{};
  size_t bufLen_ = 0;
  uint64_t total_ = 0;
};

// Lower-case hex digest of `bytes`.
std::string sha256Hex(std::span<const uint8_t> bytes);

}  // namespace tamsel
