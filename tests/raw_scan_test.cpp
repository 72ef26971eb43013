// The raw scan: which found files become records, the progress numbers, the callbacks'
// routing to the running scan, and a whole memory-card scan through the controller, the
// disk view and the result screen with the built disk library.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "app/disk_view_controller.h"
#include "app/orlisk_app_delegate.h"
#include "events/notification_names.h"
#include "raw/raw_scan.h"
#include "tests/fixtures/fat_image_test.h"

namespace tamsel {
namespace {

_rec_file_ele element(uint32_t len, const char* name) {
  return _rec_file_ele{0x1000, len, static_cast<uint32_t>(std::strlen(name)),
                       const_cast<char*>(name), nullptr};
}

TEST(RawScanRecords, EveryFileFromOneByteToWhatTheRecordCarriesIsKept) {
  EXPECT_NE(makeScanListNode(element(209715201, "video.mov")), nullptr);  // past 200 MiB
  EXPECT_NE(makeScanListNode(element(UINT32_MAX, "max.mov")), nullptr);
  EXPECT_EQ(makeScanListNode(element(UINT32_MAX, "max.mov"))->fileSizeNumber, UINT32_MAX);
  EXPECT_NE(makeScanListNode(element(1, "one.txt")), nullptr);
  EXPECT_EQ(makeScanListNode(element(0, "empty.jpg")), nullptr);
}

TEST(RawScanRecords, RecordCarriesNameKindSizeAndItsOwnCopyOfTheElement) {
  std::string name = "DCIM/pic.JpG";
  _rec_file_ele e{0xABCDEF, 1500000, static_cast<uint32_t>(name.size()), name.data(), nullptr};
  auto node = makeScanListNode(e);
  ASSERT_NE(node, nullptr);
  name = "overwritten!";  // the node keeps its own copy
  EXPECT_EQ(node->nodeName, "DCIM/pic.JpG");
  EXPECT_EQ(node->fileType, "Image");
  EXPECT_EQ(node->nodeSizeString, "1.50M");
  EXPECT_EQ(node->fileSizeNumber, 1500000u);
  EXPECT_EQ(node->getfile()->file_start, 0xABCDEFu);
  EXPECT_STREQ(node->getfile()->pFileName, "DCIM/pic.JpG");
  EXPECT_EQ(makeScanListNode(element(5, "a.d/noext"))->fileType, "Document");
  EXPECT_EQ(makeScanListNode(element(5, "mail.eml"))->fileType, "Document");
  EXPECT_EQ(makeScanListNode(element(5, "clip.3g2"))->fileType, "Video");
  EXPECT_EQ(makeScanListNode(element(5, "x.7z"))->fileType, "Archive");
}

TEST(RawScanRecords, ProgressIsTruncatedPercentOfTheTotal) {
  auto pct = [](uint64_t cur, uint64_t total) {
    rec_progress p{};
    p.current = cur;
    p.total = total;
    return rawProgressPercent(p);
  };
  EXPECT_EQ(pct(0, 7), 0);
  EXPECT_EQ(pct(1, 3), 33);
  EXPECT_EQ(pct(2, 3), 66);
  EXPECT_EQ(pct(7, 7), 100);
  EXPECT_EQ(pct(1ull << 40, 1ull << 41), 50);  // a 2 TiB card
  EXPECT_EQ(pct(5, 0), -1);
}

// A fake library whose scan reports what the test put in gReports.
std::vector<_rec_file_ele> gReports;
std::atomic<int> gStops{0};
RawScanSession* gNested = nullptr;
bool gNestedResult = true;
void fakeScan(const char*, int, rec_found_callback found, _rec_file_ele* ele,
              rec_progress_callback progress, rec_progress* storage) {
  storage->current = 0;
  storage->total = 4;
  progress(storage);
  if (gNested != nullptr) gNestedResult = gNested->run("/dev/other", 255);
  for (size_t i = 0; i < gReports.size(); ++i) {
    *ele = gReports[i];
    found(ele);
    storage->current = i + 1;
    progress(storage);
  }
}
void fakeStop() {
  ++gStops;
}

TEST(RawScanSession, CallbacksPostRecordsAndProgressToTheRunningScanOnly) {
  NotificationCenter nc;
  std::vector<std::string> names;
  std::vector<int64_t> progress;
  nc.addObserver(notify::kBlackBerryRawRecoveryFileInfo, [&](const Notification& n) {
    names.push_back(n.record<PRScanListNode>()->nodeName);
  });
  nc.addObserver(notify::kBlackBerryRawRecoveryProgress,
                 [&](const Notification& n) { progress.push_back(n.number()); });
  export_function_table t{};
  t.scanDevice = fakeScan;
  t.stopScan = fakeStop;
  gReports = {element(10, "a.jpg"), element(0, "empty.txt"), element(209715201, "big.mov"),
              element(3, "c.mp3")};
  RawScanSession other(nc, &t);
  gNested = &other;
  RawScanSession scan(nc, &t);
  EXPECT_TRUE(scan.run("/dev/sdb", 255));
  gNested = nullptr;
  EXPECT_FALSE(gNestedResult);  // one raw scan at a time
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "big.mov", "c.mp3"}));
  EXPECT_EQ(progress, (std::vector<int64_t>{0, 25, 50, 75, 100}));
  EXPECT_EQ(scan.filesPosted(), 3u);

  // Callbacks with no scan running are ignored.
  names.clear();
  _rec_file_ele stray = element(5, "stray.jpg");
  m_finded(&stray);
  EXPECT_TRUE(names.empty());

  // While the program's stop flag is set every callback asks the library to stop again.
  std::atomic<bool> stop{true};
  gStops = 0;
  RawScanSession stopping(nc, &t, &stop);
  stopping.run("/dev/sdb", 1);
  EXPECT_EQ(gStops.load(), 9);

  export_function_table empty{};
  RawScanSession none(nc, &empty);
  EXPECT_FALSE(none.run("/dev/sdb", 255));
}

