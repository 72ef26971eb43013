// Fuzzes the disk library's scan of a hostile memory card: the input is scanned as a whole
// disk (FAT or exFAT walk at offset 0 and in every partition its table names, then
// carving), and again as partition 1 of an MBR disk built around it. Every found file is
// read back through its runs. The image lives in a memory file reached through
// /proc/self/fd, so no file is written per input.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "disklib/disk_list.h"
#include "util/text.h"

namespace {

// Larger inputs are skipped, so that one input scans in a few milliseconds.
constexpr size_t kMaxInput = 4u << 20;
// The partition of the MBR disk begins at the classic first track.
constexpr uint32_t kPartitionSector = 63;
// Found files read back per scan, at most: their count and their bytes.
constexpr size_t kReadBackFiles = 256;
constexpr uint64_t kReadBackBytes = 16u << 20;

struct Found {
  std::string name;
  uint64_t start;
  uint32_t len;
};

struct Expect {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t lastProgress = 0;
  std::vector<Found> found;
};
Expect gExpect;

volatile uint64_t gSink = 0;

[[noreturn]] void fail(const char* what, const std::string& name, uint64_t start, uint64_t len) {
  std::fprintf(stderr, "fat_fuzz: %s: \"%s\" at 0x%llx, %llu bytes\n", what, name.c_str(),
               static_cast<unsigned long long>(start), static_cast<unsigned long long>(len));
  __builtin_trap();
}

void quiet(const char*) {}

// A found file's name is a path of clean components: none empty, "." or "..".
bool cleanPath(const std::string& name) {
  if (name.empty() ||
      !tamsel::isValidUtf8(std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size())))
    return false;
  size_t from = 0;
  for (;;) {
    size_t slash = name.find('/', from);
    std::string part = name.substr(from, slash == std::string::npos ? slash : slash - from);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

void onFound(_rec_file_ele* ele) {
  if (ele == nullptr || ele->pFileName == nullptr) __builtin_trap();
  std::string name(ele->pFileName, ele->file_name_len);
  if (name.size() != ::strnlen(ele->pFileName, ele->file_name_len)) {
    fail("a zero byte inside the name", name, ele->file_start, ele->file_len);
  }
  if (!cleanPath(name)) fail("a name that is not a clean path", name, 0, 0);
  // Found files begin inside the scanned region and are no longer than it. (A fragmented
  // file's runs may lie before its first one, so its first byte plus its length may pass
  // the region's end.)
  if (ele->file_len == 0 || ele->file_start < gExpect.begin || ele->file_start >= gExpect.end ||
      ele->file_len > gExpect.end - gExpect.begin) {
    fail("a file outside the scanned region", name, ele->file_start, ele->file_len);
  }
  // Carved files are one run each.
  if (name.rfind("carved_", 0) == 0 && ele->file_start + ele->file_len > gExpect.end) {
    fail("a carved file passing the region's end", name, ele->file_start, ele->file_len);
  }
  gExpect.found.push_back({std::move(name), ele->file_start, ele->file_len});
}

void onProgress(rec_progress* p) {
  // Progress only moves forward and never passes the total.
  if (p->current < gExpect.lastProgress || p->current > p->total) __builtin_trap();
  gExpect.lastProgress = p->current;
}

int memoryFile() {
  static const int fd = [] {
    int f = ::memfd_create("fat_fuzz", MFD_CLOEXEC);
    if (f < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    tamsel::disk::setLogFunction(quiet);
    return f;
  }();
  return fd;
}

void fill(int fd, const std::vector<uint8_t>& bytes) {
  if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
    std::abort();
  }
  for (size_t at = 0; at < bytes.size();) {
    ssize_t n = ::pwrite(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
    if (n <= 0) std::abort();
    at += static_cast<size_t>(n);
  }
}

bool endsWith(const std::string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
}

// A carved file's bytes must bear out the length the carver gave it: a movie is a whole
// number of boxes (a box size that wraps must not send the walk back), a ZIP ends with its
// end record and that record's comment, plain text holds no control bytes.
void checkCarved(const Found& f, const std::vector<uint8_t>& b) {
  static const char* const kZipKinds[] = {".zip", ".docx", ".xlsx", ".pptx", ".odt",
                                          ".ods", ".odp",  ".epub", ".jar",  ".apk"};
  if (f.name.rfind("carved_", 0) != 0) return;
  const uint64_t len = b.size();
  auto be32 = [&](uint64_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
  };
  if (endsWith(f.name, ".mp4") || endsWith(f.name, ".mov") || endsWith(f.name, ".3gp") ||
      endsWith(f.name, ".m4a")) {
    uint64_t at = 0;
    while (at < len) {
      if (len - at < 8) fail("a movie ending inside a box header", f.name, f.start, f.len);
      uint64_t size = be32(at);
      if (size == 1) {
        if (len - at < 16) fail("a movie ending inside a box header", f.name, f.start, f.len);
        size = (uint64_t{be32(at + 8)} << 32) | be32(at + 12);
      }
      if (size < 8 || size > len - at)
        fail("a movie that is no chain of boxes", f.name, f.start, f.len);
      at += size;
    }
  } else if (std::any_of(std::begin(kZipKinds), std::end(kZipKinds),
                         [&](const char* ext) { return endsWith(f.name, ext); })) {
    bool ended = false;
    for (uint64_t comment = 0; !ended && comment <= 0xFFFF && comment + 22 <= len; ++comment) {
      const uint64_t at = len - 22 - comment;
      ended = b[at] == 'P' && b[at + 1] == 'K' && b[at + 2] == 5 && b[at + 3] == 6 &&
              static_cast<uint64_t>(b[at + 20] | (b[at + 21] << 8)) == comment;
    }
    if (!ended) fail("a ZIP not ending with its end record", f.name, f.start, f.len);
  } else if (endsWith(f.name, ".txt")) {
    for (uint8_t c : b) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
        fail("text holding a control byte", f.name, f.start, f.len);
      }
    }
  }
}

void scan(const std::string& path, int index, uint64_t begin, uint64_t end) {
  gExpect = Expect{begin, end, 0, {}};
  _rec_file_ele ele{};
  rec_progress progress{};
  tamsel::disk::scanDevice(path.c_str(), index, onFound, &ele, onProgress, &progress);

  list_disk_struct disk;
  disk.path = path;
  uint64_t budget = kReadBackBytes;
  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < gExpect.found.size() && i < kReadBackFiles; ++i) {
    Found& f = gExpect.found[i];
    if (f.len > budget) break;
    budget -= f.len;
    buffer.assign(f.len, 0);
    _rec_file_ele e{f.start, f.len, static_cast<uint32_t>(f.name.size()), f.name.data(), nullptr};
    tamsel::disk::readFoundFile(&disk, buffer.data(), &e);
    checkCarved(f, buffer);
    gSink = gSink + buffer.front() + buffer.back();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const int fd = memoryFile();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  // (a) The input as a whole disk.
  std::vector<uint8_t> image(data, data + size);
  fill(fd, image);
  scan(path, 255, 0, size);

  // (b) The input as partition 1 of an MBR disk, padded to whole sectors.
  const uint64_t sectors = (size + 511) / 512;
  image.assign((kPartitionSector + sectors) * 512, 0);
  std::memcpy(image.data() + kPartitionSector * 512, data, size);
  uint8_t* entry = image.data() + 446;
  entry[4] = 0x0C;  // FAT32 with LBA
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = static_cast<uint8_t>(kPartitionSector >> (8 * i));
    entry[12 + i] = static_cast<uint8_t>(sectors >> (8 * i));
  }
  image[510] = 0x55;
  image[511] = 0xAA;
  fill(fd, image);
  scan(path, 1, kPartitionSector * 512, image.size());
  return 0;
}
