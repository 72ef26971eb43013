// Recovery after a raw card scan through a disk-library table built in the test, the copies
// of phone-backup files, and the run's small helpers (progress, folder name, size texts).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "raw/raw_scan.h"
#include "results/recovery_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

// The fake library: records every readFoundFile call and fills the buffer with
// "card:<name>@<start>", as many bytes as the found file has.
struct FakeCall {
  list_disk_struct* disk;
  _rec_file_ele* ele;
  std::string eleName;
  bool streamed = false;  // through writeFoundFile
};
std::mutex gCallsMutex;
std::vector<FakeCall> gCalls;
std::function<void()> gOnRead;  // runs inside each read (a test's hook)
char gDiskToken;
list_disk_struct* const kDisk = reinterpret_cast<list_disk_struct*>(&gDiskToken);

std::string cardBytes(const std::string& name, uint64_t start) {
  return "card:" + name + "@" + std::to_string(start);
}

void fakeReadFoundFile(list_disk_struct* disk, void* buffer, _rec_file_ele* ele) {
  std::string name = ele->pFileName != nullptr ? ele->pFileName : "";
  {
    std::lock_guard lock(gCallsMutex);
    gCalls.push_back({disk, ele, name, false});
  }
  if (gOnRead) gOnRead();
  std::string bytes = cardBytes(name, ele->file_start);
  bytes.resize(ele->file_len);
  std::memcpy(buffer, bytes.data(), bytes.size());
}

// The version 2 entry: the same bytes, written to the descriptor in two pieces. A file
// named "broken..." fails after its first piece, as a full disk would; one named
// "worn..." is written whole with 512 unreadable bytes, as from a bad sector.
int fakeWriteFoundFile(list_disk_struct* disk, _rec_file_ele* ele, int fd, uint64_t* unreadable) {
  std::string name = ele->pFileName != nullptr ? ele->pFileName : "";
  {
    std::lock_guard lock(gCallsMutex);
    gCalls.push_back({disk, ele, name, /*streamed=*/true});
  }
  if (gOnRead) gOnRead();
  std::string bytes = cardBytes(name, ele->file_start);
  bytes.resize(ele->file_len);
  const size_t half = bytes.size() / 2;
  if (::write(fd, bytes.data(), half) != static_cast<ssize_t>(half)) return errno;
  if (name.rfind("broken", 0) == 0) return ENOSPC;
  const size_t rest = bytes.size() - half;
  if (::write(fd, bytes.data() + half, rest) != static_cast<ssize_t>(rest)) return errno;
  if (name.rfind("worn", 0) != 0) return 0;
  *unreadable = 512;
  return TAMSEL_DISKLIB_ZERO_FILLED;
}

// A library of interface version 1: no writeFoundFile, so the whole-buffer read is used.
export_function_table fakeTable() {
  export_function_table t{};
  t.readFoundFile = fakeReadFoundFile;
  t.abi_version = 1;
  t.table_size = offsetof(export_function_table, writeFoundFile);
  return t;
}

export_function_table streamingTable() {
  export_function_table t = fakeTable();
  t.writeFoundFile = fakeWriteFoundFile;
  t.abi_version = TAMSEL_DISKLIB_ABI_VERSION;
  t.table_size = sizeof t;
  return t;
}

std::shared_ptr<PRScanListNode> found(const std::string& name, bool ticked = true,
                                      uint64_t start = 4096) {
  auto n = std::make_shared<PRScanListNode>();
  _rec_file_ele e{};
  e.file_start = start;
  e.file_len = static_cast<uint32_t>(cardBytes(name, start).size());
  e.file_name_len = static_cast<uint32_t>(name.size());
  std::string copy = name;
  e.pFileName = copy.data();
  n->setfile(e);
  n->nodeName = name;
  n->bSelected = ticked;
  return n;
}

class RawRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gOnRead = nullptr;
    previousSink_ = setLogSink([this](std::string_view line) {
      std::lock_guard lock(m_);
      log_.emplace_back(line);
    });
  }
  void TearDown() override {
    gOnRead = nullptr;
    setLogSink(previousSink_);
  }

  std::mutex m_;
  std::vector<std::string> log_;
  LogSink previousSink_;
  TempFolder t_;
};

