// The disk tree from a disk-library table built in the test: rows, labels from the volume
// names keyed by device path, the 26-disk table, lsblk's listing, and the disk view's
// selection rules.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/disk_view_controller.h"
#include "app/orlisk_app_delegate.h"
#include "raw/disk_tree.h"
#include "raw/volume_names.h"

namespace tamsel {
namespace {

// The fake library: disks with paths and partitions given by each test.
struct FakePart {
  int index;
  const char* type;
};
struct FakeDisk {
  std::string path;
  std::vector<FakePart> parts;
};
std::vector<FakeDisk> gDisks;
size_t gNextDisk = 0, gNextPart = 0;
FakeDisk* gOpened = nullptr;
int gInitResult = 1;

int fInit() {
  gNextDisk = 0;
  return gInitResult;
}
list_disk_struct* fNextDisk() {
  return gNextDisk < gDisks.size() ? reinterpret_cast<list_disk_struct*>(&gDisks[gNextDisk++])
                                   : nullptr;
}
const char* fPath(list_disk_struct* d) {
  return reinterpret_cast<FakeDisk*>(d)->path.c_str();
}
int fOpen(list_disk_struct* d) {
  gOpened = reinterpret_cast<FakeDisk*>(d);
  gNextPart = 0;
  return 1;
}
list_part_struct* fNextPart() {
  if (gOpened == nullptr || gNextPart >= gOpened->parts.size()) return nullptr;
  return reinterpret_cast<list_part_struct*>(&gOpened->parts[gNextPart++]);
}
int fIndex(list_part_struct* p) {
  return reinterpret_cast<FakePart*>(p)->index;
}
const char* fType(list_part_struct* p) {
  return reinterpret_cast<FakePart*>(p)->type;
}

export_function_table fakeTable() {
  export_function_table t{};
  t.initDiskList = fInit;
  t.nextDisk = fNextDisk;
  t.diskDevicePath = fPath;
  t.openDisk = fOpen;
  t.nextPartition = fNextPart;
  t.partitionIndex = fIndex;
  t.partitionTypeName = fType;
  return t;
}

class DiskTree : public ::testing::Test {
 protected:
  void SetUp() override {
    gDisks.clear();
    gInitResult = 1;
    table = fakeTable();
  }
  PRDiskFileController build(std::map<std::string, std::vector<std::string>> names) {
    PRDiskFileController c(&table, [names](const std::string& path) {
      auto it = names.find(path);
      return it != names.end() ? it->second : std::vector<std::string>{};
    });
    EXPECT_EQ(c.initDisk(), 1);
    c.initVolumeName();
    c.addDeepDeviceList();
    return c;
  }
  export_function_table table;
};

TEST_F(DiskTree, DisksEndingInTheSameDigitKeepTheirOwnVolumeNames) {
  gDisks = {{"/dev/mmcblk0", {{1, "vfat"}, {2, nullptr}}}, {"/dev/loop0", {{1, "exfat"}}}};
  PRDiskFileController c =
      build({{"/dev/mmcblk0", {"", "CARD       ", "   "}}, {"/dev/loop0", {"", "IMAGE"}}});
  const auto& rows = c.content();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]->diskdev, "/dev/mmcblk0");
  EXPECT_EQ(rows[0]->partitionName, "/dev/mmcblk0");
  EXPECT_EQ(rows[0]->deviceIndex, 255);
  EXPECT_EQ(rows[0]->pSys_Disk, reinterpret_cast<list_disk_struct*>(&gDisks[0]));
  EXPECT_FALSE(rows[0]->isLeaf);
  ASSERT_EQ(rows[0]->children.size(), 2u);
  const auto& p1 = rows[0]->children[0];
  EXPECT_EQ(p1->partitionName, "CARD       ");  // padding kept
  EXPECT_EQ(p1->partitionType, "vfat");
  EXPECT_EQ(p1->diskdev, "/dev/mmcblk0");
  EXPECT_EQ(p1->deviceIndex, 1);
  EXPECT_EQ(p1->partitionIcon, "partitionImg");
  EXPECT_TRUE(p1->isLeaf);
  EXPECT_EQ(rows[0]->children[1]->partitionName, "NO NAME");  // only spaces
  EXPECT_EQ(rows[0]->children[1]->partitionType, "");
  ASSERT_EQ(rows[1]->children.size(), 1u);
  EXPECT_EQ(rows[1]->children[0]->partitionName, "IMAGE");
  EXPECT_EQ(c.rootNode(), rows[1]);
  EXPECT_EQ(c.diskName(), "/dev/loop0");
}

