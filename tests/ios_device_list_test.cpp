#include "ios/device_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

#include <string>
#include <vector>

#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::IosBackupWriter;
using testing::TempFolder;

TEST(IosDeviceType, ProductTypeTable) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"", "Iphone"},
      {"iPhone1,1", "Iphone"},
      {"iPhone2,1", "Iphone3GS"},
      {"iPhone3,2", std::nullopt},
      {"iPhone3,3", "Iphone 4"},
      {"iPhone5,2", "Iphone 5"},
      {"IPHONE4,1", "Iphone 4S"},
      {"iPod4,1", "IpodTouch4G"},
      {"iPad2,1", "Ipad 2"},
      {"iPad2,5", std::nullopt},
      {"iPad3,4", "NewIpad"},
      {"iPhone9,3", std::nullopt},
  };
  for (const auto& [type, model] : cases) EXPECT_EQ(GetDevcieType(type), model) << type;
}

// What a folder holds, and the node read from it.
struct NodeCase {
  const char* what;
  bool info;
  bool manifest;
  bool lockdown;
  bool binary;
  bool encrypted;
  bool extraFile;
  // Expected: none when empty name.
  const char* name;
  const char* version;
  const char* itunes;
  const char* type;
  const char* image;
};

TEST(IosDeviceNode, FromTheFolderPropertyLists) {
  const std::vector<NodeCase> cases = {
      {"info only", true, false, false, false, false, true, "Anna", "6.1.3", "11.0", "Ipad 2",
       "iphone"},
      {"binary info", true, false, false, true, false, true, "Anna", "6.1.3", "11.0", "Ipad 2",
       "iphone"},
      {"both: info wins", true, true, true, false, true, false, "Anna", "6.1.3", "11.0", "Ipad 2",
       "iphone"},
      {"manifest only", false, true, true, true, true, true, "Ben", "5.1", "9B176", "NewIpad",
       "ipad"},
      {"manifest without Lockdown", false, true, false, false, false, true, "", "", "", "", ""},
      {"one entry, the info list", true, false, false, false, false, false, "", "", "", "", ""},
      {"no property list", false, false, false, false, false, true, "", "", "", "", ""},
  };
  for (const NodeCase& c : cases) {
    TempFolder tmp;
    IosBackupWriter w(tmp.path(), IosBackupWriter::Layout::flat, IosBackupWriter::Index::none);
    if (c.info) {
      w.writeInfoPlist({{"Device Name", "Anna"},
                        {"Serial Number", "S1"},
                        {"Product Type", "iPad2,1"},
                        {"Product Version", "6.1.3"},
                        {"iTunes Version", "11.0"}},
                       c.binary);
    }
    if (c.manifest && c.lockdown) {
      w.writeManifestPlist({{"DeviceName", "Ben"},
                            {"SerialNumber", "S2"},
                            {"ProductType", "iPad3,4"},
                            {"ProductVersion", "5.1"},
                            {"BuildVersion", "9B176"}},
                           c.encrypted, c.binary);
    } else if (c.manifest) {
      testing::writeWholeFile(tmp.path() / "Manifest.plist",
                              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>"
                              "IsEncrypted</key><false/></dict></plist>");
    }
    if (c.extraFile) testing::writeWholeFile(tmp.path() / "Status.plist", "x");

    auto node = readDeviceNode(tmp.path());
    if (*c.name == '\0') {
      EXPECT_FALSE(node.has_value()) << c.what;
      continue;
    }
    ASSERT_TRUE(node.has_value()) << c.what;
    EXPECT_EQ(node->strDeviceName, c.name) << c.what;
    EXPECT_EQ(node->strIOSVersion, c.version) << c.what;
    EXPECT_EQ(node->itunesVersion, c.itunes) << c.what;
    EXPECT_EQ(node->strDeviceType, c.type) << c.what;
    EXPECT_EQ(node->deviceImage, c.image) << c.what;
    EXPECT_EQ(node->encrypted, c.manifest && c.encrypted) << c.what;
    EXPECT_EQ(node->strDeviceSerial, c.info ? "S1" : "S2") << c.what;
    EXPECT_EQ(node->strDeviceSize,
              c.info ? std::to_string(fs::file_size(tmp.path() / "Info.plist")) : "")
        << c.what;
    EXPECT_EQ(node->backUpFilePath, tmp.path().string()) << c.what;
  }
}

