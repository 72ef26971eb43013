#include "util/base64.h"

namespace tamsel {

size_t base64EncodedLength(size_t n, bool padded) {
  size_t full = n / 3 * 4;
  switch (n % 3) {
    case 1:
      return full + (padded ? 4 : 2);
    case 2:
      return full + (padded ? 4 : 3);
    default:
      return full;
  }
}

size_t baseEncode(const uint8_t* src, size_t srcLen, char* dest, size_t destLen,
                  const char* charset, bool padded) {
  if (src == nullptr || dest == nullptr || charset == nullptr || srcLen == 0) return 0;
  if (destLen < base64EncodedLength(srcLen, padded)) return 0;
  size_t o = 0;
  size_t i = 0;
  for (; i + 3 <= srcLen; i += 3) {
    uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    dest[o++] = charset[(v >> 18) & 0x3F];
    dest[o++] = charset[(v >> 12) & 0x3F];
    dest[o++] = charset[(v >> 6) & 0x3F];
    dest[o++] = charset[v & 0x3F];
  }
  size_t rest = srcLen - i;
  if (rest == 2) {
    uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8);
    dest[o++] = charset[(v >> 18) & 0x3F];
    dest[o++] = charset[(v >> 12) & 0x3F];
    dest[o++] = charset[(v >> 6) & 0x3F];
    if (padded) dest[o++] = '=';
  } else if (rest == 1) {
    uint32_t v = uint32_t{src[i]} << 16;
    dest[o++] = charset[(v >> 18) & 0x3F];
    dest[o++] = charset[(v >> 12) & 0x3F];
    if (padded) {
      dest[o++] = '=';
      dest[o++] = '=';
    }
  }
  return o;
}

std::string base64Encode(std::span<const uint8_t> bytes) {
  std::string out(base64EncodedLength(bytes.size(), true), '\0');
  size_t n = baseEncode(bytes.data(), bytes.size(), out.data(), out.size(), kBase64Alphabet, true);
  out.resize(n);
  return out;
}

}  // namespace tamsel
