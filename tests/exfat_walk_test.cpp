// The exFAT walk of the disk library, and the rule both walks keep for deleted entries: a
// deleted file is listed by name only while its clusters are free and its first bytes fit
// its suffix. Volumes come from the exFAT image writer (and from mkfs.exfat when it is
// installed), FAT ones from the FAT image writer. Scans go through the built bblib.so; the
// facts the C table does not carry yet (deleted, times, damage, 64-bit lengths) are read by
// calling the walks directly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disklib/disk_internal.h"
#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/exfat_image_writer.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/png_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/zip_writer.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using disk::FoundFile;
using testing::ExfatImageWriter;
using testing::FatImageWriter;
using testing::Found;
using testing::gLog;
using testing::TempFolder;

std::string pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (seed + i * 7 + i / 97) % 26);
  return s;
}

std::string jpeg(size_t n, char seed) {
  return "\xFF\xD8\xFF\xE0" + pattern(n, seed) + "\xFF\xD9";
}

std::string pngPicture() {
  std::vector<uint8_t> p = fixtures::makePng(24, 24, [](int x, int y) {
    return fixtures::Rgb{static_cast<uint8_t>(x * 9), static_cast<uint8_t>(y * 9), 77};
  });
  return std::string(p.begin(), p.end());
}

int64_t utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(::timegm(&t));
}

class ExfatWalk : public testing::DiskLibHarness {
 protected:
  // The files one walk of the volume at offset 0 reports, by name.
  std::map<std::string, FoundFile> walk(const fs::path& path, bool exfat = true) {
    std::string error;
    std::unique_ptr<disk::Device> device = disk::Device::open(path, error);
    EXPECT_TRUE(device) << error;
    std::map<std::string, FoundFile> out;
    if (!device) return out;
    std::atomic<bool> stop{false};
    disk::WalkBudget budget(device->size());
    const disk::FoundSink sink = [&](FoundFile&& f) {
      out.emplace(f.name, std::move(f));
      return true;
    };
    const bool seen = exfat ? disk::walkExfatVolume(*device, 0, device->size(), stop, sink, budget)
                            : disk::walkFatVolume(*device, 0, device->size(), stop, sink, budget);
    EXPECT_TRUE(seen);
    return out;
  }

  // The 64-bit entry's records by name (name pointers cleared: they die with the call).
  std::map<std::string, tamsel_found_file> wideScan(const fs::path& path) {
    std::map<std::string, tamsel_found_file> out;
    EXPECT_NE(t->scanDeviceFor, nullptr);
    if (t->scanDeviceFor == nullptr) return out;
    t->scanDeviceFor(
        path.c_str(), 255, &out,
        [](void* caller, const tamsel_found_file* f) {
          tamsel_found_file copy = *f;
          copy.name = nullptr;
          static_cast<std::map<std::string, tamsel_found_file>*>(caller)->emplace(
              std::string(f->name, f->name_len), copy);
        },
        nullptr);
    return out;
  }

  // The bytes of a found file, read through the library as the program reads them.
  std::string read(const fs::path& path, const Found& f) {
    t->addDiskImage(path.c_str());
    EXPECT_NE(t->initDiskList(), 0);
    list_disk_struct* d = nullptr;
    while (list_disk_struct* it = t->nextDisk()) {
      if (path.string() == t->diskDevicePath(it)) d = it;
    }
    EXPECT_NE(d, nullptr);
    std::string name = f.name, buffer(f.len, '\0');
    _rec_file_ele ele{f.start, f.len, static_cast<uint32_t>(name.size()), name.data(), nullptr};
    t->readFoundFile(d, buffer.data(), &ele);
    return buffer;
  }

  fs::path save(const ExfatImageWriter& w, const std::string& name = "card.img") {
    const fs::path p = tmp.path() / name;
    w.writeTo(p);
    return p;
  }

  bool logged(const std::string& part) const {
    for (const std::string& l : gLog) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }

