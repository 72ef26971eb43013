#include "raw/disk_details.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/blkid_partitions.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {

namespace {

// The longest sysfs, udev or mount-table file read; anything longer is not what it claims.
constexpr std::streamsize kMaxTextFile = 1 << 20;
// How deep device-mapper and RAID devices are followed down to their disks.
constexpr int kMaxStackDepth = 8;

std::string trim(std::string s) {
  auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && space(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t from = 0;
  while (from < s.size() && space(static_cast<unsigned char>(s[from]))) ++from;
  return s.substr(from);
}

// A file's text, at most kMaxTextFile bytes; empty when it cannot be read.
std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text;
  char buffer[4096];
  while (in && static_cast<std::streamsize>(text.size()) < kMaxTextFile) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
  }
  if (static_cast<std::streamsize>(text.size()) > kMaxTextFile) text.resize(kMaxTextFile);
  return text;
}

std::string readLine(const fs::path& file) {
  std::string text = readText(file);
  return trim(text.substr(0, text.find('\n')));
}

bool readNumber(const fs::path& file, uint64_t& out) {
  const std::string line = readLine(file);
  if (line.empty() ||
      !std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  try {
    out = std::stoull(line);
  } catch (...) {
    return false;
  }
  return true;
}

// Device descriptions come from the hardware: keep them to one printable line.
std::string printable(std::string s) {
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return trim(std::move(s));
}

// A kernel block-device name that names one entry of a sysfs folder.
bool plainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// "\x20" escapes of the udev database and "\040" escapes of the mount table.
std::string unescape(const std::string& s, bool octal) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && !octal && i + 3 < s.size() && s[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else if (s[i] == '\\' && octal && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
               s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out.push_back(
          static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + s[i + 3] - '0'));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

fs::path blockNode(const DiskPlaces& places, const std::string& name) {
  return fs::path(places.sysRoot) / "class" / "block" / name;
}

// The label and file system the udev database keeps for the device with this "major:minor".
ProbedVolume udevVolume(const DiskPlaces& places, const std::string& devNumbers) {
  ProbedVolume v;
  if (devNumbers.empty() || devNumbers.find('/') != std::string::npos) return v;
  std::istringstream in(readText(fs::path(places.udevData) / ("b" + devNumbers)));
  std::string line, plainLabel;
  while (std::getline(in, line)) {
    if (line.rfind("E:ID_FS_LABEL_ENC=", 0) == 0) {
      v.label = unescape(line.substr(18), false);
    } else if (line.rfind("E:ID_FS_LABEL=", 0) == 0) {
      plainLabel = line.substr(14);
    } else if (line.rfind("E:ID_FS_TYPE=", 0) == 0) {
      v.fileSystem = line.substr(13);
    }
  }
  if (v.label.empty()) v.label = plainLabel;
  return v;
}

// Fills what the probe left empty from the udev database.
void completeFromUdev(ProbedVolume& v, const DiskPlaces& places, const fs::path& node) {
  if (!v.label.empty() && !v.fileSystem.empty()) return;
  ProbedVolume u = udevVolume(places, readLine(node / "dev"));
  if (v.label.empty() && v.fileSystem.empty()) v.label = u.label;
  if (v.fileSystem.empty()) v.fileSystem = u.fileSystem;
}

// The disks `name` lies on: itself for a whole disk, its disk for a partition, the disks
// under a device-mapper or RAID device.
void addWholeDisks(const DiskPlaces& places, const std::string& name, int depth,
                   std::set<std::string>& out) {
  if (!plainName(name) || depth > kMaxStackDepth) return;
  const fs::path node = blockNode(places, name);
  std::error_code ec;
  if (!fs::exists(node, ec)) return;
  if (fs::exists(node / "partition", ec)) {
    const fs::path real = fs::canonical(node, ec);
    if (!ec) out.insert(real.parent_path().filename().string());
    return;
  }
  bool stacked = false;
  for (const auto& slave : fs::directory_iterator(node / "slaves", ec)) {
    stacked = true;
    addWholeDisks(places, slave.path().filename().string(), depth + 1, out);
  }
  if (!stacked) out.insert(name);
}

// The kernel name of the device a "/dev/..." path names.
std::string kernelNameOf(const std::string& devicePath) {
  std::error_code ec;
  const fs::path real = fs::canonical(devicePath, ec);
  return (ec ? fs::path(devicePath) : real).filename().string();
}

std::string modelOf(const fs::path& diskNode) {
  std::string model = printable(readLine(diskNode / "device" / "model"));
  if (model.empty()) model = printable(readLine(diskNode / "device" / "name"));  // SD, MMC
  const std::string vendor = printable(readLine(diskNode / "device" / "vendor"));
  // "ATA" and bus numbers (virtio's "0x1af4") say nothing of the disk.
  if (vendor.empty() || vendor == "ATA" || vendor.rfind("0x", 0) == 0 ||
      model.rfind(vendor, 0) == 0) {
    return model;
  }
  return model.empty() ? vendor : vendor + " " + model;
}

bool removableDisk(const fs::path& diskNode) {
  if (readLine(diskNode / "removable") == "1") return true;
  std::error_code ec;
  const std::string real = fs::canonical(diskNode, ec).string();
  if (!ec && real.find("/usb") != std::string::npos) return true;
  // An SD card in a built-in reader reports 0; an eMMC chip soldered in says "MMC".
  return readLine(diskNode / "device" / "type") == "SD";
}

void describeBlockDevice(const std::string& path, const fs::path& node,
                         const std::set<std::string>& systemDisks, const DiskPlaces& places,
                         DiskDetails& d) {
  std::error_code ec;
  const bool isPartition = fs::exists(node / "partition", ec);
  const fs::path real = fs::canonical(node, ec);
  const fs::path diskNode = isPartition && !ec ? real.parent_path() : node;
  d.known = true;
  uint64_t sectors = 0;
  if (readNumber(node / "size", sectors)) d.sizeBytes = sectors * 512;  // always 512-byte units
  d.model = modelOf(diskNode);
  d.removable = removableDisk(diskNode);
  d.systemDisk = systemDisks.count(diskNode.filename().string()) != 0;

  struct stat st {};
  int fd = -1;
  if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  }
  ProbedVolume whole = fd >= 0 ? probeVolume(fd, 0, 0) : ProbedVolume{};
  completeFromUdev(whole, places, node);
  d.label = whole.label;
  d.fileSystem = whole.fileSystem;
  if (!isPartition) {
    for (const auto& entry : fs::directory_iterator(real.empty() ? node : real, ec)) {
      uint64_t number = 0, start = 0, size = 0;
      if (!readNumber(entry.path() / "partition", number) ||
          !readNumber(entry.path() / "start", start) || !readNumber(entry.path() / "size", size) ||
          number == 0 || number >= 255) {
        continue;
      }
      ProbedVolume v = fd >= 0 ? probeVolume(fd, start * 512, size * 512) : ProbedVolume{};
      completeFromUdev(v, places, entry.path());
      d.partitions.push_back({static_cast<int>(number), size * 512, v.label, v.fileSystem});
    }
    std::sort(d.partitions.begin(), d.partitions.end(),
              [](const VolumeDetails& a, const VolumeDetails& b) { return a.number < b.number; });
  }
  if (fd >= 0) ::close(fd);
}

void describeImageFile(const std::string& path, uint64_t size, DiskDetails& d) {
  d.known = true;
  d.imageFile = true;
  d.sizeBytes = size;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    logLine("Cannot open the image file " + path + " to read its partitions");
    return;
  }
  for (const BlkidPartition& part : readBlkidPartitions(fd)) {
    VolumeDetails v;
    v.number = part.number;
    // A partition that runs past the file's end holds only what the file has.
    v.sizeBytes = part.start >= size ? 0 : std::min(part.size, size - part.start);
    if (v.sizeBytes > 0) {
      ProbedVolume p = probeVolume(fd, part.start, v.sizeBytes);
      v.label = p.label;
      v.fileSystem = p.fileSystem;
    }
    d.partitions.push_back(v);
  }
  ProbedVolume whole = probeVolume(fd, 0, 0);
  d.label = whole.label;
  d.fileSystem = whole.fileSystem;
  ::close(fd);
}

}  // namespace

