// The disk library as the program loads it (the built bblib.so through dlopen): its table,
// the FAT walk with deleted entries, long names and fragments, partitions, carving, the
// reading and writing of found files, stopping, and the damaged sample card images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "disklib/disk_list.h"
#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/fat_image_test.h"
#include "tests/fixtures/gunzip.h"
#include "tests/fixtures/testdata.h"

namespace tamsel {
namespace {

using testing::Found;
using testing::gFound;
using testing::gLog;
using testing::gProgress;
using testing::onFound;

class DiskLib : public testing::DiskLibHarness {
 protected:
  // The library's handle of the disk at `path` (listed through addDiskImage).
  list_disk_struct* diskFor(const fs::path& path) {
    t->addDiskImage(path.c_str());
    EXPECT_NE(t->initDiskList(), 0);
    while (list_disk_struct* d = t->nextDisk()) {
      if (path.string() == t->diskDevicePath(d)) return d;
    }
    return nullptr;
  }

  std::string readFound(list_disk_struct* disk, const Found& f) {
    std::string name = f.name;
    _rec_file_ele ele{f.start, f.len, static_cast<uint32_t>(name.size()), name.data(), nullptr};
    std::string buffer(f.len, '\x55');
    t->readFoundFile(disk, buffer.data(), &ele);
    return buffer;
  }

  TempFolder tmp;
};

std::string pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + (i * 7 + i / 512) % 50);
  return s;
}

// A JPEG whose APP1 segment carries a whole thumbnail JPEG (with its own end marker).
std::string jpegWithThumbnail() {
  std::string thumb = "\xFF\xD8\xFF\xDB";
  thumb += std::string("\x00\x04\x01\x02", 4) + "\xFF\xDA" + std::string("\x00\x02", 2) +
           "\x11\x22\x33\xFF\xD9";
  std::string app1 = "Exif" + std::string(2, '\0') + thumb;
  std::string j = "\xFF\xD8\xFF\xE1";
  j += static_cast<char>((app1.size() + 2) >> 8);
  j += static_cast<char>((app1.size() + 2) & 0xFF);
  j += app1;
  j += "\xFF\xDB" + std::string("\x00\x05\x01\x02\x03", 5);
  j += "\xFF\xDA" + std::string("\x00\x03\x01", 3);
  j += std::string("\x12\xFF\x00\x34\xFF\xD0\x56", 7);  // stuffed byte and a restart marker
  j += "\xFF\xD9";
  return j;
}

std::string png() {
  std::string p = "\x89PNG\r\n\x1a\n";
  auto chunk = [&](const char* type, const std::string& data) {
    uint32_t n = static_cast<uint32_t>(data.size());
    p += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
    p += type + data + "CRC!";
  };
  chunk("IHDR", std::string(13, '\x01'));
  chunk("IDAT", std::string(700, '\x7f'));
  chunk("IEND", "");
  return p;
}