  TempFolder tmp;
};

TEST_F(ExfatWalk, LiveFilesComeBackByNameAndPathByteForByte) {
  ExfatImageWriter w(8 << 20);
  const std::map<std::string, std::string> want = {
      {"readme.txt", "read me, card\n"},
      {"DCIM/100CAMERA/IMG_0001.JPG", jpeg(9000, 1)},
      {"DCIM/scattered pieces of a rather long name that takes four name entries.bin",
       pattern(20000, 2)},
      {"Größe – ünïcode 📷.txt", pattern(5000, 3)},
      {"Music/deep/song.mp3", "ID3" + pattern(4200, 4)},
  };
  w.addFile("readme.txt", want.at("readme.txt"));
  w.addDirectory("DCIM", {false, false});  // chained in the FAT
  w.addDirectory("DCIM/100CAMERA");
  w.addFile("DCIM/100CAMERA/IMG_0001.JPG", want.at("DCIM/100CAMERA/IMG_0001.JPG"), {false, false});
  const std::string frag =
      "DCIM/scattered pieces of a rather long name that takes four name "
      "entries.bin";
  w.addFile(frag, want.at(frag), {false, true});
  w.addFile("Größe – ünïcode 📷.txt", want.at("Größe – ünïcode 📷.txt"));
  w.addDirectory("Music", {false, true});
  w.addDirectory("Music/deep", {true, false}, 200);  // over several clusters
  w.addFile("Music/deep/song.mp3", want.at("Music/deep/song.mp3"));
  w.addFile("empty.txt", "");
  const fs::path img = save(w);

  std::map<std::string, Found> found = byName(scan(img));
  std::set<std::string> names;
  for (const auto& [n, f] : found) names.insert(n);
  std::set<std::string> wantNames;
  for (const auto& [n, c] : want) wantNames.insert(n);
  EXPECT_EQ(names, wantNames);  // and nothing carved out of them
  for (const auto& [name, content] : want) {
    ASSERT_TRUE(found.count(name)) << name;
    EXPECT_EQ(found[name].len, content.size()) << name;
    EXPECT_EQ(read(img, found[name]), content) << name;
  }

  std::map<std::string, FoundFile> facts = walk(img);
  ASSERT_TRUE(facts.count(frag));
  EXPECT_GT(facts[frag].extents.size(), 2u);
  const FoundFile& readme = facts["readme.txt"];
  EXPECT_FALSE(readme.deleted);
  EXPECT_FALSE(readme.chainDamaged);
  EXPECT_FALSE(readme.cutAtEnd);
  // Written at UTC+2:00.
  EXPECT_EQ(readme.created, utc(2024, 5, 17, 8, 20, 30));
  EXPECT_EQ(readme.modified, utc(2024, 6, 1, 6, 0, 2));
}

