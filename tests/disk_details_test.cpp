// Disk details from a sysfs tree, mount table and udev database written in a temporary folder,
// and from libblkid over small (and damaged) image files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "raw/disk_details.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/temp_folder.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::FatImageWriter;
using testing::TempFolder;
using testing::writeWholeFile;

// A sysfs tree as the kernel lays it out: class/block and dev/block link into devices/.
class FakeSystem {
 public:
  explicit FakeSystem(const fs::path& root) : root_(root) {
    places.sysRoot = (root / "sys").string();
    places.mountInfo = (root / "mountinfo").string();
    places.swaps = (root / "swaps").string();
    places.udevData = (root / "udev").string();
    fs::create_directories(root / "sys" / "class" / "block");
    fs::create_directories(root / "sys" / "dev" / "block");
    fs::create_directories(root / "udev");
  }

  void disk(const std::string& name, const std::string& numbers, uint64_t sectors,
            const std::string& bus = "pci0000:00/ata1/host0") {
    const fs::path dir = root_ / "sys" / "devices" / bus / "block" / name;
    fs::create_directories(dir / "device");
    put(dir / "size", std::to_string(sectors));
    put(dir / "removable", "0");
    put(dir / "dev", numbers);
    link(dir, name, numbers);
  }
  void partition(const std::string& diskName, const std::string& name, int number, uint64_t start,
                 uint64_t sectors, const std::string& numbers) {
    const fs::path dir = fs::canonical(root_ / "sys" / "class" / "block" / diskName) / name;
    fs::create_directories(dir);
    put(dir / "partition", std::to_string(number));
    put(dir / "start", std::to_string(start));
    put(dir / "size", std::to_string(sectors));
    put(dir / "dev", numbers);
    link(dir, name, numbers);
  }
  // A device-mapper or RAID device over `slaves`.
  void stacked(const std::string& name, const std::string& numbers,
               const std::vector<std::string>& slaves) {
    disk(name, numbers, 1000, "virtual");
    const fs::path dir = fs::canonical(root_ / "sys" / "class" / "block" / name);
    fs::create_directories(dir / "slaves");
    for (const std::string& s : slaves) {
      fs::create_directory_symlink(root_ / "sys" / "class" / "block" / s, dir / "slaves" / s);
    }
  }
  // A file of the disk's sysfs folder ("removable", "device/model").
  void set(const std::string& name, const std::string& file, const std::string& text) {
    put(fs::canonical(root_ / "sys" / "class" / "block" / name) / file, text + "\n");
  }
  void udev(const std::string& numbers, const std::string& lines) {
    put(root_ / "udev" / ("b" + numbers), lines);
  }
  void mounts(const std::string& text) { put(root_ / "mountinfo", text); }
  void swaps(const std::string& text) { put(root_ / "swaps", text); }

  DiskPlaces places;

 private:
  static void put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    writeWholeFile(file, text);
  }
  void link(const fs::path& dir, const std::string& name, const std::string& numbers) {
    fs::create_directory_symlink(dir, root_ / "sys" / "class" / "block" / name);
    fs::create_directory_symlink(dir, root_ / "sys" / "dev" / "block" / numbers);
  }
  fs::path root_;
};

// Device names no test machine has, so nothing real is opened.
class DiskDetailsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys.disk("sdzz", "8:240", 1000215216);
    sys.set("sdzz", "device/vendor", "ATA     ");
    sys.set("sdzz", "device/model", "Samsung SSD 870 ");
    sys.partition("sdzz", "sdzz2", 2, 1050624, 999162880, "8:242");
    sys.partition("sdzz", "sdzz1", 1, 2048, 1048576, "8:241");
    sys.disk("mmcblk9", "179:90", 62333952, "platform/mmc0/mmc0:aaaa");
    sys.set("mmcblk9", "device/name", "SD64G");
    sys.set("mmcblk9", "device/type", "SD");
    sys.partition("mmcblk9", "mmcblk9p1", 1, 32768, 62301184, "179:91");
    sys.disk("sdyy", "8:224", 31116288, "pci0000:00/usb1/1-1/host6");
    sys.set("sdyy", "device/vendor", "Generic");
    sys.set("sdyy", "device/model", "Card Reader");
    sys.partition("sdyy", "sdyy1", 1, 2048, 20000000, "8:225");
    sys.partition("sdyy", "sdyy2", 2, 20002048, 11114240, "8:226");
    sys.stacked("dm-9", "253:9", {"sdzz2"});
  }
  TempFolder tmp;
  FakeSystem sys{tmp.path()};
};

