// What the system knows of a disk beyond its device name, for the disk view: its size,
// maker and model, whether it is removable, whether it holds the running system, and the
// size, label and file system of each partition. Block devices are described from sysfs
// (sizes, model, removable flag, partitions), their labels and file systems from libblkid
// on the device when it can be read, else from the udev database. Image files are described
// from the file itself: its size, and its partition table, labels and file systems through
// libblkid. Everything is opened read-only; what cannot be read is left unknown.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tamsel {

// Where the system's descriptions are read from; tests point them into a folder of their own.
struct DiskPlaces {
  std::string sysRoot = "/sys";
  std::string mountInfo = "/proc/self/mountinfo";
  std::string swaps = "/proc/swaps";
  std::string udevData = "/run/udev/data";
};

struct VolumeDetails {
  int number = 0;  // the partition number; 0 for a file system on the whole device
  uint64_t sizeBytes = 0;
  std::string label;
  std::string fileSystem;
};

struct DiskDetails {
  bool known = false;  // false: neither a block device sysfs knows nor a readable file
  bool imageFile = false;
  uint64_t sizeBytes = 0;
  std::string model;
  bool removable = false;
  bool systemDisk = false;
  // A file system on the whole device (a card formatted without a partition table).
  std::string label;
  std::string fileSystem;
  std::vector<VolumeDetails> partitions;  // by number

  // Partition `number`, or null.
  const VolumeDetails* partition(int number) const;
  // The labels by partition number as the disk tree's volume-name table keeps them: [0]
  // the whole device's, [n] partition n's, "" where there is none.
  std::vector<std::string> volumeNames() const;
};

// The label and file system libblkid finds in [offset, offset + size) of an open file or
// device (size 0: to its end). Both empty when it finds none.
struct ProbedVolume {
  std::string label;
  std::string fileSystem;
};
ProbedVolume probeVolume(int fd, uint64_t offset, uint64_t size);

// The kernel names of the whole disks that hold a mounted system file system ("/", "/boot",
// "/boot/efi", "/efi", "/usr", "/var", "/home") or an active swap area, found through the
// mount table and sysfs: a partition counts for its disk, a device-mapper or RAID device
// for the disks under it.
std::set<std::string> systemDiskNames(const DiskPlaces& places = {});

// The details of the disk or image at `path`. `systemDisks` is what systemDiskNames gave.
DiskDetails readDiskDetails(const std::string& path, const std::set<std::string>& systemDisks,
                            const DiskPlaces& places = {});

// readDiskDetails for every path, with the system disks looked up once.
std::map<std::string, DiskDetails> readDisksDetails(const std::vector<std::string>& paths,
                                                    const DiskPlaces& places = {});

}  // namespace tamsel
