// Internals of the disk library: the device reader, the disk and partition records behind
// the opaque handles, the found-file record the scanners hand to the scan loop, and the
// library's diagnostics. Nothing here is visible outside bblib.so.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "disklib/disklib_api.h"

namespace tamsel::disk {

// Writes one diagnostic line: to the program's log function when it set one, else stderr.
void diskLog(const std::string& line);
std::string hexOffset(uint64_t offset);

// The read every Device makes (pread). Tests replace it, before they call the library, to
// make chosen sectors fail; the library never changes it.
using PreadFunction = ssize_t (*)(int fd, void* buffer, size_t n, off_t offset);
extern PreadFunction devicePread;

// A device or image opened read-only. Reads past the end, and sectors the device cannot
// read, come back as zero bytes.
class Device {
 public:
  // Null (with `error` set) when the path cannot be opened or is neither a regular file
  // nor a block device.
  static std::unique_ptr<Device> open(const std::string& path, std::string& error);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  uint64_t size() const { return size_; }
  int fd() const { return fd_; }
  bool isBlockDevice() const { return block_; }
  // Fills `n` bytes at `offset`; returns how many came from the device (the rest is zero).
  size_t read(uint64_t offset, void* buffer, size_t n) const;
  enum class Status { kRead, kFailed, kEnded };
  // Reads exactly `n` bytes at `offset`: kFailed when the device reports an error (the
  // bytes are then unspecified), kEnded when it ends before them (it shrank since it was
  // opened, or was removed: ENODEV, ENXIO, ENOMEDIUM).
  Status readExact(uint64_t offset, void* buffer, size_t n) const;

 private:
  Device(int fd, uint64_t size, bool block) : fd_(fd), size_(size), block_(block) {}
  size_t readSome(uint64_t offset, uint8_t* out, size_t n) const;
  int fd_;
  uint64_t size_;
  bool block_;
};

// A forward reader with a buffer, for parsers that walk a file's structure byte by byte.
class Cursor {
 public:
  Cursor(const Device& device, uint64_t start, uint64_t end, const std::atomic<bool>& stop);
  uint64_t pos() const { return pos_; }
  bool atEnd() const { return pos_ >= end_; }
  // The byte at the position, advancing; -1 past the end or when the scan is stopped.
  int get() {
    if (cur_ < len_) {
      ++pos_;
      return buffer_[cur_++];
    }
    return refillAndGet();
  }
  // Reads `n` bytes into `out`; false when they do not all lie before the end.
  bool read(void* out, size_t n);
  void seek(uint64_t pos);

 private:
  int refillAndGet();
  const Device& device_;
  uint64_t end_;
  uint64_t pos_;
  const std::atomic<bool>& stop_;
  std::vector<uint8_t> buffer_;
  size_t cur_ = 0;
  size_t len_ = 0;
};

// One run of a found file on the device.
struct Extent {
  uint64_t start = 0;
  uint64_t len = 0;
};

// What the scanners report: a name, the first byte and the length on the device, and the
// runs when the file is not one contiguous run (empty when it is).
struct FoundFile {
  std::string name;
  uint64_t start = 0;
  uint64_t len = 0;
  std::vector<Extent> extents;
  // What the directory entry said, kept for the walks' callers (the C table does not carry
  // it yet). Carved files leave these as they are.
  bool deleted = false;  // found through a deleted directory entry
  int64_t created = 0;   // seconds since 1970 (UTC when the entry names its offset); 0: none
  int64_t modified = 0;
  // The times are the card's clock reading, the zone not recorded (FAT always, exFAT when the
  // entry gives no offset): read as UTC they give what the camera's clock showed.
  bool clockTimes = false;
  bool chainDamaged = false;  // its chain looped, ended early or named a cluster outside
  bool cutAtEnd = false;      // its data runs past the end of the device or partition
  uint64_t declaredLen = 0;   // the length its directory entry gives (0: none, carved)
};

// Returns false to end the walk (the scan was stopped).
using FoundSink = std::function<bool(FoundFile&&)>;

// What the FAT walks of one scan may spend together. A crafted partition table can name
// hundreds of volumes whose boot sectors all point at the same FAT and folders, so the
// limits hold for the scan, not for each volume: a byte of the device is read as folder
// entries at most once, and the walk's work stays linear in the device's size.
class WalkBudget {
 public:
  explicit WalkBudget(uint64_t deviceBytes);
  // Takes [start, start + len) as folder bytes; false when some of it was taken before.
  bool claimDirectory(uint64_t start, uint64_t len);
  uint64_t chainSteps;      // FAT entries the walks may still follow
  uint64_t directoryBytes;  // folder bytes they may still read
  uint64_t entries;         // folder entries they may still look at
  uint64_t directories;     // folders they may still enter
  // Damaged-chain lines still to log; a card full of broken chains logs the first ones and
  // then one line saying the rest are not listed.
  int chainReports = 100;
  // Logs `line` while chainReports lasts.
  void reportChain(const std::string& line);