const VolumeDetails* DiskDetails::partition(int number) const {
  for (const VolumeDetails& v : partitions) {
    if (v.number == number) return &v;
  }
  return nullptr;
}

std::vector<std::string> DiskDetails::volumeNames() const {
  std::vector<std::string> names{label};
  for (const VolumeDetails& v : partitions) {
    if (v.number <= 0) continue;
    if (names.size() <= static_cast<size_t>(v.number))
      names.resize(static_cast<size_t>(v.number) + 1);
    names[static_cast<size_t>(v.number)] = v.label;
  }
  return names;
}

ProbedVolume probeVolume(int fd, uint64_t offset, uint64_t size) {
  ProbedVolume v;
  blkid_probe pr = blkid_new_probe();
  if (pr == nullptr) return v;
  if (blkid_probe_set_device(pr, fd, static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(size)) == 0) {
    blkid_probe_enable_partitions(pr, 0);
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(pr) == 0) {
      const char* value = nullptr;
      if (blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0 && value != nullptr) {
        v.fileSystem = value;
      }
      value = nullptr;
      if (blkid_probe_lookup_value(pr, "LABEL", &value, nullptr) == 0 && value != nullptr) {
        v.label = value;
      }
    }
  }
  blkid_free_probe(pr);
  return v;
}

