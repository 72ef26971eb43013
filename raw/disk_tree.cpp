#include "raw/disk_tree.h"

#include <algorithm>

#include "util/format.h"

namespace tamsel {

namespace {
constexpr const char* kPartitionIcon = "partitionImg";

// Puts what the system says of a disk (and of the row's own partition) on a row.
void describe(PRDiskInfoNode& row, const DiskDetails& disk, uint64_t size, const std::string& label,
              const std::string& fileSystem) {
  row.sizeBytes = size;
  if (size > 0) row.partitionSizeString = size_to_unit(size);
  row.model = disk.model;
  row.volumeLabel = label;
  row.fileSystem = fileSystem;
  row.bRemovable = disk.removable;
  row.bSystemDisk = disk.systemDisk;
  row.bImageFile = disk.imageFile;
}
}  // namespace

PRDiskFileController::PRDiskFileController(const export_function_table* table,
                                           VolumeNameReader reader, DetailsReader details)
    : table_(table), reader_(std::move(reader)) {
  setDetailsReader(std::move(details));
}

void PRDiskFileController::setDetailsReader(DetailsReader details) {
  detailsReader_ = details ? std::move(details) : [](const std::vector<std::string>& paths) {
    return readDisksDetails(paths);
  };
}

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

void PRDiskFileController::initDiskDetails() {
  details_.clear();
  if (table_ == nullptr || table_->diskDevicePath == nullptr) return;
  std::vector<std::string> paths;
  for (list_disk_struct* disk : disks()) {
    if (const char* path = table_->diskDevicePath(disk)) paths.emplace_back(path);
  }
  details_ = detailsReader_(paths);
}

const DiskDetails* PRDiskFileController::details(const std::string& devicePath) const {
  auto it = details_.find(devicePath);
  return it != details_.end() ? &it->second : nullptr;
}

void PRDiskFileController::initVolumeName() {
  volumeNames_.clear();
  if (table_ == nullptr || table_->diskDevicePath == nullptr) return;
  for (list_disk_struct* disk : disks()) {
    const char* path = table_->diskDevicePath(disk);
    if (path == nullptr) continue;
    if (reader_) {
      volumeNames_[path] = reader_(path);
    } else if (const DiskDetails* d = details(path)) {
      volumeNames_[path] = d->volumeNames();
    }
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
    const DiskDetails* about = details(path);
    if (about != nullptr) describe(*row, *about, about->sizeBytes, about->label, about->fileSystem);
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
      if (about != nullptr) {
        const VolumeDetails* v = about->partition(child->deviceIndex);
        describe(*child, *about, v != nullptr ? v->sizeBytes : 0, v != nullptr ? v->label : "",
                 v != nullptr ? v->fileSystem : "");
        // The library names what it can read; the system's probe names the rest.
        if (child->partitionType.empty()) child->partitionType = child->fileSystem;
      }
      row->children.push_back(child);
    }
  }
  for (const auto& row : content_) {
    if (row->children.empty()) row->isLeaf = true;
  }
}

}  // namespace tamsel
