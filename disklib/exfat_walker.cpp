// The exFAT walk: the boot region (its checksum checked; the backup region at sector 12 when
// the main one is bad), the allocation bitmap, the FAT, and the directory tree from the root,
// deleted entry sets included. A file is one contiguous run when its stream extension says
// so (NoFatChain), else it follows its FAT chain. A deleted file is listed by name only when
// every cluster it would take is free in the bitmap and its first bytes agree with its
// suffix; otherwise its bytes are left to carving. Chains are cut where they loop, leave the
// volume or run past the device end, and a byte of the device is read as folder entries at
// most once in a scan (the budget shared with the FAT walks).
//
// Also here: the signature check of deleted files and the date conversion, which the FAT
// walk shares.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "disklib/disk_internal.h"

namespace tamsel::disk {

using namespace std::string_view_literals;

namespace {

struct Signature {
  std::string_view suffixes;  // lower case, each followed by a space
  size_t at;
  std::string_view bytes;
  std::string_view mask;  // empty: the bytes must be equal
};

// A suffix listed here must show one of its rows' signatures. TIFF-based camera formats share
// the TIFF rows; the office formats of the last decades are ZIP archives.
constexpr Signature kSignatures[] = {
    {"jpg jpeg jpe jfif ", 0, "\xFF\xD8\xFF"sv, ""sv},
    {"png ", 0, "\x89PNG\r\n\x1A\n"sv, ""sv},
    {"gif ", 0, "GIF8"sv, ""sv},
    {"bmp dib ", 0, "BM"sv, ""sv},
    {"tif tiff dng cr2 nef arw ", 0, "II*\0"sv, ""sv},
    {"tif tiff dng cr2 nef arw ", 0, "MM\0*"sv, ""sv},
    {"psd ", 0, "8BPS"sv, ""sv},
    {"webp ", 8, "WEBP"sv, ""sv},
    {"mp4 m4v m4a m4r 3gp 3g2 mov qt heic heif ", 4, "ftyp"sv, ""sv},
    {"mov qt ", 4, "moov"sv, ""sv},
    {"mov qt ", 4, "mdat"sv, ""sv},
    {"mov qt ", 4, "wide"sv, ""sv},
    {"mov qt ", 4, "free"sv, ""sv},
    {"mov qt ", 4, "skip"sv, ""sv},
    {"mkv webm ", 0, "\x1A\x45\xDF\xA3"sv, ""sv},
    {"avi ", 8, "AVI "sv, ""sv},
    {"wmv wma asf ", 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, ""sv},
    {"flv ", 0, "FLV"sv, ""sv},
    {"wav ", 8, "WAVE"sv, ""sv},
    {"mp3 ", 0, "ID3"sv, ""sv},
    {"mp3 ", 0, "\xFF\xE0"sv, "\xFF\xE0"sv},  // a frame's sync bits
    {"flac ", 0, "fLaC"sv, ""sv},
    {"ogg oga ogv ", 0, "OggS"sv, ""sv},
    {"amr ", 0, "#!AMR"sv, ""sv},
    {"pdf ", 0, "%PDF"sv, ""sv},
    {"zip docx xlsx pptx odt ods odp epub jar apk ", 0, "PK\x03\x04"sv, ""sv},
    {"zip ", 0, "PK\x05\x06"sv, ""sv},  // an empty archive
    {"doc xls ppt msg ", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, ""sv},
    {"rtf ", 0, "{\\rtf"sv, ""sv},
    {"rar ", 0, "Rar!\x1A\x07"sv, ""sv},
    {"7z ", 0, "7z\xBC\xAF\x27\x1C"sv, ""sv},
    {"gz tgz ", 0, "\x1F\x8B"sv, ""sv},
};

bool listsSuffix(std::string_view list, std::string_view suffix) {
  for (size_t at = 0; at < list.size();) {
    const size_t space = list.find(' ', at);
    if (list.substr(at, space - at) == suffix) return true;
    at = space + 1;
  }
  return false;
}

bool rowMatches(const Signature& s, const uint8_t* head, size_t n) {
  if (s.at + s.bytes.size() > n) return false;
  for (size_t i = 0; i < s.bytes.size(); ++i) {
    const uint8_t mask = s.mask.empty() ? 0xFF : static_cast<uint8_t>(s.mask[i]);
    if ((head[s.at + i] & mask) != static_cast<uint8_t>(s.bytes[i])) return false;
  }
  return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool headAgreesWithName(const std::string& name, const uint8_t* head, size_t n) {
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return true;
  std::string suffix = name.substr(dot + 1);
  if (suffix.empty() || suffix.size() > 8) return true;
  for (char& c : suffix) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  bool listed = false;
  for (const Signature& s : kSignatures) {
    if (!listsSuffix(s.suffixes, suffix)) continue;
    listed = true;
    if (rowMatches(s, head, n)) return true;
  }
  return !listed;
}

int64_t dosTimeToUnix(uint16_t date, uint16_t time, uint8_t tenMs, int utcOffsetMinutes) {
  const unsigned day = date & 31u, month = (date >> 5) & 15u;
  const int64_t year = 1980 + (date >> 9);
  const unsigned twoSeconds = time & 31u, minute = (time >> 5) & 63u, hour = time >> 11;
  if (day == 0 || month == 0 || month > 12 || hour > 23 || minute > 59 || twoSeconds > 29) {
    return 0;
  }
  const int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                          twoSeconds * 2 + std::min<unsigned>(tenMs, 199) / 100;
  return seconds - static_cast<int64_t>(utcOffsetMinutes) * 60;
}

namespace {

constexpr uint32_t kEnd = 0xFFFFFFFFu;
constexpr uint32_t kBad = 0xFFFFFFF7u;
constexpr size_t kMaxDepth = 64;
constexpr uint64_t kMaxDirectoryBytes = 32ull << 20;  // one folder: a million entries
constexpr uint64_t kBlock = 64 * 1024;

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) {
  return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

struct Volume {
  uint64_t start = 0;
  uint64_t clusterBytes = 0;
  uint64_t fatOffset = 0;  // of the active FAT, on the device
  uint64_t fatBytes = 0;
  uint64_t heapOffset = 0;  // where cluster 2 begins, on the device
  uint32_t rootCluster = 0;
  uint32_t lastCluster = 0;  // highest cluster number of the volume
  uint32_t lastUsable = 0;   // highest cluster that begins before the region's end (0: none)
  uint64_t regionEnd = 0;
  bool secondActive = false;  // the second FAT and bitmap are the active ones

  uint64_t clusterOffset(uint32_t c) const {
    return heapOffset + static_cast<uint64_t>(c - 2) * clusterBytes;
  }
  bool valid(uint32_t c) const { return c >= 2 && c <= lastCluster; }
};

// The boot checksum over the first eleven sectors of a boot region, without the volume
// flags and the percentage in use, which change while the volume is mounted.
uint32_t bootChecksum(const uint8_t* region, size_t sectorBytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < 11 * sectorBytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) != 0 ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

bool looksExfat(const uint8_t* b) {
  if (std::memcmp(b + 3, "EXFAT   ", 8) != 0 || b[510] != 0x55 || b[511] != 0xAA) return false;
  for (int i = 11; i < 64; ++i) {
    if (b[i] != 0) return false;  // where a FAT boot sector keeps its fields
  }
  return true;
}

std::optional<Volume> parseBoot(const uint8_t* b, uint64_t start, uint64_t regionEnd) {
  const uint32_t sectorShift = b[108], clusterShift = b[109];
  if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift) return std::nullopt;
  const uint32_t fats = b[110];
  if (fats != 1 && fats != 2) return std::nullopt;
  const uint64_t volumeSectors = le64(b + 72);
  const uint64_t fatOffset = le32(b + 80), fatLength = le32(b + 84);
  const uint64_t heapOffset = le32(b + 88);
  uint64_t clusters = le32(b + 92);
  if (fatOffset < 24 || fatLength == 0 || heapOffset < fatOffset + fats * fatLength ||
      volumeSectors <= heapOffset || clusters == 0) {
    return std::nullopt;
  }
  Volume v;
  v.start = start;
  const uint64_t sector = 1ull << sectorShift;
  v.clusterBytes = sector << clusterShift;
  v.secondActive = fats == 2 && (le16(b + 106) & 1) != 0;
  v.fatBytes = fatLength * sector;
  v.fatOffset = start + (fatOffset + (v.secondActive ? fatLength : 0)) * sector;
  v.heapOffset = start + heapOffset * sector;
  // Trust the smallest of what the count, the FAT and the volume's length allow.
  clusters = std::min({clusters, uint64_t{0xFFFFFFF5u},
                       v.fatBytes / 4 - std::min<uint64_t>(v.fatBytes / 4, 2),
                       (volumeSectors - heapOffset) >> clusterShift});
  if (clusters == 0) return std::nullopt;
  v.lastCluster = static_cast<uint32_t>(clusters + 1);
  v.rootCluster = le32(b + 96);
  if (!v.valid(v.rootCluster)) return std::nullopt;
  v.regionEnd = regionEnd;
  if (v.heapOffset < regionEnd) {
    const uint64_t usable = (regionEnd - v.heapOffset + v.clusterBytes - 1) / v.clusterBytes + 1;
    v.lastUsable = static_cast<uint32_t>(std::min<uint64_t>(usable, v.lastCluster));
  }
  return v;
}

// The boot region at `at` (twelve sectors of 2^shift bytes), when its checksum holds.
std::optional<Volume> checkedRegion(const Device& device, uint64_t at, uint32_t shift,
                                    uint64_t volumeStart, uint64_t regionEnd, bool& parsed,
                                    bool& sumFailed) {
  if (shift < 9 || shift > 12) return std::nullopt;
  const size_t sector = size_t{1} << shift;
  if (at >= regionEnd || regionEnd - at < 12 * sector) return std::nullopt;
  std::vector<uint8_t> region(12 * sector);
  if (device.read(at, region.data(), region.size()) < region.size()) return std::nullopt;
  if (!looksExfat(region.data()) || region[108] != shift) return std::nullopt;
  std::optional<Volume> v = parseBoot(region.data(), volumeStart, regionEnd);
  if (!v) return std::nullopt;
  parsed = true;
  const uint32_t sum = bootChecksum(region.data(), sector);
  for (size_t i = 0; i < sector; i += 4) {
    if (le32(region.data() + 11 * sector + i) != sum) {
      sumFailed = true;
      return std::nullopt;
    }
  }
  return v;
}

// Bytes of an area of the device given as runs (the FAT, the bitmap), read a block at a time
// as the walk asks for them. Bytes past the runs read as `fill`.
class AreaReader {
 public:
  AreaReader(const Device& device, std::vector<Extent> runs, uint8_t fill)
      : device_(device), runs_(std::move(runs)), fill_(fill) {
    uint64_t at = 0;
    for (const Extent& r : runs_) {
      begins_.push_back(at);
      at += r.len;
    }
    size_ = at;
  }
  uint64_t size() const { return size_; }
  uint8_t byteAt(uint64_t at) {
    if (at >= size_) return fill_;
    const uint64_t index = at / kBlock;
    auto it = blocks_.find(index);
    if (it == blocks_.end()) {
      if (blocks_.size() >= 256) blocks_.clear();
      it = blocks_.emplace(index, load(index * kBlock)).first;
    }
    return it->second[at % kBlock];
  }
  uint32_t le32At(uint64_t at) {
    return byteAt(at) | (static_cast<uint32_t>(byteAt(at + 1)) << 8) |
           (static_cast<uint32_t>(byteAt(at + 2)) << 16) |
           (static_cast<uint32_t>(byteAt(at + 3)) << 24);
  }

 private:
  std::vector<uint8_t> load(uint64_t from) {
    std::vector<uint8_t> block(kBlock, fill_);
    size_t r = static_cast<size_t>(std::upper_bound(begins_.begin(), begins_.end(), from) -
                                   begins_.begin() - 1);
    for (uint64_t done = 0; done < kBlock && r < runs_.size(); ++r) {
      const uint64_t inRun = from + done - begins_[r];
      const uint64_t n = std::min(kBlock - done, runs_[r].len - inRun);
      device_.read(runs_[r].start + inRun, block.data() + done, static_cast<size_t>(n));
      done += n;
    }
    return block;
  }
  const Device& device_;
  std::vector<Extent> runs_;
  std::vector<uint64_t> begins_;
  uint64_t size_ = 0;
  uint8_t fill_;
  std::unordered_map<uint64_t, std::vector<uint8_t>> blocks_;
};

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A name of UTF-16 units as UTF-8 that is safe as a path component: control characters and
// '/' become '_', lone surrogates U+FFFD, and "." or ".." get '_' for their dots.
std::string cleanName(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;
    }
    if (u < 0x20 || u == 0x7F || u == '/') u = '_';
    appendUtf8(out, u);
  }
  if (out == "." || out == "..") std::replace(out.begin(), out.end(), '.', '_');
  return out;
}

// One file entry set (file, stream extension, names), live or deleted.
struct EntrySet {
  bool deleted = false;
  bool directory = false;
  bool noFatChain = false;
  uint32_t first = 0;
  uint64_t length = 0;
  std::string name;
  int64_t created = 0;
  int64_t modified = 0;
  bool clockTimes = false;  // no UTC offset recorded for either time
};

int utcOffsetMinutes(uint8_t field) {
  if ((field & 0x80) == 0) return 0;  // local time, zone not recorded
  const int quarters = (field & 0x40) != 0 ? static_cast<int>(field & 0x7F) - 128 : field & 0x7F;
  return quarters * 15;
}

enum class SetResult { none, set, badChecksum };

// Reads the entry set whose file entry is entry `i` of `bytes`; `count` receives the number
// of entries it takes.
SetResult parseSet(const std::vector<uint8_t>& bytes, size_t i, EntrySet& out, size_t& count) {
  const size_t total = bytes.size() / 32;
  const uint8_t* e = bytes.data() + i * 32;
  const bool deleted = e[0] == 0x05;
  const size_t secondaries = e[1];
  if (secondaries < 2 || secondaries > 18 || i + secondaries >= total) return SetResult::none;
  const uint8_t live = deleted ? 0x00 : 0x80;
  const uint8_t* stream = e + 32;
  if (stream[0] != (0x40 | live)) return SetResult::none;
  const size_t nameLength = stream[3];
  const size_t nameEntries = (nameLength + 14) / 15;
  if (nameLength == 0 || 1 + nameEntries > secondaries) return SetResult::none;
  for (size_t k = 1; k <= secondaries; ++k) {
    const uint8_t type = e[32 * k];
    if ((type & 0xC0) != (0x40 | live)) return SetResult::none;  // not a secondary of this set
    if (k >= 2 && k < 2 + nameEntries && type != (0x41 | live)) return SetResult::none;
  }
  // The checksum was taken while the set was in use.
  uint16_t sum = 0;
  for (size_t k = 0; k < (secondaries + 1) * 32; ++k) {
    if (k == 2 || k == 3) continue;
    uint8_t b = e[k];
    if (k % 32 == 0) b |= 0x80;
    sum = static_cast<uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + b);
  }
  count = secondaries + 1;
  if (sum != le16(e + 2)) {
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    return SetResult::badChecksum;
#endif
  }
  std::vector<uint16_t> units;
  for (size_t k = 0; k < nameEntries; ++k) {
    const uint8_t* n = e + 32 * (2 + k);
    for (size_t u = 0; u < 15 && units.size() < nameLength; ++u)
      units.push_back(le16(n + 2 + 2 * u));
  }
  out = EntrySet{};
  out.deleted = deleted;
  out.directory = (le16(e + 4) & 0x10) != 0;
  out.noFatChain = (stream[1] & 0x02) != 0;
  out.first = le32(stream + 20);
  out.length = le64(stream + 24);
  if ((stream[1] & 0x01) == 0) out.length = 0;  // no clusters were ever allocated
  out.name = cleanName(units);
  const uint32_t created = le32(e + 8), modified = le32(e + 12);
  out.created = dosTimeToUnix(static_cast<uint16_t>(created >> 16), static_cast<uint16_t>(created),
                              e[20], utcOffsetMinutes(e[22]));
  out.modified = dosTimeToUnix(static_cast<uint16_t>(modified >> 16),
                               static_cast<uint16_t>(modified), e[21], utcOffsetMinutes(e[23]));
  out.clockTimes = (e[22] & 0x80) == 0 || (e[23] & 0x80) == 0;
  return SetResult::set;
}

