#include "blackberry/bbb_archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/fixtures/zip_writer.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using fixtures::bytesOf;

class BbbArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tamsel-bbb-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "in");
    work_ = root_ / "work";
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path root_, work_;
};

TEST_F(BbbArchiveTest, OnlyTheExactLowerCaseSuffixIsAnArchive) {
  fs::path ipd = root_ / "in" / "phone.ipd";
  fs::path caps = root_ / "in" / "phone.BBB";
  fixtures::writeMacBbb(caps, bytesOf("ipd"));
  std::ofstream(ipd) << "x";
  EXPECT_FALSE(checkTheBackUpFile(ipd.string(), work_).ipdPath.has_value());
  BbbPreparation p = checkTheBackUpFile(caps.string(), work_);
  EXPECT_FALSE(p.ipdPath.has_value());
  EXPECT_FALSE(fs::exists(work_));  // nothing unpacked
}

TEST_F(BbbArchiveTest, MacLayoutWinsEvenWithADatFile) {
  fs::path bbb = root_ / "in" / "mac.bbb";
  fixtures::writeZip(bbb, {{"Databases/Databases.ipd", bytesOf("IPD")},
                           {"Databases/1.dat", bytesOf("DAT")},
                           {"BlackBerry_Backup.xml", bytesOf("<x/>")}});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  ASSERT_TRUE(p.ipdPath.has_value());
  EXPECT_EQ(*p.ipdPath, (work_ / "Databases" / "Databases.ipd").string());
  EXPECT_FALSE(p.windowsLayout);
  EXPECT_EQ(readText(*p.ipdPath), "IPD");
  EXPECT_EQ(readText(work_ / "BlackBerry.zip"), readText(bbb));  // private copy
}

TEST_F(BbbArchiveTest, WindowsLayoutIsDetectedByItsFirstDatFile) {
  fs::path bbb = root_ / "in" / "win.bbb";
  fixtures::writeWindowsBbb(bbb, {bytesOf("one"), bytesOf("two")});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_TRUE(p.windowsLayout);
  EXPECT_EQ(readText(work_ / "Databases" / "2.dat"), "two");
}

TEST_F(BbbArchiveTest, SecondArchiveNeverMixesWithTheFirst) {
  fs::path first = root_ / "in" / "first.bbb";
  fs::path second = root_ / "in" / "second.bbb";
  fixtures::writeMacBbb(first, bytesOf("FIRST"));
  fixtures::writeWindowsBbb(second, {bytesOf("SECOND")});
  ASSERT_TRUE(checkTheBackUpFile(first.string(), work_).error.empty());
  BbbPreparation p = checkTheBackUpFile(second.string(), work_);
  EXPECT_TRUE(p.windowsLayout);  // the first archive's Databases.ipd is gone
  EXPECT_FALSE(fs::exists(work_ / "Databases" / "Databases.ipd"));
  EXPECT_EQ(readText(work_ / "Databases" / "1.dat"), "SECOND");
}

TEST_F(BbbArchiveTest, NotAZipIsAClearError) {
  fs::path bbb = root_ / "in" / "broken.bbb";
  std::ofstream(bbb) << "this is not a zip archive at all";
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work_);
  EXPECT_EQ(p.error, "not a ZIP archive");
  EXPECT_FALSE(fs::exists(work_ / "Databases"));
}

TEST_F(BbbArchiveTest, EntriesLeavingTheWorkFolderAreRefused) {
  auto previous = setLogSink({});
  fs::path bbb = root_ / "in" / "evil.bbb";
  fixtures::writeZip(bbb, {{"../escaped.txt", bytesOf("bad")},
                           {"Databases/../../escaped2.txt", bytesOf("bad")},
                           {"/tmp/tamsel-absolute-escape.txt", bytesOf("bad")},
                           {"Databases/Databases.ipd", bytesOf("good")}});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work_);
  setLogSink(previous);
  EXPECT_TRUE(p.error.empty());
  EXPECT_EQ(p.refusedEntries, 3);
  EXPECT_FALSE(fs::exists(root_ / "escaped.txt"));
  EXPECT_FALSE(fs::exists(root_ / "escaped2.txt"));
  EXPECT_FALSE(fs::exists("/tmp/tamsel-absolute-escape.txt"));
  EXPECT_EQ(readText(work_ / "Databases" / "Databases.ipd"), "good");
}

TEST_F(BbbArchiveTest, PathsWithQuotesAndDollarSignsWork) {
  fs::path dir = root_ / "in" / "it's \"$HOME\" `x`";
  fs::create_directories(dir);
  fs::path bbb = dir / "back up $1.bbb";
  fixtures::writeMacBbb(bbb, bytesOf("Q"));
  fs::path work = root_ / "work $USER \"q\"";
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(readText(work / "Databases" / "Databases.ipd"), "Q");
}

TEST_F(BbbArchiveTest, ExistingFilesOutsideDatabasesAreNotOverwritten) {
  fs::create_directories(work_);
  std::ofstream(work_ / "BlackBerry_Backup.xml") << "kept";
  fs::path bbb = root_ / "in" / "mac.bbb";
  fixtures::writeMacBbb(bbb, bytesOf("X"));
  ASSERT_TRUE(checkTheBackUpFile(bbb.string(), work_).error.empty());
  EXPECT_EQ(readText(work_ / "BlackBerry_Backup.xml"), "kept");
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

// An archive whose directory claims far more unpacked bytes than any disk here holds is
// refused before anything is written.
TEST_F(BbbArchiveTest, ArchiveClaimingMoreThanTheDiskHoldsIsRefused) {
  fs::path bbb = root_ / "in" / "bomb.bbb";
  std::vector<fixtures::ZipEntry> entries;
  for (int i = 0; i < 120; ++i) {
    entries.push_back({"Databases/" + std::to_string(i) + ".dat", bytesOf("x")});
  }
  fixtures::writeZip(bbb, entries);
  // Patch every central-directory entry's uncompressed size to almost 4 GiB (480 GB in all).
  std::string bytes = readText(bbb);
  const std::string sig("PK\x01\x02", 4);
  int patched = 0;
  for (size_t at = bytes.find(sig); at != std::string::npos; at = bytes.find(sig, at + 4)) {
    for (int k = 0; k < 4; ++k) bytes[at + 24 + k] = k == 3 ? '\xF0' : '\0';
    ++patched;
  }
  ASSERT_EQ(patched, 120);
  std::ofstream(bbb, std::ios::binary | std::ios::trunc) << bytes;
  BbbPreparation p = checkTheBackUpFile(bbb.string(), work_);
  EXPECT_NE(p.error.find("more than the work folder's disk has free"), std::string::npos)
      << p.error;
  EXPECT_FALSE(fs::exists(work_ / "Databases"));
}

}  // namespace
}  // namespace tamsel
