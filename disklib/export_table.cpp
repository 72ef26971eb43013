// The library's only exported symbol: the function table the program looks up as
// "exportFunction". Every entry catches whatever the C++ inside throws, so nothing crosses
// the C boundary.
#include <cerrno>

#include "disklib/disk_list.h"

namespace {

using namespace tamsel::disk;

template <class R, class F>
R guarded(R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    try {
      diskLog(std::string("disk library: ") + e.what());
    } catch (...) {
    }
  } catch (...) {
  }
  return fallback;
}

int eInitDiskList() {
  return guarded(0, [] { return initDiskList(); });
}
list_disk_struct* eNextDisk() {
  return guarded<list_disk_struct*>(nullptr, [] { return nextDisk(); });
}
const char* eDiskDevicePath(list_disk_struct* d) {
  return guarded<const char*>(nullptr, [&] { return diskDevicePath(d); });
}
int eOpenDisk(list_disk_struct* d) {
  return guarded(0, [&] { return openDisk(d); });
}
list_part_struct* eNextPartition() {
  return guarded<list_part_struct*>(nullptr, [] { return nextPartition(); });
}
int ePartitionIndex(list_part_struct* p) {
  return guarded(-1, [&] { return partitionIndex(p); });
}
const char* ePartitionTypeName(list_part_struct* p) {
  return guarded<const char*>(nullptr, [&] { return partitionTypeName(p); });
}
void eScanDevice(const char* path, int index, rec_found_callback found, _rec_file_ele* ele,
                 rec_progress_callback progress, rec_progress* storage) {
  guarded(0, [&] {
    scanDevice(path, index, found, ele, progress, storage);
    return 0;
  });
}
void eStopScan() {
  stopScan();
}
void eReadFoundFile(list_disk_struct* d, void* buffer, _rec_file_ele* ele) {
  guarded(0, [&] {
    readFoundFile(d, buffer, ele);
    return 0;
  });
}
void eRecoverFoundFile(const char* dest, list_disk_struct* d, _rec_file_ele* ele) {
  guarded(0, [&] {
    recoverFoundFile(dest, d, ele);
    return 0;
  });
}
void eSetLogFunction(void (*log)(const char*)) {
  setLogFunction(log);
}
int eAddDiskImage(const char* path) {
  return guarded(0, [&] { return addDiskImage(path); });
}
int eWriteFoundFile(list_disk_struct* d, _rec_file_ele* ele, int fd, uint64_t* unreadable) {
  if (unreadable != nullptr) *unreadable = 0;
  return guarded(EIO, [&] { return writeFoundFile(d, ele, fd, unreadable); });
}
void eScanDeviceFor(const char* path, int index, void* caller, tamsel_found_callback found,
                    tamsel_progress_callback progress) {
  guarded(0, [&] {
    scanDeviceFor(path, index, caller, found, progress);
    return 0;
  });
}
int eReadFoundFile64(list_disk_struct* d, const tamsel_found_file* f, uint64_t offset, void* buffer,
                     uint64_t length, uint64_t* unreadable) {
  if (unreadable != nullptr) *unreadable = 0;
  return guarded(EIO, [&] { return readFoundFile64(d, f, offset, buffer, length, unreadable); });
}
int eWriteFoundFile64(list_disk_struct* d, const tamsel_found_file* f, int fd,
                      uint64_t* unreadable) {
  if (unreadable != nullptr) *unreadable = 0;
  return guarded(EIO, [&] { return writeFoundFile64(d, f, fd, unreadable); });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const export_function_table exportFunction = {
    eInitDiskList,
    eNextDisk,
    eDiskDevicePath,
    eOpenDisk,
    eNextPartition,
    ePartitionIndex,
    ePartitionTypeName,
    eScanDevice,
    eStopScan,
    eReadFoundFile,
    eRecoverFoundFile,
    TAMSEL_DISKLIB_ABI_VERSION,
    sizeof(export_function_table),
    eSetLogFunction,
    eAddDiskImage,
    eWriteFoundFile,
    eScanDeviceFor,
    eReadFoundFile64,
    eWriteFoundFile64,
};
