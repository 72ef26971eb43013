// tamsel-cli over phone backups: the backup list, scan counts and JSON, recovery, and a
// backup folder that no command ever changes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "ios/iphone_source.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/sha256.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::CliRun;
const auto& quote = testing::shellQuote;
using testing::IosBackupWriter;
using testing::readWholeFile;
using Json = nlohmann::json;

std::string digest(const std::string& bytes) {
  return sha256Hex({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

// Every file below `root` (its relative path) with its digest, and every folder.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    out[fs::relative(e.path(), root).string()] =
        e.is_regular_file() ? digest(readWholeFile(e.path())) : "folder";
  }
  return out;
}

class PhoneCli : public ::testing::Test {
 protected:
  CliRun run(const std::string& args) {
    return testing::runCli(TAMSEL_CLI_PATH,
                           "-q --work-dir " + quote((t_.path() / "work").string()) + " " + args,
                           t_.path() / "stderr.txt");
  }
  // The count the table gives for `cls` (-1 when the class has no row).
  static long countOf(const std::string& table, const std::string& cls) {
    const size_t at = table.find(" " + cls + " ");
    if (at == std::string::npos) return -1;
    return std::stol(table.substr(at + cls.size() + 2));
  }
  testing::TempFolder t_;
};

struct Layout {
  IosBackupWriter::Layout layout;
  IosBackupWriter::Index index;
  const char* name;
};
constexpr Layout kLayouts[] = {
    {IosBackupWriter::Layout::flat, IosBackupWriter::Index::mbdb, "flat-mbdb"},
    {IosBackupWriter::Layout::subfolders, IosBackupWriter::Index::manifestDb, "subfolders-db"},
};

TEST_F(PhoneCli, BackupsAreListedOneLineEach) {
  const fs::path root = t_.path() / "root";
  CliRun none = run("backups --backup-root " + quote(root.string()));
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "no backups in " + root.string() + "\n");

  testing::SampleBackupOptions a;
  a.deviceName = "Anna\x1b[2J phone";  // a name that would drive the terminal
  testing::writeSampleBackup(root / "aaaa", a);
  testing::SampleBackupOptions b;
  b.deviceName = "Bob's phone";
  b.version = "5.1.1";
  b.encrypted = true;
  testing::writeSampleBackup(root / "bbbb", b);
  fs::create_directories(root / ".hidden");

  CliRun r = run("backups --backup-root " + quote(root.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(r.out.substr(at, nl - at));
  }
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0].rfind("device", 0), 0u);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "names are escaped";
  EXPECT_NE(lines[1].find("Anna\\x1b[2J phone"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("Iphone 5"), std::string::npos);
  EXPECT_NE(lines[1].find("6.1.3"), std::string::npos);
  EXPECT_NE(lines[1].find("not encrypted"), std::string::npos);
  EXPECT_NE(lines[1].find((root / "aaaa").string()), std::string::npos);
  EXPECT_NE(lines[2].find("Bob's phone"), std::string::npos);
  EXPECT_NE(lines[2].find(" encrypted"), std::string::npos);
  EXPECT_EQ(lines[2].find("not encrypted"), std::string::npos);

  // An encrypted backup is refused by scan without its password, with the reason.
  CliRun scan = run("scan " + quote((root / "bbbb").string()));
  EXPECT_EQ(scan.status, 2);
  EXPECT_NE(scan.err.find("this backup is encrypted; its password is needed"), std::string::npos)
      << scan.err;
}

