// The FAT walk: the directory tree of a FAT12/16/32 volume, deleted entries included.
// Live files follow their cluster chains; a deleted file's chain is gone from the FAT, so
// its clusters are taken as one contiguous run from its first cluster, and the file is
// listed only when those clusters are still free and its first bytes fit its name. Chains
// that loop, leave the volume or run past the device end are cut. A cluster is read as
// folder entries once in a scan (whatever volume or folder names it again), so a folder
// that contains itself, or folders that share their clusters, are read once.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <unordered_map>

#include "disklib/disk_internal.h"

namespace tamsel::disk {
namespace {

constexpr uint32_t kEnd = 0xFFFFFFFFu;
constexpr uint32_t kBad = 0xFFFFFFFEu;
constexpr size_t kMaxDepth = 64;
constexpr uint64_t kMaxDirectories = 100000;
constexpr uint64_t kMaxEntries = 4000000;
constexpr uint64_t kMaxDirectoryBytes = 65536 * 32;  // the most entries a directory may hold
constexpr uint64_t kDeletedDirectoryBytes = 128 * 1024;
constexpr uint64_t kDirectoryReadBudget = 256ull << 20;  // all directories of one scan

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Volume {
  uint64_t clusterBytes = 0;
  uint64_t fatOffset = 0;
  uint64_t fatBytes = 0;
  uint64_t rootOffset = 0;  // the fixed root directory of FAT12/16
  uint64_t rootBytes = 0;
  uint64_t dataOffset = 0;  // where cluster 2 begins
  int bits = 0;
  uint32_t rootCluster = 0;
  uint32_t lastCluster = 0;  // highest cluster number of the volume
  uint32_t lastUsable = 0;   // highest cluster that begins before the region's end (0: none)
  uint64_t regionEnd = 0;

  uint64_t clusterOffset(uint32_t c) const {
    return dataOffset + static_cast<uint64_t>(c - 2) * clusterBytes;
  }
  bool valid(uint32_t c) const { return c >= 2 && c <= lastCluster; }
};

std::optional<Volume> parseBootSector(const uint8_t* b, uint64_t start, uint64_t regionEnd) {
  if (!(b[0] == 0xEB || b[0] == 0xE9) || b[510] != 0x55 || b[511] != 0xAA) return std::nullopt;
  const uint32_t bps = le16(b + 11);
  const uint32_t spc = b[13];
  const uint32_t reserved = le16(b + 14);
  const uint32_t fats = b[16];
  const uint32_t rootEntries = le16(b + 17);
  const uint32_t total = le16(b + 19) != 0 ? le16(b + 19) : le32(b + 32);
  const uint32_t fatSectors = le16(b + 22) != 0 ? le16(b + 22) : le32(b + 36);
  if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return std::nullopt;
  if (spc == 0 || (spc & (spc - 1)) != 0) return std::nullopt;
  if (reserved == 0 || fats == 0 || fats > 4 || total == 0 || fatSectors == 0) return std::nullopt;
  const uint64_t rootSectors = (static_cast<uint64_t>(rootEntries) * 32 + bps - 1) / bps;
  const uint64_t firstData = reserved + static_cast<uint64_t>(fats) * fatSectors + rootSectors;
  if (firstData >= total) return std::nullopt;
  const uint64_t clusters = (total - firstData) / spc;
  if (clusters == 0) return std::nullopt;

  Volume v;
  v.bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
  if (v.bits == 32 && (rootEntries != 0 || le16(b + 22) != 0)) return std::nullopt;
  if (v.bits != 32 && rootEntries == 0) return std::nullopt;
  v.clusterBytes = static_cast<uint64_t>(bps) * spc;
  v.fatOffset = start + static_cast<uint64_t>(reserved) * bps;
  v.fatBytes = static_cast<uint64_t>(fatSectors) * bps;
  v.rootOffset = v.fatOffset + static_cast<uint64_t>(fats) * v.fatBytes;
  v.rootBytes = rootSectors * bps;
  v.dataOffset = start + firstData * bps;
  // The FAT may address fewer clusters than the sector count claims: trust the smaller.
  const uint64_t addressable = v.fatBytes * 8 / static_cast<uint64_t>(v.bits);
  uint64_t last = std::min<uint64_t>(clusters + 1, addressable > 0 ? addressable - 1 : 0);
  last = std::min<uint64_t>(last, v.bits == 32 ? 0x0FFFFFF6u : v.bits == 16 ? 0xFFF6u : 0xFF6u);
  if (last < 2) return std::nullopt;
  v.lastCluster = static_cast<uint32_t>(last);
  v.regionEnd = regionEnd;
  if (v.dataOffset < regionEnd) {
    uint64_t usable = (regionEnd - v.dataOffset + v.clusterBytes - 1) / v.clusterBytes + 1;
    v.lastUsable = static_cast<uint32_t>(std::min<uint64_t>(usable, v.lastCluster));
  }
  if (v.bits == 32) {
    v.rootCluster = le32(b + 44) & 0x0FFFFFFFu;
    if (!v.valid(v.rootCluster)) return std::nullopt;
  }
  return v;
}

// FAT entries, read in blocks as the walk needs them.
class FatReader {
 public:
  FatReader(const Device& device, const Volume& v) : device_(device), v_(v) {}