TEST_F(ExfatWalk, DeletedFilesAreListedOnlyWhileTheirClustersAreFreeAndTheirBytesFitTheName) {
  ExfatImageWriter w(8 << 20);
  const std::string png = pngPicture();
  w.addFile("keep.txt", "live\n");
  w.addFile("old photo.jpg", jpeg(12000, 5));
  const std::vector<uint32_t> oldClusters = w.clustersOf("old photo.jpg");
  w.remove("old photo.jpg");
  // First fit: the new file takes the deleted photo's clusters.
  w.addFile("new notes.txt", pattern(12000, 6));
  ASSERT_EQ(w.clustersOf("new notes.txt").front(), oldClusters.front());
  w.addFile("chained.jpg", jpeg(15000, 7), {false, true});
  w.addFile("contiguous.txt", pattern(7000, 8));
  w.addFile("renamed.jpg", png);  // a picture under another format's suffix
  w.addDirectory("gone");
  w.addFile("gone/inside.pdf", "%PDF-1.4\n" + pattern(3000, 9) + "\n%%EOF\n");
  w.addFile("half.jpg", jpeg(9000, 10));
  const std::vector<uint32_t> halfClusters = w.clustersOf("half.jpg");
  w.remove("chained.jpg");
  w.remove("contiguous.txt");
  w.remove("renamed.jpg");
  w.remove("gone");
  w.remove("half.jpg");
  w.setAllocated(halfClusters[1], true);  // a later file took its middle cluster
  const fs::path img = save(w);

  struct Case {
    std::string name;
    bool listed;
    std::string content;
  };
  const Case cases[] = {
      {"keep.txt", true, "live\n"},
      {"new notes.txt", true, pattern(12000, 6)},
      {"old photo.jpg", false, ""},                // its clusters hold the new file now
      {"chained.jpg", true, jpeg(15000, 7)},       // its chain is still in the FAT
      {"contiguous.txt", true, pattern(7000, 8)},  // no signature to check
      {"renamed.jpg", false, ""},                  // PNG bytes: carved instead
      {"gone/inside.pdf", true, "%PDF-1.4\n" + pattern(3000, 9) + "\n%%EOF\n"},
      {"half.jpg", false, ""},  // one of its clusters is in use
  };
  std::map<std::string, Found> found = byName(scan(img));
  std::map<std::string, FoundFile> facts = walk(img);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(found.count(c.name), c.listed ? 1u : 0u);
    ASSERT_EQ(facts.count(c.name), c.listed ? 1u : 0u);
    if (!c.listed) continue;
    EXPECT_EQ(read(img, found[c.name]), c.content);
    const bool live = c.name == "keep.txt" || c.name == "new notes.txt";
    EXPECT_EQ(facts[c.name].deleted, !live);
  }
  // The renamed picture's bytes are left to carving, which finds them as what they are.
  bool carvedPng = false;
  for (const auto& [n, f] : found) {
    if (n.rfind("carved_", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".png") {
      carvedPng = read(img, f) == png;
    }
  }
  EXPECT_TRUE(carvedPng);
  EXPECT_TRUE(logged("3 deleted files not listed by name"));
}