class ExfatWalker {
 public:
  ExfatWalker(const Device& device, const Volume& v, const std::atomic<bool>& stop,
              const FoundSink& sink, WalkBudget& budget)
      : device_(device),
        v_(v),
        fat_(device, {{v.fatOffset, v.fatBytes}}, 0xFF),
        stop_(stop),
        sink_(sink),
        budget_(budget) {}

  void run() {
    struct Job {
      std::vector<Extent> runs;
      std::string path;
      size_t depth;
      bool deleted;
    };
    std::vector<Job> jobs;
    std::vector<uint32_t> seq;
    const uint64_t maxClusters = (kMaxDirectoryBytes + v_.clusterBytes - 1) / v_.clusterBytes;
    collectChain(v_.rootCluster, maxClusters, seq, /*folder=*/true);
    std::vector<Extent> rootRuns = runsOf(seq, kMaxDirectoryBytes);
    if (rootRuns.empty()) return;  // past the end, or read before as another volume's
    bool root = true;
    jobs.push_back({std::move(rootRuns), "", 0, false});
    while (!jobs.empty() && !ended_) {
      Job job = std::move(jobs.back());
      jobs.pop_back();
      if (budget_.directories == 0) {
        diskLog("exFAT volume: too many directories, the rest is not read");
        break;
      }
      --budget_.directories;
      std::vector<uint8_t> bytes = readRuns(job.runs);
      if (root) {
        findBitmap(bytes);
        root = false;
      }
      readDirectory(
          bytes,
          [&](const EntrySet& s, bool deleted) {
            const std::string path = job.path.empty() ? s.name : job.path + "/" + s.name;
            if (!s.directory) {
              reportFile(s, path, deleted);
              return;
            }
            if (job.depth + 1 > kMaxDepth || s.length == 0) return;
            std::vector<Extent> runs = deleted ? deletedDirRuns(s) : dirRuns(s);
            if (!runs.empty()) jobs.push_back({std::move(runs), path, job.depth + 1, deleted});
          },
          job.deleted);
    }
    if (dropped_ > 0) {
      diskLog("exFAT volume at " + hexOffset(v_.start) + ": " + std::to_string(dropped_) +
              " deleted files not listed by name (their clusters are in use again, or their "
              "first bytes do not match their names); their bytes are left to carving");
    }
  }

