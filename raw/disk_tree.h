// The disk tree: the disks the disk library lists, each with its partitions, labelled with
// their volume names and described with what the system knows of them (size, model, file
// system, removable, system disk: raw/disk_details.h). Built anew each time the disk view
// is shown. The volume-name table is keyed by device path (device names such as /dev/sdb
// or /dev/mmcblk0 do not end in a disk number), so two disks never share their names.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disklib/disklib_api.h"
#include "events/records.h"
#include "raw/disk_details.h"

namespace tamsel {

// The most disks the tree holds; later ones are left out.
inline constexpr size_t kDiskTableSlots = 26;

class PRDiskFileController {
 public:
  // Reads the volume names of the disk at a device path (by default the labels of its
  // details).
  using VolumeNameReader = std::function<std::vector<std::string>(const std::string& devicePath)>;
  // Describes the disks at these device paths (readDisksDetails by default).
  using DetailsReader = std::function<std::map<std::string, DiskDetails>(
      const std::vector<std::string>& devicePaths)>;

  // `table` may be null (no library): every step then does nothing.
  explicit PRDiskFileController(const export_function_table* table, VolumeNameReader reader = {},
                                DetailsReader details = {});

  void setTable(const export_function_table* table) { table_ = table; }
  void setDetailsReader(DetailsReader details);

  // Empties the disk table and fills it from the library: 1, or 0 when the library cannot
  // list disks (initDiskList missing or failing).
  int initDisk();
  // Describes every disk in the table (after initDisk, before initVolumeName).
  void initDiskDetails();
  // Reads the volume names of every disk in the table.
  void initVolumeName();
  // Rebuilds the tree: one disk row per disk, with a partition row per partition.
  void addDeepDeviceList();

  // The label of partition `part` of the disk at `diskPath`: its volume name as listed
  // (padding kept), "NO NAME" when that is blank or when the list has no such entry.
  std::string getPartName(list_part_struct* part, const std::string& diskPath) const;

  const std::string& diskName() const { return diskName_; }
  void setDiskName(std::string name) { diskName_ = std::move(name); }
  // The disk rows, in the library's order.
  const std::vector<std::shared_ptr<PRDiskInfoNode>>& content() const { return content_; }
  // The last disk row created.
  std::shared_ptr<PRDiskInfoNode> rootNode() const { return rootNode_; }
  // The filled slots of the disk table, in order.
  std::vector<list_disk_struct*> disks() const;
  // The volume names read for `devicePath`, or null when none were read.
  const std::vector<std::string>* volumeNames(const std::string& devicePath) const;
  // The details read for `devicePath`, or null.
  const DiskDetails* details(const std::string& devicePath) const;

 private:
  const export_function_table* table_;
  VolumeNameReader reader_;
  DetailsReader detailsReader_;
  std::map<std::string, DiskDetails> details_;
  std::array<list_disk_struct*, kDiskTableSlots> diskTable_{};
  std::map<std::string, std::vector<std::string>> volumeNames_;
  std::string diskName_;
  std::vector<std::shared_ptr<PRDiskInfoNode>> content_;
  std::shared_ptr<PRDiskInfoNode> rootNode_;
};

}  // namespace tamsel
