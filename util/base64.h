// Base64 (RFC 4648) without line breaks, as the vCard photo line needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tamsel {

// The standard alphabet.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes `srcLen` bytes with the 64-character `charset` into `dest`: four characters for
// every three bytes, then three characters (plus "=" when padded) for two remaining bytes,
// or two characters (plus "==") for one. No line breaks and no terminating zero. Returns
// the number of characters written; 0 for a missing source, destination or alphabet, a zero
// length, or a `destLen` smaller than the encoding needs (nothing is written then).
size_t baseEncode(const uint8_t* src, size_t srcLen, char* dest, size_t destLen,
                  const char* charset, bool padded);

// Characters needed for `n` bytes.
size_t base64EncodedLength(size_t n, bool padded);

// The padded, standard-alphabet encoding of `bytes`.
std::string base64Encode(std::span<const uint8_t> bytes);

}  // namespace tamsel
