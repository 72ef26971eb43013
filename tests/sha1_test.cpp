#include "util/sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamsel {
namespace {

struct Vector {
  std::string message;
  size_t repeat;
  const char* hex;
};

// The FIPS 180-1 appendix vectors, plus the empty message and a message that ends exactly
// where the padding needs a second block.
TEST(Sha1, StandardVectors) {
  const std::vector<Vector> cases = {
      {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"0123456701234567012345670123456701234567012345670123456701234567", 10,
       "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
  };
  for (const Vector& v : cases) {
    // Fed whole and fed in uneven pieces: the block buffering must not change the digest.
    Sha1 whole;
    std::string all;
    for (size_t i = 0; i < v.repeat; ++i) all += v.message;
    whole.input(all);
    auto w = whole.result();
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(sha1WordsHex(*w), v.hex) << v.message.substr(0, 10);

    Sha1 pieces;
    for (size_t pos = 0, step = 1; pos < all.size(); pos += step, step = step % 97 + 3) {
      pieces.input(std::string_view(all).substr(pos, step));
    }
    auto p = pieces.result();
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(sha1WordsHex(*p), v.hex);
  }
  EXPECT_EQ(sha1Hex("HomeDomain-Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(Sha1, ResultTwiceGivesSameWordsAndResetStartsOver) {
  Sha1 s;
  s.input("abc");
  auto first = s.result();
  auto second = s.result();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, *second);
  EXPECT_EQ((*first)[0], 0xa9993e36u);
  s.reset();
  s.input("abc");
  EXPECT_EQ(s.result(), first);
}

TEST(Sha1, InputAfterResultCorrupts) {
  Sha1 s;
  s.input("ab");
  ASSERT_TRUE(s.result().has_value());
  s.input("c");
  EXPECT_TRUE(s.corrupted());
  EXPECT_FALSE(s.result().has_value());
  s.reset();  // a reset clears the mark
  s.input("abc");
  EXPECT_EQ(sha1WordsHex(*s.result()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, MoreThanTwoToTheSixtyFourBitsCorrupts) {
  struct Case {
    uint64_t startBits;
    size_t bytes;
    bool corrupted;
  };
  const uint64_t top = UINT64_MAX - 7;  // the last whole byte count below 2^64 bits
  const std::vector<Case> cases = {
      {top - 64 * 8, 64, false},  // reaches 2^64 - 8 bits: still countable
      {top - 64 * 8, 65, true},   // one byte more overflows the count
      {top, 1, true},
      {top - 8, 1, false},
  };
  for (const Case& c : cases) {
    Sha1 s;
    s.setLengthForTesting(c.startBits);
    s.input(std::string(c.bytes, 'x'));
    EXPECT_EQ(s.corrupted(), c.corrupted) << c.startBits << " + " << c.bytes;
    EXPECT_EQ(s.result().has_value(), !c.corrupted);
  }
}

}  // namespace
}  // namespace tamsel
