// The disk library's 64-bit found-file records: what reaches the scan list, scans with their
// own callback pointer, a card scan's count labels, and the built library's 64-bit reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "events/notification_names.h"
#include "raw/disklib_loader.h"
#include "raw/raw_scan.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/fat_image_test.h"
#include "util/log.h"

namespace tamsel {
namespace {

tamsel_found_file record(const char* name, uint64_t len, uint32_t flags = 0, int64_t created = 0,
                         int64_t modified = 0) {
  tamsel_found_file f{};
  f.record_size = sizeof f;
  f.flags = flags;
  f.file_start = 0x200000;
  f.file_len = len;
  f.declared_len = len;
  f.create_time = created;
  f.modify_time = modified;
  f.name_len = static_cast<uint32_t>(std::strlen(name));
  f.name = name;
  return f;
}

// Date texts are local time: the cases run in UTC.
class UtcZone : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> saved_;
};

using FoundFileRecords = UtcZone;

TEST_F(FoundFileRecords, FlagsTimesAndLengthsReachTheRecord) {
  struct Case {
    const char* name;
    uint64_t len;
    uint32_t flags;
    int64_t created, modified;
    const char* kind;
    const char* size;
    const char* deleted;
    const char* validity;
    const char* createText;
    const char* modifyText;
  };
  const Case cases[] = {
      {"DCIM/a.jpg", 1500000, 0, 0, 0, "Image", "1.50M", "", "", "", ""},
      {"gone.txt", 999, TAMSEL_FOUND_DELETED, 1399890030, 1399890090, "Document", "999.00B", "Yes",
       "", "05-12-2014 10:20", "05-12-2014 10:21"},
      {"loop.mov", 209715201, TAMSEL_FOUND_CHAIN_DAMAGED, 0, 1399890030, "Video", "209.72M", "",
       "Damaged (broken chain)", "", "05-12-2014 10:20"},
      {"cut.zip", 4294967296ull, TAMSEL_FOUND_TRUNCATED | TAMSEL_FOUND_DELETED, -5, 0, "Archive",
       "4.29G", "Yes", "Damaged (cut short)", "", ""},
      {"big.mp4", 5000000000ull, TAMSEL_FOUND_CHAIN_DAMAGED | TAMSEL_FOUND_TRUNCATED, 0, 0, "Video",
       "5.00G", "", "Damaged (broken chain, cut short)", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto node = makeScanListNode(record(c.name, c.len, c.flags, c.created, c.modified));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->nodeName, c.name);
    EXPECT_EQ(node->fileType, c.kind);
    EXPECT_EQ(node->fileSizeNumber, c.len);
    EXPECT_EQ(node->nodeSizeString, c.size);
    EXPECT_EQ(node->bDeleted, c.deleted);
    EXPECT_EQ(node->validaty, c.validity);
    EXPECT_EQ(node->createTime, c.createText);
    EXPECT_EQ(node->modifyTime, c.modifyText);
    EXPECT_EQ(node->foundFlags, c.flags);
    EXPECT_EQ(node->getfile()->file_start, 0x200000u);
    EXPECT_EQ(node->getfile()->file_len, std::min<uint64_t>(c.len, UINT32_MAX));
    // The record handed back to the library carries the whole length.
    const tamsel_found_file back = foundFileOf(*node);
    EXPECT_EQ(back.file_len, c.len);
    EXPECT_EQ(back.flags, c.flags);
    EXPECT_EQ(std::string(back.name, back.name_len), c.name);
  }
}

// A FAT time shows what the camera's clock showed in any zone; a zoned time the viewer's.
TEST_F(FoundFileRecords, ClockTimesAreShownAsTheCardsClockShowedThem) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  auto clock = makeScanListNode(
      record("a.jpg", 10, TAMSEL_FOUND_CLOCK_TIMES | TAMSEL_FOUND_DELETED, 1399890030, 0));
  auto zoned = makeScanListNode(record("b.jpg", 10, 0, 1399890030, 0));
  ASSERT_NE(clock, nullptr);
  ASSERT_NE(zoned, nullptr);
  EXPECT_EQ(clock->createTime, "05-12-2014 10:20");
  EXPECT_EQ(zoned->createTime, "05-12-2014 06:20");
}

