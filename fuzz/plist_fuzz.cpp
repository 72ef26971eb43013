// Fuzzes the property lists of a phone backup as the backup list and the index read them:
// the input is checked and parsed, walked, written back by the library and checked again;
// it is put in a backup folder as its Info.plist and, beside an ordinary Info.plist, as its
// Manifest.plist for the backup list; and it is read as the description of a stored file
// that an encrypted backup's index keeps. Whatever its nesting, sizes or types, nothing may
// crash, recurse without bound or read outside the bytes.
#include <plist/plist.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ios/device_list.h"
#include "ios/encrypted_backup.h"
#include "ios/property_list.h"
#include "util/log.h"

namespace {

using namespace tamsel;

volatile size_t g_sink = 0;

// Counts the values of a parsed list without recursion.
size_t countValues(plist_t root) {
  size_t n = 0;
  std::vector<plist_t> todo{root};
  while (!todo.empty()) {
    plist_t node = todo.back();
    todo.pop_back();
    ++n;
    const plist_type type = plist_get_node_type(node);
    if (type == PLIST_ARRAY) {
      for (uint32_t i = 0, count = plist_array_get_size(node); i < count; ++i) {
        todo.push_back(plist_array_get_item(node, i));
      }
    } else if (type == PLIST_DICT) {
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      char* key = nullptr;
      plist_t value = nullptr;
      for (plist_dict_next_item(node, it, &key, &value); value != nullptr;
           plist_dict_next_item(node, it, &key, &value)) {
        std::free(key);
        key = nullptr;
        todo.push_back(value);
      }
      std::free(key);
      std::free(it);
    }
  }
  return n;
}

const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "plist-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  return folder;
}

void put(const std::filesystem::path& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

constexpr char kOrdinaryInfo[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
    "<key>Device Name</key><string>phone</string></dict></plist>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    setLogSink({});
    return true;
  }();
  (void)quiet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::string why;
  if (PlistPtr root = parsePropertyList(bytes, &why)) {
    g_sink = g_sink + countValues(root.get());
    // What the library writes of an accepted list is accepted again.
    char* written = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &written, &length);
    if (written != nullptr) {
      if (!plistShapeAcceptable(std::string_view(written, length), &why)) std::abort();
      plist_to_bin_free(written);
    }
  }

  const std::filesystem::path& folder = scratchFolder();
  put(folder / "Info.plist", data, size);
  put(folder / "Manifest.plist", reinterpret_cast<const uint8_t*>(kOrdinaryInfo),
      sizeof kOrdinaryInfo - 1);
  if (auto node = readDeviceNode(folder)) g_sink = g_sink + node->strDeviceName.size();
  put(folder / "Info.plist", reinterpret_cast<const uint8_t*>(kOrdinaryInfo),
      sizeof kOrdinaryInfo - 1);
  put(folder / "Manifest.plist", data, size);
  if (auto node = readDeviceNode(folder)) g_sink = g_sink + node->strDeviceName.size();

  if (auto file = describeStoredFile(std::span<const uint8_t>(data, size), &why)) {
    g_sink = g_sink + file->wrappedKey.size() + file->size.value_or(0);
  }
  return 0;
}