TEST_F(DiskDetailsTest, BlockDevicesFromSysfsAndTheUdevDatabase) {
  sys.udev("8:241", "E:ID_FS_TYPE=vfat\nE:ID_FS_LABEL=EFI\n");
  sys.udev("179:91",
           "S:disk/by-label/MY_CARD\nE:ID_FS_LABEL=MY_CARD\n"
           "E:ID_FS_LABEL_ENC=MY\\x20CARD\nE:ID_FS_TYPE=exfat\n");
  sys.set("sdyy", "removable", "1");

  const DiskDetails ssd = readDiskDetails("/dev/sdzz", {}, sys.places);
  EXPECT_TRUE(ssd.known);
  EXPECT_FALSE(ssd.imageFile);
  EXPECT_EQ(ssd.sizeBytes, 1000215216ull * 512);
  EXPECT_EQ(ssd.model, "Samsung SSD 870");  // the "ATA" vendor says nothing
  EXPECT_FALSE(ssd.removable);
  EXPECT_FALSE(ssd.systemDisk);
  ASSERT_EQ(ssd.partitions.size(), 2u);  // in number order, whatever the folder's order
  EXPECT_EQ(ssd.partitions[0].number, 1);
  EXPECT_EQ(ssd.partitions[0].sizeBytes, 1048576ull * 512);
  EXPECT_EQ(ssd.partitions[0].label, "EFI");
  EXPECT_EQ(ssd.partitions[0].fileSystem, "vfat");
  EXPECT_EQ(ssd.partitions[1].number, 2);
  EXPECT_EQ(ssd.partitions[1].fileSystem, "");  // no udev entry
  EXPECT_EQ(ssd.volumeNames(), (std::vector<std::string>{"", "EFI", ""}));

  const DiskDetails card = readDiskDetails("/dev/mmcblk9", {}, sys.places);
  EXPECT_EQ(card.model, "SD64G");
  EXPECT_TRUE(card.removable);  // an SD card, though the reader says 0
  ASSERT_NE(card.partition(1), nullptr);
  EXPECT_EQ(card.partition(1)->label, "MY CARD");  // the escaped form, spaces kept
  EXPECT_EQ(card.partition(1)->fileSystem, "exfat");
  EXPECT_EQ(card.partition(2), nullptr);

  const DiskDetails reader = readDiskDetails("/dev/sdyy", {}, sys.places);
  EXPECT_EQ(reader.model, "Generic Card Reader");
  EXPECT_TRUE(reader.removable);

  sys.disk("vdzz", "254:240", 2048, "pci0000:00/virtio1");
  sys.set("vdzz", "device/vendor", "0x1af4");  // a bus number, no model
  EXPECT_EQ(readDiskDetails("/dev/vdzz", {}, sys.places).model, "");

  // A partition given as the disk: its own size, its disk's model, no partitions.
  const DiskDetails part = readDiskDetails("/dev/mmcblk9p1", {"mmcblk9"}, sys.places);
  EXPECT_EQ(part.sizeBytes, 62301184ull * 512);
  EXPECT_EQ(part.model, "SD64G");
  EXPECT_TRUE(part.systemDisk);
  EXPECT_TRUE(part.partitions.empty());

  EXPECT_FALSE(readDiskDetails("/dev/nosuchdisk", {}, sys.places).known);
  EXPECT_FALSE(readDiskDetails("/dev/../etc", {}, sys.places).known);
}

