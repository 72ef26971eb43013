#include "blackberry/bbb_archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/zip_writer.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using fixtures::bytesOf;
using testing::listTree;
using testing::readWholeFile;

class BbbArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tmp_.path() / "in");
    run_ = tmp_.path() / "run";
    fs::create_directories(run_);
    previous_ = setLogSink({});
  }
  void TearDown() override { setLogSink(previous_); }

  fs::path in(const std::string& name) const { return tmp_.path() / "in" / name; }

  testing::TempFolder tmp_;
  fs::path run_;
  LogSink previous_;
};

TEST_F(BbbArchiveTest, MacLayoutIsReadFromTheUsersFileWithoutACopy) {
  fs::path bbb = in("mac.bbb");
  fixtures::writeZip(bbb, {{"Databases/Databases.ipd", bytesOf("IPD")},
                           {"Databases/1.dat", bytesOf("DAT")},
                           {"BlackBerry_Backup.xml", bytesOf("<x/>")}});
  const std::string before = readWholeFile(bbb);
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  ASSERT_TRUE(p.ipdPath.has_value());
  EXPECT_EQ(*p.ipdPath, (run_ / "Databases" / "Databases.ipd").string());
  EXPECT_FALSE(p.windowsLayout);  // the Mac layout wins over a .dat file
  EXPECT_EQ(readWholeFile(*p.ipdPath), "IPD");
  EXPECT_EQ(readWholeFile(bbb), before);
  EXPECT_EQ(listTree(run_), (std::set<std::string>{"BlackBerry_Backup.xml", "Databases",
                                                   "Databases/1.dat", "Databases/Databases.ipd"}));
}

TEST_F(BbbArchiveTest, WindowsLayoutIsDetectedByItsFirstDatFile) {
  fs::path bbb = in("win.bbb");
  fixtures::writeWindowsBbb(bbb, {bytesOf("one"), bytesOf("two")});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_TRUE(p.windowsLayout);
  EXPECT_EQ(p.databasesFolder, (run_ / "Databases").string());
  EXPECT_EQ(readWholeFile(run_ / "Databases" / "2.dat"), "two");
}

// Only what the scan reads is unpacked: the XML and the files directly in "Databases".
TEST_F(BbbArchiveTest, OnlyTheBackupEntriesAreUnpacked) {
  fs::path bbb = in("extra.bbb");
  fixtures::writeZip(bbb, {{"Databases/1.dat", bytesOf("DAT")},
                           {"Databases/deeper/2.dat", bytesOf("no")},
                           {"Photos/big.jpg", std::vector<uint8_t>(100000, 7)},
                           {"databases/3.dat", bytesOf("no")},
                           {"BlackBerry_Backup.xml", bytesOf("<x/>")}});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(listTree(run_),
            (std::set<std::string>{"BlackBerry_Backup.xml", "Databases", "Databases/1.dat"}));
  EXPECT_TRUE(p.warnings.empty());
}

TEST_F(BbbArchiveTest, UnreadableOrEmptyArchivesAreClearErrors) {
  struct Case {
    const char* name;
    std::vector<fixtures::ZipEntry> entries;  // none: the file is not a ZIP archive
    const char* error;
  };
  const Case cases[] = {
      {"broken.bbb", {}, "not a ZIP archive"},
      {"other.bbb", {{"readme.txt", bytesOf("hello")}}, "holds no BlackBerry databases"},
  };
  for (const Case& c : cases) {
    fs::path bbb = in(c.name);
    if (c.entries.empty()) {
      testing::writeWholeFile(bbb, "this is not a zip archive at all");
    } else {
      fixtures::writeZip(bbb, c.entries);
    }
    BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
    EXPECT_NE(p.error.find(c.error), std::string::npos) << c.name << ": " << p.error;
    EXPECT_FALSE(p.ipdPath.has_value()) << c.name;
    EXPECT_TRUE(listTree(run_).empty()) << c.name;
  }
  EXPECT_NE(checkTheBackUpFile(in("broken.bbb").string(), fs::path()).error, "");
}