// Both library versions: writeFoundFile when the table has it, else the whole-buffer read.
TEST_F(RawRecovery, TickedFilesAreReadThroughTheLibraryIntoTheirKindFolders) {
  for (const bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "writeFoundFile" : "readFoundFile");
    gCalls.clear();
    TempFolder out;
    ResultLists l;
    l.bbImageArray = {found("IMG_0001.JPG"), found("unticked.jpg", false)};
    l.bbAudioArray = {found("song.mp3")};
    l.bbVedioArray = {found("../clip.mov")};
    l.bbDocumentArray = {found("a/b.pdf")};
    l.bbArchiveArray = {found("x.zip")};
    export_function_table table = streaming ? streamingTable() : fakeTable();
    RecoveryWriter w(l, true, out.path(), &table, kDisk);
    EXPECT_EQ(w.selectedFilesNum(), 5);
    RecoveryReport r = w.run();

    ASSERT_EQ(gCalls.size(), 5u);
    for (const auto& c : gCalls) {
      EXPECT_EQ(c.disk, kDisk);
      EXPECT_EQ(c.streamed, streaming);
    }
    EXPECT_EQ(gCalls[0].ele, l.bbImageArray[0]->getfile());
    EXPECT_EQ(gCalls[3].eleName, "a/b.pdf");
    EXPECT_EQ(listTree(out.path()),
              (std::set<std::string>{"Image", "Image/IMG_0001.JPG", "Audio", "Audio/song.mp3",
                                     "Video", "Video/.._clip.mov", "Document", "Document/a_b.pdf",
                                     "Archive", "Archive/x.zip", "report.html", "manifest.csv"}));
    EXPECT_EQ(readWholeFile(out.path() / "Video/.._clip.mov"), "card:../clip.mov@4096");
    EXPECT_EQ(readWholeFile(out.path() / "Image/IMG_0001.JPG"), "card:IMG_0001.JPG@4096");
    EXPECT_EQ(readWholeFile(out.path() / "Archive/x.zip"), "card:x.zip@4096");
    EXPECT_EQ(r.recovered, 5);
    EXPECT_EQ(r.total, 5);
    EXPECT_EQ(r.written, (std::vector<fs::path>{
                             out.path() / "Image/IMG_0001.JPG", out.path() / "Audio/song.mp3",
                             out.path() / "Video/.._clip.mov", out.path() / "Document/a_b.pdf",
                             out.path() / "Archive/x.zip"}));
    EXPECT_TRUE(r.failures.empty());
  }
}

// A file the library fails to write is reported and removed; the run goes on.
TEST_F(RawRecovery, AFileTheLibraryFailsToWriteLeavesAFailureAndNoFile) {
  ResultLists l;
  l.bbImageArray = {found("a.jpg"), found("broken.jpg"), found("c.jpg")};
  export_function_table table = streamingTable();
  RecoveryReport r = RecoveryWriter(l, true, t_.path(), &table, kDisk).run();
  EXPECT_EQ(gCalls.size(), 3u);
  EXPECT_EQ(listTree(t_.path() / "Image"), (std::set<std::string>{"a.jpg", "c.jpg"}));
  EXPECT_EQ(r.written,
            (std::vector<fs::path>{t_.path() / "Image/a.jpg", t_.path() / "Image/c.jpg"}));
  EXPECT_EQ(r.recovered, 3);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("broken.jpg not written"), std::string::npos) << r.failures[0];
  EXPECT_NE(r.failures[0].find(std::strerror(ENOSPC)), std::string::npos) << r.failures[0];
}

// A file with unreadable sectors filled with zeros is kept and counted as written, and the
// report names it with the number of bytes that are zeros.
TEST_F(RawRecovery, AFileWithUnreadableSectorsIsKeptAndReported) {
  ResultLists l;
  l.bbImageArray = {found("worn.jpg"), found("b.jpg")};
  export_function_table table = streamingTable();
  RecoveryReport r = RecoveryWriter(l, true, t_.path(), &table, kDisk).run();
  EXPECT_EQ(readWholeFile(t_.path() / "Image/worn.jpg"), cardBytes("worn.jpg", 4096));
  EXPECT_EQ(r.written,
            (std::vector<fs::path>{t_.path() / "Image/worn.jpg", t_.path() / "Image/b.jpg"}));
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("worn.jpg written incomplete: 512 unreadable bytes"),
            std::string::npos)
      << r.failures[0];
}

