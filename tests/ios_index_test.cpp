#include "ios/backup_index.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/log.h"
#include "util/sha1.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::IosBackupWriter;
using testing::TempFolder;
using Layout = IosBackupWriter::Layout;
using Index = IosBackupWriter::Index;

std::vector<BackupIndexEntry> walk(const fs::path& backup, bool* ok = nullptr,
                                   const fs::path& copies = {}) {
  std::vector<BackupIndexEntry> out;
  bool r = forEachIndexEntry(
      backup,
      [&](const BackupIndexEntry& e) {
        out.push_back(e);
        return true;
      },
      copies);
  if (ok != nullptr) *ok = r;
  return out;
}

// Every file below `root` with its bytes: what a read must leave as it was.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const std::string& rel : testing::listTree(root)) {
    out[rel] = fs::is_regular_file(root / rel) ? testing::readWholeFile(root / rel) : "<dir>";
  }
  return out;
}

TEST(IosHashedNames, NamesAreDigestsOfDomainAndPath) {
  EXPECT_EQ(hashedFileName("HomeDomain", "Library/SMS/sms.db"),
            "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  // An absent path hashes the domain and the hyphen alone.
  EXPECT_EQ(hashedFileName("HomeDomain", ""), sha1Hex("HomeDomain-"));
  // A long path is hashed whole, not cut to 259 bytes.
  std::string longPath(300, 'p');
  EXPECT_EQ(hashedFileName("MediaDomain", longPath), sha1Hex("MediaDomain-" + longPath));
  EXPECT_NE(hashedFileName("MediaDomain", longPath),
            hashedFileName("MediaDomain", longPath.substr(0, 259)));
  // The fixed names the database steps open, and their logs' names.
  for (const StoredDatabase& db :
       {stored::kAddressBook, stored::kAddressBookImages, stored::kMessages, stored::kCallHistory,
        stored::kCallHistoryOld, stored::kNotes, stored::kNotesOld, stored::kBookmarks,
        stored::kBrowserHistory, stored::kCalendar}) {
    EXPECT_EQ(sha1Hex(db.domainPath), db.name) << db.domainPath;
    if (!db.walName.empty()) {
      EXPECT_EQ(sha1Hex(std::string(db.domainPath) + "-wal"), db.walName);
    }
  }
}

struct Format {
  Layout layout;
  Index index;
};

class IosIndexFormats : public ::testing::TestWithParam<Format> {};

// The entries come back in order with their domains, paths and stored files, in each index
// format and each layout; only the six domains reach the media step, each after one
// progress post.
TEST_P(IosIndexFormats, WalkAndIndexStep) {
  TempFolder tmp;
  IosBackupWriter w(tmp.path(), GetParam().layout, GetParam().index);
  fs::path photo = w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "jpeg");
  fs::path calls = w.addFile("WirelessDomain", "Library/CallHistory/call_history.db", "db");
  w.pathFor("HomeDomain", "Media/Recordings/memo.m4a");  // listed, never written
  fs::path tweet = w.addFile("AppDomain-com.atebits.Tweetie2", "Library/a.plist", "x");
  w.finish();
  ASSERT_EQ(backupIndexKind(tmp.path()),
            GetParam().index == Index::mbdb ? BackupIndexKind::mbdb : BackupIndexKind::manifestDb);

  bool ok = false;
  auto entries = walk(tmp.path(), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].domain, "CameraRollDomain");
  EXPECT_EQ(entries[0].path, "Media/DCIM/100APPLE/IMG_0001.JPG");
  EXPECT_EQ(entries[0].fileKey, photo.string());
  EXPECT_EQ(entries[1].fileKey, calls.string());
  // A stored file that is in neither place gets the flat path.
  EXPECT_EQ(entries[2].fileKey,
            (tmp.path() / IosBackupWriter::hashedName("HomeDomain", "Media/Recordings/memo.m4a"))
                .string());
  EXPECT_EQ(entries[3].fileKey, tweet.string());
  for (size_t i = 1; i < entries.size(); ++i) {
    EXPECT_GT(entries[i].position, entries[i - 1].position);
  }
  EXPECT_EQ(entries.back().position, entries.back().total);

  NotificationCenter nc;
  ScanContext ctx(nc);
  std::vector<std::string> events;
  nc.addObserver(notify::kScanProgressInfo, [&](const Notification& n) {
    events.push_back("progress " + std::to_string(n.number(-1)));
  });
  nc.addObserver(notify::kScanPhotoAndVideo, [&](const Notification& n) {
    events.push_back("media " + n.record<PRPhotoAndVideoNode>()->fileNodeName);
  });
  nc.addObserver(notify::kScanFaceTwitterInfo, [&](const Notification& n) {
    events.push_back("app " + n.record<PRFaceTwitterNode>()->faceTwitterFileName);
  });
  scanDirAnalyThread(tmp.path().string(), ctx);
  auto progress = [&](size_t i) {
    return "progress " + std::to_string(entries[i].position * 20 / entries[i].total);
  };
  // The wireless-domain entry is skipped without a progress post.
  std::vector<std::string> expected = {progress(0),      "media IMG_0001.JPG", progress(2),
                                       "media memo.m4a", progress(3),          "app a.plist"};
  EXPECT_EQ(events, expected);

  events.clear();
  ctx.stopRequested = true;
  scanDirAnalyThread(tmp.path().string(), ctx);
  EXPECT_TRUE(events.empty());
}