TEST_F(DiskTree, IndexOutsideTheNamesOrNoNamesGivesALabel) {
  gDisks = {
      {"/dev/sdb", {{5, "vfat"}, {-1, "vfat"}}}, {"/dev/sdc", {{1, "ntfs"}}}, {"/dev/sdd", {}}};
  PRDiskFileController c = build({{"/dev/sdb", {"", "ONE"}}});
  EXPECT_EQ(c.content()[0]->children[0]->partitionName, "NO NAME");
  EXPECT_EQ(c.content()[0]->children[1]->partitionName, "NO NAME");
  EXPECT_EQ(c.content()[1]->children[0]->partitionName, "NO NAME");
  EXPECT_TRUE(c.content()[2]->isLeaf);  // a disk without partitions

  table.partitionIndex = nullptr;  // a library without the entry
  PRDiskFileController d = build({{"/dev/sdb", {"", "ONE"}}});
  EXPECT_EQ(d.content()[0]->children[0]->partitionName, "NO NAME");
  EXPECT_EQ(d.content()[0]->children[0]->deviceIndex, -1);
}

TEST_F(DiskTree, TableHoldsTwentySixDisksAndFailingListingLeavesItEmpty) {
  for (int i = 0; i < 30; ++i) gDisks.push_back({"/dev/sd" + std::to_string(i), {}});
  PRDiskFileController c = build({});
  EXPECT_EQ(c.content().size(), kDiskTableSlots);
  EXPECT_EQ(c.disks().size(), kDiskTableSlots);

  gInitResult = 0;
  PRDiskFileController none(&table);
  EXPECT_EQ(none.initDisk(), 0);
  none.initVolumeName();
  none.addDeepDeviceList();
  EXPECT_TRUE(none.content().empty());
  PRDiskFileController noLibrary(nullptr);
  EXPECT_EQ(noLibrary.initDisk(), 0);
  noLibrary.addDeepDeviceList();
  EXPECT_TRUE(noLibrary.content().empty());
}

TEST(VolumeNames, LsblkListingLinesUpWithPartitionNumbers) {
  const char* json = R"({"blockdevices": [{"name": "mmcblk0", "label": null, "type": "disk",
      "children": [{"name": "mmcblk0p2", "label": "DATA", "type": "part"},
                   {"name": "mmcblk0p1", "label": null, "type": "part"},
                   {"name": "odd", "label": "X", "type": "part"}]}]})";
  auto number = [](const std::string& name) {
    return name == "mmcblk0p1" ? 1 : name == "mmcblk0p2" ? 2 : -1;
  };
  EXPECT_EQ(volumeNamesFromLsblk(json, number), (std::vector<std::string>{"", "", "DATA"}));
  EXPECT_EQ(
      volumeNamesFromLsblk(R"({"blockdevices": [{"name": "sdb", "label": "WHOLE"}]})", number),
      (std::vector<std::string>{"WHOLE"}));
  EXPECT_TRUE(volumeNamesFromLsblk("not json", number).empty());
  EXPECT_TRUE(volumeNamesFromLsblk(R"({"blockdevices": []})", number).empty());
  EXPECT_TRUE(getDiskInfo_aux("/nonexistent/disk").empty());
}

TEST(VolumeNames, ProgramsRunWithoutAShell) {
  auto out = runProgramOutput({"printf", "%s", "a; echo injected $(id)"});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "a; echo injected $(id)");
  EXPECT_FALSE(runProgramOutput({"false"}));
  EXPECT_FALSE(runProgramOutput({"/nonexistent/program"}));
  auto capped = runProgramOutput({"printf", "%s", "0123456789"}, 4);
  ASSERT_TRUE(capped);
  EXPECT_EQ(*capped, "0123");
}

TEST(DiskView, SelectionPicksTheRowsDiskAndScanNeedsARow) {
  OrliskAppDelegate app;
  PRDiskViewController view(app);
  EXPECT_FALSE(view.CilckScan());  // nothing selected: refused, nothing started
  EXPECT_FALSE(app.rawScanRunning());
  auto row = std::make_shared<PRDiskInfoNode>();
  row->diskdev = "/dev/sdz";
  row->deviceIndex = 1;
  view.outlineViewSelectionDidChange(row);
  EXPECT_EQ(view.currentScanNode(), row);
  EXPECT_EQ(app.currentDiskName, "/dev/sdz");
  view.outlineViewSelectionDidChange(nullptr);  // no selection leaves it
  EXPECT_EQ(view.currentScanNode(), row);
  view.showView();  // no library: an empty tree
  EXPECT_TRUE(view.diskFileController().content().empty());
  EXPECT_TRUE(app.diskHandles.empty());
}

}  // namespace
}  // namespace tamsel
