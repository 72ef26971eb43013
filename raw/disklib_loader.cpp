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
  if (take >= sizeof(export_function_table)) {
    export_function_table full;
    std::memcpy(&full, symbol, sizeof full);
    if (full.abi_version != TAMSEL_DISKLIB_ABI_VERSION) {
      return "the disk library has interface version " + std::to_string(full.abi_version) +
             ", expected " + std::to_string(TAMSEL_DISKLIB_ABI_VERSION);
    }
    if (full.table_size < kOriginalTableBytes) {
      return "the disk library reports a table of " + std::to_string(full.table_size) + " bytes";
    }
    take = std::min<size_t>(full.table_size, sizeof(export_function_table));
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
