// tamsel-cli over phone backups that were tampered with: links out of the backup, a FIFO and
// an empty file in place of stored files, property lists nested far too deep. Nothing outside
// the backup is read or recovered, each such entry is a warning (exit 3), and one bad backup
// does not take the backup list down.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

#include "ios/backup_files.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/hostile_plist.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::CliRun;
using testing::IosBackupWriter;
using Json = nlohmann::json;
const auto& quote = testing::shellQuote;

class HostileBackup : public ::testing::Test {
 protected:
  CliRun run(const std::string& args) {
    return testing::runCli(TAMSEL_CLI_PATH,
                           "-q --work-dir " + quote((t_.path() / "work").string()) + " " + args,
                           t_.path() / "stderr.txt");
  }
  fs::path stored(const fs::path& backup, const StoredDatabase& db,
                  IosBackupWriter::Layout layout) {
    return IosBackupWriter::storedPath(backup, layout, std::string(db.name));
  }
  testing::TempFolder t_;
};

TEST_F(HostileBackup, LinksFifosAndEmptyFilesAreRefusedWithAWarning) {
  const auto layout = IosBackupWriter::Layout::subfolders;
  testing::SampleBackupOptions options;
  options.layout = layout;
  options.index = IosBackupWriter::Index::manifestDb;
  const fs::path backup = t_.path() / "backup";
  testing::writeSampleBackup(backup, options);
  testing::SampleBackupOptions otherOptions;
  otherOptions.firstName = "Mallory";
  const fs::path other = t_.path() / "other";
  testing::writeSampleBackup(other, otherOptions);
  const fs::path secret = t_.path() / "shadow";
  testing::writeWholeFile(secret, "root:$6$not-for-a-recovery\n");

  CliRun clean = run("scan --json - " + quote(backup.string()));
  ASSERT_EQ(clean.status, 0) << clean.err;
  const Json cleanDoc = Json::parse(clean.out);
  const size_t photos = cleanDoc["records"]["PRPhotoAndVideoNode"].size();
  ASSERT_GT(photos, 0u);
  const fs::path photo =
      cleanDoc["records"]["PRPhotoAndVideoNode"][0]["filePath"].get<std::string>();

  // A photo and the address book are links out of the backup; the messages' subfolder is a
  // link to a folder outside; the call history is a FIFO; the notes are an empty file.
  fs::remove(photo);
  fs::create_symlink(secret, photo);
  const fs::path book = stored(backup, stored::kAddressBook, layout);
  fs::remove(book);
  fs::create_symlink(stored(other, stored::kAddressBook, IosBackupWriter::Layout::flat), book);
  const fs::path smsFolder = stored(backup, stored::kMessages, layout).parent_path();
  fs::rename(smsFolder, t_.path() / "sms-folder");
  fs::create_symlink(t_.path() / "sms-folder", smsFolder);
  const fs::path calls = stored(backup, stored::kCallHistory, layout);
  fs::remove(calls);
  ASSERT_EQ(::mkfifo(calls.c_str(), 0600), 0);
  const fs::path notes = stored(backup, stored::kNotes, layout);
  fs::resize_file(notes, 0);

  CliRun scan = run("scan --json - " + quote(backup.string()));
  EXPECT_EQ(scan.status, 3) << scan.err;
  for (const char* said : {"is a symbolic link", "is a FIFO, socket or device", "is empty"}) {
    EXPECT_NE(scan.err.find(said), std::string::npos) << said << "\n" << scan.err;
  }
  const Json doc = Json::parse(scan.out);
  const Json& records = doc["records"];
  EXPECT_EQ(records["PRPhotoAndVideoNode"].size(), photos - 1);
  for (const Json& p : records["PRPhotoAndVideoNode"]) EXPECT_NE(p["filePath"], photo.string());
  EXPECT_EQ(doc.dump().find("Mallory"), std::string::npos) << "another phone's contacts";
  for (const char* cls : {"PRContactNode", "PRMessageNode", "PRCallHistoryNode", "PRNoteNode"}) {
    EXPECT_FALSE(records.contains(cls) && !records[cls].empty()) << cls;
  }

  const fs::path out = t_.path() / "out";
  CliRun rec = run("recover " + quote(backup.string()) + " " + quote(out.string()));
  EXPECT_EQ(rec.status, 3) << rec.err;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (e.is_regular_file()) {
      EXPECT_EQ(testing::readWholeFile(e.path()).find("not-for-a-recovery"), std::string::npos)
          << e.path();
    }
  }
  // The index is not followed either: a link in place of Manifest.db leaves no index.
  fs::rename(backup / "Manifest.db", t_.path() / "Manifest.db");
  fs::create_symlink(t_.path() / "Manifest.db", backup / "Manifest.db");
  CliRun noIndex = run("scan --json - " + quote(backup.string()));
  EXPECT_EQ(noIndex.status, 3) << noIndex.err;
  EXPECT_NE(noIndex.err.find("Manifest.db is a symbolic link"), std::string::npos) << noIndex.err;
  EXPECT_FALSE(Json::parse(noIndex.out)["records"].contains("PRPhotoAndVideoNode"));
}

TEST_F(HostileBackup, DeeplyNestedListsSkipOneBackupNotAll) {
  const fs::path root = t_.path() / "root";
  testing::writeSampleBackup(root / "good");
  const std::string lists[] = {
      testing::nestedXmlPlist(200'000), testing::binaryPlistOfArrays(100'000, [](uint32_t i) {
        return i + 1 < 100'000 ? std::vector<uint32_t>{i + 1} : std::vector<uint32_t>{};
      })};
  for (size_t i = 0; i < std::size(lists); ++i) {
    const fs::path bad = root / ("bad" + std::to_string(i));
    testing::writeSampleBackup(bad);
    testing::writeWholeFile(bad / (i == 0 ? "Info.plist" : "Manifest.plist"), lists[i]);
    // The scan goes on without the device's details, and says why.
    CliRun scan = run("scan " + quote(bad.string()));
    EXPECT_EQ(scan.status, 3) << scan.err;
    EXPECT_NE(scan.err.find("refused (nested deeper than 256 levels)"), std::string::npos)
        << scan.err;
  }
  CliRun list = run("backups --backup-root " + quote(root.string()));
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find((root / "good").string()), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find((root / "bad").string()), std::string::npos) << list.out;
  EXPECT_NE(list.err.find("nested deeper than 256 levels"), std::string::npos) << list.err;
}

}  // namespace
}  // namespace tamsel
