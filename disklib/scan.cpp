// The raw scan and the reading of found files. A scan first walks the FAT and exFAT volumes
// it finds (the whole device at offset 0 and every partition, or the one partition asked
// for), then carves the whole region for files by signature, skipping the bytes of files the
// walk found. Found files are reported by their first byte on the disk (not on the partition),
// so the disk handle alone is enough to read them later. A fragmented walked file is kept by
// the library (its runs, keyed by disk path, first byte, length and name) until the next
// scan of the same disk; every other found file is one contiguous run.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "disklib/disk_list.h"

namespace tamsel::disk {
namespace {

std::atomic<bool> gStop{false};
std::atomic<void (*)(const char*)> gLog{nullptr};

using FragmentKey = std::tuple<std::string, uint64_t, uint64_t, std::string>;
std::mutex gFragmentMutex;
std::map<FragmentKey, std::vector<Extent>>& fragments() {
  static std::map<FragmentKey, std::vector<Extent>> m;
  return m;
}

void forgetFragments(const std::string& path) {
  std::lock_guard lock(gFragmentMutex);
  auto& m = fragments();
  for (auto it = m.begin(); it != m.end();) {
    it = std::get<0>(it->first) == path ? m.erase(it) : std::next(it);
  }
}

// A found file as the program hands it back: first byte, length and name (the 32-bit record
// of the older entries, or the 64-bit one).
struct FileRef {
  uint64_t start = 0;
  uint64_t len = 0;
  std::string name;
};

FileRef refOf(const _rec_file_ele* ele) {
  FileRef f{ele->file_start, ele->file_len, {}};
  if (ele->pFileName != nullptr) {
    f.name.assign(ele->pFileName, ::strnlen(ele->pFileName, ele->file_name_len));
  }
  return f;
}

FileRef refOf(const tamsel_found_file* file) {
  FileRef f{file->file_start, file->file_len, {}};
  if (file->name != nullptr) f.name.assign(file->name, ::strnlen(file->name, file->name_len));
  return f;
}

// The runs of a found file on `path`.
std::vector<Extent> runsOf(const std::string& path, const FileRef& f) {
  {
    std::lock_guard lock(gFragmentMutex);
    auto it = fragments().find({path, f.start, f.len, f.name});
    if (it != fragments().end()) return it->second;
  }
  return {{f.start, f.len}};
}

// The bytes of a found file that lie on a device of `deviceSize` bytes: its runs in order,
// up to the first one the device's end cuts.
uint64_t bytesHeld(const FoundFile& f, uint64_t deviceSize) {
  const std::vector<Extent> one{{f.start, f.len}};
  uint64_t held = 0;
  for (const Extent& e : f.extents.empty() ? one : f.extents) {
    if (e.start >= deviceSize) break;
    const uint64_t in = std::min(e.len, deviceSize - e.start);
    held += in;
    if (in < e.len) break;
  }
  return std::min(held, f.len);
}

// Writes all `n` bytes, retrying short writes; 0 or the errno value of the failed write.
int writeAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno != 0 ? errno : EIO;
    if (w == 0) return EIO;  // no progress and no error: the write would never end
    data += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

// Takes the pieces of a copy in order; 0 or the errno value of its failure.
using PutPiece = std::function<int(const uint8_t* data, size_t n)>;
PutPiece fdSink(int fd);

// What a copy met: the bytes written as zeros and where the first of them lies on the disk.
struct CopyDamage {
  uint64_t zeroed = 0;
  uint64_t firstAt = 0;
};

// Reads the `n` bytes at `at` again sector by sector after the disk failed on them, leaving
// zeros in `out` for the sectors that still fail. `failing` carries the length of the run of
// unreadable bytes across calls. Returns 0, or EIO when the disk ended or too much of it
// failed (the disk is taken as gone).
int rereadSectors(const Device& device, const std::string& diskPath, const std::string& name,
                  uint64_t fileLen, uint64_t at, uint8_t* out, size_t n, uint64_t& failing,
                  CopyDamage& damage) {
  constexpr uint64_t kSector = 512;
  for (size_t done = 0; done < n;) {
    const uint64_t pos = at + done;
    const size_t len = static_cast<size_t>(std::min<uint64_t>(kSector - pos % kSector, n - done));
    switch (device.readExact(pos, out + done, len)) {
      case Device::Status::kRead:
        failing = 0;
        break;
      case Device::Status::kEnded:
        diskLog("found file " + name + ": " + diskPath + " ends at " + hexOffset(pos) +
                ", before the file's end");
        return EIO;
      case Device::Status::kFailed:
        std::memset(out + done, 0, len);
        if (damage.zeroed == 0) damage.firstAt = pos;
        damage.zeroed += len;
        failing += len;
        if (failing > TAMSEL_DISKLIB_MAX_FAILING_RUN || damage.zeroed > fileLen / 4) {
          diskLog("found file " + name + ": " + diskPath + " cannot be read from " +
                  hexOffset(damage.firstAt) + " on (" + std::to_string(damage.zeroed) +
                  " bytes unreadable); the disk is taken as gone");
          return EIO;
        }
        break;
    }
    done += len;
  }
  return 0;
}

// Copies the found file's runs on `device` to `put`, a piece of a mebibyte at a time: the
// runs' bytes are gathered into the piece, so a file of many small runs is still handed on in
// large pieces, and reads after a run's first one fall on mebibyte boundaries of the disk. A
// piece the disk cannot read is read again sector by sector and the sectors that still fail
// are written as zeros (counted in `zeroed`, and logged once for the file). A run past the
// disk's end, a disk that ends during the copy, a run list shorter than the file, or more
// unreadable bytes than rereadSectors allows fail the copy (EIO). Returns 0,
// TAMSEL_DISKLIB_ZERO_FILLED, or the errno value of the failure, which is logged.
// `put` takes each piece in order and returns 0 or the errno value of its failure. Only
// `count` bytes from byte `offset` of the file are copied (a preview's part of a file, or
// what a kernel copy left).
int copyRuns(const Device& device, const std::string& diskPath, const FileRef& file,
             uint64_t offset, uint64_t count, const PutPiece& put, uint64_t& zeroed) {
  constexpr uint64_t kPiece = 1 << 20;
  const std::string& name = file.name;
  std::vector<uint8_t> piece(static_cast<size_t>(std::clamp<uint64_t>(count, 1, kPiece)));
  size_t filled = 0;  // bytes of `piece` not yet handed on
  auto flush = [&]() {
    if (filled == 0) return 0;
    const int error = put(piece.data(), filled);
    if (error != 0) diskLog("found file " + name + ": cannot write it: " + std::strerror(error));
    filled = 0;
    return error;
  };
  CopyDamage damage;
  uint64_t failing = 0;  // unreadable bytes in a row
  uint64_t skip = offset;
  uint64_t left = count;
  for (Extent r : runsOf(diskPath, file)) {
    if (left == 0) break;
    if (skip >= r.len) {
      skip -= r.len;
      continue;
    }
    r.start += skip;
    r.len -= skip;
    skip = 0;
    const uint64_t len = std::min(r.len, left);
    if (r.start > device.size() || len > device.size() - r.start) {
      diskLog("found file " + name + ": its bytes at " + hexOffset(r.start) +
              " lie past the end of " + diskPath);
      return EIO;
    }
    for (uint64_t done = 0; done < len;) {
      const uint64_t at = r.start + done;
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>({piece.size() - filled, len - done, kPiece - at % kPiece}));
      uint8_t* out = piece.data() + filled;
      switch (device.readExact(at, out, n)) {
        case Device::Status::kRead:
          failing = 0;
          break;
        case Device::Status::kEnded:
          diskLog("found file " + name + ": " + diskPath + " ends before " + hexOffset(at + n) +
                  ", inside the file");
          return EIO;
        case Device::Status::kFailed:
          if (int error = rereadSectors(device, diskPath, name, count, at, out, n, failing, damage);
              error != 0) {
            zeroed = damage.zeroed;
            return error;
          }
          break;
      }
      zeroed = damage.zeroed;
      filled += n;
      if (filled == piece.size()) {
        if (int error = flush(); error != 0) return error;
      }
      done += n;
    }
    left -= len;
  }
  if (int error = flush(); error != 0) return error;
  if (left > 0) {
    diskLog("found file " + name + ": its runs on " + diskPath + " end " + std::to_string(left) +
            " bytes short of its length");
    return EIO;
  }
  if (damage.zeroed == 0) return 0;
  diskLog("found file " + name + ": " + std::to_string(damage.zeroed) + " unreadable bytes of " +
          diskPath + " (the first at " + hexOffset(damage.firstAt) + ") written as zeros");
  return TAMSEL_DISKLIB_ZERO_FILLED;
}

// Lets the kernel copy the first bytes of the found file from the device to `fd` (at its
// position), without passing them through the library: copy_file_range for an image file,
// sendfile for a block device or where the two files cannot share a copy. Only files whose
// runs are all of a mebibyte or more (a contiguous file is one run) are copied so, and only
// with the device's own reads (a test's read hook sees every byte). Returns the bytes copied;
// the caller copies the rest through copyRuns, which reports what stopped the kernel (a read
// error, the device's end, a descriptor that cannot be written).
uint64_t kernelCopy(const Device& device, const std::vector<Extent>& runs, uint64_t count, int fd) {
  constexpr uint64_t kMinRun = 1 << 20, kCall = 1 << 30;
  if (devicePread != &::pread) return 0;
  if (runs.size() > 1 &&
      std::any_of(runs.begin(), runs.end(), [](const Extent& r) { return r.len < kMinRun; })) {
    return 0;
  }
  bool useSendfile = device.isBlockDevice();
  uint64_t copied = 0;
  for (const Extent& r : runs) {
    const uint64_t len = std::min(r.len, count - copied);
    if (r.start > device.size() || len > device.size() - r.start) break;
    for (uint64_t done = 0; done < len;) {
      const size_t want = static_cast<size_t>(std::min(len - done, kCall));
      ssize_t got;
      if (!useSendfile) {
        auto in = static_cast<loff_t>(r.start + done);
        got = ::copy_file_range(device.fd(), &in, fd, nullptr, want, 0);
        // Files the kernel cannot copy between (another file system, a pipe, O_APPEND ...):
        // sendfile may still take them, and reports the same errors when it cannot.
        if (got < 0 && done == 0 && copied == 0 && errno != EINTR && errno != EIO &&
            errno != ENOSPC) {
          useSendfile = true;
          continue;
        }
      } else {
        auto in = static_cast<off_t>(r.start + done);
        got = ::sendfile(fd, device.fd(), &in, want);
      }
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return copied;
      done += static_cast<uint64_t>(got);
      copied += static_cast<uint64_t>(got);
    }
    if (copied == count) break;
  }
  return copied;
}

// Writes the found file's first `count` bytes to `fd`: what the kernel can copy, then the
// rest through copyRuns.
int copyToFd(const Device& device, const std::string& diskPath, const FileRef& file, uint64_t count,
             int fd, uint64_t& zeroed) {
  const uint64_t copied = kernelCopy(device, runsOf(diskPath, file), count, fd);
  if (copied == count) return 0;
  return copyRuns(device, diskPath, file, copied, count - copied, fdSink(fd), zeroed);
}

PutPiece fdSink(int fd) {
  return [fd](const uint8_t* data, size_t n) { return writeAll(fd, data, n); };
}

}  // namespace

