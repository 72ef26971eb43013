// The disk tree over a disk-library table built in the test, the disk view's selection and
// system-disk rules, and the added image files kept between runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/disk_view_controller.h"
#include "app/orlisk_app_delegate.h"
#include "raw/disk_tree.h"
#include "raw/volume_names.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace fs = std::filesystem;

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
    return buildWith(PRDiskFileController::VolumeNameReader([names](const std::string& path) {
      auto it = names.find(path);
      return it != names.end() ? it->second : std::vector<std::string>{};
    }));
  }
  // The volume names from `reader`, or from the details when there is none.
  PRDiskFileController buildWith(PRDiskFileController::VolumeNameReader reader) {
    PRDiskFileController c(&table, std::move(reader),
                           [this](const std::vector<std::string>& paths) {
                             std::map<std::string, DiskDetails> out;
                             for (const std::string& p : paths) {
                               if (details.count(p) != 0) out[p] = details[p];
                             }
                             return out;
                           });
    EXPECT_EQ(c.initDisk(), 1);
    c.initDiskDetails();
    c.initVolumeName();
    c.addDeepDeviceList();
    return c;
  }
  export_function_table table;
  std::map<std::string, DiskDetails> details;
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

TEST_F(DiskTree, RowsCarryTheDisksDetailsAndLabels) {
  gDisks = {{"/dev/sdq", {{1, "vfat"}, {2, nullptr}, {3, nullptr}}}, {"/dev/sdr", {{1, "vfat"}}}};
  DiskDetails& q = details["/dev/sdq"];
  q.sizeBytes = 2000000000;
  q.model = "Kingston DataTraveler";
  q.removable = true;
  q.partitions = {{1, 1500000, "HOLIDAY", "vfat"}, {2, 500, "  ", "ntfs"}};
  DiskDetails& r = details["/dev/sdr"];
  r.sizeBytes = 5368709120;
  r.systemDisk = true;
  r.label = "WHOLE";

  PRDiskFileController c = buildWith({});
  const auto& rows = c.content();
  ASSERT_EQ(rows.size(), 2u);
  const PRDiskInfoNode& disk = *rows[0];
  EXPECT_EQ(disk.partitionName, "/dev/sdq");
  EXPECT_EQ(disk.sizeBytes, 2000000000u);
  EXPECT_EQ(disk.partitionSizeString, "2.00G");
  EXPECT_EQ(disk.model, "Kingston DataTraveler");
  EXPECT_TRUE(disk.bRemovable);
  EXPECT_FALSE(disk.bSystemDisk);
  ASSERT_EQ(disk.children.size(), 3u);
  struct Expected {
    const char* name;
    const char* size;
    const char* type;
  };
  const Expected parts[] = {{"HOLIDAY", "1.50M", "vfat"},    // label from the details
                            {"NO NAME", "500.00B", "ntfs"},  // the probe's file system
                            {"NO NAME", "0KB", ""}};         // a partition the system does not know
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const PRDiskInfoNode& p = *disk.children[i];
    EXPECT_EQ(p.partitionName, parts[i].name);
    EXPECT_EQ(p.partitionSizeString, parts[i].size);
    EXPECT_EQ(p.partitionType, parts[i].type);
    EXPECT_EQ(p.model, "Kingston DataTraveler");
    EXPECT_TRUE(p.bRemovable);
  }
  EXPECT_EQ(disk.children[0]->volumeLabel, "HOLIDAY");
  EXPECT_EQ(disk.children[2]->sizeBytes, 0u);

  // Every row of the system disk is marked; an unlisted partition keeps the library's type.
  EXPECT_TRUE(rows[1]->bSystemDisk);
  EXPECT_EQ(rows[1]->partitionSizeString, "5.37G");
  EXPECT_EQ(rows[1]->volumeLabel, "WHOLE");
  ASSERT_EQ(rows[1]->children.size(), 1u);
  EXPECT_TRUE(rows[1]->children[0]->bSystemDisk);
  EXPECT_EQ(rows[1]->children[0]->partitionType, "vfat");

  // Without details nothing is made up.
  details.clear();
  PRDiskFileController bare = buildWith({});
  EXPECT_EQ(bare.content()[0]->partitionSizeString, "0KB");
  EXPECT_EQ(bare.content()[0]->model, "");
  EXPECT_FALSE(bare.content()[1]->bSystemDisk);
  EXPECT_EQ(bare.content()[0]->children[0]->partitionName, "NO NAME");
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

// Records what it is asked; without an answer it answers as a view without a window.
class RecordingView : public DiskView {
 public:
  explicit RecordingView(std::optional<bool> answer) : answer_(answer) {}
  bool confirmSystemDiskScan(const PRDiskInfoNode& row) override {
    asked.push_back(row.diskdev);
    return answer_ ? *answer_ : DiskView::confirmSystemDiskScan(row);
  }
  void fixWindowSize(int, int) override { ++resized; }
  std::vector<std::string> asked;
  int resized = 0;