std::string gif() {
  std::string g = "GIF89a";
  g += std::string("\x02\x00\x02\x00\x80\x00\x00", 7) + std::string(6, '\x10');  // 2 colours
  g += std::string("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);                       // extension
  g += std::string("\x2C\x00\x00\x00\x00\x02\x00\x02\x00\x00", 10);              // image
  g += std::string("\x02\x02\x44\x01\x00", 5);                                   // LZW data
  g += ";";
  return g;
}

std::string zipArchive() {
  auto le16 = [](uint16_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
  };
  auto le32 = [&](uint32_t v) {
    return le16(static_cast<uint16_t>(v)) + le16(static_cast<uint16_t>(v >> 16));
  };
  const std::string name = "a.txt", data = "zipped text\n";
  std::string z = "PK\x03\x04" + le16(10) + le16(0) + le16(0) + le16(0) + le16(0) + le32(0) +
                  le32(static_cast<uint32_t>(data.size())) +
                  le32(static_cast<uint32_t>(data.size())) +
                  le16(static_cast<uint16_t>(name.size())) + le16(0) + name + data;
  const uint32_t cdOffset = static_cast<uint32_t>(z.size());
  std::string cd = "PK\x01\x02" + le16(20) + le16(10) + le16(0) + le16(0) + le16(0) + le16(0) +
                   le32(0) + le32(static_cast<uint32_t>(data.size())) +
                   le32(static_cast<uint32_t>(data.size())) +
                   le16(static_cast<uint16_t>(name.size())) + le16(0) + le16(0) + le16(0) +
                   le16(0) + le32(0) + le32(0) + name;
  z += cd;
  z += "PK\x05\x06" + le16(0) + le16(0) + le16(1) + le16(1) +
       le32(static_cast<uint32_t>(cd.size())) + le32(cdOffset) + le16(3) + "hi!";
  return z;
}

TEST_F(DiskLib, TableIsCompleteAndCarriesItsVersion) {
  EXPECT_NE(t->initDiskList, nullptr);
  EXPECT_NE(t->nextDisk, nullptr);
  EXPECT_NE(t->diskDevicePath, nullptr);
  EXPECT_NE(t->openDisk, nullptr);
  EXPECT_NE(t->nextPartition, nullptr);
  EXPECT_NE(t->partitionIndex, nullptr);
  EXPECT_NE(t->partitionTypeName, nullptr);
  EXPECT_NE(t->scanDevice, nullptr);
  EXPECT_NE(t->stopScan, nullptr);
  EXPECT_NE(t->readFoundFile, nullptr);
  EXPECT_NE(t->recoverFoundFile, nullptr);
  EXPECT_NE(t->writeFoundFile, nullptr);
  EXPECT_EQ(t->abi_version, TAMSEL_DISKLIB_ABI_VERSION);
  EXPECT_EQ(t->table_size, sizeof(export_function_table));
  EXPECT_NE(t->setLogFunction, nullptr);
  EXPECT_NE(t->addDiskImage, nullptr);
}

TEST_F(DiskLib, Fat16TreeWithLongNamesDeletedEntriesAndFragments) {
  FatImageWriter w(8192);
  ASSERT_EQ(w.bits(), 16);
  const std::string readme = "read me\n", photo = jpegWithThumbnail() + pattern(3000, 'a');
  const std::string old = pattern(1500, 'k'), inside = "left behind\n", frag = pattern(2600, 'F');
  w.addFile("README.TXT", readme);
  w.addDirectory("DCIM");
  w.addDirectory("DCIM/Camera");
  w.addFile("DCIM/Camera/Holiday photo.jpeg", photo);
  w.addFile("old notes.txt", old, /*deleted=*/true);
  w.addDirectory("gone", /*deleted=*/true);
  w.addFile("gone/inside.txt", inside, /*deleted=*/true);
  w.addFile("frag.bin", frag, false, /*fragmented=*/true);
  w.addFile("empty.txt", "");
  const fs::path img = tmp.path() / "fat16.img";
  w.writeTo(img);

  auto found = byName(scan(img));
  const std::map<std::string, std::string> want = {{"README.TXT", readme},
                                                   {"DCIM/Camera/Holiday photo.jpeg", photo},
                                                   {"old notes.txt", old},
                                                   {"gone/inside.txt", inside},
                                                   {"frag.bin", frag}};
  std::set<std::string> names;
  for (const auto& [n, f] : found) names.insert(n);
  std::set<std::string> wantNames;
  for (const auto& [n, c] : want) wantNames.insert(n);
  // Nothing carved out of the photo: its sectors belong to a file the walk found.
  EXPECT_EQ(names, wantNames);

  list_disk_struct* disk = diskFor(img);
  ASSERT_NE(disk, nullptr);
  for (const auto& [name, content] : want) {
    ASSERT_TRUE(found.count(name)) << name;
    EXPECT_EQ(found[name].len, content.size()) << name;
    EXPECT_EQ(readFound(disk, found[name]), content) << name;
  }

  // Progress runs from 0 to the whole image, in order.
  ASSERT_GE(gProgress.size(), 2u);
  EXPECT_EQ(gProgress.front().current, 0u);
  EXPECT_EQ(gProgress.back().current, gProgress.back().total);
  EXPECT_EQ(gProgress.back().total, fs::file_size(img));
  for (size_t i = 1; i < gProgress.size(); ++i) {
    EXPECT_GE(gProgress[i].current, gProgress[i - 1].current);
  }
}

TEST_F(DiskLib, Fat12ChainsThatLoopOrLeaveTheVolumeEndTheWalkNotTheScan) {
  FatImageWriter w(2880);
  ASSERT_EQ(w.bits(), 12);
  const std::string odd = pattern(5 * 512 + 17, 'o');
  w.addFile("ODD.BIN", odd, false, /*fragmented=*/true);  // links odd and even FAT12 entries
  const uint32_t loopFirst = w.addFile("LOOP.BIN", pattern(3 * 512, 'l'));
  w.setFatEntry(loopFirst + 2, loopFirst);  // the third cluster points back to the first
  w.addRawEntry("", "LOOP    BIN", 0x20, loopFirst, 0x00FFFFFF);  // claims 16 MiB
  w.addRawEntry("", "FAR     BIN", 0x20, 4000, 1000);             // past the last cluster
  const uint32_t sub = w.addDirectory("SUB");
  w.addRawEntry("SUB", "AGAIN      ", 0x10, sub, 0);  // a folder that contains itself
  w.addFile("SUB/IN.TXT", "in\n");
  const fs::path img = tmp.path() / "fat12.img";
  w.writeTo(img);

  auto found = byName(scan(img));
  ASSERT_TRUE(found.count("ODD.BIN"));
  EXPECT_EQ(readFound(diskFor(img), found["ODD.BIN"]), odd);
  EXPECT_TRUE(found.count("SUB/IN.TXT"));
  EXPECT_FALSE(found.count("SUB/AGAIN/IN.TXT"));
  EXPECT_FALSE(found.count("FAR.BIN"));
  // Both LOOP.BIN entries share the chain; the looping one is cut to its three clusters.
  ASSERT_TRUE(found.count("LOOP.BIN"));
  bool cut = false;
  for (const Found& f : gFound) cut = cut || (f.name == "LOOP.BIN" && f.len == 3 * 512);
  EXPECT_TRUE(cut);
  bool logged = false;
  for (const auto& l : gLog) logged = logged || l.find("loops") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(DiskLib, PartitionedDiskReportsDiskOffsetsForTheWholeDiskAndForItsPartition) {
  FatImageWriter w(8192);
  const std::string text = "on a partition\n";
  const uint32_t first = w.addFile("PART.TXT", text);
  const uint32_t start = 2048;
  const fs::path img = tmp.path() / "mbr.img";
  writeWholeFile(img, FatImageWriter::inMbrDisk(w.bytes(), start, start + 8192 + 64));
  const uint64_t expected = start * 512ull + w.clusterOffset(first);

  for (int index : {255, 1}) {
    auto found = byName(scan(img, index));
    ASSERT_TRUE(found.count("PART.TXT")) << index;
    EXPECT_EQ(found["PART.TXT"].start, expected) << index;
    EXPECT_EQ(gProgress.back().total, index == 255 ? fs::file_size(img) : 8192 * 512ull);
  }
  EXPECT_TRUE(scan(img, 2).empty());
  EXPECT_TRUE(gProgress.empty());

  list_disk_struct* disk = diskFor(img);
  ASSERT_NE(disk, nullptr);
  ASSERT_NE(t->openDisk(disk), 0);
  list_part_struct* part = t->nextPartition();
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(t->partitionIndex(part), 1);
  ASSERT_NE(t->partitionTypeName(part), nullptr);
  EXPECT_STREQ(t->partitionTypeName(part), "vfat");
  EXPECT_EQ(t->nextPartition(), nullptr);
  EXPECT_EQ(readFound(disk, {"PART.TXT", expected, static_cast<uint32_t>(text.size())}), text);
}

TEST_F(DiskLib, CarvesCompleteFilesBySignatureAndNamesThemByOffset) {
  std::string disk(8 << 20, '\0');
  const std::map<uint64_t, std::pair<std::string, std::string>> files = {
      {0x10000, {"jpg", jpegWithThumbnail()}},
      {0x40000, {"png", png()}},
      {0x60000, {"gif", gif()}},
      {0x80000, {"pdf", "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n%%EOF\n"}},
      {0xA0000, {"zip", zipArchive()}},
      {0x200200, {"jpg", jpegWithThumbnail()}},  // right after a JPEG cut short
  };
  for (const auto& [off, f] : files) disk.replace(off, f.second.size(), f.second);
  disk.replace(0x100000, 6, std::string("\xFF\xD8\xFF\xE0\x00\x04", 6));  // a JPEG that never ends
  disk.replace(0x100006, 4, "\x01\x02\xFF\xDA");
  disk.replace(0x200000, 11, std::string("\xFF\xD8\xFF\xDA\x00\x02\x11\x22\x33\x44\x55", 11));
  const fs::path img = tmp.path() / "carve.img";
  writeWholeFile(img, disk);

  auto found = byName(scan(img));
  std::string names;
  for (const auto& [n, f] : found) names += n + " ";
  ASSERT_EQ(found.size(), files.size()) << names;
  list_disk_struct* d = diskFor(img);
  for (const auto& [off, f] : files) {
    char name[64];
    std::snprintf(name, sizeof name, "carved_%08llx.%s", static_cast<unsigned long long>(off),
                  f.first.c_str());
    ASSERT_TRUE(found.count(name)) << name;
    EXPECT_EQ(found[name].start, off);
    EXPECT_EQ(readFound(d, found[name]), f.second) << name;
  }
}

TEST_F(DiskLib, HeaderInEverySectorOfOneEndlessStructureIsWalkedOnce) {
  // Each sector: a PNG signature and a chunk whose data runs to the next sector's chunk, so
  // a walk from any header reaches the end of the image without an IEND.
  std::string sector(512, '\0');
  sector.replace(0, 8, "\x89PNG\r\n\x1a\n");
  sector.replace(8, 8, std::string("\x00\x00\x01\xF4", 4) + "IHDR");  // 500 bytes
  std::string disk;
  for (int i = 0; i < 32768; ++i) disk += sector;
  const fs::path img = tmp.path() / "hostile.img";
  writeWholeFile(img, disk);
  EXPECT_TRUE(scan(img).empty());
  EXPECT_EQ(gProgress.back().current, disk.size());
}

TEST_F(DiskLib, RecoverWritesTheFileButNeverReplacesOrFollowsALink) {
  FatImageWriter w(8192);
  const std::string frag = pattern(4000, 'r');
  w.addFile("frag.bin", frag, false, true);
  const fs::path img = tmp.path() / "r.img";
  w.writeTo(img);
  auto found = byName(scan(img));
  ASSERT_TRUE(found.count("frag.bin"));
  std::string name = "frag.bin";
  _rec_file_ele ele{found["frag.bin"].start, found["frag.bin"].len,
                    static_cast<uint32_t>(name.size()), name.data(), nullptr};
  list_disk_struct* disk = diskFor(img);

  const fs::path out = tmp.path() / "out.bin";
  t->recoverFoundFile(out.c_str(), disk, &ele);
  EXPECT_EQ(readWholeFile(out), frag);

  writeWholeFile(out, "keep");
  t->recoverFoundFile(out.c_str(), disk, &ele);
  EXPECT_EQ(readWholeFile(out), "keep");

  const fs::path victim = tmp.path() / "victim.txt", link = tmp.path() / "link.bin";
  writeWholeFile(victim, "victim");
  fs::create_symlink(victim, link);
  t->recoverFoundFile(link.c_str(), disk, &ele);
  EXPECT_EQ(readWholeFile(victim), "victim");
  const fs::path dangling = tmp.path() / "dangling.bin", nowhere = tmp.path() / "nowhere.bin";
  fs::create_symlink(nowhere, dangling);
  t->recoverFoundFile(dangling.c_str(), disk, &ele);
  EXPECT_FALSE(fs::exists(nowhere));

  // The image itself is never written.
  EXPECT_EQ(readWholeFile(img), w.bytes());
}

// writeFoundFile into a descriptor of the test's own: a file of many fragments and a
// contiguous one of more than one copy piece come out byte for byte, the same as
// readFoundFile's buffer and recoverFoundFile's file; the descriptor stays open.
TEST_F(DiskLib, WriteFoundFileStreamsTheFileIntoTheDescriptor) {
  FatImageWriter w(16384, 2);  // 1 KiB clusters
  const std::map<std::string, std::string> files = {
      {"FRAG.MOV", pattern(1536 * 1024 + 333, 'f')},  // a free cluster after each cluster
      {"LONG.MOV", pattern(1536 * 1024 + 77, 'l')},   // one run of two pieces
  };
  for (const auto& [name, bytes] : files) w.addFile(name, bytes, false, name == "FRAG.MOV");
  const fs::path img = tmp.path() / "w.img";
  w.writeTo(img);
  auto found = byName(scan(img));
  list_disk_struct* disk = diskFor(img);
  for (const auto& [fileName, bytes] : files) {
    SCOPED_TRACE(fileName);
    ASSERT_TRUE(found.count(fileName));
    std::string name = fileName;
    _rec_file_ele ele{found[name].start, found[name].len, static_cast<uint32_t>(name.size()),
                      name.data(), nullptr};
    const fs::path out = tmp.path() / (name + ".fd");
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    uint64_t unreadable = 99;
    EXPECT_EQ(t->writeFoundFile(disk, &ele, fd, &unreadable), 0);
    EXPECT_EQ(unreadable, 0u);
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);  // still open: the caller closes it
    ::close(fd);
    EXPECT_TRUE(readWholeFile(out) == bytes);
    EXPECT_TRUE(readFound(disk, found[name]) == bytes);
    const fs::path viaPath = tmp.path() / (name + ".path");
    t->recoverFoundFile(viaPath.c_str(), disk, &ele);
    EXPECT_TRUE(readWholeFile(viaPath) == bytes);
  }
  EXPECT_TRUE(gLog.empty()) << gLog.front();
}

// Every failure is an errno value and a log line, never a silent short file: the write
// errors of the descriptor, bytes past the end of the disk (the image shrank since the
// scan), and arguments that cannot be used.
TEST_F(DiskLib, WriteFoundFileReportsWhatStoppedIt) {
  FatImageWriter w(8192);
  const std::string data = pattern(6000, 'e');
  w.addFile("DATA.BIN", data, false, /*fragmented=*/true);
  const fs::path img = tmp.path() / "e.img";
  w.writeTo(img);
  auto found = byName(scan(img));
  ASSERT_TRUE(found.count("DATA.BIN"));
  list_disk_struct* disk = diskFor(img);
  std::string name = "DATA.BIN";
  _rec_file_ele ele{found["DATA.BIN"].start, found["DATA.BIN"].len,
                    static_cast<uint32_t>(name.size()), name.data(), nullptr};

  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full >= 0) {
    EXPECT_EQ(t->writeFoundFile(disk, &ele, full, nullptr), ENOSPC);
    ::close(full);
  }
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  EXPECT_EQ(t->writeFoundFile(disk, &ele, pipeFds[1], nullptr), EBADF);  // closed descriptor
  EXPECT_EQ(t->writeFoundFile(disk, &ele, -1, nullptr), EBADF);
  EXPECT_EQ(t->writeFoundFile(nullptr, &ele, 1, nullptr), EINVAL);
  EXPECT_EQ(t->writeFoundFile(disk, nullptr, 1, nullptr), EINVAL);

  // The image cut after the file's first bytes: nothing past its end is read.
  const fs::path out = tmp.path() / "short.bin";
  fs::resize_file(img, ele.file_start + 100);
  int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  gLog.clear();
  EXPECT_EQ(t->writeFoundFile(disk, &ele, fd, nullptr), EIO);
  ::close(fd);
  ASSERT_FALSE(gLog.empty());
  EXPECT_NE(gLog.back().find("past the end"), std::string::npos) << gLog.back();
  EXPECT_LE(fs::file_size(out), 100u);
  // recoverFoundFile goes the same way and leaves no file.
  const fs::path viaPath = tmp.path() / "via-path.bin";
  t->recoverFoundFile(viaPath.c_str(), disk, &ele);
  EXPECT_FALSE(fs::exists(viaPath));
}

