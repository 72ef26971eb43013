// The library's entries, as plain functions of the disk library (exported only through
// the function table).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "disklib/disk_internal.h"

namespace tamsel::disk {

int initDiskList();
list_disk_struct* nextDisk();
const char* diskDevicePath(list_disk_struct* disk);
int openDisk(list_disk_struct* disk);
list_part_struct* nextPartition();
int partitionIndex(list_part_struct* part);
const char* partitionTypeName(list_part_struct* part);
int addDiskImage(const char* path);

// Partition `number` of the disk at `path`: from the latest listing of that disk, else
// read now.
std::optional<PartitionInfo> findPartition(const std::string& path, int number);
std::vector<PartitionInfo> partitionsOf(const std::string& path);

void scanDevice(const char* path, int index, rec_found_callback found, _rec_file_ele* ele,
                rec_progress_callback progress, rec_progress* progressStorage);
void stopScan();
void readFoundFile(list_disk_struct* disk, void* buffer, _rec_file_ele* ele);
void recoverFoundFile(const char* destPath, list_disk_struct* disk, _rec_file_ele* ele);
int writeFoundFile(list_disk_struct* disk, _rec_file_ele* ele, int fd, uint64_t* unreadable);
// Interface version 3: the scan with the caller's pointer and 64-bit records.
void scanDeviceFor(const char* path, int index, void* caller, tamsel_found_callback found,
                   tamsel_progress_callback progress);
int readFoundFile64(list_disk_struct* disk, const tamsel_found_file* file, uint64_t offset,
                    void* buffer, uint64_t length, uint64_t* unreadable);
int writeFoundFile64(list_disk_struct* disk, const tamsel_found_file* file, int fd,
                     uint64_t* unreadable);
void setLogFunction(void (*log)(const char* line));

}  // namespace tamsel::disk
