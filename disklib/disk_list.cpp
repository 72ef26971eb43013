// The disk list: every disk in /sys/block (removable or not; no RAM disks, no compressed
// RAM disks, no loop device without a backing file, nothing of size 0), after the image
// files named in TAMSEL_DISKLIB_IMAGES (a ":"-separated list) or added by the program.
// Handles stay valid for the life of the library: a new listing makes new records and
// keeps the old ones, which found files of an earlier scan may still refer to.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "disklib/disk_list.h"

namespace fs = std::filesystem;

namespace tamsel::disk {
namespace {

struct ListState {
  std::mutex mutex;
  std::deque<std::unique_ptr<list_disk_struct>> all;  // every record ever handed out
  std::vector<list_disk_struct*> listed;
  size_t nextDisk = 0;
  list_disk_struct* opened = nullptr;
  size_t nextPartition = 0;
  std::vector<std::string> images;  // added by addDiskImage
};

ListState& state() {
  static ListState s;  // freed when the library is unloaded; its handles go with it
  return s;
}

std::string readLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

struct SysDisk {
  std::string path;
  int rank;  // removable disks first, then fixed disks, then loop devices
};

std::vector<SysDisk> systemDisks() {
  std::vector<SysDisk> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
    const bool loop = name.rfind("loop", 0) == 0;
    if (loop && readLine(entry.path() / "loop" / "backing_file").empty()) continue;
    const std::string size = readLine(entry.path() / "size");
    if (size.empty() || size == "0") continue;
    std::string dev = name;
    std::replace(dev.begin(), dev.end(), '!', '/');
    int rank = loop ? 2 : readLine(entry.path() / "removable") == "1" ? 0 : 1;
    out.push_back({"/dev/" + dev, rank});
  }
  std::sort(out.begin(), out.end(), [](const SysDisk& a, const SysDisk& b) {
    return a.rank != b.rank ? a.rank < b.rank : a.path < b.path;
  });
  return out;
}

}  // namespace

int initDiskList() {
  std::vector<std::string> paths;
  if (const char* env = std::getenv("TAMSEL_DISKLIB_IMAGES"); env != nullptr) {
    std::string list = env;
    size_t from = 0;
    while (from <= list.size()) {
      size_t colon = list.find(':', from);
      if (colon == std::string::npos) colon = list.size();
      if (colon > from) paths.push_back(list.substr(from, colon - from));
      from = colon + 1;
    }
  }
  ListState& s = state();
  {
    std::lock_guard lock(s.mutex);
    paths.insert(paths.end(), s.images.begin(), s.images.end());
  }
  for (const SysDisk& d : systemDisks()) paths.push_back(d.path);

  std::vector<std::unique_ptr<list_disk_struct>> made;
  for (const std::string& path : paths) {
    bool seen =
        std::any_of(made.begin(), made.end(), [&](const auto& d) { return d->path == path; });
    if (seen) continue;
    auto disk = std::make_unique<list_disk_struct>();
    disk->path = path;
    for (PartitionInfo& p : listPartitions(path)) {
      auto part = std::make_unique<list_part_struct>();
      part->info = std::move(p);
      disk->partitions.push_back(std::move(part));
    }
    made.push_back(std::move(disk));
  }
  std::lock_guard lock(s.mutex);
  s.listed.clear();
  for (auto& d : made) {
    s.listed.push_back(d.get());
    s.all.push_back(std::move(d));
  }
  s.nextDisk = 0;
  s.opened = nullptr;
  s.nextPartition = 0;
  return 1;
}

list_disk_struct* nextDisk() {
  ListState& s = state();
  std::lock_guard lock(s.mutex);
  return s.nextDisk < s.listed.size() ? s.listed[s.nextDisk++] : nullptr;
}

const char* diskDevicePath(list_disk_struct* disk) {
  return disk != nullptr ? disk->path.c_str() : nullptr;
}

int openDisk(list_disk_struct* disk) {
  if (disk == nullptr) return 0;
  ListState& s = state();
  std::lock_guard lock(s.mutex);
  s.opened = disk;
  s.nextPartition = 0;
  return 1;
}

list_part_struct* nextPartition() {
  ListState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.opened == nullptr || s.nextPartition >= s.opened->partitions.size()) return nullptr;
  return s.opened->partitions[s.nextPartition++].get();
}

int partitionIndex(list_part_struct* part) {
  return part != nullptr ? part->info.number : -1;
}

const char* partitionTypeName(list_part_struct* part) {
  if (part == nullptr || part->info.typeName.empty()) return nullptr;
  return part->info.typeName.c_str();
}

int addDiskImage(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  ListState& s = state();
  std::lock_guard lock(s.mutex);
  if (std::find(s.images.begin(), s.images.end(), path) == s.images.end()) s.images.push_back(path);
  return 1;
}

std::optional<PartitionInfo> findPartition(const std::string& path, int number) {
  {
    ListState& s = state();
    std::lock_guard lock(s.mutex);
    for (auto it = s.all.rbegin(); it != s.all.rend(); ++it) {
      if ((*it)->path != path) continue;
      for (const auto& p : (*it)->partitions) {
        if (p->info.number == number) return p->info;
      }
      break;
    }
  }
  for (PartitionInfo& p : listPartitions(path)) {
    if (p.number == number) return p;
  }
  return std::nullopt;
}

std::vector<PartitionInfo> partitionsOf(const std::string& path) {
  return listPartitions(path);
}

}  // namespace tamsel::disk
