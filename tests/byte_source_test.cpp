#include "util/byte_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace tamsel {
namespace {

fs::path tempPath(const std::string& name) {
  return fs::temp_directory_path() / ("tamsel-bs-" + std::to_string(::getpid()) + "-" + name);
}

TEST(ByteSource, BytesPastTheEndReadAsZero) {
  ByteSource s = ByteSource::fromBytes({1, 2, 3});
  uint8_t out[6] = {9, 9, 9, 9, 9, 9};
  s.read(1, 6 - 1, out);
  EXPECT_EQ((std::vector<uint8_t>(out, out + 5)), (std::vector<uint8_t>{2, 3, 0, 0, 0}));
  EXPECT_EQ(s.byteAt(3), 0);
  EXPECT_EQ(s.byteAt(UINT64_MAX), 0);
  EXPECT_EQ(s.view(2, 10).size(), 1u);
  EXPECT_TRUE(s.view(3, 1).empty());
  EXPECT_EQ(s.readLE(0, 2), 0x0201u);
  EXPECT_EQ(s.readBE(1, 4), 0x02030000u);  // the missing bytes are zeros
}

TEST(ByteSource, OpensFilesReadOnlyAndRefusesWhatIsNotAFile) {
  fs::path file = tempPath("file");
  std::ofstream(file, std::ios::binary) << "abc";
  std::string error;
  ByteSource s = ByteSource::open(file.string(), &error);
  ASSERT_TRUE(s.valid()) << error;
  EXPECT_EQ(s.size(), 3u);
  EXPECT_EQ(s.byteAt(2), 'c');

  fs::path empty = tempPath("empty");
  std::ofstream(empty, std::ios::binary).close();
  EXPECT_TRUE(ByteSource::open(empty.string()).valid());

  EXPECT_FALSE(ByteSource::open(fs::temp_directory_path().string(), &error).valid());
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  EXPECT_FALSE(ByteSource::open(tempPath("absent").string(), &error).valid());

  // A FIFO with no writer must be refused at once, not waited on.
  fs::path fifo = tempPath("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ByteSource::open(fifo.string(), &error).valid());
  fs::remove(file);
  fs::remove(empty);
  fs::remove(fifo);
}

TEST(ByteSource, MovedSourceKeepsItsBytes) {
  ByteSource a = ByteSource::fromBytes({7, 8});
  ByteSource b = std::move(a);
  EXPECT_EQ(b.byteAt(1), 8);
  EXPECT_FALSE(a.valid());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
  EXPECT_EQ(a.size(), 0u);
}

std::vector<uint8_t> patterned(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 rng(7);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Windowed reads give the same bytes as the file, in any order: forward, backward, across
// window edges, larger than the window, and past the end (zeros).
TEST(ByteSource, WindowedReadsMatchTheFileWherever) {
  const fs::path file = tempPath("windows");
  const std::vector<uint8_t> bytes = patterned(10000);
  writeFile(file, bytes);
  ByteSource mapped = ByteSource::openMapped(file.string());
  ASSERT_TRUE(mapped.valid());
  ASSERT_NE(mapped.data(), nullptr);
  for (size_t window : {size_t{16}, size_t{100}, size_t{4096}, ByteSource::kDefaultWindow}) {
    SCOPED_TRACE(window);
    ByteSource s = ByteSource::open(file.string(), nullptr, window);
    ASSERT_TRUE(s.valid());
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.size(), bytes.size());
    struct Read {
      uint64_t offset, length;
    };
    for (Read r : {Read{0, 10}, Read{95, 10}, Read{9990, 50}, Read{5, 9000}, Read{4000, 100},
                   Read{3999, 2}, Read{0, 10000}, Read{10000, 5}, Read{20000, 1}}) {
      SCOPED_TRACE(r.offset);
      auto v = s.view(r.offset, r.length);
      const uint64_t exist =
          r.offset < bytes.size() ? std::min<uint64_t>(r.length, bytes.size() - r.offset) : 0;
      ASSERT_EQ(v.size(), exist);
      EXPECT_TRUE(std::equal(
          v.begin(), v.end(),
          bytes.begin() + static_cast<long>(std::min<uint64_t>(r.offset, bytes.size()))));
      EXPECT_EQ(s.readVector(r.offset, r.length), mapped.readVector(r.offset, r.length));
      EXPECT_EQ(s.readLE(r.offset, 8), mapped.readLE(r.offset, 8));
      EXPECT_EQ(s.readBE(r.offset + 3, 4), mapped.readBE(r.offset + 3, 4));
    }
    for (uint64_t at = bytes.size() + 2; at-- > 0;) ASSERT_EQ(s.byteAt(at), mapped.byteAt(at));
    EXPECT_FALSE(s.failed());
    ASSERT_TRUE(s.file());
    EXPECT_EQ(s.file()->size(), bytes.size());
  }
  fs::remove(file);
}

// A file that shrinks while it is read gives zeros and an error for the missing bytes, never
// a fault (a mapping would fault on the vanished pages).
TEST(ByteSource, FileThatShrinksGivesAnErrorNotAFault) {
  const fs::path file = tempPath("shrinks");
  const std::vector<uint8_t> bytes = patterned(50000);
  writeFile(file, bytes);
  ByteSource s = ByteSource::open(file.string(), nullptr, 1000);
  ASSERT_TRUE(s.valid());
  EXPECT_EQ(s.byteAt(10), bytes[10]);
  fs::resize_file(file, 20000);
  EXPECT_EQ(s.size(), 50000u);  // the size it had when opened
  auto kept = s.view(19990, 10);
  ASSERT_EQ(kept.size(), 10u);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), bytes.begin() + 19990));
  auto cut = s.view(19990, 100);
  EXPECT_EQ(cut.size(), 10u);
  EXPECT_TRUE(s.failed());
  EXPECT_NE(s.error().find("shorter than when it was scanned"), std::string::npos) << s.error();
  EXPECT_EQ(s.byteAt(30000), 0);
  std::vector<uint8_t> tail = s.readVector(19998, 4);
  EXPECT_EQ(tail, (std::vector<uint8_t>{bytes[19998], bytes[19999], 0, 0}));
  fs::remove(file);
}

}  // namespace
}  // namespace tamsel