 private:
  std::map<uint64_t, uint64_t> claimed_;  // first byte -> byte past the end
};

// How a cluster chain ended: at the end mark, at a bad or out-of-range link, in a loop, when
// the walk's budget or the scan ran out, or (folders) at a cluster read as folder entries before.
enum class ChainEnd { complete, endMark, broken, loop, budget, stopped, readBefore };

// The clusters a chain walk has passed, as a bitmap in pages of 4096 clusters made as the
// walk reaches them: the memory follows the chain's length, not the volume's cluster count
// (which a crafted boot sector may set to billions).
class VisitedClusters {
 public:
  // Marks `c`; false when it was marked before.
  bool mark(uint32_t c) {
    const uint32_t page = c >> 12;
    if (last_ == nullptr || page != lastPage_) {
      last_ = &pages_[page];
      lastPage_ = page;
    }
    uint64_t& word = (*last_)[(c >> 6) & 63];
    const uint64_t bit = uint64_t{1} << (c & 63);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  }

 private:
  std::unordered_map<uint32_t, std::array<uint64_t, 64>> pages_;
  std::array<uint64_t, 64>* last_ = nullptr;  // the page of the last cluster marked
  uint32_t lastPage_ = 0;
};

// The clusters from `first` along a FAT, at most `maxClusters`, into `seq`, for the FAT and
// exFAT walks alike. `next(c)` gives a cluster's link (0xFFFFFFFF for the end mark, `badMark`
// for a bad cluster), `valid(c)` whether a number names a cluster, `claim(c)` (folders only,
// may be null) takes a cluster as folder entries and is false for one read before, and
// `stopped()` whether the scan ends. Each link costs one of `steps`. A chain that comes back
// to a cluster it passed loops, whether or not the loop closes before the count the entry
// declares: it ends there (ChainEnd::loop), and the clusters before the repeat stay.
template <class Next, class Valid, class Stopped>
ChainEnd walkClusterChain(uint32_t first, uint64_t maxClusters, std::vector<uint32_t>& seq,
                          uint64_t& steps, uint32_t badMark, Next&& next, Valid&& valid,
                          const std::function<bool(uint32_t)>& claim, Stopped&& stopped) {
  seq.clear();
  if (!valid(first)) return ChainEnd::broken;
  if (claim && !claim(first)) return ChainEnd::readBefore;
  VisitedClusters visited;
  visited.mark(first);
  seq.push_back(first);
  while (seq.size() < maxClusters) {
    if (steps == 0) return ChainEnd::budget;
    --steps;
    if ((seq.size() & 0xFFF) == 0 && stopped()) return ChainEnd::stopped;
    const uint32_t n = next(seq.back());
    if (n == 0xFFFFFFFFu) return ChainEnd::endMark;
    if (n == badMark || !valid(n)) return ChainEnd::broken;
    if (claim && !claim(n)) return ChainEnd::readBefore;
    if (!visited.mark(n)) return ChainEnd::loop;
    seq.push_back(n);
  }
  return ChainEnd::complete;
}

// Walks a FAT12/16/32 volume whose boot sector lies at `volumeStart`, reporting every
// regular file (live and deleted) whose data lies before `regionEnd`, within `budget`.
// False when there is no FAT boot sector there.
bool walkFatVolume(const Device& device, uint64_t volumeStart, uint64_t regionEnd,
                   const std::atomic<bool>& stop, const FoundSink& sink, WalkBudget& budget);

// Walks an exFAT volume whose boot region lies at `volumeStart` (the backup boot region when
// the main one fails its checksum), as walkFatVolume does. False when there is no exFAT
// boot sector there.
bool walkExfatVolume(const Device& device, uint64_t volumeStart, uint64_t regionEnd,
                     const std::atomic<bool>& stop, const FoundSink& sink, WalkBudget& budget);

// Whether the first bytes of a deleted file agree with the suffix of its name: true when the
// suffix names a format with a known signature and `head` begins with it, or when the suffix
// names no such format. `head` holds the file's first `n` bytes (fewer when it is shorter).
bool headAgreesWithName(const std::string& name, const uint8_t* head, size_t n);
// The bytes headAgreesWithName looks at, at most.
constexpr size_t kSignatureHead = 16;

// A FAT or exFAT date and time (local time; two-second steps plus `tenMs` hundredths) as
// seconds since 1970, taken as UTC less `utcOffsetMinutes`; 0 when the fields are no date.
int64_t dosTimeToUnix(uint16_t date, uint16_t time, uint8_t tenMs = 0, int utcOffsetMinutes = 0);

// The length the own structure of a file beginning at `start` gives it, not reaching past
// `limit`: for the formats the carver walks by their structure (JPEG, PNG, GIF, ZIP and the
// documents built on it, BMP, RIFF, ISO media, MP3). None when the first bytes name no such
// format; 0 when they do but the structure does not end by `limit`.
std::optional<uint64_t> structuredLength(const Device& device, uint64_t start, uint64_t limit,
                                         const std::atomic<bool>& stop);

// Whether a deleted file taken as the one run [start, start + len) ends as its format ends:
// with its trailer for formats that have one (JPEG, PNG, GIF, PDF, ZIP), else where its
// structure ends when it is walked here (zeros after the end allowed); true for formats
// neither tells. A fragmented file read as one run ends in other bytes, so it is not listed
// whole under its name.
bool deletedRunHoldsItsFormat(const Device& device, uint64_t start, uint64_t len,
                              const std::atomic<bool>& stop);

// Sorted, merged byte ranges that carving leaves alone (the files the FAT walk found).
class RangeSet {
 public:
  void add(uint64_t start, uint64_t len);
  void finish();  // sorts and merges; call before contains
  bool contains(uint64_t offset) const;

 private:
  std::vector<Extent> ranges_;
};

// Looks for files by their signatures in [start, end), sector by sector, and reports each
// complete one as "carved_<hex offset>.<ext>". `progress` is called with the bytes done.
void carveRegion(const Device& device, uint64_t start, uint64_t end, const RangeSet& skip,
                 const std::atomic<bool>& stop, const FoundSink& sink,
                 const std::function<void(uint64_t done)>& progress);

// A partition of a disk: its number (1, 2 ...), position and length in bytes.
struct PartitionInfo {
  int number = 0;
  uint64_t start = 0;
  uint64_t size = 0;
  std::string typeName;  // empty: not known
};

// The partitions of a disk or image, in number order: from sysfs for a block device, from
// the partition table (through libblkid) for an image file.
std::vector<PartitionInfo> listPartitions(const std::string& path);

}  // namespace tamsel::disk

// The records behind the library's opaque handles.
struct list_part_struct {
  tamsel::disk::PartitionInfo info;
};

struct list_disk_struct {
  std::string path;
  std::vector<std::unique_ptr<list_part_struct>> partitions;
};
