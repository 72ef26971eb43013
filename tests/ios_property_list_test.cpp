// Property lists are parsed only when their shape is harmless: nested lists deep enough to
// run the parser off the stack, loops and exponential sharing in binary lists are refused
// with a reason, and the backup list leaves such a backup out instead of dying.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ios/device_list.h"
#include "ios/property_list.h"
#include "tests/fixtures/hostile_plist.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"

namespace tamsel {
namespace {

using testing::binaryPlistOfArrays;
using testing::nestedXmlPlist;
using Refs = std::vector<uint32_t>;

std::string chain(uint32_t depth) {
  return binaryPlistOfArrays(depth,
                             [depth](uint32_t i) { return i + 1 < depth ? Refs{i + 1} : Refs{}; });
}

// What libplist itself writes, as a backup's lists are written.
std::string libraryBinary(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string out(bytes, length);
  plist_to_bin_free(bytes);
  plist_free(root);
  return out;
}

TEST(PropertyListShape, AcceptsWhatBackupsHoldAndRefusesWhatNoneDoes) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "Device Name", plist_new_string("Anna's phone"));
  plist_t apps = plist_new_array();
  for (int i = 0; i < 50; ++i) plist_array_append_item(apps, plist_new_uint(i));
  plist_dict_set_item(dict, "Apps", apps);
  const std::string ordinary = libraryBinary(dict);
  const std::string cycle = binaryPlistOfArrays(2, [](uint32_t i) { return Refs{1 - i}; });
  // 40 levels of arrays holding the next one twice: 2^40 values once copied out.
  const std::string doubling = binaryPlistOfArrays(40, [](uint32_t i) {
    return i + 1 < 40 ? Refs{i + 1, i + 1} : Refs{};
  });
  std::string pastItsObjects = chain(3);
  pastItsObjects[9] = 7;  // object 0 refers to object 7 of 3

  struct Case {
    const char* what;
    std::string bytes;
    bool accepted;
    const char* why;  // part of the reason of a refusal
  };
  const Case cases[] = {
      {"a dictionary written by the library", ordinary, true, ""},
      {"XML at the depth limit", nestedXmlPlist(kMaxPlistDepth), true, ""},
      {"XML one past it", nestedXmlPlist(kMaxPlistDepth + 1), false, "nested deeper"},
      {"XML 200,000 deep", nestedXmlPlist(200'000), false, "nested deeper"},
      {"binary at the depth limit", chain(kMaxPlistDepth), true, ""},
      {"binary one past it", chain(kMaxPlistDepth + 1), false, "nested deeper"},
      {"binary 100,000 deep", chain(100'000), false, "nested deeper"},
      {"binary objects in a loop", cycle, false, "loop"},
      {"binary objects shared exponentially", doubling, false, "values"},
      {"binary reference past its objects", pastItsObjects, false, "damaged"},
      {"binary cut before its trailer", ordinary.substr(0, 20), false, "damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    EXPECT_EQ(plistShapeAcceptable(c.bytes, &why), c.accepted) << why;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    // What passes the check parses; what does not is never handed to the library.
    PlistPtr parsed = parsePropertyList(c.bytes, &why);
    EXPECT_EQ(parsed != nullptr, c.accepted) << why;
  }
}

TEST(PropertyListShape, RealBackupListsPass) {
  TAMSEL_REQUIRE_TESTDATA("ios/ios14-backup/Info.plist");
  for (const char* name : {"ios/ios14-backup/Info.plist", "ios/misc/History.plist"}) {
    const std::string bytes = testing::readWholeFile(testing::testDataPath(name));
    std::string why;
    EXPECT_NE(parsePropertyList(bytes, &why), nullptr) << name << ": " << why;
  }
}

// One bad backup in the backup folder does not hide the others, or take the program down.
TEST(PropertyListShape, BackupListSkipsABackupWithAHostileList) {
  testing::TempFolder t;
  const std::string hostile[] = {nestedXmlPlist(200'000), chain(100'000)};
  for (size_t i = 0; i < std::size(hostile); ++i) {
    testing::IosBackupWriter bad(t.path() / ("bad" + std::to_string(i)));
    bad.writeManifestPlist({{"DeviceName", "Mallory"}});
    testing::writeWholeFile(bad.folder() / "Info.plist", hostile[i]);
  }
  testing::IosBackupWriter good(t.path() / "good");
  good.writeInfoPlist({{"Device Name", "Anna's phone"}}, true);
  good.writeManifestPlist({{"DeviceName", "Anna's phone"}});

  PRIOSDeviceController list;
  showIphoneDisk(t.path(), list);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.at(0)->strDeviceName, "Anna's phone");
}

}  // namespace
}  // namespace tamsel