 private:
  bool stopped() {
    if (stop_.load(std::memory_order_relaxed)) ended_ = true;
    return ended_;
  }

  uint32_t next(uint32_t c) {
    const uint64_t at = static_cast<uint64_t>(c) * 4;
    if (at + 4 > v_.fatBytes) return kBad;
    return fat_.le32At(at);
  }

  // The allocation bitmap of the active FAT, named by an entry of the root folder.
  void findBitmap(const std::vector<uint8_t>& root) {
    for (size_t off = 0; off + 32 <= root.size(); off += 32) {
      const uint8_t* e = root.data() + off;
      if (e[0] == 0x00) break;
      if (e[0] != 0x81 || ((e[1] & 1) != 0) != v_.secondActive) continue;
      const uint32_t first = le32(e + 20);
      const uint64_t need = (uint64_t{v_.lastCluster} - 1 + 7) / 8;
      const uint64_t len = std::min(le64(e + 24), need);
      if (!v_.valid(first) || len == 0) break;
      const uint64_t clusters = (len + v_.clusterBytes - 1) / v_.clusterBytes;
      std::vector<uint32_t> seq;
      // Its clusters are chained in the FAT; a writer that left the FAT empty wrote them in
      // one run.
      if (next(first) == 0) {
        for (uint64_t c = first; c <= v_.lastCluster && seq.size() < clusters; ++c) {
          seq.push_back(static_cast<uint32_t>(c));
        }
      } else {
        collectChain(first, clusters, seq);
      }
      bool cut = false;
      bitmap_.emplace(device_, runsOf(seq, len, &cut), 0xFF);
      return;
    }
    diskLog("exFAT volume at " + hexOffset(v_.start) +
            ": no allocation bitmap, deleted files are left to carving");
  }

