#include "util/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamsel {
namespace {

std::string hexOf(const std::string& s) {
  return sha256Hex({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

// Published test vectors, including the two-block padding case (56 bytes).
TEST(Sha256, KnownVectors) {
  EXPECT_EQ(hexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, IncrementalEqualsOneShot) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Sha256 s;
  s.update({data.data(), 1});
  s.update({data.data() + 1, 63});
  s.update({data.data() + 64, 936});
  auto digest = s.finish();
  std::string inc;
  for (uint8_t b : digest) {
    char buf[3];
    snprintf(buf, sizeof buf, "%02x", b);
    inc += buf;
  }
  EXPECT_EQ(inc, sha256Hex(data));
  EXPECT_EQ(hexOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Empty pieces (a record field of no bytes) change nothing, also in the middle of a block.
TEST(Sha256, EmptyPiecesAreHarmless) {
  Sha256 s;
  s.update({});
  const uint8_t abc[] = {'a', 'b', 'c'};
  s.update({abc, 1});
  s.update({});
  s.update(std::span<const uint8_t>(static_cast<const uint8_t*>(nullptr), 0));
  s.update({abc + 1, 2});
  std::string hex;
  for (uint8_t b : s.finish()) {
    char buf[3];
    snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  EXPECT_EQ(hex, hexOf("abc"));
}

}  // namespace
}  // namespace tamsel
