// Hostile cards that once made the disk library's scan misbehave: each test builds the
// smallest image that showed the fault and scans it through the built bblib.so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::FatImageWriter;
using testing::TempFolder;
using testing::writeWholeFile;

using testing::Found;
using testing::gLog;

void put16(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 2; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 32-byte file entry: 8.3 name, attributes, first cluster (FAT12/16) and size.
std::string fileEntry(const std::string& name11, uint8_t attr, uint32_t first, uint32_t size) {
  std::string e(32, '\0');
  e.replace(0, 11, name11);
  e[11] = static_cast<char>(attr);
  put16(e, 26, first);
  put32(e, 28, size);
  return e;
}

std::string numbered(char letter, int n, const char* ext) {
  char name[32];  // 11 for the numbers the tests use
  std::snprintf(name, sizeof name, "%c%07d%-3s", letter, n, ext);
  return name;
}

class DiskLibRegressions : public testing::DiskLibHarness {
 protected:
  // Writes `image` as a card and scans it.
  std::vector<Found> scan(const std::string& image, int index = 255) {
    const fs::path path = tmp.path() / "card.img";
    writeWholeFile(path, image);
    return DiskLibHarness::scan(path, index);
  }

  TempFolder tmp;
};

// A name made only of an extension (the base is eight spaces) once came out as "." plus
// the extension: with the extension "." that is "..", the parent folder, in a path that the
// program may use to name a recovered file.
TEST_F(DiskLibRegressions, NameWithoutABaseNeverReadsAsTheParentFolder) {
  FatImageWriter w(2000);
  const uint32_t data = w.addFile("DATA.BIN", "payload");
  w.addDirectory("DCIM");
  w.addRawEntry("DCIM", "        .  ", 0x20, data, 7);
  w.addRawEntry("", "        TXT", 0x20, data, 7);
  const uint32_t sub = w.addDirectory("SUB");
  w.addRawEntry("", "        .  ", 0x10, sub, 0);  // a folder of the same name

  std::map<std::string, Found> byName;
  for (const Found& f : scan(w.bytes())) {
    byName.emplace(f.name, f);
    size_t from = 0;
    for (;;) {
      const size_t slash = f.name.find('/', from);
      const std::string part = f.name.substr(from, slash - from);
      EXPECT_NE(part, "..") << f.name;
      EXPECT_NE(part, ".") << f.name;
      EXPECT_FALSE(part.empty()) << f.name;
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
  }
  EXPECT_TRUE(byName.count("DATA.BIN"));
  ASSERT_TRUE(byName.count("DCIM/_..")) << "the entry is still reported, under a safe name";
  EXPECT_EQ(byName["DCIM/_.."].start, w.clusterOffset(data));
  EXPECT_TRUE(byName.count("_.TXT"));
}

// Folder entries that point into the middle of one long folder chain made every folder
// re-read the rest of that chain: a 2 MiB card yielded millions of entries and the scan ran
// for minutes. Each folder cluster is now read once.
TEST_F(DiskLibRegressions, FoldersThatShareClustersAreReadOnce) {
  FatImageWriter w(4400);
  ASSERT_EQ(w.bits(), 16);
  const uint32_t data = w.addFile("DATA.BIN", "x");
  constexpr uint32_t kFirst = 100, kClusters = 200, kFolders = 100;
  for (uint32_t c = kFirst; c < kFirst + kClusters; ++c) {
    w.setFatEntry(c, c + 1 < kFirst + kClusters ? c + 1 : 0xFFFF);
  }
  for (uint32_t i = 0; i < kFolders; ++i) {
    w.addRawEntry("", numbered('D', static_cast<int>(i), ""), 0x10, kFirst + i, 0);
  }
  std::string image = w.bytes();
  int n = 0;
  for (uint32_t c = kFirst; c < kFirst + kClusters; ++c) {
    for (uint32_t k = 0; k < 16; ++k) {
      image.replace(w.clusterOffset(c) + 32 * k, 32,
                    fileEntry(numbered('F', n++, "BIN"), 0x20, data, 1));
    }
  }

  std::map<std::string, int> perFile;
  size_t inFolders = 0;
  for (const Found& f : scan(image)) {
    if (f.name.rfind("D0", 0) != 0) continue;  // in one of the folders
    ++inFolders;
    EXPECT_EQ(f.name.rfind("D0000000/F", 0), 0u) << f.name;
    ++perFile[f.name.substr(f.name.find('/') + 1)];
  }
  EXPECT_EQ(inFolders, size_t{kClusters} * 16);
  EXPECT_EQ(perFile.size(), size_t{kClusters} * 16);
}

// Four partitions whose boot sectors all point at one FAT and one root folder: each was
// walked as a volume of its own, so a crafted table of 250 logical partitions multiplied
// the walk by 250. A folder is now read once per scan, whatever volume names it.
TEST_F(DiskLibRegressions, VolumesThatShareOneRootFolderReadItOnce) {
  FatImageWriter w(4400);
  ASSERT_EQ(w.bits(), 16);
  w.addFile("SHARED.TXT", "in every volume\n");
  constexpr uint32_t kStart = 63;
  std::string disk = FatImageWriter::inMbrDisk(w.bytes(), kStart, kStart + 4400);
  const std::string boot = w.bytes().substr(0, 512);
  const uint32_t reserved = static_cast<uint8_t>(boot[14]) | (static_cast<uint8_t>(boot[15]) << 8);
  for (uint32_t p = 1; p < 4; ++p) {
    const uint32_t at = kStart - 8 * p;  // a boot sector in the gap before the volume
    std::string b = boot;
    put16(b, 14, reserved + (kStart - at));  // the same FAT as the real volume
    put16(b, 17, 512 + 16 * p);  // a longer root folder: the data area moves, so do the files
    disk.replace(at * 512ull, 512, b);
    std::string entry(16, '\0');
    entry[4] = 0x06;
    put32(entry, 8, at);
    put32(entry, 12, 4400 + (kStart - at));
    disk.replace(446 + 16 * p, 16, entry);
  }

  int shared = 0;
  for (const Found& f : scan(disk)) shared += f.name == "SHARED.TXT";
  EXPECT_EQ(shared, 1);
}

// A deleted file's run is worked out from its first cluster and size alone; a size of
// 4 GiB is cut at the end of the card (this once built a list of every cluster per entry).
TEST_F(DiskLibRegressions, DeletedFileWithAHugeSizeEndsAtTheCardEnd) {
  FatImageWriter w(2000);
  const uint32_t first = w.addFile("GONE.TXT", "deleted text", /*deleted=*/true);
  w.addRawEntry("",
                "\xE5"
                "UGE    BIN",
                0x20, first, 0xFFFFFFFFu);
  const std::string image = w.bytes();
  std::map<std::string, Found> byName;
  for (const Found& f : scan(image)) byName.emplace(f.name, f);
  ASSERT_TRUE(byName.count("_ONE.TXT"));
  EXPECT_EQ(byName["_ONE.TXT"].len, 12u);
  ASSERT_TRUE(byName.count("_UGE.BIN"));
  EXPECT_EQ(byName["_UGE.BIN"].start, w.clusterOffset(first));
  EXPECT_EQ(byName["_UGE.BIN"].len, image.size() - w.clusterOffset(first));
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

// A card full of broken cluster chains logs the first hundred and then says the rest are
// not listed, instead of one line per file.
TEST_F(DiskLibRegressions, DamagedChainsAreLoggedAHundredTimesAtMost) {
  FatImageWriter w(8000);
  for (int i = 0; i < 150; ++i) {
    // Each file claims three clusters but its chain ends after the first.
    const uint32_t first = w.addFile(numbered('F', i, "BIN"), std::string(1200, 'x'));
    w.setFatEntry(first, 0x0FFFFFFF);
  }
  std::vector<Found> found = scan(w.bytes());
  EXPECT_EQ(found.size(), 150u);
  int chainLines = 0, summary = 0;
  for (const std::string& line : gLog) {
    if (line.find("cluster chain ends after") != std::string::npos) ++chainLines;
    if (line == "more files with damaged cluster chains are not listed") ++summary;
  }
  EXPECT_EQ(chainLines, 100);
  EXPECT_EQ(summary, 1);
}

}  // namespace
}  // namespace tamsel