  // Whether clusters [first, first + n) are all free in the bitmap. Each byte of the bitmap
  // looked at takes a step of the chain budget.
  bool allFree(uint32_t first, uint64_t n) {
    if (!bitmap_ || n == 0) return false;
    uint64_t bit = first - 2;
    const uint64_t end = bit + n;
    while (bit < end) {
      if (budget_.chainSteps == 0) return false;
      --budget_.chainSteps;
      const uint8_t byte = bitmap_->byteAt(bit / 8);
      const uint64_t upto = std::min(end, (bit / 8 + 1) * 8);
      for (; bit < upto; ++bit) {
        if ((byte >> (bit % 8) & 1) != 0) return false;
      }
    }
    return true;
  }

  bool claimFolderCluster(uint32_t c) {
    const uint64_t off = v_.clusterOffset(c);
    return off < v_.regionEnd && budget_.claimDirectory(off, v_.clusterBytes);
  }

  // The clusters from `first` along the FAT, at most `maxClusters`, into seq, ended where the
  // chain comes back to a cluster it passed. A folder's chain takes each cluster as folder
  // entries and ends before one that was read as such before.
  ChainEnd collectChain(uint32_t first, uint64_t maxClusters, std::vector<uint32_t>& seq,
                        bool folder = false) {
    std::function<bool(uint32_t)> claim;
    if (folder) claim = [this](uint32_t c) { return claimFolderCluster(c); };
    return walkClusterChain(
        first, maxClusters, seq, budget_.chainSteps, kBad, [this](uint32_t c) { return next(c); },
        [this](uint32_t c) { return v_.valid(c); }, claim, [this] { return stopped(); });
  }

