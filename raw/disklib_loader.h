// Loading the disk library: a shared object that exports one data symbol, "exportFunction",
// the function table of disklib/disklib_api.h. Without the library every raw-recovery
// operation does nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "disklib/disklib_api.h"

namespace tamsel {

class DiskLibrary {
 public:
  DiskLibrary() = default;
  ~DiskLibrary() { unload(); }
  DiskLibrary(const DiskLibrary&) = delete;
  DiskLibrary& operator=(const DiskLibrary&) = delete;

  // Closes a copy loaded before, loads `path` with lazy binding and takes its table. On
  // failure logs "Can't open librec.so:    <reason>" and leaves no table. True on success.
  bool load(const std::filesystem::path& path);
  void unload();

  // The library's table (a checked copy; entries it does not have are null), or null when
  // nothing is loaded.
  const export_function_table* table() const { return loaded_ ? &table_ : nullptr; }
  // Why the last load failed; empty after a success.
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  bool loaded_ = false;
  export_function_table table_{};
  std::string error_;
};

// Checks a table found at `symbol` whose symbol is `symbolSize` bytes long (0: unknown) and
// copies what it holds into `out`; entries beyond it are left null. A symbol the size of one
// pointer is taken as a pointer to the table. A table of unknown size is read as the eleven
// original entries only. A table that carries abi_version must carry one from 1 to ours;
// its table_size and the entries its version defines bound what is read (a version 1 table
// has no writeFoundFile, a version 2 table none of the 64-bit entries). Returns the reason
// it was refused, or "" when taken.
std::string adoptExportTable(const void* symbol, size_t symbolSize, export_function_table& out);

// The first disk of `diskTable` (filled up to its first null handle) whose device path is
// byte for byte `currentDiskName`; null when none matches or the table has no
// diskDevicePath entry.
list_disk_struct* getCurrentDisk(const export_function_table* table,
                                 std::span<list_disk_struct* const> diskTable,
                                 std::string_view currentDiskName);

}  // namespace tamsel