void diskLog(const std::string& line) {
  if (auto* log = gLog.load(); log != nullptr) {
    log(line.c_str());
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void setLogFunction(void (*log)(const char* line)) {
  gLog.store(log);
}

void stopScan() {
  gStop.store(true);
}

namespace {

// Every file a scan finds, whatever its length, with the bytes of it the device holds.
using ScanFound = std::function<void(const FoundFile& file, uint64_t held)>;
using ScanProgress = std::function<void(uint64_t done, uint64_t total)>;

// The scan behind both scan entries.
void scanWith(const char* pathText, int index, const ScanFound& found,
              const ScanProgress& progress) {
  gStop.store(false);
  if (pathText == nullptr) return;
  const std::string path = pathText;
  std::string error;
  std::unique_ptr<Device> device = Device::open(path, error);
  if (!device) {
    diskLog("scanDevice: " + error);
    return;
  }
  uint64_t begin = 0, end = device->size();
  std::vector<uint64_t> volumes{0};
  if (index == 255) {
    for (const PartitionInfo& p : partitionsOf(path)) volumes.push_back(p.start);
  } else {
    std::optional<PartitionInfo> part = findPartition(path, index);
    if (!part) {
      diskLog("scanDevice: " + path + " has no partition " + std::to_string(index));
      return;
    }
    begin = std::min(part->start, end);
    end = std::min(end, part->start + part->size);
    volumes = {begin};
  }
  if (begin >= end) return;

  auto report = [&](uint64_t done) { progress(done, end - begin); };
  report(0);

  forgetFragments(path);
  std::set<std::tuple<uint64_t, uint64_t, std::string>> reported;
  auto emit = [&](FoundFile&& f) {
    if (gStop.load(std::memory_order_relaxed)) return false;
    if (f.len == 0) return true;
    if (!reported.emplace(f.start, f.len, f.name).second) return true;
    const uint64_t held = bytesHeld(f, device->size());
    if (f.extents.size() > 1) {
      // Read back by the length the record gives: the whole one, or what the device holds.
      std::lock_guard lock(gFragmentMutex);
      fragments()[{path, f.start, f.len, f.name}] = f.extents;
      if (held != f.len) fragments()[{path, f.start, held, f.name}] = f.extents;
    }
    found(f, held);
    return !gStop.load(std::memory_order_relaxed);
  };

  RangeSet walked;
  const FoundSink walkedFile = [&](FoundFile&& f) {
    if (f.extents.empty()) {
      walked.add(f.start, f.len);
    } else {
      for (const Extent& e : f.extents) walked.add(e.start, e.len);
    }
    return emit(std::move(f));
  };
  WalkBudget budget(end - begin);  // shared by the volumes
  std::set<uint64_t> seen;
  for (uint64_t v : volumes) {
    if (gStop.load() || v >= end || !seen.insert(v).second) continue;
    if (!walkFatVolume(*device, v, end, gStop, walkedFile, budget)) {
      walkExfatVolume(*device, v, end, gStop, walkedFile, budget);
    }
  }
  walked.finish();
  if (gStop.load()) return;
  carveRegion(*device, begin, end, walked, gStop, emit, report);
}

}  // namespace

void scanDevice(const char* pathText, int index, rec_found_callback found, _rec_file_ele* ele,
                rec_progress_callback progress, rec_progress* progressStorage) {
  scanWith(
      pathText, index,
      [&](const FoundFile& f, uint64_t) {
        // The record's file_len is 32 bits: a file of 4 GiB or more is not listed here (its
        // bytes are still kept from carving); scanDeviceFor lists it.
        if (f.len > UINT32_MAX) {
          diskLog("found file " + f.name + " at " + hexOffset(f.start) + ": " +
                  std::to_string(f.len) +
                  " bytes, more than a found-file record can carry; not listed");
          return;
        }
        if (found == nullptr || ele == nullptr) return;
        ele->file_start = f.start;
        ele->file_len = static_cast<uint32_t>(f.len);
        ele->file_name_len = static_cast<uint32_t>(f.name.size());
        ele->pFileName = const_cast<char*>(f.name.data());
        ele->journal_file = nullptr;
        found(ele);
        ele->pFileName = nullptr;
      },
      [&](uint64_t done, uint64_t total) {
        if (progress == nullptr || progressStorage == nullptr) return;
        std::memset(progressStorage->reserved, 0, sizeof progressStorage->reserved);
        progressStorage->current = done;
        progressStorage->total = total;
        progress(progressStorage);
      });
}

void scanDeviceFor(const char* pathText, int index, void* caller, tamsel_found_callback found,
                   tamsel_progress_callback progress) {
  scanWith(
      pathText, index,
      [&](const FoundFile& f, uint64_t held) {
        if (found == nullptr || held == 0) return;
        tamsel_found_file r{};
        r.record_size = sizeof r;
        r.flags = (f.deleted ? TAMSEL_FOUND_DELETED : 0u) |
                  (f.chainDamaged ? TAMSEL_FOUND_CHAIN_DAMAGED : 0u) |
                  (f.cutAtEnd || held < f.len ? TAMSEL_FOUND_TRUNCATED : 0u) |
                  (f.clockTimes ? TAMSEL_FOUND_CLOCK_TIMES : 0u);
        r.file_start = f.start;
        r.file_len = held;
        r.declared_len = f.declaredLen != 0 ? f.declaredLen : f.len;
        r.create_time = f.created;
        r.modify_time = f.modified;
        r.name_len = static_cast<uint32_t>(f.name.size());
        r.name = f.name.data();
        found(caller, &r);
      },
      [&](uint64_t done, uint64_t total) {
        if (progress != nullptr) progress(caller, done, total);
      });
}

void readFoundFile(list_disk_struct* disk, void* buffer, _rec_file_ele* ele) {
  if (disk == nullptr || buffer == nullptr || ele == nullptr) return;
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, ele->file_len);
  std::string error;
  std::unique_ptr<Device> device = Device::open(disk->path, error);
  if (!device) {
    diskLog("readFoundFile: " + error);
    return;
  }
  uint64_t at = 0;
  for (const Extent& r : runsOf(disk->path, refOf(ele))) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(r.len, ele->file_len - at));
    device->read(r.start, out + at, n);
    at += n;
    if (at >= ele->file_len) break;
  }
}

