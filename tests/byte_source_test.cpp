#include "util/byte_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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

TEST(ByteSource, MapsFilesReadOnlyAndRefusesWhatIsNotAFile) {
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

}  // namespace
}  // namespace tamsel
