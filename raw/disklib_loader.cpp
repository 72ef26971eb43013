#include "raw/disklib_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "util/log.h"

namespace tamsel {

namespace {

constexpr size_t kOriginalTableBytes = offsetof(export_function_table, abi_version);
// The eleven entries, abi_version and table_size: what a table must hold to say its version.
constexpr size_t kVersionedTableBytes =
    offsetof(export_function_table, table_size) + sizeof(uint32_t);

// The bytes of the table as interface version `version` (1 or later) defines it: the entries
// a later version appended are not read from an older library.
size_t tableBytesOfVersion(uint32_t version) {
  if (version < 2) return offsetof(export_function_table, writeFoundFile);
  if (version < 3) return offsetof(export_function_table, scanDeviceFor);
  return sizeof(export_function_table);
}

void reportLoadFailure(const std::string& reason) {
  logLine("Can't open librec.so:    " + reason);
}

}  // namespace

std::string adoptExportTable(const void* symbol, size_t symbolSize, export_function_table& out) {
  out = export_function_table{};
  if (symbol == nullptr) return "exportFunction is null";
  if (symbolSize == sizeof(void*)) {
    // The symbol is a pointer variable that holds the table's address.
    const void* inner = nullptr;
    std::memcpy(&inner, symbol, sizeof inner);
    if (inner == nullptr) return "exportFunction points to no table";
    symbol = inner;
    symbolSize = 0;
  }
  if (symbolSize != 0 && symbolSize < kOriginalTableBytes) {
    return "exportFunction is too small for the function table (" + std::to_string(symbolSize) +
           " bytes)";
  }
  size_t take = symbolSize == 0 ? kOriginalTableBytes : symbolSize;
  if (take < kVersionedTableBytes) {
    take = kOriginalTableBytes;  // a table from before the additions
  } else {
    uint32_t version = 0, tableSize = 0;
    std::memcpy(&version,
                static_cast<const char*>(symbol) + offsetof(export_function_table, abi_version),
                sizeof version);
    std::memcpy(&tableSize,
                static_cast<const char*>(symbol) + offsetof(export_function_table, table_size),
                sizeof tableSize);
    // Entries are only ever appended, so every version up to ours can be used.
    if (version == 0 || version > TAMSEL_DISKLIB_ABI_VERSION) {
      return "the disk library has interface version " + std::to_string(version) +
             ", expected 1 to " + std::to_string(TAMSEL_DISKLIB_ABI_VERSION);
    }
    if (tableSize < kVersionedTableBytes) {
      return "the disk library reports a table of " + std::to_string(tableSize) + " bytes";
    }
    take = std::min({take, size_t{tableSize}, tableBytesOfVersion(version)});
  }
  take = std::min(take, sizeof(export_function_table));
  std::memcpy(&out, symbol, take);
  return {};
}

bool DiskLibrary::load(const std::filesystem::path& path) {
  unload();
  error_.clear();
  handle_ = ::dlopen(path.c_str(), RTLD_LAZY);
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    error_ = why != nullptr ? why : "unknown error";
    reportLoadFailure(error_);
    return false;
  }
  ::dlerror();
  void* symbol = ::dlsym(handle_, "exportFunction");
  if (symbol == nullptr) {
    const char* why = ::dlerror();
    error_ = why != nullptr ? why : "exportFunction is null";
    reportLoadFailure(error_);
    unload();
    return false;
  }
  size_t size = 0;
  Dl_info info{};
  ElfW(Sym)* entry = nullptr;
  if (::dladdr1(symbol, &info, reinterpret_cast<void**>(&entry), RTLD_DL_SYMENT) != 0 &&
      entry != nullptr) {
    size = entry->st_size;
  }
  std::string refused = adoptExportTable(symbol, size, table_);
  if (!refused.empty()) {
    error_ = refused;
    reportLoadFailure(error_);
    unload();
    return false;
  }
  loaded_ = true;
  return true;
}

void DiskLibrary::unload() {
  loaded_ = false;
  table_ = export_function_table{};
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

list_disk_struct* getCurrentDisk(const export_function_table* table,
                                 std::span<list_disk_struct* const> diskTable,
                                 std::string_view currentDiskName) {
  if (table == nullptr || table->diskDevicePath == nullptr) return nullptr;
  for (list_disk_struct* disk : diskTable) {
    if (disk == nullptr) break;
    const char* path = table->diskDevicePath(disk);
    if (path != nullptr && std::string_view(path) == currentDiskName) return disk;
  }
  return nullptr;
}

}  // namespace tamsel