  // The next cluster of `c`, or kEnd, kBad (also for an entry outside the FAT), or 0 (free).
  uint32_t next(uint32_t c) {
    uint64_t at = v_.bits == 12 ? c + c / 2 : static_cast<uint64_t>(c) * (v_.bits / 8);
    if (at + (v_.bits == 32 ? 4 : 2) > v_.fatBytes) return kBad;
    uint8_t raw[4] = {byteAt(at), byteAt(at + 1), 0, 0};
    if (v_.bits == 32) {
      raw[2] = byteAt(at + 2);
      raw[3] = byteAt(at + 3);
      uint32_t e = le32(raw) & 0x0FFFFFFFu;
      return e >= 0x0FFFFFF8u ? kEnd : e == 0x0FFFFFF7u ? kBad : e;
    }
    uint32_t e = le16(raw);
    if (v_.bits == 16) return e >= 0xFFF8u ? kEnd : e == 0xFFF7u ? kBad : e;
    e = (c & 1) != 0 ? e >> 4 : e & 0xFFFu;
    return e >= 0xFF8u ? kEnd : e == 0xFF7u ? kBad : e;
  }

 private:
  static constexpr uint64_t kBlock = 64 * 1024;
  uint8_t byteAt(uint64_t at) {
    uint64_t index = at / kBlock;
    auto it = blocks_.find(index);
    if (it == blocks_.end()) {
      if (blocks_.size() >= 256) blocks_.clear();
      std::vector<uint8_t> block(kBlock);
      device_.read(v_.fatOffset + index * kBlock, block.data(), block.size());
      it = blocks_.emplace(index, std::move(block)).first;
    }
    return it->second[at % kBlock];
  }
  const Device& device_;
  const Volume& v_;
  std::unordered_map<uint64_t, std::vector<uint8_t>> blocks_;
};

// One LFN slot: its sequence byte, checksum and 13 UTF-16 units.
struct LfnPiece {
  uint8_t seq;
  uint8_t checksum;
  bool deleted;
  uint16_t units[13];
};

uint8_t shortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

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

// The long name of pieces given in directory order (last part first).
std::string longName(const std::vector<LfnPiece>& pieces) {
  std::vector<uint16_t> units;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    units.insert(units.end(), it->units, it->units + 13);
  }
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u == 0 || u == 0xFFFF) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;
    }
    if (u < 0x20 || u == '/') u = '_';
    appendUtf8(out, u);
  }
  return out;
}