namespace {

// Copies the found file `ref` (`length` bytes) of the disk at `path` to fd; `caller` names
// the entry point in the log line of a disk that cannot be opened.
int writeFound(const std::string& path, const FileRef& ref, uint64_t length, int fd,
               uint64_t& unreadable, const char* caller) {
  if (fd < 0) return EBADF;
  std::string error;
  std::unique_ptr<Device> device = Device::open(path, error);
  if (!device) {
    diskLog(std::string(caller) + ": " + error);
    return EIO;
  }
  return copyToFd(*device, path, ref, length, fd, unreadable);
}

}  // namespace

int writeFoundFile(list_disk_struct* disk, _rec_file_ele* ele, int fd, uint64_t* unreadable) {
  uint64_t zeroed = 0;
  if (unreadable == nullptr) unreadable = &zeroed;
  *unreadable = 0;
  if (disk == nullptr || ele == nullptr) return EINVAL;
  return writeFound(disk->path, refOf(ele), ele->file_len, fd, *unreadable, "writeFoundFile");
}

int writeFoundFile64(list_disk_struct* disk, const tamsel_found_file* file, int fd,
                     uint64_t* unreadable) {
  uint64_t zeroed = 0;
  if (unreadable == nullptr) unreadable = &zeroed;
  *unreadable = 0;
  if (disk == nullptr || file == nullptr) return EINVAL;
  return writeFound(disk->path, refOf(file), file->file_len, fd, *unreadable, "writeFoundFile64");
}