  // Runs of whole clusters, `wanted` bytes at most, cut where the data would pass the
  // region's end (`cut` set then).
  std::vector<Extent> runsOf(const std::vector<uint32_t>& seq, uint64_t wanted,
                             bool* cut = nullptr) {
    std::vector<Extent> runs;
    uint64_t have = 0;
    for (uint32_t c : seq) {
      if (have >= wanted) break;
      const uint64_t off = v_.clusterOffset(c);
      if (off >= v_.regionEnd) break;
      const uint64_t len = std::min({v_.clusterBytes, v_.regionEnd - off, wanted - have});
      if (!runs.empty() && runs.back().start + runs.back().len == off) {
        runs.back().len += len;
      } else {
        runs.push_back({off, len});
      }
      have += len;
      if (len < v_.clusterBytes) break;
    }
    if (cut != nullptr) *cut = have < wanted && seq.size() * v_.clusterBytes >= wanted;
    return runs;
  }

  // One run of `n` clusters from `first` (all inside the volume), `wanted` bytes at most,
  // cut at the region's end.
  std::vector<Extent> contiguous(uint32_t first, uint64_t n, uint64_t wanted, bool& cut) {
    const uint64_t start = v_.clusterOffset(first);
    cut = false;
    if (start >= v_.regionEnd) {
      cut = true;
      return {};
    }
    const uint64_t len = std::min({wanted, n * v_.clusterBytes, v_.regionEnd - start});
    cut = len < std::min(wanted, n * v_.clusterBytes);
    return {{start, len}};
  }