std::string shortName(const uint8_t* e, bool deleted) {
  auto part = [](const uint8_t* p, size_t n, bool lower) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      uint8_t c = p[i];
      if (c < 0x20 || c >= 0x7F || c == '/') c = '_';
      s += static_cast<char>(lower && c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  std::string base = part(e, 8, (e[12] & 0x08) != 0);
  std::string ext = part(e + 8, 3, (e[12] & 0x10) != 0);
  if (deleted && !base.empty()) base[0] = '_';
  // A name may not begin with a space; such an entry's name would otherwise begin with the
  // dot, and one whose extension is "." would read as the parent folder.
  if (base.empty() && !ext.empty()) base = "_";
  return ext.empty() ? base : base + "." + ext;
}

class FatWalker {
 public:
  FatWalker(const Device& device, const Volume& v, const std::atomic<bool>& stop,
            const FoundSink& sink, WalkBudget& budget)
      : device_(device), v_(v), fat_(device, v), stop_(stop), sink_(sink), budget_(budget) {}

  // Deleted files the walk did not list by name.
  uint64_t dropped() const { return dropped_; }

  void run() {
    struct Job {
      std::vector<Extent> runs;
      std::string path;
      size_t depth;
    };
    std::vector<Job> jobs;
    std::vector<Extent> rootRuns;
    if (v_.bits == 32) {
      dirRuns(v_.rootCluster, rootRuns);
    } else if (v_.rootOffset < v_.regionEnd &&
               budget_.claimDirectory(v_.rootOffset, v_.rootBytes)) {
      rootRuns.push_back({v_.rootOffset, std::min(v_.rootBytes, v_.regionEnd - v_.rootOffset)});
    }
    if (rootRuns.empty()) return;  // past the end, or read before as another volume's
    jobs.push_back({std::move(rootRuns), "", 0});
    while (!jobs.empty() && !ended_) {
      Job job = std::move(jobs.back());
      jobs.pop_back();
      if (budget_.directories == 0) {
        diskLog("FAT volume: more than " + std::to_string(kMaxDirectories) +
                " directories, the rest is not read");
        break;
      }
      --budget_.directories;
      std::vector<uint8_t> bytes = readRuns(job.runs);
      readDirectory(bytes, job.path, [&](uint32_t first, const std::string& path, bool deleted) {
        if (job.depth + 1 > kMaxDepth || !v_.valid(first) || first > v_.lastUsable) return;
        std::vector<Extent> runs;
        if (deleted ? !deletedDirRuns(first, runs) : !dirRuns(first, runs)) return;
        jobs.push_back({std::move(runs), path, job.depth + 1});
      });
    }
  }

 private:
  bool stopped() {
    if (stop_.load(std::memory_order_relaxed)) ended_ = true;
    return ended_;
  }

  // Takes cluster `c` as folder entries; false when it was read as such before in this
  // scan, or lies past the region's end (and so holds nothing to read).
  bool claimFolderCluster(uint32_t c) {
    const uint64_t off = v_.clusterOffset(c);
    return off < v_.regionEnd && budget_.claimDirectory(off, v_.clusterBytes);
  }

  // The clusters from `first`, at most `maxClusters` of them, into seq. A folder's chain
  // (`folder`) takes each cluster as folder entries as it goes, and ends before a cluster
  // that was read as folder entries before.
  ChainEnd collectChain(uint32_t first, uint64_t maxClusters, std::vector<uint32_t>& seq,
                        bool folder = false) {
    std::function<bool(uint32_t)> claim;
    if (folder) claim = [this](uint32_t c) { return claimFolderCluster(c); };
    return walkClusterChain(
        first, maxClusters, seq, budget_.chainSteps, kBad,
        [this](uint32_t c) { return fat_.next(c); }, [this](uint32_t c) { return v_.valid(c); },
        claim, [this] { return stopped(); });
  }

  // Runs of whole clusters, cut where the data would pass the region's end.
  std::vector<Extent> runsOf(const std::vector<uint32_t>& seq, uint64_t wanted) {
    std::vector<Extent> runs;
    uint64_t have = 0;
    for (uint32_t c : seq) {
      if (have >= wanted) break;
      uint64_t off = v_.clusterOffset(c);
      if (off >= v_.regionEnd) break;
      uint64_t len = std::min({v_.clusterBytes, v_.regionEnd - off, wanted - have});
      if (!runs.empty() && runs.back().start + runs.back().len == off) {
        runs.back().len += len;
      } else {
        runs.push_back({off, len});
      }
      have += len;
      if (len < v_.clusterBytes) break;
    }
    return runs;
  }

  // A folder's clusters. A folder entry that points at a cluster read before (the folder
  // itself, its parent, a folder of another volume) gives nothing.
  bool dirRuns(uint32_t first, std::vector<Extent>& runs) {
    std::vector<uint32_t> seq;
    uint64_t maxClusters = (kMaxDirectoryBytes + v_.clusterBytes - 1) / v_.clusterBytes;
    ChainEnd end = collectChain(first, maxClusters, seq, /*folder=*/true);
    if (end == ChainEnd::readBefore && !seq.empty()) {
      diskLog("FAT directory at cluster " + std::to_string(first) +
              ": its cluster chain runs into clusters read before, cut after " +
              std::to_string(seq.size()) + " clusters");
    }
    runs = runsOf(seq, kMaxDirectoryBytes);
    return !runs.empty();
  }

  // A deleted directory: its first cluster must still be free and begin with "." and "..".
  // Free clusters after it are taken as its continuation. (A folder made since in the same
  // cluster also begins with "." and "..": read as the deleted one, its live files would be
  // taken for deleted ones.)
  bool deletedDirRuns(uint32_t first, std::vector<Extent>& runs) {
    if (fat_.next(first) != 0) return false;
    uint8_t head[64];
    device_.read(v_.clusterOffset(first), head, sizeof head);
    if (std::memcmp(head, ".          ", 11) != 0 || (head[11] & 0x10) == 0 ||
        std::memcmp(head + 32, "..         ", 11) != 0) {
      return false;
    }
    if (!claimFolderCluster(first)) return false;
    std::vector<uint32_t> seq{first};
    uint64_t maxClusters = std::max<uint64_t>(1, kDeletedDirectoryBytes / v_.clusterBytes);
    for (uint32_t c = first + 1; c <= v_.lastUsable && seq.size() < maxClusters; ++c) {
      if (fat_.next(c) != 0 || !claimFolderCluster(c)) break;
      seq.push_back(c);
    }
    runs = runsOf(seq, maxClusters * v_.clusterBytes);
    return !runs.empty();
  }

  std::vector<uint8_t> readRuns(const std::vector<Extent>& runs) {
    uint64_t total = 0;
    for (const Extent& r : runs) total += r.len;
    total = std::min(total, kMaxDirectoryBytes);
    if (total > budget_.directoryBytes) {
      diskLog("FAT volume: the directories hold more than " +
              std::to_string(kDirectoryReadBudget >> 20) + " MiB, the rest is not read");
      ended_ = true;
      return {};
    }
    budget_.directoryBytes -= total;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(total, kMaxDirectoryBytes)));
    size_t at = 0;
    for (const Extent& r : runs) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(r.len, bytes.size() - at));
      device_.read(r.start, bytes.data() + at, n);
      at += n;
    }
    return bytes;
  }

  template <class EnterDir>
  void readDirectory(const std::vector<uint8_t>& bytes, const std::string& parent,
                     EnterDir&& enterDir) {
    std::vector<LfnPiece> pending;
    for (size_t off = 0; off + 32 <= bytes.size(); off += 32) {
      if (stopped()) return;
      if (budget_.entries == 0) {
        diskLog("FAT volume: more than " + std::to_string(kMaxEntries) +
                " directory entries, the rest is not read");
        ended_ = true;
        return;
      }
      --budget_.entries;
      const uint8_t* e = bytes.data() + off;
      if (e[0] == 0x00) return;  // no entry was ever written past this one
      const bool deleted = e[0] == 0xE5;
      if ((e[11] & 0x3F) == 0x0F) {
        LfnPiece p{e[0], e[13], deleted, {}};
        for (int i = 0; i < 5; ++i) p.units[i] = le16(e + 1 + 2 * i);
        for (int i = 0; i < 6; ++i) p.units[5 + i] = le16(e + 14 + 2 * i);
        for (int i = 0; i < 2; ++i) p.units[11 + i] = le16(e + 28 + 2 * i);
        if (!deleted && (p.seq & 0x40) != 0) pending.clear();
        if (!pending.empty() && pending.back().deleted != deleted) pending.clear();
        if (pending.size() < 20) pending.push_back(p);
        continue;
      }
      std::vector<LfnPiece> pieces;
      pieces.swap(pending);
      if ((e[11] & 0x08) != 0) continue;  // volume label
      if (e[0] == '.' && (e[1] == ' ' || (e[1] == '.' && e[2] == ' '))) continue;
      std::string name = nameOf(e, deleted, pieces);
      if (name.empty()) continue;
      std::string path = parent.empty() ? name : parent + "/" + name;
      uint32_t first = le16(e + 26);
      if (v_.bits == 32) first |= static_cast<uint32_t>(le16(e + 20)) << 16;
      if ((e[11] & 0x10) != 0) {
        enterDir(first, path, deleted);
      } else {
        reportFile(path, first, le32(e + 28), deleted, e);
      }
      if (ended_) return;
    }
  }

  std::string nameOf(const uint8_t* e, bool deleted, const std::vector<LfnPiece>& pieces) {
    std::string fallback = shortName(e, deleted);
    if (pieces.empty()) return fallback;
    bool ok = true;
    if (!deleted) {
      uint8_t sum = shortNameChecksum(e);
      size_t count = pieces[0].seq & 0x1F;
      ok = (pieces[0].seq & 0x40) != 0 && count == pieces.size();
      for (size_t i = 0; ok && i < pieces.size(); ++i) {
        ok = !pieces[i].deleted && pieces[i].checksum == sum &&
             static_cast<size_t>(pieces[i].seq & 0x1F) == count - i;
      }
    } else {
      // The first byte of every slot is gone; the slots must agree with each other.
      for (const LfnPiece& p : pieces) ok = ok && p.deleted && p.checksum == pieces[0].checksum;
    }
    if (!ok) return fallback;
    std::string name = longName(pieces);
    if (name.empty() || name == "." || name == "..") return fallback;
    return name;
  }

  void reportFile(const std::string& path, uint32_t first, uint32_t size, bool deleted,
                  const uint8_t* entry) {
    if (size == 0) return;
    if (!v_.valid(first)) {
      diskLog("FAT file " + path + ": first cluster " + std::to_string(first) +
              " is outside the volume, skipped");
      return;
    }
    if (first > v_.lastUsable) {
      diskLog("FAT file " + path + ": its data lies past the end of the device, skipped");
      return;
    }
    const uint64_t clusters = (static_cast<uint64_t>(size) + v_.clusterBytes - 1) / v_.clusterBytes;
    std::vector<Extent> runs;
    FoundFile f;
    f.deleted = deleted;
    f.declaredLen = size;
    f.created = dosTimeToUnix(le16(entry + 16), le16(entry + 14), entry[13]);
    f.modified = dosTimeToUnix(le16(entry + 24), le16(entry + 22));
    f.clockTimes = true;  // FAT keeps no time zone
    if (deleted) {
      // One run from the first cluster, as long as the size says, cut at the region's end;
      // listed only when all those clusters are free and the first bytes fit the name.
      // Otherwise another file took them since, and the bytes are left to carving.
      const uint64_t start = v_.clusterOffset(first);
      const uint64_t n = std::min<uint64_t>(clusters, uint64_t{v_.lastUsable} - first + 1);
      const uint64_t len = std::min({uint64_t{size}, n * v_.clusterBytes, v_.regionEnd - start});
      // Its chain is gone, so a fragmented file would read as one run with other bytes in
      // its gaps: a whole file must also end where its format's structure says.
      if (len == 0 || !deletedClustersFree(first, n) || !headFits(path, start, len) ||
          (len == size && !deletedRunHoldsItsFormat(device_, start, len, stop_))) {
        ++dropped_;
        return;
      }
      runs.push_back({start, len});
      f.cutAtEnd = len < size;
    } else {
      std::vector<uint32_t> seq;
      ChainEnd end = collectChain(first, clusters, seq);
      if (end == ChainEnd::stopped) return;
      if (end == ChainEnd::loop) {
        budget_.reportChain("FAT file " + path + ": its cluster chain loops, cut after " +
                            std::to_string(seq.size()) + " clusters");
      } else if (end == ChainEnd::broken || end == ChainEnd::budget ||
                 (end == ChainEnd::endMark && seq.size() < clusters)) {
        budget_.reportChain("FAT file " + path + ": its cluster chain ends after " +
                            std::to_string(seq.size()) + " of " + std::to_string(clusters) +
                            " clusters");
      }
      runs = runsOf(seq, size);
      f.chainDamaged = end == ChainEnd::loop || end == ChainEnd::broken ||
                       (end == ChainEnd::endMark && seq.size() < clusters);
    }
    if (runs.empty()) return;
    f.name = path;
    f.start = runs.front().start;
    for (const Extent& r : runs) f.len += r.len;
    if (f.len < size && !f.chainDamaged) f.cutAtEnd = true;
    if (runs.size() > 1) f.extents = std::move(runs);
    if (!sink_(std::move(f))) ended_ = true;
  }

  // Whether the FAT marks clusters [first, first + n) free; each entry takes a step of the
  // chain budget, so that many deleted entries over one large free area stay linear.
  bool deletedClustersFree(uint32_t first, uint64_t n) {
    for (uint64_t c = first; c < first + n; ++c) {
      if (budget_.chainSteps == 0) return false;
      --budget_.chainSteps;
      if (fat_.next(static_cast<uint32_t>(c)) != 0) return false;
    }
    return true;
  }

  bool headFits(const std::string& path, uint64_t start, uint64_t len) {
    uint8_t head[kSignatureHead] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof head, len));
    return device_.read(start, head, n) == n && headAgreesWithName(path, head, n);
  }

  const Device& device_;
  const Volume& v_;
  FatReader fat_;
  const std::atomic<bool>& stop_;
  const FoundSink& sink_;
  WalkBudget& budget_;
  bool ended_ = false;
  uint64_t dropped_ = 0;  // deleted files not listed by name
};

}  // namespace