TEST_F(FoundFileRecords, DamageIsLoggedWithWhatTheDiskHolds) {
  std::vector<std::string> lines;
  LogSink previous = setLogSink([&](std::string_view l) { lines.emplace_back(l); });
  tamsel_found_file cut = record("clip.mov", 1000, TAMSEL_FOUND_TRUNCATED);
  cut.declared_len = 3000;
  makeScanListNode(cut);
  makeScanListNode(record("fine.jpg", 10));
  setLogSink(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("clip.mov"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("the disk ends inside it; 1000 of 3000 bytes"), std::string::npos)
      << lines[0];
}

// A newer library's longer record is read up to our fields; one too short to hold a name is
// refused, as is an empty file.
TEST_F(FoundFileRecords, LongerAndShorterRecordsAndEmptyFiles) {
  struct Newer {
    tamsel_found_file known;
    uint64_t appended;
  } newer{record("a.jpg", 10, TAMSEL_FOUND_DELETED, 1399890030, 0), ~0ull};
  newer.known.record_size = sizeof newer;
  auto node = makeScanListNode(newer.known);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->bDeleted, "Yes");
  EXPECT_EQ(node->createTime, "05-12-2014 10:20");

  tamsel_found_file f = record("a.jpg", 10);
  for (uint32_t size :
       {0u, 8u, uint32_t{offsetof(tamsel_found_file, name)}, uint32_t{sizeof f - 1}}) {
    f.record_size = size;
    EXPECT_EQ(makeScanListNode(f), nullptr) << size;
  }
  EXPECT_EQ(makeScanListNode(record("empty.jpg", 0)), nullptr);
  tamsel_found_file nameless = record("", 5);
  nameless.name = nullptr;
  ASSERT_NE(makeScanListNode(nameless), nullptr);
  EXPECT_EQ(makeScanListNode(nameless)->fileType, "Document");
}

// ------------------------------------------------------------------ sessions

// A fake version 3 library reporting files named after the device, two scans kept in step.
std::barrier<>* gBothScanning = nullptr;
std::atomic<int> gOldScans{0};
void fakeScanFor(const char* path, int, void* caller, tamsel_found_callback found,
                 tamsel_progress_callback progress) {
  const std::string base(path);
  for (int i = 0; i < 50; ++i) {
    if (gBothScanning != nullptr) gBothScanning->arrive_and_wait();
    const std::string name = base + "/" + std::to_string(i) + ".jpg";
    tamsel_found_file f = record(name.c_str(), 100 + i, i % 2 == 0 ? TAMSEL_FOUND_DELETED : 0);
    found(caller, &f);
    progress(caller, i + 1, 50);
  }
}
void fakeOldScan(const char*, int, rec_found_callback, _rec_file_ele*, rec_progress_callback,
                 rec_progress*) {
  ++gOldScans;
}

struct Collected {
  std::vector<std::string> names;
  std::vector<int64_t> progress;
};

void collect(NotificationCenter& nc, Collected& c) {
  nc.addObserver(notify::kBlackBerryRawRecoveryFileInfo, [&c](const Notification& n) {
    c.names.push_back(n.record<PRScanListNode>()->nodeName);
  });
  nc.addObserver(notify::kBlackBerryRawRecoveryProgress,
                 [&c](const Notification& n) { c.progress.push_back(n.number()); });
}

// Each of two scans at once gets its own files and progress; the older entry goes unused.
TEST(FoundFileSessions, TwoScansAtOnceKeepTheirOwnCallbacks) {
  export_function_table t{};
  t.scanDevice = fakeOldScan;
  t.scanDeviceFor = fakeScanFor;
  NotificationCenter nc[2];
  Collected got[2];
  for (int i = 0; i < 2; ++i) collect(nc[i], got[i]);
  std::barrier both(2);
  gBothScanning = &both;
  gOldScans = 0;
  bool ran[2] = {false, false};
  {
    std::jthread a([&] { ran[0] = RawScanSession(nc[0], &t).run("/dev/sda", 255); });
    std::jthread b([&] { ran[1] = RawScanSession(nc[1], &t).run("/dev/sdb", 1); });
  }
  gBothScanning = nullptr;
  EXPECT_TRUE(ran[0] && ran[1]);
  EXPECT_EQ(gOldScans.load(), 0);
  const char* devices[2] = {"/dev/sda", "/dev/sdb"};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(got[i].names.size(), 50u);
    for (int k = 0; k < 50; ++k) {
      EXPECT_EQ(got[i].names[k], std::string(devices[i]) + "/" + std::to_string(k) + ".jpg");
    }
    EXPECT_EQ(got[i].progress.front(), 2);
    EXPECT_EQ(got[i].progress.back(), 100);
  }
}

// ------------------------------------------------------------------ the result screen