  // The clusters of a live folder, taken as folder entries (cut before any read before).
  std::vector<Extent> dirRuns(const EntrySet& s) {
    const uint64_t wanted = std::min(s.length, kMaxDirectoryBytes);
    const uint64_t clusters = (wanted + v_.clusterBytes - 1) / v_.clusterBytes;
    std::vector<uint32_t> seq;
    if (s.noFatChain) {
      if (!v_.valid(s.first)) return {};
      for (uint64_t c = s.first; c <= v_.lastCluster && seq.size() < clusters; ++c) {
        if (!claimFolderCluster(static_cast<uint32_t>(c))) break;
        seq.push_back(static_cast<uint32_t>(c));
      }
    } else {
      collectChain(s.first, clusters, seq, /*folder=*/true);
    }
    return runsOf(seq, wanted);
  }

  // A deleted folder: read only when all its clusters are still free (see deletedRuns), and
  // cut before a part that was read as folder entries before.
  std::vector<Extent> deletedDirRuns(const EntrySet& s) {
    std::vector<Extent> runs, claimed;
    bool cut = false;
    if (!deletedRuns(s, std::min(s.length, kMaxDirectoryBytes), runs, cut)) return {};
    for (const Extent& r : runs) {
      if (!budget_.claimDirectory(r.start, r.len)) break;
      claimed.push_back(r);
    }
    return claimed;
  }

