#include "raw/disk_tree.h"

#include <algorithm>

#include "raw/volume_names.h"

namespace tamsel {

namespace {
constexpr const char* kPartitionIcon = "partitionImg";
}

PRDiskFileController::PRDiskFileController(const export_function_table* table,
                                           VolumeNameReader reader)
    : table_(table), reader_(reader ? std::move(reader) : VolumeNameReader(getDiskInfo_aux)) {}

int PRDiskFileController::initDisk() {
  diskTable_.fill(nullptr);
  if (table_ == nullptr || table_->initDiskList == nullptr || table_->initDiskList() == 0) {
    return 0;
  }
  if (table_->nextDisk == nullptr) return 1;
  size_t slot = 0;
  while (list_disk_struct* disk = table_->nextDisk()) {
    if (slot < kDiskTableSlots) diskTable_[slot++] = disk;  // further disks are left out
  }
  return 1;
}

std::vector<list_disk_struct*> PRDiskFileController::disks() const {
  std::vector<list_disk_struct*> out;
  for (list_disk_struct* d : diskTable_) {
    if (d == nullptr) break;
    out.push_back(d);
  }
  return out;
}

void PRDiskFileController::initVolumeName() {
  volumeNames_.clear();
  if (table_ == nullptr || table_->diskDevicePath == nullptr) return;
  for (list_disk_struct* disk : disks()) {
    const char* path = table_->diskDevicePath(disk);
    if (path == nullptr) continue;
    volumeNames_[path] = reader_(path);
  }
}

const std::vector<std::string>* PRDiskFileController::volumeNames(
    const std::string& devicePath) const {
  auto it = volumeNames_.find(devicePath);
  return it != volumeNames_.end() ? &it->second : nullptr;
}

std::string PRDiskFileController::getPartName(list_part_struct* part,
                                              const std::string& diskPath) const {
  const int i =
      table_ != nullptr && table_->partitionIndex != nullptr ? table_->partitionIndex(part) : -1;
  const std::vector<std::string>* names = volumeNames(diskPath);
  if (names == nullptr || i < 0 || static_cast<size_t>(i) >= names->size()) return "NO NAME";
  const std::string& name = (*names)[static_cast<size_t>(i)];
  if (std::all_of(name.begin(), name.end(), [](char c) { return c == ' '; })) return "NO NAME";
  return name;
}

void PRDiskFileController::addDeepDeviceList() {
  content_.clear();
  rootNode_.reset();
  if (table_ == nullptr) return;
  for (list_disk_struct* disk : disks()) {
    const char* pathText =
        table_->diskDevicePath != nullptr ? table_->diskDevicePath(disk) : nullptr;
    const std::string path = pathText != nullptr ? pathText : "";
    auto row = std::make_shared<PRDiskInfoNode>();
    row->diskdev = path;
    row->partitionName = path;
    row->partitionIcon = kPartitionIcon;
    row->pSys_Disk = disk;
    row->deviceIndex = 255;
    row->isLeaf = false;
    rootNode_ = row;
    content_.push_back(row);
    if (table_->openDisk == nullptr || table_->openDisk(disk) == 0 ||
        table_->nextPartition == nullptr) {
      continue;
    }
    while (list_part_struct* part = table_->nextPartition()) {
      auto child = std::make_shared<PRDiskInfoNode>();
      if (table_->partitionTypeName != nullptr) {
        if (const char* type = table_->partitionTypeName(part)) child->partitionType = type;
      }
      diskName_ = path;
      child->diskdev = path;
      child->partitionName = getPartName(part, diskName_);
      child->pSys_Part = part;
      child->partitionIcon = kPartitionIcon;
      child->deviceIndex = table_->partitionIndex != nullptr ? table_->partitionIndex(part) : -1;
      child->isLeaf = true;
      row->children.push_back(child);
    }
  }
  for (const auto& row : content_) {
    if (row->children.empty()) row->isLeaf = true;
  }
}

}  // namespace tamsel
