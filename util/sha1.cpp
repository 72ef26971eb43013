#include "util/sha1.h"

namespace tamsel {
namespace {

inline uint32_t rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

}  // namespace

void Sha1::reset() {
  h_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  blockLen_ = 0;
  lengthBits_ = 0;
  computed_ = false;
  corrupted_ = false;
}

void Sha1::input(std::string_view text) {
  input(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Sha1::input(std::span<const uint8_t> bytes) {
  if (bytes.empty() || corrupted_) return;
  if (computed_) {
    corrupted_ = true;
    return;
  }
  for (size_t i = 0; i < bytes.size();) {
    // The bit count must stay within 64 bits: one byte more than that corrupts the object.
    if (lengthBits_ > UINT64_MAX - 8) {
      corrupted_ = true;
      return;
    }
    size_t take = std::min(bytes.size() - i, block_.size() - blockLen_);
    uint64_t room = (UINT64_MAX - lengthBits_) / 8;  // bytes that still fit in the count
    if (take > room) take = static_cast<size_t>(room);
    for (size_t j = 0; j < take; ++j) block_[blockLen_ + j] = bytes[i + j];
    blockLen_ += take;
    lengthBits_ += static_cast<uint64_t>(take) * 8;
    i += take;
    if (blockLen_ == block_.size()) processBlock();
  }
}

std::optional<Sha1::Digest> Sha1::result() {
  if (corrupted_) return std::nullopt;
  if (!computed_) {
    pad();
    computed_ = true;
  }
  return h_;
}

void Sha1::pad() {
  uint64_t bits = lengthBits_;
  block_[blockLen_++] = 0x80;
  if (blockLen_ > 56) {
    while (blockLen_ < 64) block_[blockLen_++] = 0;
    processBlock();
  }
  while (blockLen_ < 56) block_[blockLen_++] = 0;
  for (int i = 7; i >= 0; --i) block_[blockLen_++] = static_cast<uint8_t>(bits >> (i * 8));
  processBlock();
}

void Sha1::processBlock() {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = (uint32_t{block_[t * 4]} << 24) | (uint32_t{block_[t * 4 + 1]} << 16) |
           (uint32_t{block_[t * 4 + 2]} << 8) | uint32_t{block_[t * 4 + 3]};
  }
  for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    uint32_t temp = rotl(a, 5) + f + e + w[t] + k;
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = temp;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  blockLen_ = 0;
}

std::string sha1WordsHex(const Sha1::Digest& words) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(40);
  for (uint32_t w : words) {
    for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(w >> shift) & 15];
  }
  return out;
}

std::string sha1Hex(std::string_view text) {
  Sha1 s;
  s.input(text);
  return sha1WordsHex(*s.result());
}

}  // namespace tamsel
