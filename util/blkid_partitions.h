// The partition table of an open disk image, read through libblkid. Header-only because
// both the core (disk details) and the separately loaded disk library need it, and the disk
// library links nothing of the core.
#pragma once

#include <blkid/blkid.h>

#include <cstdint>
#include <vector>

namespace tamsel {

struct BlkidPartition {
  int number = 0;
  uint64_t start = 0;  // bytes from the start of the image
  uint64_t size = 0;   // bytes, as the table gives it (it may run past the image's end)
};

// The partitions of the table libblkid finds on `fd`, in its order; entries numbered outside
// 1..254 or with no size are left out. Empty when there is no table or it cannot be read.
inline std::vector<BlkidPartition> readBlkidPartitions(int fd) {
  std::vector<BlkidPartition> out;
  blkid_probe pr = blkid_new_probe();
  if (pr == nullptr) return out;
  if (blkid_probe_set_device(pr, fd, 0, 0) == 0) {
    blkid_probe_enable_superblocks(pr, 0);
    blkid_probe_enable_partitions(pr, 1);
    blkid_partlist list = blkid_probe_get_partitions(pr);
    const int n = list != nullptr ? blkid_partlist_numof_partitions(list) : 0;
    for (int i = 0; i < n; ++i) {
      blkid_partition part = blkid_partlist_get_partition(list, i);
      if (part == nullptr) continue;
      const int number = blkid_partition_get_partno(part);
      const blkid_loff_t start = blkid_partition_get_start(part);
      const blkid_loff_t sectors = blkid_partition_get_size(part);
      if (number <= 0 || number >= 255 || start < 0 || sectors <= 0) continue;
      // libblkid counts 512-byte sectors whatever the device's sector size.
      out.push_back(
          {number, static_cast<uint64_t>(start) * 512, static_cast<uint64_t>(sectors) * 512});
    }
  }
  blkid_free_probe(pr);
  return out;
}

}  // namespace tamsel