// A long index finds its stored files from one listing of the folder instead of a look-up
// per entry: the answers must be those of findStoredFile all along.
TEST_P(IosIndexFormats, StoredFilesOfALongIndex) {
  TempFolder tmp;
  IosBackupWriter w(tmp.path(), GetParam().layout, GetParam().index);
  std::vector<std::string> expected;
  for (int i = 0; i < 600; ++i) {
    std::string path = "Library/f" + std::to_string(i);
    fs::path where = w.pathFor("KeyboardDomain", path);
    std::string flat = (tmp.path() / IosBackupWriter::hashedName("KeyboardDomain", path)).string();
    switch (i % 4) {
      case 0:  // stored where the layout puts it
        testing::writeWholeFile(where, "x");
        expected.push_back(where.string());
        break;
      case 1:  // not stored
        expected.push_back(flat);
        break;
      case 2:  // a folder of that name is not a stored file
        fs::create_directories(where);
        expected.push_back(flat);
        break;
      case 3:  // stored flat (wins over a copy in the subfolder)
        testing::writeWholeFile(flat, "x");
        if (GetParam().layout == Layout::subfolders) testing::writeWholeFile(where, "x");
        expected.push_back(flat);
        break;
    }
  }
  w.finish();
  std::vector<std::string> got;
  for (const auto& e : walk(tmp.path())) got.push_back(e.fileKey);
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, IosIndexFormats,
                         ::testing::Values(Format{Layout::flat, Index::mbdb},
                                           Format{Layout::subfolders, Index::mbdb},
                                           Format{Layout::flat, Index::manifestDb},
                                           Format{Layout::subfolders, Index::manifestDb}));