TEST(IosDeviceNode, BackupTimeIsTheListModificationTimeInUtc) {
  TempFolder tmp;
  IosBackupWriter w(tmp.path(), IosBackupWriter::Layout::flat, IosBackupWriter::Index::none);
  w.writeInfoPlist({{"Device Name", "Anna"}});
  w.writeManifestPlist({{"DeviceName", "Ben"}});
  // 2013-05-01 23:59:59 UTC: a local time zone ahead of UTC would show the next day.
  struct timeval times[2] = {{1367452799, 0}, {1367452799, 0}};
  ASSERT_EQ(::utimes((tmp.path() / "Info.plist").c_str(), times), 0);
  ::setenv("TZ", "Asia/Tokyo", 1);
  ::tzset();
  auto node = readDeviceNode(tmp.path());
  ::unsetenv("TZ");
  ::tzset();
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->strDeviceBackUpTime, "2013-05-01 23:59");
}

TEST(IosDeviceNode, OversizedOrBrokenInfoListFallsBackToTheManifest) {
  for (std::string info : {std::string((16 << 20) + 1, ' '), std::string("<plist><dict>")}) {
    TempFolder tmp;
    IosBackupWriter w(tmp.path(), IosBackupWriter::Layout::flat, IosBackupWriter::Index::none);
    w.writeManifestPlist({{"DeviceName", "Ben"}});
    testing::writeWholeFile(tmp.path() / "Info.plist", info);
    auto node = readDeviceNode(tmp.path());
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->strDeviceName, "Ben");
    EXPECT_EQ(node->strDeviceSize, "");
  }
}

TEST(IosDeviceList, ListsTheBackupsOfTheRootInNameOrder) {
  TempFolder root;
  for (const char* name : {"bbb", "aaa", ".hidden"}) {
    IosBackupWriter w(root.path() / name, IosBackupWriter::Layout::flat,
                      IosBackupWriter::Index::none);
    w.writeInfoPlist({{"Device Name", name}});
    w.writeManifestPlist({{"DeviceName", name}});
  }
  fs::create_directory(root.path() / "empty");
  PRIOSDeviceController list;
  showIphoneDisk(root.path(), list);
  ASSERT_EQ(list.count(), 2u);
  EXPECT_EQ(list.at(0)->strDeviceName, "aaa");
  EXPECT_EQ(list.at(1)->strDeviceName, "bbb");

  std::vector<std::string> lines;
  LogSink old = setLogSink([&](std::string_view l) { lines.emplace_back(l); });
  list.addDeviceNodeByPath((root.path() / "missing").string());
  setLogSink(old);
  EXPECT_EQ(list.count(), 2u);
  EXPECT_EQ(lines, std::vector<std::string>{"Filepath is not exist"});

  ::setenv("TAMSEL_BACKUP_ROOT", root.path().c_str(), 1);
  EXPECT_EQ(defaultBackupRoot(), root.path());
  ::setenv("TAMSEL_BACKUP_ROOT", "", 1);
  const char* home = std::getenv("HOME");
  std::string oldHome = home != nullptr ? home : "";
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(defaultBackupRoot(), fs::path("/home/u/Library/Application Support/MobileSync/Backup"));
  ::setenv("HOME", oldHome.c_str(), 1);
  ::unsetenv("TAMSEL_BACKUP_ROOT");
}

TEST(IosDeviceNode, RealBinaryInfoList) {
  TAMSEL_REQUIRE_TESTDATA("ios/ios14-backup/Info.plist");
  auto node = readDeviceNode(testing::testDataPath("ios/ios14-backup"));
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->strIOSVersion, "14.3");
  EXPECT_EQ(node->productType, "iPhone9,3");
  EXPECT_EQ(node->strDeviceType, "");  // no rule for this model
  EXPECT_EQ(node->deviceImage, "iphone");
  EXPECT_FALSE(node->strDeviceName.empty());
  EXPECT_EQ(node->strDeviceSize,
            std::to_string(fs::file_size(testing::testDataPath("ios/ios14-backup/Info.plist"))));
  EXPECT_EQ(node->strDeviceBackUpTime.size(), 16u);
}

}  // namespace
}  // namespace tamsel
