// The memory card as a source of the backup-file flow: a card image is recognised by its
// boot sector and scanned through the disk library like a disk chosen in the disk view.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/orlisk_app_delegate.h"
#include "blackberry/ipd_format.h"
#include "raw/raw_scan.h"
#include "tests/fixtures/fat_image_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::FatImageWriter;
using testing::TempFolder;

TEST(MemoryCardSource, BootSectorsAreRecognised) {
  FatImageWriter fat(8192);
  const std::string volume = fat.bytes();
  const std::string disk = FatImageWriter::inMbrDisk(volume, 2048, 2048 + 8192);
  std::string ipd(ipd::kHeaderText);
  ipd.resize(512, '\0');
  std::string signedIpd = ipd;
  signedIpd[510] = '\x55';
  signedIpd[511] = '\xAA';
  std::string badStatus = disk.substr(0, 512);
  badStatus[446] = '\x12';
  struct Case {
    const char* what;
    std::string head;
    bool card;
  };
  const Case cases[] = {
      {"FAT volume", volume.substr(0, 512), true},
      {"MBR disk", disk.substr(0, 512), true},
      {"IPD file", ipd, false},
      {"IPD file with a signature but no partition", signedIpd, false},
      {"partition table with a bad status byte", badStatus, false},
      {"short", volume.substr(0, 511), false},
  };
  for (const Case& c : cases) EXPECT_EQ(looksLikeBootSector(c.head), c.card) << c.what;
}

TEST(MemoryCardSource, CardImageChosenAsABackupFileIsScannedAsACard) {
  auto previous = setLogSink({});
  TempFolder tmp;
  FatImageWriter w(8192);
  const std::string photo(3000, '\x42');
  w.addDirectory("DCIM");
  w.addFile("DCIM/IMG_0001.JPG", photo);
  const fs::path img = tmp.path() / "card.img";
  w.writeTo(img);

  OrliskAppDelegate app(nullptr, tmp.path() / "work");
  ASSERT_TRUE(app.initDll(TAMSEL_DISKLIB_PATH));
  ASSERT_TRUE(app.openPanelDidEnd(img.string(), 1));
  app.waitForScan();
  setLogSink(previous);
  BackupScanOutcome o = app.lastOutcome();
  EXPECT_TRUE(o.readable) << o.error;
  EXPECT_EQ(o.source, "memory card");
  EXPECT_EQ(o.recordsPosted, 1u);
  EXPECT_TRUE(app.brawScan());
  ResultLists lists = app.resultViewController()->snapshot();
  ASSERT_EQ(lists.bbImageArray.size(), 1u);
  auto& image = lists.bbImageArray[0];
  std::string back(image->getfile()->file_len, '\0');
  ASSERT_TRUE(app.readFoundFile(back.data(), image->getfile()));
  EXPECT_EQ(back, photo);
}

}  // namespace
}  // namespace tamsel
