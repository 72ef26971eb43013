// Byte references: ranges of an open input file read in chunks, bounded whole reads, digests,
// read errors when the file shrank, and recovery and vCards of records whose backup was cut
// short after the scan.
#include "util/byte_ref.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "results/recovery_writer.h"
#include "results/vcf_controller.h"
#include "tests/fixtures/temp_folder.h"
#include "util/sha256.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::readWholeFile;
using testing::TempFolder;

std::string patterned(size_t n) {
  std::string s(n, '\0');
  std::mt19937 rng(11);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

struct RefTest : ::testing::Test {
  void SetUp() override {
    content = patterned(3 * ByteRef::kChunkSize + 500);
    path = t.path() / "input.ipd";
    testing::writeWholeFile(path, content);
    std::string error;
    file = InputFile::open(path.string(), &error);
    ASSERT_TRUE(file) << error;
  }
  std::vector<uint8_t> slice(uint64_t offset, uint64_t length) const {
    return {content.begin() + static_cast<long>(offset),
            content.begin() + static_cast<long>(offset + length)};
  }

  TempFolder t;
  std::string content;
  fs::path path;
  std::shared_ptr<InputFile> file;
};

TEST_F(RefTest, RangesReadBackInOrderInBoundedChunks) {
  // Adjacent ranges merge; empty ones vanish; the pieces cross chunk edges.
  const std::vector<ByteRange> ranges = {
      {10, 5}, {15, 20}, {100, 0}, {ByteRef::kChunkSize - 3, ByteRef::kChunkSize + 9}, {7, 1}};
  ByteRef ref = ByteRef::fromFile(file, ranges);
  EXPECT_EQ(ref.ranges().size(), 3u);
  std::vector<uint8_t> expect;
  for (const ByteRange& r : ranges) {
    auto piece = slice(r.offset, r.length);
    expect.insert(expect.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(ref.size(), expect.size());
  std::vector<uint8_t> got;
  size_t chunks = 0;
  EXPECT_TRUE(ref.forEachChunk([&](std::span<const uint8_t> chunk) {
    EXPECT_LE(chunk.size(), ByteRef::kChunkSize);
    got.insert(got.end(), chunk.begin(), chunk.end());
    ++chunks;
    return true;
  }));
  EXPECT_EQ(got, expect);
  EXPECT_GE(chunks, 4u);
  EXPECT_EQ(ref.readAll(expect.size()), expect);
  EXPECT_EQ(ref.sha256Hex(), sha256Hex(expect));

  // A walk stopped by the caller reports it.
  EXPECT_FALSE(ref.forEachChunk([](std::span<const uint8_t>) { return false; }));
}

TEST_F(RefTest, ReadAllIsBoundedAndMemoryBytesBehaveAlike) {
  ByteRef ref = ByteRef::fromFile(file, {{0, 1000}});
  std::string error;
  EXPECT_FALSE(ref.readAll(999, &error));
  EXPECT_NE(error.find("1000 bytes"), std::string::npos) << error;

  ByteRef memory = ByteRef::fromBytes(slice(0, 1000));
  EXPECT_TRUE(memory.inMemory());
  EXPECT_EQ(memory.readAll(1000), ref.readAll(1000));
  EXPECT_EQ(memory.sha256Hex(), ref.sha256Hex());
  EXPECT_FALSE(memory.readAll(10));

  // Appending bytes of another kind replaces what was held; clear empties.
  memory.appendRange(file, {0, 4});
  EXPECT_FALSE(memory.inMemory());
  EXPECT_EQ(memory.size(), 4u);
  memory.appendBytes(slice(4, 2));
  EXPECT_TRUE(memory.inMemory());
  EXPECT_EQ(memory.size(), 2u);
  memory.clear();
  EXPECT_TRUE(memory.empty());
  EXPECT_TRUE(ByteRef().forEachChunk([](std::span<const uint8_t>) { return false; }));
}

TEST_F(RefTest, StaysReadableAfterTheFileIsUnlinked) {
  ByteRef ref = ByteRef::fromFile(file, {{5000, 300}});
  file.reset();  // the reference holds the file open
  fs::remove(path);
  EXPECT_EQ(ref.readAll(300), slice(5000, 300));
}

TEST_F(RefTest, FileThatShrankGivesAReadError) {
  ByteRef ref = ByteRef::fromFile(file, {{0, 100}, {2 * ByteRef::kChunkSize, 1000}});
  fs::resize_file(path, 2 * ByteRef::kChunkSize + 10);
  std::string error;
  EXPECT_FALSE(ref.readAll(UINT64_MAX, &error));
  EXPECT_NE(error.find("shorter than when it was scanned"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(ref.sha256Hex(&error));
  EXPECT_FALSE(error.empty());
  size_t seen = 0;
  EXPECT_FALSE(ref.forEachChunk([&](std::span<const uint8_t> c) {
    seen += c.size();
    return true;
  }));
  EXPECT_EQ(seen, 100u);  // the first range, then the error
}

TEST_F(RefTest, OpenRefusesWhatIsNotAFile) {
  std::string error;
  EXPECT_FALSE(InputFile::open(t.path().string(), &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  EXPECT_FALSE(InputFile::open((t.path() / "absent").string(), &error));
}

// Recovery and vCards read the bytes from the backup: one cut short after the scan gives a
// failure line and no partial file, and a card without its picture.
TEST_F(RefTest, RecoveryOfABackupTruncatedAfterTheScan) {
  auto whole = std::make_shared<PRBlackBerryContentNode>();
  whole->filePathName = "/store/kept.jpg";
  whole->contentData = ByteRef::fromFile(file, {{0, 2000}, {4000, ByteRef::kChunkSize}});
  whole->bSelected = true;
  auto cut = std::make_shared<PRBlackBerryContentNode>();
  cut->filePathName = "/store/lost.jpg";
  cut->contentData = ByteRef::fromFile(file, {{0, 10}, {3 * ByteRef::kChunkSize, 400}});
  cut->bSelected = true;
  auto contact = std::make_shared<PRBlackBerryContactNode>();
  contact->contactName = "Ann";
  contact->contactImageData = ByteRef::fromFile(file, {{3 * ByteRef::kChunkSize + 100, 8}});
  contact->bSelected = true;
  fs::resize_file(path, 3 * ByteRef::kChunkSize);

  ResultLists l;
  l.bbContentStoreArray = {whole, cut};
  l.bbContactArray = {contact};
  const fs::path out = t.path() / "out";
  RecoveryReport r = RecoveryWriter(l, false, out).run();
  std::string expect = content.substr(0, 2000) + content.substr(4000, ByteRef::kChunkSize);
  EXPECT_EQ(readWholeFile(out / "Content_Store" / "kept.jpg"), expect);
  EXPECT_FALSE(fs::exists(out / "Content_Store" / "lost.jpg"));
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("lost.jpg"), std::string::npos) << r.failures[0];
  // Nothing but the kept file (no temporary leftovers) in the folder.
  EXPECT_EQ(testing::listTree(out / "Content_Store"), std::set<std::string>{"kept.jpg"});

  const std::string card = readWholeFile(out / "Contact" / "Ann.vcf");
  EXPECT_NE(card.find("N:Ann"), std::string::npos);
  EXPECT_EQ(card.find("PHOTO"), std::string::npos);
}

}  // namespace
}  // namespace tamsel