std::set<std::string> systemDiskNames(const DiskPlaces& places) {
  static const std::set<std::string> kSystemMounts = {"/",    "/boot", "/boot/efi", "/efi",
                                                      "/usr", "/var",  "/home"};
  std::set<std::string> devices;  // kernel names of the devices holding them
  std::istringstream mounts(readText(places.mountInfo));
  std::string line;
  while (std::getline(mounts, line)) {
    // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTIONS
    std::istringstream in(line);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    auto sep = std::find(f.begin(), f.end(), "-");
    if (f.size() < 6 || sep == f.end() || f.end() - sep < 3) continue;
    if (kSystemMounts.count(unescape(f[4], true)) == 0) continue;
    const std::string& numbers = f[2];
    const bool plainNumbers = std::all_of(
        numbers.begin(), numbers.end(), [](char c) { return (c >= '0' && c <= '9') || c == ':'; });
    if (plainNumbers && numbers.rfind("0:", 0) != 0) {
      std::error_code ec;
      const fs::path real = fs::canonical(fs::path(places.sysRoot) / "dev" / "block" / numbers, ec);
      if (!ec) {
        devices.insert(real.filename().string());
        continue;
      }
    }
    // No device number of its own (btrfs and other multi-device file systems): its source.
    const std::string source = unescape(*(sep + 2), true);
    if (source.rfind("/dev/", 0) == 0) devices.insert(kernelNameOf(source));
  }
  std::istringstream swaps(readText(places.swaps));
  while (std::getline(swaps, line)) {
    std::istringstream in(line);
    std::string name, type;
    if (in >> name >> type && type == "partition" && name.rfind("/dev/", 0) == 0) {
      devices.insert(kernelNameOf(unescape(name, true)));
    }
  }
  std::set<std::string> disks;
  for (const std::string& name : devices) addWholeDisks(places, name, 0, disks);
  return disks;
}

DiskDetails readDiskDetails(const std::string& path, const std::set<std::string>& systemDisks,
                            const DiskPlaces& places) {
  DiskDetails d;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    describeImageFile(path, static_cast<uint64_t>(st.st_size), d);
    return d;
  }
  const std::string name = kernelNameOf(path);
  std::error_code ec;
  if (plainName(name) && fs::exists(blockNode(places, name), ec)) {
    describeBlockDevice(path, blockNode(places, name), systemDisks, places, d);
  }
  return d;
}

std::map<std::string, DiskDetails> readDisksDetails(const std::vector<std::string>& paths,
                                                    const DiskPlaces& places) {
  const std::set<std::string> systemDisks = systemDiskNames(places);
  std::map<std::string, DiskDetails> out;
  for (const std::string& path : paths) {
    if (out.count(path) == 0) out.emplace(path, readDiskDetails(path, systemDisks, places));
  }
  return out;
}

}  // namespace tamsel