// A worn card: the library's read hook fails every read that touches a byte of gBad (EIO)
// and finds the end of the disk at gEndAt. These tests call the library's internals, linked
// into this test, as the hook is not reachable through the loaded copy.
std::vector<std::pair<uint64_t, uint64_t>> gBad;  // [first, end) byte ranges
uint64_t gEndAt = UINT64_MAX;
int gBadErrno = EIO;
ssize_t wornPread(int fd, void* buffer, size_t n, off_t offset) {
  const uint64_t first = static_cast<uint64_t>(offset);
  for (const auto& [from, to] : gBad) {
    if (first < to && from < first + n) {
      errno = gBadErrno;
      return -1;
    }
  }
  if (first >= gEndAt) return 0;
  return ::pread(fd, buffer, std::min<uint64_t>(n, gEndAt - first), offset);
}

class WornCard : public DiskLib {
 protected:
  void SetUp() override {
    DiskLib::SetUp();
    gBad.clear();
    gEndAt = UINT64_MAX;
    gBadErrno = EIO;
    disk::devicePread = wornPread;
    disk::setLogFunction(testing::onLog);
    FatImageWriter w(16384, 2);
    w.addFile("LONG.MOV", bytes, false, false);
    w.writeTo(img);
    auto found = byName(scan(img));
    ASSERT_TRUE(found.count("LONG.MOV"));
    ele = {found["LONG.MOV"].start, found["LONG.MOV"].len, 8, name.data(), nullptr};
    card.path = img.string();
    gLog.clear();
  }
  void TearDown() override {
    disk::devicePread = ::pread;
    disk::setLogFunction(nullptr);
  }
  // writeFoundFile into a new file at `out`; its result and the unreadable bytes.
  std::pair<int, uint64_t> writeTo(const fs::path& out) {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    uint64_t unreadable = 99;
    int result = disk::writeFoundFile(&card, &ele, fd, &unreadable);
    ::close(fd);
    return {result, unreadable};
  }