TEST_F(ExfatWalk, BackupBootRegionIsReadWhenTheMainOneFailsItsChecksum) {
  struct Case {
    const char* what;
    bool damageMain, damageBackup;
    uint8_t mainSectorShift;  // 0: as written
    bool found;
    const char* log;
  };
  const Case cases[] = {
      {"both good", false, false, 0, true, nullptr},
      {"main damaged", true, false, 0, true, "the main boot region is damaged, its backup is read"},
      {"backup damaged", false, true, 0, true, nullptr},
      {"both damaged", true, true, 0, false, "neither boot region passes its checksum"},
      // Once shifted a size_t by the field before checking its range.
      {"main sector shift 200", false, false, 200, true, "its backup is read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExfatImageWriter w(4 << 20);
    w.addFile("photo.jpg", jpeg(3000, 1));
    std::string image = w.bytes();
    if (c.damageMain) image[3 * 512 + 7] ^= 0x5A;       // a byte of an extended boot sector
    if (c.damageBackup) image[12 * 512 + 100] ^= 0x01;  // the backup's serial number
    if (c.mainSectorShift != 0) image[108] = static_cast<char>(c.mainSectorShift);
    const fs::path img = tmp.path() / "boot.img";
    testing::writeWholeFile(img, image);
    gLog.clear();
    std::map<std::string, Found> found = byName(scan(img));
    EXPECT_EQ(found.count("photo.jpg"), c.found ? 1u : 0u);
    if (c.log != nullptr) {
      EXPECT_TRUE(logged(c.log));
    }
  }
}

TEST_F(ExfatWalk, HostileEntriesEndTheWalkNotTheScan) {
  ExfatImageWriter w(4 << 20);
  const uint32_t dir = w.addDirectory("loop");
  // A folder that contains itself, and one that is the root folder again.
  w.addRawSet("loop", u"again", dir, w.clusterBytes(), true, /*directory=*/true);
  w.addRawSet("", u"root again", w.rootCluster(), w.clusterBytes(), true, true);
  w.addFile("loop/in.txt", "inside\n");
  // A chain that loops back on itself, claiming far more than it holds.
  const uint32_t looping = w.addFile("looping.bin", pattern(3 * 4096, 1), {false, false});
  w.setFatEntry(looping + 2, looping);
  w.addRawSet("", u"looping2.bin", looping, 1ull << 40, false);
  // Clusters outside the volume, and a contiguous file running past the volume's end.
  w.addRawSet("", u"far.bin", 0x0FFFFFF0u, 5000, true);
  const uint32_t tail = w.clusterCount() - 1;
  w.addRawSet("", u"tail.bin", tail, 10 * w.clusterBytes(), true);
  // Names that are no clean path component.
  w.addFile("plain.txt", "plain\n");
  const uint32_t plain = w.clustersOf("plain.txt").front();
  w.addRawSet("", u"..", plain, 6, true);
  w.addRawSet("", u"a/b\x01\x7f", plain, 6, true);
  w.addRawSet("", std::u16string(1, u'\xD800') + u"x", plain, 6, true);  // a lone surrogate
  // A set whose checksum does not match.
  const uint64_t bad = w.addRawSet("", u"bad sum.txt", plain, 6, true);
  std::string image = w.bytes();
  image[bad + 2] ^= 0x01;
  const fs::path img = tmp.path() / "hostile.img";
  testing::writeWholeFile(img, image);

  std::map<std::string, Found> found = byName(scan(img));
  EXPECT_TRUE(found.count("loop/in.txt"));
  EXPECT_FALSE(found.count("loop/again/in.txt"));
  EXPECT_FALSE(found.count("root again/plain.txt"));
  EXPECT_FALSE(found.count("far.bin"));
  EXPECT_FALSE(found.count("bad sum.txt"));
  EXPECT_TRUE(found.count("__"));
  EXPECT_TRUE(found.count("a_b__"));
  EXPECT_TRUE(found.count("\xEF\xBF\xBDx"));
  EXPECT_TRUE(logged("checksum does not match"));
  for (const auto& [n, f] : found) {
    EXPECT_LE(f.start + f.len, fs::file_size(img)) << n;
    EXPECT_EQ(n.find(".."), std::string::npos) << n;
  }

  std::map<std::string, FoundFile> facts = walk(img);
  ASSERT_TRUE(facts.count("looping2.bin"));
  EXPECT_TRUE(facts["looping2.bin"].chainDamaged);
  EXPECT_EQ(facts["looping2.bin"].len, 3 * w.clusterBytes());
  EXPECT_EQ(facts["looping2.bin"].declaredLen, 1ull << 40);
  ASSERT_TRUE(facts.count("tail.bin"));
  EXPECT_TRUE(facts["tail.bin"].chainDamaged);  // the volume ends inside it
  EXPECT_EQ(facts["tail.bin"].len, 3 * w.clusterBytes());

  // The table's 64-bit records carry the same: what the disk holds and what the entry says.
  std::map<std::string, tamsel_found_file> wide = wideScan(img);
  ASSERT_TRUE(wide.count("looping2.bin"));
  EXPECT_EQ(wide["looping2.bin"].flags, TAMSEL_FOUND_CHAIN_DAMAGED);
  EXPECT_EQ(wide["looping2.bin"].file_len, 3 * w.clusterBytes());
  EXPECT_EQ(wide["looping2.bin"].declared_len, 1ull << 40);
  ASSERT_TRUE(wide.count("plain.txt"));
  EXPECT_EQ(wide["plain.txt"].flags, 0u);
  EXPECT_EQ(wide["plain.txt"].declared_len, 6u);
  EXPECT_EQ(wide["plain.txt"].modify_time, utc(2024, 6, 1, 6, 0, 2));
}

TEST_F(ExfatWalk, ImageCutShortMarksTheFilesItCuts) {
  ExfatImageWriter w(4 << 20);
  w.addFile("first.txt", pattern(3000, 1));
  w.addFile("cut.txt", pattern(9000, 2));
  const uint64_t cutAt = w.clusterOffset(w.clustersOf("cut.txt")[1]) + 100;
  const fs::path img = tmp.path() / "cut.img";
  testing::writeWholeFile(img, w.bytes().substr(0, cutAt));
  std::map<std::string, FoundFile> facts = walk(img);
  ASSERT_TRUE(facts.count("first.txt"));
  EXPECT_FALSE(facts["first.txt"].cutAtEnd);
  ASSERT_TRUE(facts.count("cut.txt"));
  EXPECT_TRUE(facts["cut.txt"].cutAtEnd);
  EXPECT_FALSE(facts["cut.txt"].chainDamaged);
  EXPECT_EQ(facts["cut.txt"].start + facts["cut.txt"].len, cutAt);
}

TEST_F(ExfatWalk, FileOverFourGiBKeepsItsWholeLengthInTheWalk) {
  // A 6 GiB volume of 1 MiB clusters whose metadata fills the first 4 MiB; the rest is a
  // hole in the image file.
  ExfatImageWriter w(6ull << 30, 11, 4 << 20);
  const uint64_t big = (5ull << 30) + 12345;
  const uint32_t first = 5;
  for (uint32_t c = first; c < first + 5121; ++c) w.setAllocated(c, true);
  w.addRawSet("", u"big.mov", first, big, true);
  const fs::path img = save(w, "big.img");
  ASSERT_EQ(fs::file_size(img), 6ull << 30);
  std::map<std::string, FoundFile> facts = walk(img);
  ASSERT_TRUE(facts.count("big.mov"));
  EXPECT_EQ(facts["big.mov"].len, big);
  EXPECT_EQ(facts["big.mov"].start, w.clusterOffset(first));
  EXPECT_TRUE(facts["big.mov"].extents.empty());
  EXPECT_FALSE(facts["big.mov"].cutAtEnd);
}

// mkfs.exfat, searched for in PATH and in the system folders; empty when not installed.
std::string findMkfs() {
  std::string dirs = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin";
  for (size_t from = 0; from <= dirs.size();) {
    size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const fs::path p = fs::path(dirs.substr(from, colon - from)) / "mkfs.exfat";
    if (!p.parent_path().empty() && ::access(p.c_str(), X_OK) == 0) return p.string();
    from = colon + 1;
  }
  return "";
}

TEST_F(ExfatWalk, VolumeMadeByMkfsWithFilesAddedGivesAllThreeByNameAndPath) {
  const std::string mkfs = findMkfs();
  if (mkfs.empty()) GTEST_SKIP() << "mkfs.exfat is not installed (package exfatprogs)";
  const fs::path img = tmp.path() / "mkfs.img";
  testing::writeWholeFile(img, std::string(16 << 20, '\0'));
  const std::string command = mkfs + " -L CARD '" + img.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  ExfatImageWriter w = ExfatImageWriter::open(testing::readWholeFile(img));
  const std::string picture = pngPicture(), text = "shopping list\nmilk\n";
  std::string program =
      "\x7F"
      "ELF\x02\x01\x01" +
      pattern(30000, 4);
  w.addFile("picture.png", picture);
  w.addFile("notes.txt", text, {false, false});
  w.addDirectory("bin");
  w.addFile("bin/tool", program, {false, true});
  w.writeTo(img);

  std::map<std::string, Found> found = byName(scan(img));
  const std::map<std::string, std::string> want = {
      {"picture.png", picture}, {"notes.txt", text}, {"bin/tool", program}};
  for (const auto& [name, content] : want) {
    ASSERT_TRUE(found.count(name)) << name;
    EXPECT_EQ(read(img, found[name]), content) << name;
  }
  EXPECT_EQ(found.size(), want.size());
}

// A deleted fragmented FAT file (no chain kept) would read its gaps' bytes: it is not listed
// under its name, while a whole one still is.
TEST_F(ExfatWalk, FatDeletedFragmentedFileIsNotListedWithItsGapsBytes) {
  FatImageWriter w(8192);
  const std::string split = jpeg(3000, 5), whole = jpeg(2000, 6);
  // An archive's end record ends in zero bytes (an empty comment): still a whole archive.
  std::vector<uint8_t> noise(3000);
  uint32_t x = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  fixtures::writeZip(tmp.path() / "a.zip", {{"letter.bin", noise}});
  const std::string archive = testing::readWholeFile(tmp.path() / "a.zip");
  w.addFile("split.jpg", split, /*deleted=*/true, /*fragmented=*/true);
  w.addFile("whole.jpg", whole, /*deleted=*/true);
  w.addFile("letter.docx", archive, /*deleted=*/true);
  w.addFile("split.zip", archive, /*deleted=*/true, /*fragmented=*/true);
  const fs::path img = tmp.path() / "fat.img";
  w.writeTo(img);
  std::map<std::string, Found> found = byName(scan(img));
  EXPECT_EQ(found.count("split.jpg"), 0u);
  EXPECT_EQ(found.count("split.zip"), 0u);
  ASSERT_EQ(found.count("whole.jpg"), 1u);
  EXPECT_EQ(read(img, found["whole.jpg"]), whole);
  ASSERT_EQ(found.count("letter.docx"), 1u);
  EXPECT_EQ(read(img, found["letter.docx"]), archive);
}

// FAT: the same rule for deleted entries.
TEST_F(ExfatWalk, FatDeletedEntryWhoseClustersAnotherFileTookIsNotListed) {
  FatImageWriter w(8192);
  const std::string live = pattern(1500, 1), photo = jpeg(1400, 2);
  const uint32_t liveFirst = w.addFile("LIVE.TXT", live);
  // An older photo's entry whose clusters the live file took.
  w.addRawEntry("", "\xE5LD     JPG", 0x20, liveFirst, 1500);
  w.addFile("old photo.jpg", photo, /*deleted=*/true);
  w.addFile("not a photo.jpg", pattern(900, 3), /*deleted=*/true);
  w.addFile("deleted notes.txt", pattern(700, 4), /*deleted=*/true);
  const fs::path img = tmp.path() / "fat.img";
  w.writeTo(img);

  std::map<std::string, Found> found = byName(scan(img));
  std::set<std::string> names;
  for (const auto& [n, f] : found) names.insert(n);
  EXPECT_EQ(names, (std::set<std::string>{"LIVE.TXT", "old photo.jpg", "deleted notes.txt"}));
  EXPECT_EQ(read(img, found["old photo.jpg"]), photo);
  EXPECT_TRUE(logged("2 deleted files not listed by name"));

  std::map<std::string, FoundFile> facts = walk(img, /*exfat=*/false);
  EXPECT_FALSE(facts["LIVE.TXT"].deleted);
  EXPECT_TRUE(facts["old photo.jpg"].deleted);
  EXPECT_EQ(facts["old photo.jpg"].declaredLen, photo.size());
}

TEST_F(ExfatWalk, FatDeletedFolderWhoseClusterANewFolderTookIsNotReadAsDeleted) {
  FatImageWriter w(8192);
  const uint32_t fresh = w.addDirectory("NEW");
  w.addFile("NEW/FILE.TXT", "live file in a new folder\n");
  // Read first (the walk takes the last folder it met first).
  w.addRawEntry("", "\xE5OLD       ", 0x10, fresh, 0);
  const fs::path img = tmp.path() / "fat.img";
  w.writeTo(img);
  std::map<std::string, FoundFile> facts = walk(img, /*exfat=*/false);
  ASSERT_EQ(facts.size(), 1u);
  ASSERT_TRUE(facts.count("NEW/FILE.TXT"));
  EXPECT_FALSE(facts["NEW/FILE.TXT"].deleted);
}

// A chain that comes back to a cluster it passed before its entry's size is reached (here
// the eighth of ten clusters leads back to the fifth) ends where the loop closes and is
// marked damaged, on FAT and on exFAT alike; a loop that closes only past the size does not
// matter.
TEST_F(ExfatWalk, AChainThatLoopsWithinItsSizeEndsWhereTheLoopCloses) {
  struct Case {
    bool exfat;
    uint32_t from, to;  // the link set, as clusters after the first
    uint64_t clusters;  // what the walk keeps
    bool damaged;
  };
  const Case cases[] = {{false, 7, 4, 8, true},
                        {true, 7, 4, 8, true},
                        {false, 1, 0, 2, true},
                        {true, 9, 0, 10, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.exfat ? "exFAT " : "FAT ") + std::to_string(c.from) + "->" +
                 std::to_string(c.to));
    fs::path img;
    uint64_t clusterBytes = 0;
    if (c.exfat) {
      ExfatImageWriter w(4 << 20);
      clusterBytes = w.clusterBytes();
      const uint32_t first = w.addFile("clip.mov", pattern(10 * clusterBytes, 5), {false, false});
      w.setFatEntry(first + c.from, first + c.to);
      img = save(w);
    } else {
      FatImageWriter w(8192);
      clusterBytes = w.clusterBytes();
      const uint32_t first = w.addFile("CLIP.MOV", pattern(10 * clusterBytes, 5));
      w.setFatEntry(first + c.from, first + c.to);
      img = tmp.path() / "fat.img";
      w.writeTo(img);
    }
    std::map<std::string, FoundFile> facts = walk(img, c.exfat);
    ASSERT_EQ(facts.size(), 1u);
    const FoundFile& f = facts.begin()->second;
    EXPECT_EQ(f.len, c.clusters * clusterBytes);
    EXPECT_EQ(f.chainDamaged, c.damaged);
    EXPECT_EQ(f.declaredLen, 10 * clusterBytes);
    EXPECT_EQ(f.extents.size(), 0u);  // one run: no cluster is read twice
  }
}