  // The runs a deleted file of `wanted` bytes took, when every one of its clusters is free
  // now. Its chain is followed when the FAT still holds one (the FAT is left as it was when
  // a file is deleted), else its clusters are taken as one run from the first. `cut` is set
  // when the device ends inside it.
  bool deletedRuns(const EntrySet& s, uint64_t wanted, std::vector<Extent>& runs, bool& cut) {
    runs.clear();
    if (!v_.valid(s.first) || s.first > v_.lastUsable) return false;
    const uint64_t clusters = wanted / v_.clusterBytes + (wanted % v_.clusterBytes != 0);
    if (clusters > uint64_t{v_.lastCluster} - s.first + 1) return false;  // past the volume
    if (!s.noFatChain && clusters > 1 && next(s.first) != 0) {
      std::vector<uint32_t> seq;
      const ChainEnd end = collectChain(s.first, clusters, seq);
      if (end == ChainEnd::complete || (end == ChainEnd::endMark && seq.size() == clusters)) {
        for (uint32_t c : seq) {
          if (!allFree(c, 1)) return false;
        }
        runs = runsOf(seq, wanted, &cut);
        return !runs.empty();
      }
    }
    // The usable part only: a file cut by the end of the device keeps what lies before it.
    const uint64_t n = std::min<uint64_t>(clusters, uint64_t{v_.lastUsable} - s.first + 1);
    if (!allFree(s.first, n)) return false;
    runs = contiguous(s.first, n, wanted, cut);
    if (n < clusters) cut = true;
    return !runs.empty();
  }

  std::vector<uint8_t> readRuns(const std::vector<Extent>& runs) {
    uint64_t total = 0;
    for (const Extent& r : runs) total += r.len;
    total = std::min(total, kMaxDirectoryBytes);
    if (total > budget_.directoryBytes) {
      diskLog("exFAT volume: the directories hold too much, the rest is not read");
      ended_ = true;
      return {};
    }
    budget_.directoryBytes -= total;
    std::vector<uint8_t> bytes(static_cast<size_t>(total));
    size_t at = 0;
    for (const Extent& r : runs) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(r.len, bytes.size() - at));
      device_.read(r.start, bytes.data() + at, n);
      at += n;
    }
    return bytes;
  }

  template <class Found>
  void readDirectory(const std::vector<uint8_t>& bytes, Found&& found, bool insideDeleted) {
    const size_t total = bytes.size() / 32;
    for (size_t i = 0; i < total;) {
      if (stopped()) return;
      if (budget_.entries == 0) {
        diskLog("exFAT volume: too many directory entries, the rest is not read");
        ended_ = true;
        return;
      }
      --budget_.entries;
      const uint8_t type = bytes[i * 32];
      if (type == 0x00) return;  // no entry was ever written past this one
      if (type != 0x85 && type != 0x05) {
        ++i;
        continue;
      }
      EntrySet s;
      size_t count = 1;
      const SetResult r = parseSet(bytes, i, s, count);
      if (r == SetResult::none) {
        ++i;
        continue;
      }
      if (r == SetResult::badChecksum) {
        if (type == 0x85) {
          budget_.reportChain("exFAT entry set at index " + std::to_string(i) +
                              ": its checksum does not match, skipped");
        }
        ++i;  // a newer set may have been written over part of it
        continue;
      }
      i += count;
      if (s.name.empty()) continue;
      found(s, s.deleted || insideDeleted);
      if (ended_) return;
    }
  }

  void reportFile(const EntrySet& s, const std::string& path, bool deleted) {
    if (s.length == 0) return;
    FoundFile f;
    f.deleted = deleted;
    f.declaredLen = s.length;
    f.created = s.created;
    f.modified = s.modified;
    f.clockTimes = s.clockTimes;
    std::vector<Extent> runs;
    if (deleted) {
      bool ok = deletedRuns(s, s.length, runs, f.cutAtEnd);
      if (ok) {
        uint8_t head[kSignatureHead] = {};
        const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof head, s.length));
        ok = device_.read(runs.front().start, head, n) == n && headAgreesWithName(s.name, head, n);
      }
      // A chain taken as one run must hold its format whole (foreign bytes in a fragmented
      // file's gaps break its structure).
      if (ok && runs.size() == 1 && !f.cutAtEnd && runs.front().len == s.length) {
        ok = deletedRunHoldsItsFormat(device_, runs.front().start, s.length, stop_);
      }
      if (!ok) {
        ++dropped_;
        return;
      }
    } else {
      if (!v_.valid(s.first)) {
        budget_.reportChain("exFAT file " + path + ": first cluster " + std::to_string(s.first) +
                            " is outside the volume, skipped");
        return;
      }
      if (s.first > v_.lastUsable) {
        budget_.reportChain("exFAT file " + path +
                            ": its data lies past the end of the device, skipped");
        return;
      }
      const uint64_t clusters = s.length / v_.clusterBytes + (s.length % v_.clusterBytes != 0);
      if (s.noFatChain) {
        const uint64_t inVolume = uint64_t{v_.lastCluster} - s.first + 1;
        f.chainDamaged = clusters > inVolume;
        runs = contiguous(s.first, std::min(clusters, inVolume), s.length, f.cutAtEnd);
      } else {
        std::vector<uint32_t> seq;
        const ChainEnd end = collectChain(s.first, clusters, seq);
        if (end == ChainEnd::stopped) return;
        if (end == ChainEnd::loop) {
          budget_.reportChain("exFAT file " + path + ": its cluster chain loops, cut after " +
                              std::to_string(seq.size()) + " clusters");
        } else if (end == ChainEnd::broken || end == ChainEnd::budget ||
                   (end == ChainEnd::endMark && seq.size() < clusters)) {
          budget_.reportChain("exFAT file " + path + ": its cluster chain ends after " +
                              std::to_string(seq.size()) + " of " + std::to_string(clusters) +
                              " clusters");
        }
        f.chainDamaged = seq.size() < clusters && end != ChainEnd::complete;
        runs = runsOf(seq, s.length, &f.cutAtEnd);
      }
    }
    if (runs.empty()) return;
    f.name = path;
    f.start = runs.front().start;
    for (const Extent& r : runs) f.len += r.len;
    if (f.len < s.length && !f.chainDamaged) f.cutAtEnd = true;
    if (runs.size() > 1) f.extents = std::move(runs);
    if (!sink_(std::move(f))) ended_ = true;
  }

  const Device& device_;
  const Volume& v_;
  AreaReader fat_;
  std::optional<AreaReader> bitmap_;
  const std::atomic<bool>& stop_;
  const FoundSink& sink_;
  WalkBudget& budget_;
  bool ended_ = false;
  uint64_t dropped_ = 0;
};

}  // namespace