// The version 3 entry: records its call and writes the name, start and 64-bit length.
struct Call64 {
  list_disk_struct* disk;
  uint64_t start, len;
  uint32_t flags;
  std::string name;
};
std::vector<Call64> gCalls64;
int fakeWriteFoundFile64(list_disk_struct* disk, const tamsel_found_file* f, int fd,
                         uint64_t* unreadable) {
  const std::string name(f->name, f->name_len);
  gCalls64.push_back({disk, f->file_start, f->file_len, f->flags, name});
  const std::string bytes = cardBytes(name, f->file_start) + "#" + std::to_string(f->file_len);
  if (name.rfind("broken", 0) == 0) return ENOSPC;
  if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return errno;
  if (name.rfind("worn", 0) != 0) return 0;
  *unreadable = 512;
  return TAMSEL_DISKLIB_ZERO_FILLED;
}

export_function_table table64() {
  export_function_table t = streamingTable();
  t.writeFoundFile64 = fakeWriteFoundFile64;
  return t;
}

std::shared_ptr<PRScanListNode> found64(const std::string& name, uint64_t len, uint32_t flags = 0) {
  tamsel_found_file f{};
  f.record_size = sizeof f;
  f.flags = flags;
  f.file_start = 1ull << 33;
  f.file_len = len;
  f.declared_len = len;
  f.name_len = static_cast<uint32_t>(name.size());
  f.name = name.data();
  auto n = makeScanListNode(f);
  n->bSelected = true;
  return n;
}

// A file of 4 GiB or more goes through the 64-bit entry whole; a library without it cannot
// carry the length and the file is refused by name, never written cut to 32 bits.
TEST_F(RawRecovery, FilesOfAnyLengthGoThroughThe64BitEntry) {
  struct Case {
    bool has64;
    uint64_t len;
    bool written;
  };
  const Case cases[] = {
      {true, 5000000000ull, true},   {true, 4294967296ull, true}, {true, 100, true},
      {false, 5000000000ull, false}, {false, 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.len) + (c.has64 ? " v3" : " v2"));
    gCalls.clear();
    gCalls64.clear();
    TempFolder out;
    ResultLists l;
    l.bbVedioArray = {found64("movie.mov", c.len, TAMSEL_FOUND_DELETED)};
    export_function_table table = c.has64 ? table64() : streamingTable();
    RecoveryReport r = RecoveryWriter(l, true, out.path(), &table, kDisk).run();
    EXPECT_EQ(r.written.size(), c.written ? 1u : 0u);
    EXPECT_EQ(r.failures.size(), c.written ? 0u : 1u);
    if (!c.written) {
      EXPECT_TRUE(gCalls.empty());
      EXPECT_NE(r.failures[0].find("movie.mov not written: its 5000000000 bytes"),
                std::string::npos)
          << r.failures[0];
      continue;
    }
    if (c.has64) {
      ASSERT_EQ(gCalls64.size(), 1u);
      EXPECT_TRUE(gCalls.empty());
      EXPECT_EQ(gCalls64[0].disk, kDisk);
      EXPECT_EQ(gCalls64[0].len, c.len);
      EXPECT_EQ(gCalls64[0].start, 1ull << 33);
      EXPECT_EQ(gCalls64[0].flags, TAMSEL_FOUND_DELETED);
      EXPECT_EQ(gCalls64[0].name, "movie.mov");
      EXPECT_EQ(readWholeFile(out.path() / "Video/movie.mov"),
                cardBytes("movie.mov", 1ull << 33) + "#" + std::to_string(c.len));
    } else {
      EXPECT_EQ(gCalls.size(), 1u);
    }
  }
}