TEST_F(BbbArchiveTest, EntriesLeavingTheFolderAreRefusedWithAWarning) {
  fs::path bbb = in("evil.bbb");
  fixtures::writeZip(bbb, {{"../escaped.txt", bytesOf("bad")},
                           {"Databases/../../escaped2.txt", bytesOf("bad")},
                           {"/tmp/tamsel-absolute-escape.txt", bytesOf("bad")},
                           {"Databases/Databases.ipd", bytesOf("good")}});
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  EXPECT_TRUE(p.error.empty());
  EXPECT_EQ(p.refusedEntries, 3);
  ASSERT_EQ(p.warnings.size(), 3u);
  EXPECT_NE(p.warnings[0].find("\"../escaped.txt\""), std::string::npos) << p.warnings[0];
  EXPECT_FALSE(fs::exists(tmp_.path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(tmp_.path() / "escaped2.txt"));
  EXPECT_FALSE(fs::exists("/tmp/tamsel-absolute-escape.txt"));
  EXPECT_EQ(readWholeFile(run_ / "Databases" / "Databases.ipd"), "good");
}

TEST_F(BbbArchiveTest, PathsWithQuotesAndDollarSignsWork) {
  fs::path dir = tmp_.path() / "in" / "it's \"$HOME\" `x`";
  fs::create_directories(dir);
  fs::path bbb = dir / "back up $1.bbb";
  fixtures::writeMacBbb(bbb, bytesOf("Q"));
  fs::path run = tmp_.path() / "run $USER \"q\"";
  fs::create_directories(run);
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(readWholeFile(run / "Databases" / "Databases.ipd"), "Q");
}

// An entry named twice (or a file already there) is never replaced: the first one stays.
TEST_F(BbbArchiveTest, ExistingFilesAreNeverReplaced) {
  testing::writeWholeFile(run_ / "BlackBerry_Backup.xml", "kept");
  fs::path bbb = in("mac.bbb");
  fixtures::writeMacBbb(bbb, bytesOf("X"));
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(readWholeFile(run_ / "BlackBerry_Backup.xml"), "kept");
  ASSERT_EQ(p.warnings.size(), 1u);
  EXPECT_NE(p.warnings[0].find("BlackBerry_Backup.xml"), std::string::npos);
}

// An archive whose directory claims far more unpacked bytes than its own size could give is
// refused before anything is written.
TEST_F(BbbArchiveTest, ArchiveClaimingMoreThanItCouldHoldIsRefused) {
  fs::path bbb = in("claims.bbb");
  std::vector<fixtures::ZipEntry> entries;
  for (int i = 0; i < 120; ++i) {
    entries.push_back({"Databases/" + std::to_string(i) + ".dat", bytesOf("x")});
  }
  fixtures::writeZip(bbb, entries);
  for (int i = 0; i < 120; ++i) {
    fixtures::setDeclaredSize(bbb, "Databases/" + std::to_string(i) + ".dat", 0xF0000000u);
  }
  BbbPreparation p = checkTheBackUpFile(bbb.string(), run_);
  EXPECT_NE(p.error.find("times its size"), std::string::npos) << p.error;
  EXPECT_TRUE(listTree(run_).empty());
}

// A bomb: a small entry whose local and central sizes both say 1 byte inflates to 8 MiB.
// At most the declared size is written; the entry is refused and nothing of it is left.
TEST_F(BbbArchiveTest, EntryInflatingPastItsDeclaredSizeIsRefused) {
  fs::path bbb = in("bomb.bbb");
  fixtures::writeZip(bbb, {{"Databases/1.dat", std::vector<uint8_t>(8 << 20, 0)},
                           {"Databases/2.dat", bytesOf("fine")}});
  ASSERT_LT(fs::file_size(bbb), 64u * 1024);
  fixtures::setDeclaredSize(bbb, "Databases/1.dat", 1);
  UnpackReport report;
  std::string error;
  ASSERT_TRUE(unpackArchive(bbb, run_, isBackupEntry, &error, &report)) << error;
  EXPECT_EQ(report.refusedEntries, 1);
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("inflates past its declared size of 1 bytes"),
            std::string::npos)
      << report.warnings[0];
  EXPECT_FALSE(fs::exists(run_ / "Databases" / "1.dat"));
  EXPECT_EQ(readWholeFile(run_ / "Databases" / "2.dat"), "fine");
  EXPECT_EQ(report.bytesWritten, 4u);
}

}  // namespace
}  // namespace tamsel