// A card scan counts its files by kind, found and deleted, on labels of its own.
TEST(FoundFileCounts, CardFilesCountByKindFoundAndDeleted) {
  NotificationCenter nc;
  fakes::FakeResultView view;
  fakes::FakeResultHost host;
  host.raw = true;
  PRResultViewController pr{nc, view, host};
  pr.showView();
  const std::pair<const char*, uint32_t> files[] = {
      {"a.jpg", 0}, {"b.jpg", TAMSEL_FOUND_DELETED}, {"c.png", 0},
      {"d.mov", 0}, {"e.mp3", TAMSEL_FOUND_DELETED}, {"f.pdf", 0},
      {"g.zip", 0}, {"h.7z", TAMSEL_FOUND_DELETED},  {"i.rar", TAMSEL_FOUND_DELETED},
  };
  for (const auto& [name, flags] : files) {
    nc.post(notify::kBlackBerryRawRecoveryFileInfo,
            std::shared_ptr<PRNode>(makeScanListNode(record(name, 10, flags))));
  }
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{50});
  const std::pair<ResultField, const char*> labels[] = {
      {ResultField::imageNumlab, "Images:  2"},
      {ResultField::delImageNumlab, "Images:  1"},
      {ResultField::videoNumlab, "Videos:  1"},
      {ResultField::delVideoNumlab, "Videos:  0"},
      {ResultField::audioNumlab, "Audio:  0"},
      {ResultField::delAudioNumlab, "Audio:  1"},
      {ResultField::documentNumlab, "Documents:  1"},
      {ResultField::delDocumentNumlab, "Documents:  0"},
      {ResultField::archiveNumlab, "Archives:  1"},
      {ResultField::delArchiveNumlab, "Archives:  2"},
      {ResultField::photovideoNumlab, "Photo&Video:  0"},
  };
  for (const auto& [field, text] : labels) EXPECT_EQ(view.text(field), text);
  pr.ScanThreadFinish();
  for (const auto& [field, text] : labels) EXPECT_EQ(view.text(field), text);  // final counts

  // Archives tick and select like every other kind.
  EXPECT_EQ(pr.selectAll(Category::RawArchive, true), 3);
  EXPECT_EQ(pr.selectedFilesNum(), 3);
  EXPECT_EQ(countTickedRecords(pr.snapshot(), true), 3);
}

// ------------------------------------------------------------------ the built library

class FoundFileLibrary : public testing::DiskLibHarness {
 protected:
  // The records a scan of `image` posts, by name.
  std::map<std::string, std::shared_ptr<PRScanListNode>> listed(const fs::path& image) {
    NotificationCenter nc;
    std::map<std::string, std::shared_ptr<PRScanListNode>> found;
    nc.addObserver(notify::kBlackBerryRawRecoveryFileInfo, [&](const Notification& n) {
      auto node = n.record<PRScanListNode>();
      found[node->nodeName] = node;
    });
    RawScanSession(nc, t).run(image.string(), 255);
    return found;
  }
  // The disk handle the library lists for `image`.
  list_disk_struct* diskOf(const fs::path& image) {
    t->addDiskImage(image.c_str());
    t->initDiskList();
    while (list_disk_struct* d = t->nextDisk()) {
      if (image.string() == t->diskDevicePath(d)) return d;
    }
    return nullptr;
  }

  TempFolder tmp_;
};

// A deleted file is marked, a fragmented one read from an offset across its gap (its writing
// is disk_write_test's).
TEST_F(FoundFileLibrary, DeletedMarkAndReadsThroughThe64BitEntries) {
  FatImageWriter w(8192);
  const std::string memo = "a deleted memo\n", photo = testing::noiseBytes(5000, 7);
  w.addFile("memo.txt", memo, /*deleted=*/true);
  w.addFile("IMG_0001.JPG", photo, false, /*fragmented=*/true);
  const fs::path image = tmp_.path() / "card.img";
  w.writeTo(image);

  ASSERT_EQ(t->abi_version, TAMSEL_DISKLIB_ABI_VERSION);
  auto found = listed(image);
  ASSERT_EQ(found.count("memo.txt"), 1u);
  ASSERT_EQ(found.count("IMG_0001.JPG"), 1u);
  EXPECT_EQ(found["memo.txt"]->bDeleted, "Yes");
  EXPECT_EQ(found["IMG_0001.JPG"]->bDeleted, "");
  EXPECT_EQ(found["IMG_0001.JPG"]->validaty, "");
  EXPECT_EQ(found["IMG_0001.JPG"]->fileSizeNumber, photo.size());
  // FAT keeps no time zone: the entries' times are marked as the card's clock reading.
  EXPECT_NE(found["IMG_0001.JPG"]->foundFlags & TAMSEL_FOUND_CLOCK_TIMES, 0u);

  list_disk_struct* disk = diskOf(image);
  ASSERT_NE(disk, nullptr);
  const tamsel_found_file f = foundFileOf(*found["IMG_0001.JPG"]);
  // Across the gap between its clusters, and past its end (zeros there).
  std::string part(1200, 'x');
  uint64_t unreadable = 99;
  EXPECT_EQ(t->readFoundFile64(disk, &f, 4500, part.data(), part.size(), &unreadable), 0);
  EXPECT_EQ(unreadable, 0u);
  EXPECT_EQ(part, photo.substr(4500) + std::string(700, '\0'));

  EXPECT_EQ(t->writeFoundFile64(disk, nullptr, 1, &unreadable), EINVAL);
}

}  // namespace
}  // namespace tamsel
