// Volume names of a disk's partitions, read from the system's block-device listing
// (lsblk, run directly without a shell). The list is indexed by partition number, as the
// disk library's partitionIndex gives it: [0] is the label of a file system on the whole
// device, [n] the label of partition n; "" where there is no label.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

// Runs `argv` (argv[0] looked up in PATH) without a shell, with no input and its error
// output discarded, and returns what it wrote to its standard output (at most `maxBytes`).
// None when it cannot be started or does not end with status 0.
std::optional<std::string> runProgramOutput(const std::vector<std::string>& argv,
                                            size_t maxBytes = 1 << 20);

// The partition number of a kernel block device ("sdb1" gives 1) from sysfs; -1 when the
// device is not a partition.
int sysfsPartitionNumber(const std::string& kernelName);

// The volume names in the output of `lsblk --json -o NAME,LABEL,TYPE DEVICE`: the first
// listed device's own label at [0], and each child's label at the number
// `partitionNumber` gives for its NAME (children without a number are left out). Empty
// when the text is not such a listing.
std::vector<std::string> volumeNamesFromLsblk(
    std::string_view text, const std::function<int(const std::string& name)>& partitionNumber);

// The volume names of the disk at `devicePath`: lsblk for a block device; empty for an
// image file or when lsblk cannot tell.
std::vector<std::string> getDiskInfo_aux(const std::string& devicePath);

}  // namespace tamsel