WalkBudget::WalkBudget(uint64_t deviceBytes)
    : chainSteps(4 * (deviceBytes / 512) + 1000000),
      directoryBytes(kDirectoryReadBudget),
      entries(kMaxEntries),
      directories(kMaxDirectories) {}

void WalkBudget::reportChain(const std::string& line) {
  if (chainReports > 0) diskLog(line);
  if (chainReports == 1) diskLog("more files with damaged cluster chains are not listed");
  if (chainReports > 0) --chainReports;
}

bool WalkBudget::claimDirectory(uint64_t start, uint64_t len) {
  if (len == 0) return true;
  const uint64_t end = start + len;
  auto it = claimed_.lower_bound(end);  // the first range that begins at or after the end
  if (it != claimed_.begin() && std::prev(it)->second > start) return false;
  claimed_.emplace(start, end);
  return true;
}

bool walkFatVolume(const Device& device, uint64_t volumeStart, uint64_t regionEnd,
                   const std::atomic<bool>& stop, const FoundSink& sink, WalkBudget& budget) {
  uint8_t boot[512];
  if (volumeStart >= regionEnd || device.read(volumeStart, boot, sizeof boot) < sizeof boot) {
    return false;
  }
  std::optional<Volume> v = parseBootSector(boot, volumeStart, regionEnd);
  if (!v) return false;
  if (v->lastUsable < 2) {
    diskLog("FAT volume at " + hexOffset(volumeStart) + ": its data area lies past the device end");
    return true;
  }
  FatWalker walker(device, *v, stop, sink, budget);
  walker.run();
  if (walker.dropped() > 0) {
    diskLog("FAT volume at " + hexOffset(volumeStart) + ": " + std::to_string(walker.dropped()) +
            " deleted files not listed by name (their clusters are in use again, or their first "
            "bytes do not match their names); their bytes are left to carving");
  }
  return true;
}

}  // namespace tamsel::disk