  const std::string bytes = pattern(1536 * 1024 + 77, 'w');  // two copy pieces
  const fs::path img = tmp.path() / "worn.img";
  std::string name = "LONG.MOV";
  _rec_file_ele ele{};
  list_disk_struct card;
};

// One bad sector in the second piece: that sector comes back as zeros, every other byte as
// on the card, the result says so, and recoverFoundFile keeps its file the same way.
TEST_F(WornCard, OneBadSectorIsWrittenAsZerosAndTheFileKept) {
  const uint64_t at = (1 << 20) + 3 * 512;  // in the file
  gBad = {{ele.file_start + at, ele.file_start + at + 1}};
  std::string expected = bytes;
  expected.replace(at, 512, std::string(512, '\0'));

  const auto [result, unreadable] = writeTo(tmp.path() / "fd.mov");
  EXPECT_EQ(result, TAMSEL_DISKLIB_ZERO_FILLED);
  EXPECT_EQ(unreadable, 512u);
  EXPECT_TRUE(readWholeFile(tmp.path() / "fd.mov") == expected);
  ASSERT_EQ(gLog.size(), 1u);
  EXPECT_NE(gLog[0].find("512 unreadable bytes"), std::string::npos) << gLog[0];

  const fs::path viaPath = tmp.path() / "path.mov";
  disk::recoverFoundFile(viaPath.c_str(), &card, &ele);
  EXPECT_TRUE(readWholeFile(viaPath) == expected);
}