TEST_F(PhoneCli, ScanCountsExportAndRecoverLeaveTheBackupUntouched) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    const fs::path backup = t_.path() / l.name;
    testing::SampleBackupOptions options;
    options.layout = l.layout;
    options.index = l.index;
    options.deviceName = "Kim's phone";
    const testing::SampleBackup sample = testing::writeSampleBackup(backup, options);
    const auto before = snapshot(backup);

    CliRun counts = run("scan " + quote(backup.string()));
    ASSERT_EQ(counts.status, 0) << counts.err;
    const std::pair<const char*, size_t> expected[] = {
        {"PRContactNode", sample.contacts},     {"PRMessageNode", sample.messages},
        {"PRCallHistoryNode", sample.calls},    {"PRNoteNode", sample.notes},
        {"PRBookMarkNode", sample.bookmarks},   {"PRCalenderNode", sample.calendar},
        {"PRPhotoAndVideoNode", sample.photos}, {"PRFaceTwitterNode", sample.appFiles}};
    EXPECT_EQ(countOf(counts.out, "PRBlackBerryContactNode"), -1) << "phone classes only";

    CliRun json = run("scan --json - " + quote(backup.string()));
    ASSERT_EQ(json.status, 0) << json.err;
    const Json doc = Json::parse(json.out);
    EXPECT_EQ(doc["kind"], "iphone");
    EXPECT_EQ(doc["source"], backup.string());
    EXPECT_EQ(doc["device"]["strDeviceName"], options.deviceName);
    EXPECT_EQ(doc["device"]["strIOSVersion"], options.version);
    EXPECT_EQ(doc["device"]["strDeviceType"], "Iphone 5");
    EXPECT_EQ(doc["device"]["backUpFilePath"], backup.string());
    EXPECT_EQ(doc["device"]["encrypted"], false);
    const Json& records = doc["records"];
    // The live records; the table counts the deleted ones the carvers find in the same files
    // too (live cells read by byte patterns that the live records do not already list).
    for (const auto& [cls, n] : expected) {
      size_t live = 0;
      if (records.contains(cls)) {
        for (const Json& rec : records[cls]) live += !rec.value("bDeleted", false);
      }
      EXPECT_EQ(live, n) << cls;
      EXPECT_EQ(countOf(counts.out, cls), records.contains(cls) ? long(records[cls].size()) : -1)
          << cls << "\n"
          << counts.out;
    }
    ASSERT_TRUE(records.contains("PRPhotoAndVideoNode") && records.contains("PRContactNode"));
    // Photos point at the stored files themselves.
    for (const Json& photo : records["PRPhotoAndVideoNode"]) {
      const fs::path stored = photo["filePath"].get<std::string>();
      EXPECT_TRUE(fs::is_regular_file(stored)) << stored;
      EXPECT_EQ(stored.string().rfind(backup.string() + "/", 0), 0u);
    }
    const Json& contact = records["PRContactNode"][0];
    EXPECT_TRUE(contact.contains("contactPhone"));
    EXPECT_TRUE(contact["imageData"].contains("sha256"));

    // Nothing is ever written inside the backup folder.
    CliRun inside =
        run("scan --json " + quote((backup / "out.json").string()) + " " + quote(backup.string()));
    EXPECT_EQ(inside.status, 1);
    CliRun intoBackup =
        run("recover " + quote(backup.string()) + " " + quote((backup / "out").string()));
    EXPECT_EQ(intoBackup.status, 2);

    const fs::path out = t_.path() / (std::string("out-") + l.name);
    CliRun rec = run("recover " + quote(backup.string()) + " " + quote(out.string()));
    EXPECT_EQ(rec.status, 0) << rec.err << rec.out;
    for (const char* folder : {"Contact", "Message", "CallHistory", "Note", "Calendar&Reminder",
                               "BookMark", "Photo&Video", "FaceBook&Twitter"}) {
      EXPECT_TRUE(fs::is_directory(out / folder)) << folder;
    }
    // The recovered photos and videos are the stored files, byte for byte.
    for (const Json& photo : records["PRPhotoAndVideoNode"]) {
      const fs::path copy = out / "Photo&Video" / photo["fileNodeName"].get<std::string>();
      EXPECT_EQ(digest(readWholeFile(copy)),
                digest(readWholeFile(photo["filePath"].get<std::string>())))
          << copy;
    }

    // Only the photos and videos.
    const fs::path some = t_.path() / (std::string("some-") + l.name);
    CliRun only = run("recover " + quote(backup.string()) + " " + quote(some.string()) +
                      " --category PRPhotoAndVideoNode");
    EXPECT_EQ(only.status, 0) << only.err;
    EXPECT_NE(only.out.find("from " + std::to_string(sample.photos) + " ticked records"),
              std::string::npos)
        << only.out;
    EXPECT_EQ(snapshot(backup), before) << "the backup changed";
  }
}