TEST(DeletedHeadCheck, SignaturesBySuffix) {
  struct Case {
    const char* name;
    std::string head;
    bool agrees;
  };
  const Case cases[] = {
      {"a.jpg", "\xFF\xD8\xFF\xE1", true},
      {"DIR.X/A.JPEG", "\xFF\xD8\xFF\xDB", true},
      {"a.jpg", "\x89PNG\r\n\x1A\n", false},
      {"a.png", "\x89PNG\r\n\x1A\n", true},
      {"a.mov",
       std::string("\0\0\0\x14"
                   "ftypqt  ",
                   12),
       true},
      {"a.mov",
       std::string("\0\0\0\x08"
                   "wide",
                   8),
       true},
      {"a.mp4",
       std::string("\0\0\0\x08"
                   "wide",
                   8),
       false},
      {"a.docx", "PK\x03\x04", true},
      {"a.docx", "%PDF", false},
      {"a.mp3", "\xFF\xFB\x90", true},
      {"a.mp3", "\xFF\x0B\x90", false},
      {"a.tif", std::string("MM\0*", 4), true},
      {"a.jpg", "\xFF\xD8", false},  // too short to hold the signature
      {"notes.txt", "anything", true},
      {"no suffix", "anything", true},
      {"dir.jpg/file", "anything", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(disk::headAgreesWithName(c.name, reinterpret_cast<const uint8_t*>(c.head.data()),
                                       c.head.size()),
              c.agrees)
        << c.name;
  }
}

}  // namespace
}  // namespace tamsel