// A disk that ends inside the file (pulled out, or an image shorter than the scan saw) and
// one that fails on more than a quarter of the file fail it as before, leaving no file.
TEST_F(WornCard, ADiskThatEndsOrFailsWhollyStillFailsTheFile) {
  struct Case {
    const char* what;
    std::vector<std::pair<uint64_t, uint64_t>> bad;  // relative to the file
    uint64_t endAt;                                  // relative to the file
    int error;                                       // of the reads of the bad bytes
    const char* logged;
  };
  const uint64_t quarter = bytes.size() / 4;
  const Case cases[] = {
      {"ends in the first piece", {}, 200000, EIO, "ends before"},
      {"ends while sectors are read again", {{1000, 1001}}, 700, EIO, "ends at"},
      {"removed during the copy", {{1000, 2000}}, UINT64_MAX, ENODEV, "ends before"},
      {"a quarter unreadable", {{4096, 4096 + quarter + 512}}, UINT64_MAX, EIO, "taken as gone"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gBad.clear();
    for (const auto& [from, to] : c.bad)
      gBad.push_back({ele.file_start + from, ele.file_start + to});
    gEndAt = c.endAt == UINT64_MAX ? c.endAt : ele.file_start + c.endAt;
    gBadErrno = c.error;
    gLog.clear();
    EXPECT_EQ(writeTo(tmp.path() / ("fd" + std::to_string(i) + ".mov")).first, EIO);
    ASSERT_FALSE(gLog.empty());
    EXPECT_NE(gLog.back().find(c.logged), std::string::npos) << gLog.back();
    const fs::path viaPath = tmp.path() / ("path" + std::to_string(i++) + ".mov");
    disk::recoverFoundFile(viaPath.c_str(), &card, &ele);
    EXPECT_FALSE(fs::exists(viaPath));
  }
}

std::mutex gStopMutex;
std::condition_variable gStopCv;
bool gFirstReport = false, gStopSent = false;
void onProgressWaitForStop(rec_progress* p) {
  gProgress.push_back(*p);
  std::unique_lock lock(gStopMutex);
  gFirstReport = true;
  gStopCv.notify_all();
  gStopCv.wait(lock, [] { return gStopSent; });
}

TEST_F(DiskLib, StopScanFromAnotherThreadEndsTheScan) {
  const fs::path img = tmp.path() / "big.img";
  { std::ofstream(img).close(); }
  fs::resize_file(img, 64 << 20);  // sixteen blocks of zeros
  gProgress.clear();
  gFirstReport = gStopSent = false;
  std::thread scanner([&] {
    _rec_file_ele ele{};
    rec_progress progress{};
    t->scanDevice(img.c_str(), 255, onFound, &ele, onProgressWaitForStop, &progress);
  });
  {
    std::unique_lock lock(gStopMutex);
    gStopCv.wait(lock, [] { return gFirstReport; });
  }
  t->stopScan();
  {
    std::lock_guard lock(gStopMutex);
    gStopSent = true;
  }
  gStopCv.notify_all();
  scanner.join();
  ASSERT_FALSE(gProgress.empty());
  EXPECT_LT(gProgress.back().current, gProgress.back().total);
  EXPECT_LE(gProgress.size(), 2u);
}

TEST_F(DiskLib, WhatCannotBeOpenedEndsAtOnce) {
  EXPECT_TRUE(scan(tmp.path() / "missing.img").empty());
  EXPECT_TRUE(gProgress.empty());
  EXPECT_TRUE(scan(tmp.path()).empty());  // a folder is no disk
  ASSERT_FALSE(gLog.empty());
}

class SampleImages : public DiskLib {
 protected:
  fs::path unpack(const std::string& name) {
    fs::path out = tmp.path() / name;
    EXPECT_TRUE(testing::gunzipFile(fs::path(TAMSEL_TESTDATA_DIR) / "disk" / (name + ".gz"), out));
    return out;
  }
};

TEST_F(SampleImages, DeletedFileInADeletedFolderComesBackByteForByte) {
  TAMSEL_REQUIRE_TESTDATA("disk/deleted.img.gz");
  const fs::path img = unpack("deleted.img");
  auto found = scan(img);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "deleted/file.txt");
  EXPECT_EQ(found[0].len, 23u);
  list_disk_struct* disk = diskFor(img);
  EXPECT_EQ(readFound(disk, found[0]), "This file was deleted!\n");
  std::string name = found[0].name;
  _rec_file_ele ele{found[0].start, found[0].len, static_cast<uint32_t>(name.size()), name.data(),
                    nullptr};
  const fs::path out = tmp.path() / "file.txt";
  t->recoverFoundFile(out.c_str(), disk, &ele);
  EXPECT_EQ(readWholeFile(out), "This file was deleted!\n");
}

