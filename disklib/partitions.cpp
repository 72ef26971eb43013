// Partitions of a disk and the names of their file systems. A block device's partitions
// come from sysfs, so they can be listed without the right to read the device; an image
// file's come from its partition table, read through libblkid. File-system names come
// from libblkid's probe when the device can be read, else from its cache.
#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "disklib/disk_internal.h"
#include "util/blkid_partitions.h"

namespace fs = std::filesystem;

namespace tamsel::disk {
namespace {

bool readNumber(const fs::path& file, uint64_t& out) {
  std::ifstream in(file);
  unsigned long long v = 0;
  if (!(in >> v)) return false;
  out = v;
  return true;
}

// The file system at [offset, offset + size) of an open device, through libblkid.
std::string probeType(int fd, uint64_t offset, uint64_t size) {
  blkid_probe pr = blkid_new_probe();
  if (pr == nullptr) return {};
  std::string type;
  if (blkid_probe_set_device(pr, fd, static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(size)) == 0) {
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(pr, 0);
    const char* value = nullptr;
    if (blkid_do_safeprobe(pr) == 0 && blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0 &&
        value != nullptr) {
      type = value;
    }
  }
  blkid_free_probe(pr);
  return type;
}

std::string cachedType(const std::string& devicePath) {
  char* value = blkid_get_tag_value(nullptr, "TYPE", devicePath.c_str());
  std::string type = value != nullptr ? value : "";
  std::free(value);
  return type;
}

std::vector<PartitionInfo> blockPartitions(const std::string& path) {
  std::vector<PartitionInfo> out;
  std::error_code ec;
  fs::path real = fs::canonical(path, ec);
  if (ec) return out;
  const std::string name = real.filename().string();
  const fs::path sys = fs::path("/sys/class/block") / name;
  if (fs::exists(sys / "partition", ec)) return out;  // a partition has none of its own
  for (const auto& entry : fs::directory_iterator(sys, ec)) {
    uint64_t number = 0, start = 0, size = 0;
    if (!readNumber(entry.path() / "partition", number) ||
        !readNumber(entry.path() / "start", start) || !readNumber(entry.path() / "size", size)) {
      continue;
    }
    if (number == 0 || number >= 255) continue;
    PartitionInfo p;
    p.number = static_cast<int>(number);
    p.start = start * 512;  // sysfs counts 512-byte sectors whatever the device's sector size
    p.size = size * 512;
    p.typeName = entry.path().filename().string();  // the kernel name, replaced below
    out.push_back(p);
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  for (PartitionInfo& p : out) {
    std::string kernelName = p.typeName;
    p.typeName = fd >= 0 ? probeType(fd, p.start, p.size) : "";
    if (p.typeName.empty()) p.typeName = cachedType("/dev/" + kernelName);
  }
  if (fd >= 0) ::close(fd);
  return out;
}

std::vector<PartitionInfo> imagePartitions(const std::string& path) {
  std::vector<PartitionInfo> out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return out;
  for (const BlkidPartition& part : readBlkidPartitions(fd)) {
    PartitionInfo p;
    p.number = part.number;
    p.start = part.start;
    p.size = part.size;
    out.push_back(p);
  }
  for (PartitionInfo& p : out) p.typeName = probeType(fd, p.start, p.size);
  ::close(fd);
  return out;
}

}  // namespace

std::vector<PartitionInfo> listPartitions(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  std::vector<PartitionInfo> out;
  if (S_ISBLK(st.st_mode)) {
    out = blockPartitions(path);
  } else if (S_ISREG(st.st_mode)) {
    out = imagePartitions(path);
  }
  std::sort(out.begin(), out.end(),
            [](const PartitionInfo& a, const PartitionInfo& b) { return a.number < b.number; });
  out.erase(std::unique(out.begin(), out.end(),
                        [](const PartitionInfo& a, const PartitionInfo& b) {
                          return a.number == b.number;
                        }),
            out.end());
  return out;
}

}  // namespace tamsel::disk