int readFoundFile64(list_disk_struct* disk, const tamsel_found_file* file, uint64_t offset,
                    void* buffer, uint64_t length, uint64_t* unreadable) {
  uint64_t zeroed = 0;
  if (unreadable == nullptr) unreadable = &zeroed;
  *unreadable = 0;
  if (disk == nullptr || file == nullptr || (buffer == nullptr && length > 0)) return EINVAL;
  auto* out = static_cast<uint8_t*>(buffer);
  if (length > 0) std::memset(out, 0, length);
  if (offset >= file->file_len || length == 0) return 0;
  std::string error;
  std::unique_ptr<Device> device = Device::open(disk->path, error);
  if (!device) {
    diskLog("readFoundFile64: " + error);
    return EIO;
  }
  uint64_t at = 0;
  return copyRuns(
      *device, disk->path, refOf(file), offset, std::min(length, file->file_len - offset),
      [&](const uint8_t* data, size_t n) {
        std::memcpy(out + at, data, n);
        at += n;
        return 0;
      },
      *unreadable);
}

void recoverFoundFile(const char* destPath, list_disk_struct* disk, _rec_file_ele* ele) {
  if (destPath == nullptr || disk == nullptr || ele == nullptr) return;
  if (::strnlen(destPath, TAMSEL_DISKLIB_PATH_MAX) >= TAMSEL_DISKLIB_PATH_MAX) {
    diskLog("recoverFoundFile: the destination path is too long");
    return;
  }
  std::string error;
  std::unique_ptr<Device> device = Device::open(disk->path, error);
  if (!device) {
    diskLog("recoverFoundFile: " + error);
    return;
  }
  // Never replaces a file, and never writes through a link planted at the destination.
  int fd = ::open(destPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    diskLog(std::string("recoverFoundFile: ") + destPath + ": " + std::strerror(errno));
    return;
  }
  // A file with unreadable sectors is kept with zeros in their place: the log names them.
  uint64_t zeroed = 0;
  const int result = copyToFd(*device, disk->path, refOf(ele), ele->file_len, fd, zeroed);
  bool ok = result == 0 || result == TAMSEL_DISKLIB_ZERO_FILLED;
  if (::close(fd) != 0) {
    diskLog(std::string("recoverFoundFile: cannot write ") + destPath + ": " +
            std::strerror(errno));
    ok = false;
  }
  if (!ok) ::unlink(destPath);
}

}  // namespace tamsel::disk