TEST(RawScanFlow, MemoryCardScanFilesRecordsPreviewsAndRecovers) {
  TempFolder tmp;
  FatImageWriter w(8192);
  const std::string text = "a deleted memo\n", photo(3000, '\x42');
  w.addFile("memo.txt", text, /*deleted=*/true);
  w.addDirectory("DCIM");
  w.addFile("DCIM/IMG_0001.JPG", photo, false, /*fragmented=*/true);
  const fs::path img = tmp.path() / "card.img";
  w.writeTo(img);

  OrliskAppDelegate app(nullptr, tmp.path() / "work");
  ASSERT_TRUE(app.initDll(TAMSEL_DISKLIB_PATH));
  app.diskTable()->addDiskImage(img.c_str());
  PRDiskViewController disks(app);
  disks.showView();
  std::shared_ptr<PRDiskInfoNode> row;
  for (const auto& r : disks.diskFileController().content()) {
    if (r->diskdev == img.string()) row = r;
  }
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(row->isLeaf);
  disks.outlineViewSelectionDidChange(row);
  int finished = 0;
  app.scanThreadFinish = [&] { ++finished; };
  ASSERT_TRUE(disks.CilckScan());
  app.waitForRawScan();
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(app.brawScan());
  EXPECT_FALSE(app.rawScanRunning());

  ResultLists lists = app.resultViewController()->snapshot();
  ASSERT_EQ(lists.bbImageArray.size(), 1u);
  ASSERT_EQ(lists.bbDocumentArray.size(), 1u);
  auto& image = lists.bbImageArray[0];
  EXPECT_EQ(image->nodeName, "DCIM/IMG_0001.JPG");
  EXPECT_EQ(image->nodeSizeString, "3.00K");
  EXPECT_EQ(lists.bbDocumentArray[0]->nodeName, "memo.txt");

  std::string preview(image->getfile()->file_len, '\0');
  ASSERT_TRUE(app.readFoundFile(preview.data(), image->getfile()));
  EXPECT_EQ(preview, photo);

  PRResultViewController& results = *app.resultViewController();
  results.selectAll(Category::RawImage, true);
  results.selectAll(Category::RawDocument, true);
  const fs::path out = tmp.path() / "out";
  fs::create_directories(out);
  results.savePanelDidEnd(1, out.string());
  results.waitForRecovery();
  RecoveryReport report = results.lastRecoveryReport();
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(report.written.size(), 2u);
  for (const auto& p : report.written) {
    const std::string got = readWholeFile(p);
    EXPECT_TRUE(got == photo || got == text) << p;
  }
}

}  // namespace
}  // namespace tamsel