 private:
  std::optional<bool> answer_;
};

TEST(DiskView, TheSystemDiskIsScannedOnlyWhenTheUserSaysSo) {
  OrliskAppDelegate app;
  auto row = std::make_shared<PRDiskInfoNode>();
  row->diskdev = "/dev/sdz";
  row->deviceIndex = 2;
  row->bSystemDisk = true;

  RecordingView no(false);
  PRDiskViewController refused(app, &no);
  refused.outlineViewSelectionDidChange(row);
  EXPECT_FALSE(refused.CilckScan());
  EXPECT_EQ(no.asked, std::vector<std::string>{"/dev/sdz"});
  EXPECT_EQ(no.resized, 0);  // the view is left as it was
  EXPECT_FALSE(app.rawScanRunning());
  EXPECT_FALSE(app.brawScan_);

  // Headless (the command line), the caller named the device itself: it is scanned.
  RecordingView headless(std::nullopt);
  PRDiskViewController cli(app, &headless);
  cli.outlineViewSelectionDidChange(row);
  cli.CilckScan();
  EXPECT_EQ(headless.resized, 1);
  app.waitForRawScan();

  // A card is not asked about.
  RecordingView yes(true);
  PRDiskViewController card(app, &yes);
  auto cardRow = std::make_shared<PRDiskInfoNode>(*row);
  cardRow->bSystemDisk = false;
  card.outlineViewSelectionDidChange(cardRow);
  card.CilckScan();
  EXPECT_TRUE(yes.asked.empty());
  EXPECT_EQ(yes.resized, 1);
  app.waitForRawScan();
}

TEST(AddedImages, KeptBetweenRunsAndGoneFilesDropped) {
  testing::TempFolder tmp;
  const fs::path list = tmp.path() / "config" / "tamsel" / "disk-images";
  EXPECT_TRUE(readImageList(list.string()).empty());
  const fs::path one = tmp.path() / "one.img", two = tmp.path() / "two card.dd";
  testing::FatImageWriter w(8192);
  w.writeTo(one);
  w.writeTo(two);
  const fs::path gone = tmp.path() / "gone.img";
  ASSERT_TRUE(writeImageList(list.string(), {one.string(), gone.string(), one.string()}));
  EXPECT_EQ(readImageList(list.string()), (std::vector<std::string>{one.string(), gone.string()}));

  std::vector<std::string> logged;
  LogSink previous = setLogSink([&](std::string_view line) { logged.emplace_back(line); });
  OrliskAppDelegate app(nullptr, tmp.path() / "work");
  ASSERT_TRUE(app.initDll(TAMSEL_DISKLIB_PATH));
  auto listed = [](PRDiskViewController& c, const fs::path& p) {
    for (const auto& row : c.rows()) {
      if (row->diskdev == p.string()) return row;
    }
    return std::shared_ptr<PRDiskInfoNode>();
  };
  {
    PRDiskViewController first(app, nullptr, {}, list.string());
    first.showView();
    EXPECT_EQ(first.addedImages(), std::vector<std::string>{one.string()});
    auto row = listed(first, one);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->bImageFile);
    EXPECT_EQ(row->sizeBytes, fs::file_size(one));
    EXPECT_EQ(row->fileSystem, "vfat");
    EXPECT_EQ(listed(first, gone), nullptr);
    EXPECT_EQ(readImageList(list.string()), std::vector<std::string>{one.string()});
    bool saidSo = false;
    for (const std::string& l : logged) saidSo |= l.find(gone.string()) != std::string::npos;
    EXPECT_TRUE(saidSo);

    EXPECT_FALSE(first.addImageFile((tmp.path() / "missing.img").string()));
    EXPECT_FALSE(first.addImageFile(tmp.path().string()));  // a folder
    EXPECT_TRUE(first.addImageFile(two.string()));
    EXPECT_NE(listed(first, two), nullptr);         // listed at once
    EXPECT_TRUE(first.addImageFile(two.string()));  // twice: kept once
  }
  EXPECT_EQ(readImageList(list.string()), (std::vector<std::string>{one.string(), two.string()}));
  PRDiskViewController next(app, nullptr, {}, list.string());
  next.showView();
  EXPECT_EQ(next.addedImages(), (std::vector<std::string>{one.string(), two.string()}));
  EXPECT_NE(listed(next, two), nullptr);

  // Removing with the list file gone: the rest is written anew; the image file stays.
  fs::remove(list);
  EXPECT_TRUE(next.removeImageFile(one.string()));
  EXPECT_EQ(readImageList(list.string()), std::vector<std::string>{two.string()});
  EXPECT_EQ(listed(next, one), nullptr);
  EXPECT_TRUE(fs::exists(one));
  EXPECT_FALSE(next.removeImageFile(one.string()));  // no longer on the list
  setLogSink(previous);
}

}  // namespace
}  // namespace tamsel