// Files kept with unreadable sectors as zeros are counted in the report with their bytes,
// and the summary line says so beside the files that were not written.
TEST_F(RawRecovery, UnreadableBytesReachTheReportAndItsSummary) {
  gCalls64.clear();
  ResultLists l;
  l.bbImageArray = {found64("worn1.jpg", 4000), found64("ok.jpg", 10)};
  l.bbVedioArray = {found64("worn2.mov", 9000), found64("broken.mov", 10)};
  export_function_table table = table64();
  RecoveryReport r = RecoveryWriter(l, true, t_.path(), &table, kDisk).run();
  EXPECT_EQ(gCalls64.size(), 4u);
  EXPECT_EQ(r.written.size(), 3u);
  EXPECT_EQ(r.incomplete, 2);
  EXPECT_EQ(r.unreadableBytes, 1024u);
  ASSERT_EQ(r.failures.size(), 3u);
  EXPECT_NE(r.failures[0].find("worn1.jpg written incomplete: 512 unreadable bytes"),
            std::string::npos);
  EXPECT_EQ(recoverySummary(r),
            "3 files written into " + t_.path().string() +
                "; 2 of them incomplete (1024 unreadable bytes of the card written as zeros); 1 "
                "not written");
  RecoveryReport clean;
  clean.recoverPath = "/out";
  clean.written = {"/out/Image/a.jpg"};
  EXPECT_EQ(recoverySummary(clean), "1 file written into /out");
}

// Files the scan found damaged (a broken chain, a card that ends inside them) are written as
// the card holds them and reported incomplete: one line each, also when sectors of them could
// not be read either.
TEST_F(RawRecovery, FilesTheScanFoundDamagedAreWrittenIncomplete) {
  gCalls64.clear();
  ResultLists l;
  l.bbVedioArray = {found64("loop.mov", 4000, TAMSEL_FOUND_CHAIN_DAMAGED),
                    found64("worn-end.mov", 100, TAMSEL_FOUND_TRUNCATED), found64("ok.mov", 10)};
  export_function_table table = table64();
  RecoveryReport r = RecoveryWriter(l, true, t_.path(), &table, kDisk).run();
  EXPECT_EQ(r.written.size(), 3u);
  EXPECT_EQ(r.incomplete, 2);
  EXPECT_EQ(r.damaged, 2);
  EXPECT_EQ(r.unreadableBytes, 512u);
  ASSERT_EQ(r.failures.size(), 2u);
  EXPECT_EQ(r.failures[0],
            "found file loop.mov written incomplete: its cluster chain on the card "
            "is damaged (4000 bytes written): " +
                (t_.path() / "Video/loop.mov").string());
  EXPECT_EQ(r.failures[1],
            "found file worn-end.mov written incomplete: the card ends inside it "
            "(100 bytes written); 512 unreadable bytes of the card filled with "
            "zeros: " +
                (t_.path() / "Video/worn-end.mov").string());
  EXPECT_EQ(recoverySummary(r), "3 files written into " + t_.path().string() +
                                    "; 2 of them incomplete (2 damaged on the card, 512 unreadable "
                                    "bytes of the card written as zeros)");
}

TEST_F(RawRecovery, ExistingFilesAndEqualNamesGetNumberedNames) {
  fs::create_directories(t_.path() / "Image");
  writeWholeFile(t_.path() / "Image/a.jpg", "mine");
  ResultLists l;
  l.bbImageArray = {found("a.jpg", true, 1), found("a.jpg", true, 2)};
  export_function_table table = fakeTable();
  RecoveryReport r = RecoveryWriter(l, true, t_.path(), &table, kDisk).run();
  EXPECT_EQ(readWholeFile(t_.path() / "Image/a.jpg"), "mine");
  EXPECT_EQ(readWholeFile(t_.path() / "Image/a (2).jpg"), "card:a.jpg@1");
  EXPECT_EQ(readWholeFile(t_.path() / "Image/a (3).jpg"), "card:a.jpg@2");
  EXPECT_EQ(r.written.size(), 2u);
}