TEST_F(PhoneCli, RealModernBackupScans) {
  TAMSEL_REQUIRE_TESTDATA("ios/ios14-backup");
  const fs::path backup = testing::testDataPath("ios/ios14-backup");
  CliRun r = run("scan --json - " + quote(backup.string()));
  // A few stored files of many listed: read, perhaps with warnings for what is missing.
  ASSERT_TRUE(r.status == 0 || r.status == 3) << r.status << r.err;
  const Json doc = Json::parse(r.out);
  EXPECT_EQ(doc["kind"], "iphone");
  EXPECT_TRUE(doc["device"].is_object());
  ASSERT_TRUE(doc["records"].contains("PRMessageNode")) << r.err;
  EXPECT_EQ(doc["records"]["PRMessageNode"].size(), 1u);
  // A phone of system 14 keeps its calendar in the tables of system 6.
  ASSERT_TRUE(doc["records"].contains("PRCalenderNode")) << r.err;
  EXPECT_EQ(doc["records"]["PRCalenderNode"].size(), 1u);
}

// The sample backup the README's first command scans: every kind of record, listed by
// `backups`, and left as it was.
TEST_F(PhoneCli, BundledSampleHoldsEveryKind) {
  const fs::path examples = fs::path(TAMSEL_SOURCE_DIR) / "examples";
  const fs::path backup = examples / "sample-iphone";
  const auto before = snapshot(backup);
  CliRun list = run("backups --backup-root " + quote(examples.string()));
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("Anna's iPhone"), std::string::npos) << list.out;
  CliRun r = run("scan --json - " + quote(backup.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  const Json doc = Json::parse(r.out);
  // Live records (two messages only in the stored write-ahead log among them), and the rows
  // the phone deleted, each listed once and marked.
  const std::map<std::string, long> live = {{"PRContactNode", 6},       {"PRMessageNode", 14},
                                            {"PRCallHistoryNode", 6},   {"PRNoteNode", 3},
                                            {"PRBookMarkNode", 10},     {"PRCalenderNode", 4},
                                            {"PRPhotoAndVideoNode", 6}, {"PRFaceTwitterNode", 2}};
  const std::map<std::string, std::vector<std::pair<std::string, std::string>>> deleted = {
      {"PRContactNode", {{"contactName", "Erik Sandberg"}, {"contactName", "Greta Holm"}}},
      {"PRMessageNode",
       {{"messageContent", "The spare key is under the blue flowerpot"},
        {"messageContent", "Can you lend me 200 until Friday?"},
        {"messageContent", "Don't tell Bob about the party"},
        {"messageContent", "Delete this: the safe code is 7391"}}},  // deleted in the log
      {"PRCallHistoryNode", {{"callPhone", "+46735550199"}, {"callPhone", "+4685550197"}}},
      {"PRNoteNode", {{"noteContent", "Dear landlord,\nthe heating has been off since Monday"}}},
      {"PRBookMarkNode", {{"bookMarkTitle", "Flat listings"}}},
      {"PRCalenderNode", {{"calTitle", "Job interview"}}}};
  for (const auto& [cls, n] : live) {
    SCOPED_TRACE(cls);
    ASSERT_TRUE(doc["records"].contains(cls));
    const Json& records = doc["records"][cls];
    long liveCount = 0;
    for (const Json& rec : records) liveCount += !rec.value("bDeleted", false);
    EXPECT_EQ(liveCount, n);
    EXPECT_EQ(countOf(r.err, cls), static_cast<long>(records.size())) << r.err;
    auto wanted = deleted.find(cls);
    if (wanted == deleted.end()) continue;
    for (const auto& [field, text] : wanted->second) {
      long found = 0;
      for (const Json& rec : records) {
        found += rec.value("bDeleted", false) && rec.value(field, std::string()) == text;
      }
      EXPECT_EQ(found, 1) << text;
    }
  }
  EXPECT_EQ(snapshot(backup), before) << "the sample changed";
}

// The bundled sample of a recent phone (encrypted, with the call and notes stores of newer
// phones and a HEIC photo) opened with the password beside it gives the newer records, live
// and deleted, and stays as it was.
TEST_F(PhoneCli, BundledEncryptedSampleOfARecentPhone) {
  const fs::path backup = fs::path(TAMSEL_SOURCE_DIR) / "examples" / "sample-iphone-modern";
  const fs::path password = backup.string() + ".password";
  const auto before = snapshot(backup);
  CliRun r = run("scan --json - --password-file " + quote(password.string()) + " " +
                 quote(backup.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  const Json doc = Json::parse(r.out);
  // How many records of `cls` hold every field of `want`.
  auto count = [&](const char* cls, const Json& want) {
    const Json& list = doc["records"][cls];
    return std::count_if(list.begin(), list.end(), [&](const Json& rec) {
      for (const auto& [key, value] : want.items()) {
        if (rec[key] != value) return false;
      }
      return true;
    });
  };
  EXPECT_EQ(
      count("PRCallHistoryNode", {{"callService", "FaceTime"}, {"callPhone", "bob@mail.example"}}),
      1);
  EXPECT_EQ(count("PRCallHistoryNode", {{"bDeleted", true}, {"callTime", 42}}), 1);
  EXPECT_EQ(
      count("PRNoteNode", {{"noteTitle", "Bank codes"}, {"bLocked", true}, {"noteContent", ""}}),
      1);
  EXPECT_EQ(count("PRNoteNode", {{"bDeleted", true},
                                 {"noteTitle", "Gift ideas"},
                                 {"noteContent", "Gift ideas\nbook for Anna\nconcert tickets"}}),
            1);
  EXPECT_EQ(count("PRPhotoAndVideoNode", {{"fileNodeName", "IMG_0004.HEIC"}}), 1);
  EXPECT_EQ(snapshot(backup), before) << "the sample changed";
}

// The command line keeps no records while it scans, yet lists the deleted ones by the result
// screen's rule: the counts of both agree record class by record class. (Before the rule was
// shared, the command line counted every deleted record the carvers posted, duplicates of
// live and of earlier deleted ones included.)
TEST_F(PhoneCli, DeletedRecordsCountAsOnTheResultScreen) {
  const fs::path backup = fs::path(TAMSEL_SOURCE_DIR) / "examples" / "sample-iphone";
  CliRun r = run("scan " + quote(backup.string()));
  ASSERT_EQ(r.status, 0) << r.err;

  NotificationCenter nc;
  fakes::FakeResultView view;
  fakes::FakeResultHost host;
  PRResultViewController pr(nc, view, host);
  pr.showView();
  ScanContext ctx(nc);
  ctx.runDir = t_.path() / "run";
  fs::create_directories(ctx.runDir);
  ASSERT_TRUE(IphoneBackupSource().scan(backup.string(), ctx).readable);
  const ScanCounters c = pr.counters();
  const std::map<std::string, long> screen = {{"PRContactNode", c.contactNum + c.delContactNum},
                                              {"PRMessageNode", c.messageNum + c.delMessageNum},
                                              {"PRCallHistoryNode", c.callNum + c.delCallNum},
                                              {"PRNoteNode", c.noteNum + c.delNoteNum},
                                              {"PRBookMarkNode", c.bookMarkNum + c.delBookMarkNum},
                                              {"PRCalenderNode", c.calenderNum + c.delCalenderNum}};
  for (const auto& [cls, n] : screen) EXPECT_EQ(countOf(r.out, cls), n) << cls << "\n" << r.out;
  EXPECT_GT(c.delMessageNum, 0);
}

}  // namespace
}  // namespace tamsel