TEST_F(DiskDetailsTest, SystemDiskFoundThroughTheMountTable) {
  struct Case {
    const char* what;
    std::string mountinfo;
    std::string swaps;
    std::set<std::string> disks;
  };
  const std::string proc = "22 27 0:21 / /proc rw,relatime - proc proc rw\n";
  const std::vector<Case> cases = {
      {"root on a partition",
       proc + "27 1 8:242 / / rw,relatime - ext4 /dev/sdzz2 rw\n",
       "",
       {"sdzz"}},
      {"root on device-mapper over a partition",
       "27 1 253:9 / / rw shared:1 - ext4 /dev/mapper/root rw\n",
       "",
       {"sdzz"}},
      {"boot on one disk, btrfs root without a device number on another",
       "27 1 0:31 /@ / rw - btrfs /dev/sdyy1 rw\n30 27 8:241 / /boot/efi rw - vfat /dev/sdzz1 rw\n",
       "",
       {"sdzz", "sdyy"}},
      {"only a card mounted elsewhere",
       proc + "40 27 179:91 / /media/user/MY\\040CARD rw - exfat /dev/mmcblk9p1 rw\n",
       "",
       {}},
      {"a swap partition",
       proc,
       "Filename\tType\tSize\tUsed\tPriority\n/dev/sdyy2 partition 8000 0 -2\n"
       "/swapfile file 1000 0 -3\n",
       {"sdyy"}},
      {"root on a whole disk", "27 1 179:90 / / rw - ext4 /dev/mmcblk9 rw\n", "", {"mmcblk9"}},
      {"damaged lines", "27 1 8:242\n- - -\n\n27 1 8:242 / / rw - ext4\n", "", {}},
      {"root of a container on an overlay", "300 200 0:50 / / rw - overlay overlay rw\n", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sys.mounts(c.mountinfo);
    sys.swaps(c.swaps);
    EXPECT_EQ(systemDiskNames(sys.places), c.disks);
  }

  sys.mounts("27 1 253:9 / / rw - ext4 /dev/mapper/root rw\n");
  sys.swaps("");
  auto all = readDisksDetails({"/dev/sdzz", "/dev/mmcblk9", "/dev/sdyy"}, sys.places);
  EXPECT_TRUE(all["/dev/sdzz"].systemDisk);
  EXPECT_FALSE(all["/dev/mmcblk9"].systemDisk);
  EXPECT_FALSE(all["/dev/sdyy"].systemDisk);
}

// A FAT16 volume labelled "TESTCARD" (in its root folder and its boot sector).
std::string labelledVolume(uint32_t sectors) {
  FatImageWriter w(sectors);
  w.addRawEntry("", "TESTCARD   ", 0x08, 0, 0);
  w.addFile("A.TXT", "hello");
  std::string v = w.bytes();
  v[38] = 0x29;
  v.replace(43, 11, "TESTCARD   ");
  return v;
}

TEST(DiskDetailsImages, SizeLabelAndFileSystemThroughLibblkid) {
  TempFolder tmp;
  const fs::path mbr = tmp.path() / "card.img";
  const std::string volume = labelledVolume(8192);
  writeWholeFile(mbr, FatImageWriter::inMbrDisk(volume, 2048, 2048 + 8192));
  const DiskDetails d = readDiskDetails(mbr.string(), {});
  EXPECT_TRUE(d.known);
  EXPECT_TRUE(d.imageFile);
  EXPECT_FALSE(d.systemDisk);
  EXPECT_EQ(d.sizeBytes, fs::file_size(mbr));
  ASSERT_EQ(d.partitions.size(), 1u);
  EXPECT_EQ(d.partitions[0].number, 1);
  EXPECT_EQ(d.partitions[0].sizeBytes, 8192u * 512);
  EXPECT_EQ(d.partitions[0].fileSystem, "vfat");
  EXPECT_EQ(d.partitions[0].label, "TESTCARD");
  EXPECT_EQ(d.fileSystem, "");

  // A card formatted without a partition table.
  const fs::path whole = tmp.path() / "whole.dd";
  writeWholeFile(whole, volume);
  const DiskDetails w = readDiskDetails(whole.string(), {});
  EXPECT_TRUE(w.partitions.empty());
  EXPECT_EQ(w.fileSystem, "vfat");
  EXPECT_EQ(w.label, "TESTCARD");
  EXPECT_EQ(w.volumeNames(), std::vector<std::string>{"TESTCARD"});
}

TEST(DiskDetailsImages, DamagedImagesAreDescribedAsFarAsTheyGo) {
  TempFolder tmp;
  const std::string volume = labelledVolume(8192);
  struct Case {
    const char* name;
    std::string bytes;
    size_t partitions;
    uint64_t firstPartitionSize;
  };
  const std::string full = FatImageWriter::inMbrDisk(volume, 2048, 2048 + 8192);
  const std::vector<Case> cases = {
      {"empty.img", "", 0, 0},
      {"noise.bin", std::string(70000, '\xA5'), 0, 0},
      // The table promises 4 MB, the file stops inside the volume: what the file holds.
      {"cut.img", full.substr(0, 2048 * 512 + 100000), 1, 100000},
      // The partition starts past the file's end: libblkid gives no table.
      {"mbr-only.img", full.substr(0, 512), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path p = tmp.path() / c.name;
    writeWholeFile(p, c.bytes);
    const DiskDetails d = readDiskDetails(p.string(), {});
    EXPECT_TRUE(d.imageFile);
    EXPECT_EQ(d.sizeBytes, c.bytes.size());
    ASSERT_EQ(d.partitions.size(), c.partitions);
    if (c.partitions > 0) {
      EXPECT_EQ(d.partitions[0].sizeBytes, c.firstPartitionSize);
    }
  }

  // An image that cannot be opened is still an image of its size, without partitions.
  if (::geteuid() != 0) {
    const fs::path locked = tmp.path() / "locked.img";
    writeWholeFile(locked, full);
    fs::permissions(locked, fs::perms::none);
    const DiskDetails d = readDiskDetails(locked.string(), {});
    EXPECT_EQ(d.sizeBytes, full.size());
    EXPECT_TRUE(d.partitions.empty());
  }
}

}  // namespace
}  // namespace tamsel