// Odd Manifest.mbdb contents, written byte for byte.
TEST(IosMbdb, OddIndexes) {
  IosBackupWriter::RawEntry absentPath;
  absentPath.domain = "HomeDomain";
  IosBackupWriter::RawEntry full;
  full.domain = "MediaDomain";
  full.path = "Media/a.mp3";
  full.linkTarget = "/var/x";
  full.dataHash = std::string(20, '\x11');
  full.encryptionKey = std::string(44, '\0');
  full.properties = {{"com.apple.assetsd.UUID", "abc"}, {"k", ""}};
  const std::string header("mbdb\x05\x00", 6);
  const std::string record = IosBackupWriter::encodeMbdbRecord(full);

  struct Case {
    const char* what;
    std::string bytes;
    bool readable;
    std::vector<std::string> domainPaths;
  };
  const std::vector<Case> cases = {
      {"header only", header, true, {}},
      {"other version", std::string("mbdb\x04\x00", 6) + record, false, {}},
      {"not an index", std::string("mbdx\x05\x00", 6) + record, false, {}},
      {"shorter than the header", "mbdb", false, {}},
      {"absent path, then a record with every field",
       IosBackupWriter::encodeMbdb({absentPath, full}),
       true,
       {"HomeDomain-", "MediaDomain-Media/a.mp3"}},
      {"second record cut short",
       header + record + record.substr(0, record.size() - 1),
       true,
       {"MediaDomain-Media/a.mp3"}},
      {"a lone length byte", header + record + "\x00", true, {"MediaDomain-Media/a.mp3"}},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    testing::writeWholeFile(tmp.path() / "Manifest.mbdb", c.bytes);
    bool ok = false;
    auto entries = walk(tmp.path(), &ok);
    EXPECT_EQ(ok, c.readable) << c.what;
    std::vector<std::string> got;
    for (const auto& e : entries) {
      got.push_back(e.domain + "-" + e.path);
      EXPECT_EQ(e.fileKey, (tmp.path() / sha1Hex(got.back())).string()) << c.what;
    }
    EXPECT_EQ(got, c.domainPaths) << c.what;

    // Nothing of a header-only or rejected index is posted.
    if (c.domainPaths.empty()) {
      NotificationCenter nc;
      ScanContext ctx(nc);
      int posts = 0;
      nc.addObserver(notify::kScanProgressInfo, [&](const Notification&) { ++posts; });
      scanDirAnalyThread(tmp.path().string(), ctx);
      EXPECT_EQ(posts, 0) << c.what;
    }
  }
}

TEST(IosManifestDb, RowsWithBadNamesAreSkippedAndLoggedRowsInTheLogAreRead) {
  TempFolder tmp, copies;
  fs::path backup = tmp.path() / "backup";
  IosBackupWriter w(backup, Layout::subfolders, Index::manifestDb);
  w.addFile("HomeDomain", "Library/SMS/sms.db", "db");
  IosBackupWriter::RawEntry bad;
  bad.domain = "HomeDomain";
  bad.path = "../../etc/passwd";
  bad.fileId = "../../etc/passwd";
  w.addRawEntry(bad);
  w.finish(/*keepWal=*/true);
  ASSERT_GT(fs::file_size(backup / "Manifest.db-wal"), 0u);
  const auto before = snapshot(backup);

  std::vector<std::string> lines;
  LogSink old = setLogSink([&](std::string_view l) { lines.emplace_back(l); });
  auto entries = walk(backup, nullptr, copies.path());
  setLogSink(old);
  ASSERT_EQ(entries.size(), 1u);  // only in the log: the main file has no rows
  EXPECT_EQ(entries[0].path, "Library/SMS/sms.db");
  EXPECT_EQ(entries[0].total, 2u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("row 2 skipped"), std::string::npos) << lines[0];
  EXPECT_EQ(snapshot(backup), before);                    // the backup is not written
  EXPECT_TRUE(testing::listTree(copies.path()).empty());  // and the copy is gone
}

TEST(IosManifestDb, RealBackupIndexListsEveryFile) {
  TAMSEL_REQUIRE_TESTDATA("ios/ios14-backup/Manifest.db");
  fs::path backup = testing::testDataPath("ios/ios14-backup");
  const auto before = snapshot(backup);
  ASSERT_EQ(backupIndexKind(backup), BackupIndexKind::manifestDb);
  bool ok = false;
  auto entries = walk(backup, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(entries.size(), 3721u);
  size_t stored = 0;
  for (const auto& e : entries) {
    std::string flat = (backup / sha1Hex(e.domain + "-" + e.path)).string();
    if (e.fileKey != flat) ++stored;
  }
  EXPECT_EQ(stored, 4u);  // the four stored files are found in their subfolders
  EXPECT_EQ(snapshot(backup), before);
}

}  // namespace
}  // namespace tamsel