TEST_F(RawRecovery, LinksPlantedInTheTreeAreNotFollowed) {
  fs::path root = t_.path() / "out";
  fs::path outside = t_.path() / "outside";
  fs::create_directories(outside);
  fs::create_directories(root / "Image");
  fs::create_directory_symlink(outside, root / "Audio");
  fs::create_symlink(outside / "victim.jpg", root / "Image/a.jpg");
  fs::create_symlink(outside / "made-by-the-run", root / "Video");  // dangling
  ResultLists l;
  l.bbImageArray = {found("a.jpg")};
  l.bbAudioArray = {found("song.mp3")};
  l.bbVedioArray = {found("clip.mov")};
  export_function_table table = fakeTable();
  RecoveryReport r = RecoveryWriter(l, true, root, &table, kDisk).run();
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(r.written, std::vector<fs::path>{root / "Image/a (2).jpg"});
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(r.recovered, 3);
  EXPECT_EQ(r.failures.size(), 4u);  // the two linked folders, and their files
}

// A kind folder swapped for a link while the run writes into it: the file in hand ends up
// in the folder as it was opened, the rest are refused, nothing goes through the link.
TEST_F(RawRecovery, AFolderReplacedByALinkDuringTheRunIsNotWrittenThrough) {
  fs::path root = t_.path() / "out";
  fs::path outside = t_.path() / "outside";
  fs::create_directories(outside);
  ResultLists l;
  l.bbImageArray = {found("a.jpg"), found("b.jpg"), found("c.jpg")};
  bool swapped = false;
  gOnRead = [&] {
    if (std::exchange(swapped, true)) return;
    fs::rename(root / "Image", root / "moved");
    fs::create_directory_symlink(outside, root / "Image");
  };
  export_function_table table = fakeTable();
  RecoveryReport r = RecoveryWriter(l, true, root, &table, kDisk).run();
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(readWholeFile(root / "moved/a.jpg"), "card:a.jpg@4096");
  EXPECT_EQ(gCalls.size(), 1u);  // b and c were never read
  ASSERT_EQ(r.failures.size(), 2u);
  EXPECT_NE(r.failures[0].find("moved or replaced"), std::string::npos) << r.failures[0];
}

// Without a path handed to the library, a deep folder is no limit any more.
TEST_F(RawRecovery, DeepFoldersAndLongNamesAreWritten) {
  fs::path root = t_.path() / std::string(200, 'd') / std::string(150, 'e');
  std::string longName(250, 'g');
  ResultLists l;
  l.bbImageArray = {found(longName)};
  export_function_table table = fakeTable();
  RecoveryReport r = RecoveryWriter(l, true, root, &table, kDisk).run();
  EXPECT_GT((root / "Image" / longName).string().size(), size_t{TAMSEL_DISKLIB_PATH_MAX});
  EXPECT_EQ(readWholeFile(root / "Image" / longName), cardBytes(longName, 4096));
  EXPECT_TRUE(r.failures.empty());
}

TEST_F(RawRecovery, WithoutTheLibraryNothingIsWrittenButEveryTickCounts) {
  ResultLists l;
  l.bbImageArray = {found("a.jpg")};
  l.bbDocumentArray = {found("b.doc")};
  export_function_table noEntry{};
  RecoveryReport r1 = RecoveryWriter(l, true, t_.path(), nullptr, kDisk).run();
  RecoveryReport r2 = RecoveryWriter(l, true, t_.path(), &noEntry, kDisk).run();
  EXPECT_EQ(r1.recovered, 2);
  EXPECT_EQ(r2.recovered, 2);
  EXPECT_EQ(r1.failures.size(), 2u);
  EXPECT_EQ(r2.failures.size(), 2u);
  EXPECT_TRUE(r1.written.empty());
  // Only the two runs' receipts, which list the failures.
  EXPECT_EQ(listTree(t_.path()),
            (std::set<std::string>{"Image", "Audio", "Video", "Document", "Archive", "report.html",
                                   "manifest.csv", "report (2).html", "manifest (2).csv"}));
}