TEST_F(SampleImages, DamagedImagesEndWithEverythingInsideTheImage) {
  TAMSEL_REQUIRE_TESTDATA("disk/hello-world.img.gz");
  const std::map<std::string, std::set<std::string>> expected = {
      {"hello-world.img", {"hello.txt", "files/other_file.txt"}},
      {"directory-loop.img", {}},
      {"two-file-same-cluster.img", {"a.txt", "b.txt"}},
      {"infinite-file.img", {".BigMamma.swp", "BigMamma"}},
      {"full-fat.img", {}},
      {"repair.img",
       {"file.txt", "files/file.txt", "unallocated/file.txt", "fat1_broken/file.txt"}},
      {"empty.img", {}},
      {"fake-big-disk-1T.img", {}},
  };
  for (const auto& [image, names] : expected) {
    const fs::path img = unpack(image);
    const uint64_t size = fs::file_size(img);
    std::set<std::string> got;
    for (const Found& f : scan(img)) {
      got.insert(f.name);
      EXPECT_LE(f.start + f.len, size) << image << " " << f.name;
      if (f.name == "BigMamma") {
        EXPECT_LE(f.len, 5u * 512) << "the looping chain is cut";
      }
    }
    EXPECT_EQ(got, names) << image;
    ASSERT_FALSE(gProgress.empty()) << image;
    EXPECT_EQ(gProgress.back().current, size) << image;
    fs::remove(img);
  }
}

}  // namespace
}  // namespace tamsel
