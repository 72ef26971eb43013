#include "raw/disklib_loader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "util/log.h"

namespace tamsel {
namespace {

std::vector<std::string> captureLog(const std::function<void()>& body) {
  std::vector<std::string> lines;
  LogSink previous = setLogSink([&](std::string_view l) { lines.emplace_back(l); });
  body();
  setLogSink(previous);
  return lines;
}

TEST(DiskLibrary, MissingFileLeavesNoTableAndSaysWhy) {
  DiskLibrary lib;
  bool ok = true;
  auto lines = captureLog([&] { ok = lib.load("/nonexistent/bblib.so"); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(lib.table(), nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Can't open librec.so:    ", 0), 0u);
  EXPECT_NE(lines[0].find("/nonexistent/bblib.so"), std::string::npos);
  EXPECT_FALSE(lib.error().empty());
}

TEST(DiskLibrary, LibraryWithoutTheTableIsRefused) {
  DiskLibrary lib;
  bool ok = true;
  auto lines = captureLog([&] { ok = lib.load("libm.so.6"); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(lib.table(), nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("exportFunction"), std::string::npos);
}

int fakeInit() {
  return 7;
}
void fakeStop() {}
int fakeWrite(list_disk_struct*, _rec_file_ele*, int, uint64_t*) {
  return 0;
}
void fakeScanFor(const char*, int, void*, tamsel_found_callback, tamsel_progress_callback) {}
int fakeWrite64(list_disk_struct*, const tamsel_found_file*, int, uint64_t*) {
  return 0;
}

TEST(AdoptExportTable, TakesCurrentLegacyAndPointerTables) {
  export_function_table full{};
  full.initDiskList = fakeInit;
  full.stopScan = fakeStop;
  full.abi_version = TAMSEL_DISKLIB_ABI_VERSION;
  full.table_size = sizeof full;
  export_function_table out{};
  EXPECT_EQ(adoptExportTable(&full, sizeof full, out), "");
  EXPECT_EQ(out.initDiskList, fakeInit);
  EXPECT_EQ(out.stopScan, fakeStop);
  EXPECT_EQ(out.abi_version, TAMSEL_DISKLIB_ABI_VERSION);

  // A library built before the additions: eleven entries and nothing after them.
  struct Legacy {
    void* entries[11];
  } legacy{};
  std::memcpy(&legacy, &full, sizeof legacy);
  EXPECT_EQ(adoptExportTable(&legacy, sizeof legacy, out), "");
  EXPECT_EQ(out.initDiskList, fakeInit);
  EXPECT_EQ(out.abi_version, 0u);
  EXPECT_EQ(adoptExportTable(&legacy, 0, out), "");  // size unknown: the eleven entries
  EXPECT_EQ(out.stopScan, fakeStop);

  // A version 1 library: its table ends before writeFoundFile, which stays null even when
  // memory after the table happens to hold something.
  export_function_table v1 = full;
  v1.abi_version = 1;
  v1.table_size = offsetof(export_function_table, writeFoundFile);
  v1.writeFoundFile = fakeWrite;
  EXPECT_EQ(adoptExportTable(&v1, v1.table_size, out), "");
  EXPECT_EQ(out.stopScan, fakeStop);
  EXPECT_EQ(out.writeFoundFile, nullptr);
  EXPECT_EQ(adoptExportTable(&v1, sizeof v1, out), "");  // its version says what it holds
  EXPECT_EQ(out.writeFoundFile, nullptr);
  full.writeFoundFile = fakeWrite;
  EXPECT_EQ(adoptExportTable(&full, sizeof full, out), "");
  EXPECT_EQ(out.writeFoundFile, fakeWrite);

  // A version 2 library: its table ends before the 64-bit entries.
  full.scanDeviceFor = fakeScanFor;
  full.writeFoundFile64 = fakeWrite64;
  export_function_table v2 = full;
  v2.abi_version = 2;
  v2.table_size = offsetof(export_function_table, scanDeviceFor);
  for (size_t size : {size_t{v2.table_size}, sizeof v2}) {
    EXPECT_EQ(adoptExportTable(&v2, size, out), "");
    EXPECT_EQ(out.writeFoundFile, fakeWrite);
    EXPECT_EQ(out.scanDeviceFor, nullptr);
    EXPECT_EQ(out.writeFoundFile64, nullptr);
  }
  // A version 3 table that says it is shorter than the 64-bit entries does not get them.
  export_function_table shortV3 = full;
  shortV3.table_size = offsetof(export_function_table, readFoundFile64);
  EXPECT_EQ(adoptExportTable(&shortV3, sizeof shortV3, out), "");
  EXPECT_EQ(out.scanDeviceFor, fakeScanFor);
  EXPECT_EQ(out.writeFoundFile64, nullptr);
  EXPECT_EQ(adoptExportTable(&full, sizeof full, out), "");
  EXPECT_EQ(out.scanDeviceFor, fakeScanFor);
  EXPECT_EQ(out.writeFoundFile64, fakeWrite64);

  // The symbol is a pointer that holds the table's address.
  const export_function_table* pointer = &full;
  EXPECT_EQ(adoptExportTable(&pointer, sizeof pointer, out), "");
  EXPECT_EQ(out.initDiskList, fakeInit);
}

TEST(AdoptExportTable, RefusesWhatItCannotTrust) {
  export_function_table out{};
  out.initDiskList = fakeInit;
  EXPECT_NE(adoptExportTable(nullptr, 0, out), "");
  EXPECT_EQ(out.initDiskList, nullptr);  // nothing left over from before

  export_function_table wrongAbi{};
  wrongAbi.abi_version = TAMSEL_DISKLIB_ABI_VERSION + 1;
  wrongAbi.table_size = sizeof wrongAbi;
  EXPECT_NE(adoptExportTable(&wrongAbi, sizeof wrongAbi, out), "");
  wrongAbi.abi_version = 0;
  EXPECT_NE(adoptExportTable(&wrongAbi, sizeof wrongAbi, out), "");
  export_function_table tinySize{};
  tinySize.abi_version = TAMSEL_DISKLIB_ABI_VERSION;
  tinySize.table_size = 16;
  EXPECT_NE(adoptExportTable(&tinySize, sizeof tinySize, out), "");

  char tooSmall[40] = {};
  EXPECT_NE(adoptExportTable(tooSmall, sizeof tooSmall, out), "");

  const export_function_table* none = nullptr;
  EXPECT_NE(adoptExportTable(&none, sizeof none, out), "");
}

char gDisks[3];
const char* fakeDevicePath(list_disk_struct* d) {
  char* c = reinterpret_cast<char*>(d);
  if (c == &gDisks[0]) return "/dev/rdisk1";
  if (c == &gDisks[1]) return "/dev/rdisk2";
  return "/dev/rdisk2";
}

TEST(GetCurrentDisk, FirstDiskWithTheSameDevicePath) {
  export_function_table t{};
  t.diskDevicePath = fakeDevicePath;
  auto* d0 = reinterpret_cast<list_disk_struct*>(&gDisks[0]);
  auto* d1 = reinterpret_cast<list_disk_struct*>(&gDisks[1]);
  auto* d2 = reinterpret_cast<list_disk_struct*>(&gDisks[2]);
  list_disk_struct* table[26] = {d0, d1, d2};
  EXPECT_EQ(getCurrentDisk(&t, table, "/dev/rdisk2"), d1);
  EXPECT_EQ(getCurrentDisk(&t, table, "/dev/rdisk1"), d0);
  EXPECT_EQ(getCurrentDisk(&t, table, "/dev/rdisk"), nullptr);
  list_disk_struct* gap[3] = {d0, nullptr, d1};
  EXPECT_EQ(getCurrentDisk(&t, gap, "/dev/rdisk2"), nullptr);  // an empty slot ends the table
  EXPECT_EQ(getCurrentDisk(nullptr, table, "/dev/rdisk1"), nullptr);
  export_function_table noPath{};
  EXPECT_EQ(getCurrentDisk(&noPath, table, "/dev/rdisk1"), nullptr);
}

}  // namespace
}  // namespace tamsel