// Two runs into one folder at the same time: every file is created by exactly one of them,
// each report lists only the files its own run created, and nothing is overwritten.
TEST_F(RawRecovery, TwoRunsIntoOneFolderAtOnceEachReportOnlyTheirOwnFiles) {
  constexpr int kFiles = 200;
  ResultLists runs[2];
  for (int run = 0; run < 2; ++run) {
    for (int i = 0; i < kFiles; ++i) {
      runs[run].bbImageArray.push_back(found("IMG.JPG", true, uint64_t(run) * 100000 + i));
    }
  }
  export_function_table table = fakeTable();
  RecoveryReport reports[2];
  {
    std::jthread a(
        [&] { reports[0] = RecoveryWriter(runs[0], true, t_.path(), &table, kDisk).run(); });
    std::jthread b(
        [&] { reports[1] = RecoveryWriter(runs[1], true, t_.path(), &table, kDisk).run(); });
  }
  std::set<fs::path> all;
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(reports[run].written.size(), size_t{kFiles});
    EXPECT_TRUE(reports[run].failures.empty());
    for (const fs::path& p : reports[run].written) {
      EXPECT_TRUE(all.insert(p).second) << p << " reported twice";
      // The file holds what this run read: no other run wrote over it.
      const std::string bytes = readWholeFile(p);
      const uint64_t start = std::stoull(bytes.substr(bytes.find('@') + 1));
      EXPECT_EQ(start / 100000, uint64_t(run)) << p;
    }
  }
  EXPECT_EQ(listTree(t_.path() / "Image").size(), size_t{2 * kFiles});
}

TEST_F(RawRecovery, PhoneFilesAreCopiedByteForByteWhateverTheSizeTextSays) {
  std::string photoBytes;
  for (uint32_t i = 0; i < 1234567; ++i) photoBytes += static_cast<char>(i * 31u + (i >> 9));
  writeWholeFile(t_.path() / "3d0d7e5fb2ce288813306e4d4636395e047a3d28", photoBytes);
  std::string appBytes(999, 'z');
  writeWholeFile(t_.path() / "hashed-app-file", appBytes);
  fs::path out = t_.path() / "out";
  fs::create_directory(out);

  RecoveryWriter w(ResultLists{}, false, t_.path());
  w.setRecoverFilePath(out);
  PRPhotoAndVideoNode photo;
  photo.fileNodeName = "IMG_0001.JPG";
  photo.fileNodeSize = "1.23M";  // 1,230,000 by the text; the file has 1,234,567 bytes
  photo.filePath = (t_.path() / "3d0d7e5fb2ce288813306e4d4636395e047a3d28").string();
  w.recoverPhotoAndVideo(photo);
  PRFaceTwitterNode app;
  app.faceTwitterFileName = "../cache.db";
  app.fileSize = "0.50K";
  app.faceTwitterFilePath = (t_.path() / "hashed-app-file").string();
  w.recoverFaceBookAndTwitter(app);
  PRPhotoAndVideoNode missing;
  missing.fileNodeName = "gone.jpg";
  missing.filePath = (t_.path() / "absent").string();
  w.recoverPhotoAndVideo(missing);
  PRRtfController rtf;
  PRBookMarkNode mark;
  mark.bookMarkTitle = "Example";
  mark.bookMarkURL = "http://example.com/";
  w.recoverBookMarkNode(mark, rtf);

  EXPECT_EQ(readWholeFile(out / "IMG_0001.JPG"), photoBytes);
  EXPECT_EQ(readWholeFile(out / ".._cache.db"), appBytes);
  EXPECT_EQ(listTree(out), (std::set<std::string>{"IMG_0001.JPG", ".._cache.db"}));
  EXPECT_EQ(rtf.content(), "Title:Example  URL:http://example.com/  \n\n");
  EXPECT_EQ(w.recovredFilesNum(), 4);
  EXPECT_EQ(w.report().failures.size(), 1u);
}

struct CollectingObserver : RecoveryObserver {
  void progress(int recovered, int total) override {
    std::lock_guard lock(m);
    ticks.emplace_back(recovered, total);
  }
  void finished(const RecoveryReport& report) override {
    std::lock_guard lock(m);
    final = report;
    finishedCalls++;
  }
  std::mutex m;
  std::vector<std::pair<int, int>> ticks;
  RecoveryReport final;
  int finishedCalls = 0;
};

