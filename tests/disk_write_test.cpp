// writeFoundFile64 of the loaded disk library: contiguous, fragmented and image-cut files into
// a new file, after the caller's bytes, a file opened for appending and a pipe, byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/fat_image_test.h"

namespace tamsel {
namespace {

struct Record {
  tamsel_found_file file;
  std::string name;
};

void onFound(void* caller, const tamsel_found_file* f) {
  static_cast<std::map<std::string, Record>*>(caller)->insert_or_assign(
      std::string(f->name, f->name_len), Record{*f, std::string(f->name, f->name_len)});
}

class DiskWrite : public testing::DiskLibHarness {
 protected:
  // Scans `img` and keeps the records by name, and the library's handle of it.
  std::map<std::string, Record> scan64(const fs::path& img) {
    std::map<std::string, Record> found;
    t->scanDeviceFor(img.c_str(), 255, &found, onFound, nullptr);
    for (auto& [name, r] : found) r.file.name = r.name.data();
    t->addDiskImage(img.c_str());
    EXPECT_NE(t->initDiskList(), 0);
    disk_ = nullptr;
    while (list_disk_struct* d = t->nextDisk())
      if (img.string() == t->diskDevicePath(d)) disk_ = d;
    EXPECT_NE(disk_, nullptr);
    testing::gLog.clear();  // what the scan said; the writes are to say nothing
    return found;
  }

  // Writes `r` into a new file at `out` (opened with `flags` beside O_WRONLY | O_CREAT),
  // after `before` bytes of the caller's own; its result.
  int writeTo(const Record& r, const fs::path& out, int flags = 0, const std::string& before = {}) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | flags, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, before.data(), before.size()), static_cast<ssize_t>(before.size()));
    uint64_t unreadable = 99;
    const int result = t->writeFoundFile64(disk_, &r.file, fd, &unreadable);
    EXPECT_EQ(unreadable, 0u);
    ::close(fd);
    return result;
  }

  // Writes `r` into a new file, after the caller's "head", appending after it and into a
  // pipe read on another thread: each must hold exactly `bytes`.
  void expectWrittenEverywhere(const Record& r, const std::string& bytes) {
    const fs::path out = tmp.path() / (r.name + ".out"), after = tmp.path() / (r.name + ".2"),
                   appended = tmp.path() / (r.name + ".3");
    EXPECT_EQ(writeTo(r, out), 0);
    EXPECT_TRUE(readWholeFile(out) == bytes);
    EXPECT_EQ(writeTo(r, after, 0, "head"), 0);
    EXPECT_TRUE(readWholeFile(after) == "head" + bytes);
    EXPECT_EQ(writeTo(r, appended, O_APPEND, "head"), 0);
    EXPECT_TRUE(readWholeFile(appended) == "head" + bytes);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    std::string got;
    std::thread reader([&] {
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, n);
    });
    EXPECT_EQ(t->writeFoundFile64(disk_, &r.file, fds[1], nullptr), 0);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_TRUE(got == bytes);
  }

  TempFolder tmp;
  list_disk_struct* disk_ = nullptr;
};

// A contiguous file of several mebibytes, a fragmented one of one-cluster runs, and one of two
// large runs in reverse order on the card.
TEST_F(DiskWrite, EveryFileComesOutByteForByteWhateverTheDescriptor) {
  FatImageWriter w(32768, 8);  // 16 MiB, 4 KiB clusters
  const std::string swapped = testing::noiseBytes(3 << 20, 3);
  std::map<std::string, std::string> expected = {
      {"WHOLE.MOV", testing::noiseBytes((5 << 20) + 321, 1)},
      {"FRAG.JPG", testing::noiseBytes((700 << 10) + 5, 2)},
      // SWAP.MP4's chain: its last two mebibytes on the card, then its first one.
      {"SWAP.MP4", swapped.substr(1 << 20) + swapped.substr(0, 1 << 20)},
  };
  w.addFile("WHOLE.MOV", expected["WHOLE.MOV"]);
  w.addFile("FRAG.JPG", expected["FRAG.JPG"], false, /*fragmented=*/true);
  const uint32_t first = w.addFile("OLD.BIN", swapped, /*deleted=*/true);
  std::vector<uint32_t> chain;
  for (uint32_t c = 256; c < 768; ++c) chain.push_back(first + c);
  for (uint32_t c = 0; c < 256; ++c) chain.push_back(first + c);
  for (size_t i = 0; i < chain.size(); ++i)
    w.setFatEntry(chain[i], i + 1 < chain.size() ? chain[i + 1] : 0x0FFFFFFF);
  w.addRawEntry("", "SWAP    MP4", 0x20, chain.front(), 3 << 20);
  const fs::path img = tmp.path() / "card.img";
  w.writeTo(img);
  auto found = scan64(img);
  for (const auto& [name, bytes] : expected) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(found.count(name));
    ASSERT_EQ(found[name].file.file_len, bytes.size());
    expectWrittenEverywhere(found[name], bytes);
  }
  EXPECT_TRUE(testing::gLog.empty()) << testing::gLog.front();
}

// Files the end of the image cuts are listed cut and written as the bytes the image holds.
TEST_F(DiskWrite, FilesCutByTheEndOfTheImageAreWrittenAsFarAsItHoldsThem) {
  struct Case {
    const char* name;
    bool fragmented;
  };
  for (const Case c : {Case{"CUT.MOV", false}, Case{"CUTFRAG.JPG", true}}) {
    SCOPED_TRACE(c.name);
    FatImageWriter w(16384, 8);  // 8 MiB, 4 KiB clusters
    const std::string bytes = testing::noiseBytes((3 << 20) + 77, 4);
    const uint32_t first = w.addFile(c.name, bytes, false, c.fragmented);
    const uint64_t cutAt = w.clusterOffset(first) + (c.fragmented ? 3 : 2) * (1 << 20) + 1000;
    std::string held;
    for (uint64_t k = 0, at = 0; at < bytes.size(); ++k, at += 4096) {
      const uint64_t off = w.clusterOffset(first + static_cast<uint32_t>(c.fragmented ? 2 * k : k));
      if (off >= cutAt) break;
      const uint64_t n = std::min<uint64_t>({4096, bytes.size() - at, cutAt - off});
      held += bytes.substr(at, n);
      if (n < 4096) break;
    }
    ASSERT_LT(held.size(), bytes.size());
    const fs::path img = tmp.path() / (std::string(c.name) + ".img");
    w.writeTo(img);
    fs::resize_file(img, cutAt);
    auto found = scan64(img);
    ASSERT_TRUE(found.count(c.name));
    const Record& r = found[c.name];
    EXPECT_NE(r.file.flags & TAMSEL_FOUND_TRUNCATED, 0u);
    EXPECT_EQ(r.file.declared_len, bytes.size());
    ASSERT_EQ(r.file.file_len, held.size());
    expectWrittenEverywhere(r, held);
  }
}

}  // namespace
}  // namespace tamsel