bool walkExfatVolume(const Device& device, uint64_t volumeStart, uint64_t regionEnd,
                     const std::atomic<bool>& stop, const FoundSink& sink, WalkBudget& budget) {
  uint8_t boot[512];
  if (volumeStart >= regionEnd || device.read(volumeStart, boot, sizeof boot) < sizeof boot) {
    return false;
  }
  const bool mainSeen = looksExfat(boot);
  bool parsed = false, sumFailed = false;
  std::optional<Volume> v;
  if (mainSeen) {
    v = checkedRegion(device, volumeStart, boot[108], volumeStart, regionEnd, parsed, sumFailed);
  }
  if (!v) {
    // The backup boot region: twelve sectors on, for each sector size.
    bool backupParsed = false, backupFailed = false;
    for (uint32_t shift = 9; shift <= 12 && !v; ++shift) {
      v = checkedRegion(device, volumeStart + (12ull << shift), shift, volumeStart, regionEnd,
                        backupParsed, backupFailed);
    }
    if (!v && !mainSeen) return false;
    if (v) {
      diskLog("exFAT volume at " + hexOffset(volumeStart) +
              ": the main boot region is damaged, its backup is read");
    }
  }
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // Past the checksums, so that the fuzzer reaches what the fields drive.
  if (!v && parsed && sumFailed) v = parseBoot(boot, volumeStart, regionEnd);
#endif
  if (!v) {
    diskLog("exFAT volume at " + hexOffset(volumeStart) +
            (parsed && sumFailed ? ": neither boot region passes its checksum, not read"
                                 : ": its boot sector is not valid, not read"));
    return true;
  }
  if (v->lastUsable < 2) {
    diskLog("exFAT volume at " + hexOffset(volumeStart) +
            ": its data area lies past the device end");
    return true;
  }
  ExfatWalker walker(device, *v, stop, sink, budget);
  walker.run();
  return true;
}

}  // namespace tamsel::disk