TEST_F(RawRecovery, WorkerThreadReportsTheEndToItsObserver) {
  ResultLists l;
  l.bbImageArray = {found("a.jpg"), found("b.jpg"), found("c.jpg", false)};
  export_function_table table = fakeTable();
  CollectingObserver obs;
  RecoveryWriter w(l, true, t_.path(), &table, kDisk);
  w.start(&obs);
  w.wait();
  ASSERT_EQ(obs.finishedCalls, 1);
  ASSERT_FALSE(obs.ticks.empty());
  EXPECT_EQ(obs.ticks.back(), std::make_pair(2, 2));
  EXPECT_EQ(obs.final.recovered, 2);
  EXPECT_EQ(obs.final.written.size(), 2u);
  EXPECT_FALSE(obs.final.cancelled);
  EXPECT_EQ(gCalls.size(), 2u);
  w.start(&obs);  // one run per writer
  w.wait();
  EXPECT_EQ(obs.finishedCalls, 1);
}

TEST(RecoveryHelpers, ProgressIsTruncatedPercentOfTheTickedRecords) {
  EXPECT_EQ(progressPercent(3, 4), 75);
  EXPECT_EQ(progressPercent(1, 3), 33);
  EXPECT_EQ(progressPercent(2, 3), 66);
  EXPECT_EQ(progressPercent(0, 0), 0);
  EXPECT_EQ(progressPercent(5, 4), 100);
  EXPECT_EQ(progressPercent(4, 4), 100);
}

TEST(RecoveryHelpers, ProposedFolderNameHasTheLocalDateAndDottedTime) {
  const char* old = std::getenv("TZ");
  std::string saved = old != nullptr ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(proposedFolderName(1399890030), "Tamsel 2014-05-12 - 10.20.30");
  EXPECT_EQ(proposedFolderName(1399885507), "Tamsel 2014-05-12 - 09.05.07");
  setenv("TZ", "UTC-2", 1);  // two hours east
  tzset();
  EXPECT_EQ(proposedFolderName(1399890030), "Tamsel 2014-05-12 - 12.20.30");
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(RecoveryHelpers, SizeFormStringReadsTheUnitLetter) {
  EXPECT_EQ(RecoveryWriter::sizeFormString("1.50M"), 1500000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("999.00B"), 999u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("1.00K"), 1000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("2.34K"), 2340u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("3.00G"), 3000000000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("2.00T"), 2000000000000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString(""), 0u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("M"), 0u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("abcK"), 0u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("-1.00K"), 0u);
  // The number is decimal: 2.01 x 1000 is 2010, not the 2009.999... of binary arithmetic.
  EXPECT_EQ(RecoveryWriter::sizeFormString("2.01K"), 2010u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("2.05M"), 2050000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("4.35G"), 4350000000u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("1.23456789012345T"), 1234567890123u);
  EXPECT_EQ(RecoveryWriter::sizeFormString(" +0.5K"), 500u);
  EXPECT_EQ(RecoveryWriter::sizeFormString(".25K"), 250u);
  EXPECT_EQ(RecoveryWriter::sizeFormString("18446744073709551615B"), UINT64_MAX);
  EXPECT_EQ(RecoveryWriter::sizeFormString("99999999999999999999999B"), UINT64_MAX);
  EXPECT_EQ(RecoveryWriter::sizeFormString("20000000000G"), UINT64_MAX);
  EXPECT_EQ(RecoveryWriter::sizeFormString("1.5e3K"), 1500000u);
  for (int hundredths = 0; hundredths < 100000; ++hundredths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02dK", hundredths / 100, hundredths % 100);
    ASSERT_EQ(RecoveryWriter::sizeFormString(text), uint64_t(hundredths) * 10) << text;
  }
}

TEST(RecoveryHelpers, TickedRecordsAreCountedForTheScanKind) {
  ResultLists l;
  l.bbImageArray = {found("a"), found("b", false)};
  l.bbArchiveArray = {found("c")};
  l.bbSMSArray = {std::make_shared<PRBlackBerrySMSMessageNode>()};
  l.bbSMSArray[0]->bSelected = true;
  l.contactArray = {std::make_shared<PRContactNode>()};
  l.contactArray[0]->bSelected = true;
  l.faceTwitterArray = {std::make_shared<PRFaceTwitterNode>()};
  l.faceTwitterArray[0]->bSelected = true;
  EXPECT_EQ(countTickedRecords(l, true), 2);   // the ticked image and the archive
  EXPECT_EQ(countTickedRecords(l, false), 3);  // the SMS and the two phone records
}

}  // namespace
}  // namespace tamsel
