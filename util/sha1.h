// SHA-1 digests (FIPS 180-1), for the hashed names under which a phone backup stores its
// files. A digest object is reset, fed bytes with input() and read with result(); it marks
// itself corrupted when bytes arrive after the result was taken or when more than 2^64 bits
// are fed, and a corrupted object gives no result until it is reset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tamsel {

class Sha1 {
 public:
  using Digest = std::array<uint32_t, 5>;

  Sha1() { reset(); }
  // Back to the standard initial words, with nothing fed and no corruption.
  void reset();
  void input(std::span<const uint8_t> bytes);
  void input(std::string_view text);
  // The five digest words; none once the object is corrupted. Taking the result pads the
  // message: further input corrupts the object, further result() calls give the same words.
  std::optional<Digest> result();
  bool corrupted() const { return corrupted_; }

  // Test hook: pretends that `bits` bits have been fed already, so the 2^64-bit limit can be
  // reached without feeding 2^61 bytes. Only a whole number of 512-bit blocks plus what is
  // buffered is consistent; callers set it on a fresh object.
  void setLengthForTesting(uint64_t bits) { lengthBits_ = bits; }

 private:
  void processBlock();
  void pad();

  Digest h_{};
  std::array<uint8_t, 64> block_{};
  size_t blockLen_ = 0;
  uint64_t lengthBits_ = 0;
  bool computed_ = false;
  bool corrupted_ = false;
};

// The digest words as 40 lowercase hexadecimal digits (each word as "%08x").
std::string sha1WordsHex(const Sha1::Digest& words);

// Lowercase hexadecimal SHA-1 of `text`.
std::string sha1Hex(std::string_view text);

}  // namespace tamsel
