// tamsel-cli end to end: the bundled sample, real data, damaged and hostile inputs.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "app/work_folder.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/zip_writer.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::CliRun;
const auto& quote = testing::shellQuote;

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tamsel-cli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  CliRun run(const std::string& args) {
    return testing::runCli(TAMSEL_CLI_PATH,
                           "--work-dir " + quote((dir_ / "work").string()) + " " + args,
                           dir_ / "stderr.txt");
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static fs::path sample(const char* name) {
    return fs::path(TAMSEL_SOURCE_DIR) / "examples" / name;
  }
  // Every file below `root`, as paths relative to it.
  static std::set<std::string> tree(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_regular_file()) files.insert(fs::relative(e.path(), root).string());
    }
    return files;
  }

  fs::path dir_;
};

TEST_F(Cli, VersionAndUsage) {
  CliRun v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find("tamsel-cli "), std::string::npos);
  CliRun h = run("");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("scan"), std::string::npos);
  EXPECT_NE(h.out.find("recover"), std::string::npos);
}

TEST_F(Cli, SampleBackupsGiveEveryCategoryInAllThreeLayouts) {
  for (const char* name : {"sample.ipd", "sample.bbb", "sample-windows.bbb"}) {
    CliRun r = run("scan --json - " + quote(sample(name).string()));
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["kind"], "blackberry");
    EXPECT_EQ(doc["source"], sample(name).string());
    for (const char* cls :
         {"PRBlackBerryContactNode", "PRBlackBerryCallNode", "PRBlackBerrySMSMessageNode",
          "PRBlackBerryMMSMessageNode", "PRBlackBerryNoteNode", "PRBlackBerryCalenderNode",
          "PRBlackBerryContentNode"}) {
      ASSERT_TRUE(doc["records"].contains(cls)) << name << " lacks " << cls;
      EXPECT_GT(doc["records"][cls].size(), 0u) << name << " " << cls;
    }
    // The count table went to stderr because the JSON took stdout.
    EXPECT_NE(r.err.find("PRBlackBerryContactNode"), std::string::npos);
    const auto& contact = doc["records"]["PRBlackBerryContactNode"][0];
    EXPECT_EQ(contact["bSelected"], false);
    EXPECT_TRUE(contact["contactImageData"].contains("sha256"));
    EXPECT_EQ(contact["contactImageData"]["sha256"].get<std::string>().size(), 64u);
  }
}

TEST_F(Cli, RealSampleGivesItsThreeReceivedMessages) {
  fs::path ipd = fs::path(TAMSEL_TESTDATA_DIR) / "blackberry" / "Sample.ipd";
  if (!fs::exists(ipd)) GTEST_SKIP() << "no shared test data";
  CliRun r = run("scan --json - " + quote(ipd.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  auto sms = nlohmann::json::parse(r.out)["records"]["PRBlackBerrySMSMessageNode"];
  ASSERT_EQ(sms.size(), 3u);
  const char* texts[] = {"qwerty111", "qwerty111", "asdfgh222"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sms[i]["contentText"], texts[i]);
    EXPECT_EQ(sms[i]["numberString"], "+8613725573137");
    EXPECT_EQ(sms[i]["type"], "Incoming");
  }
}

TEST_F(Cli, UnreadableInputsEndWithOneClearLine) {
  struct Case {
    std::string name;
    std::string expect;
  };
  fs::path notZip = dir_ / "broken.bbb";
  std::ofstream(notZip) << "PK but not really a zip file";
  fs::path notIpd = dir_ / "random.ipd";
  std::ofstream(notIpd) << std::string(4096, '\x5a');
  fs::path badHeader = dir_ / "bad-header.ipd";
  std::string sampleBytes = read(sample("sample.ipd"));
  sampleBytes[0] = 'i';
  std::ofstream(badHeader, std::ios::binary) << sampleBytes;
  fs::path cutZip = dir_ / "cut.bbb";
  std::ofstream(cutZip, std::ios::binary) << read(sample("sample.bbb")).substr(0, 100);
  const Case cases[] = {
      {(dir_ / "absent.ipd").string(), "no such file"},
      {notZip.string(), "not a backup"},
      {notIpd.string(), "not a backup"},
      {badHeader.string(), "not a backup"},
      {cutZip.string(), "not a ZIP archive"},
      {dir_.string(), "a folder that holds no backup"},
  };
  for (const auto& c : cases) {
    CliRun r = run("scan " + quote(c.name));
    EXPECT_EQ(r.status, 2) << c.name;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
  }
}

TEST_F(Cli, TruncatedBackupKeepsWhatCameBeforeTheDamage) {
  std::string bytes = read(sample("sample.ipd"));
  for (size_t cut : {size_t{41}, size_t{300}, bytes.size() / 2, bytes.size() - 5}) {
    fs::path part = dir_ / ("cut-" + std::to_string(cut) + ".ipd");
    std::ofstream(part, std::ios::binary) << bytes.substr(0, cut);
    CliRun r = run("scan --json - " + quote(part.string()));
    // Damaged, partial results: exit status 3, with the damage on stderr.
    const bool damaged = r.err.find("damaged: partial results") != std::string::npos;
    EXPECT_EQ(r.status, damaged ? 3 : 0) << cut << ": " << r.err;
    EXPECT_TRUE(nlohmann::json::accept(r.out)) << cut;
    if (cut > 300) {
      EXPECT_TRUE(damaged) << cut << ": " << r.err;
      EXPECT_NE(r.err.find("tamsel-cli: warning: " + part.string() + ": IPD record"),
                std::string::npos)
          << r.err;
    }
  }
}

TEST_F(Cli, ArchiveClimbingOutOfTheWorkFolderWritesNothingOutside) {
  fixtures::IpdWriter w;
  uint16_t memos = w.addDatabase("Memos");
  w.addRecord(memos, {fixtures::textField(1, "kept"), fixtures::textField(2, "body")});
  fs::path bbb = dir_ / "evil.bbb";
  fixtures::writeZip(bbb, {{"../../outside.txt", fixtures::bytesOf("escaped")},
                           {"Databases/../../../outside2.txt", fixtures::bytesOf("escaped")},
                           {"../\x1b]0;owned\x07\x1b[2J", fixtures::bytesOf("escaped")},
                           {"Databases/Databases.ipd", w.bytes()}});
  CliRun r = run("scan --json - " + quote(bbb.string()));
  ASSERT_EQ(r.status, 3) << r.err;  // refused entries make the results partial
  const std::string refused = "refused archive entry \"../../outside.txt\"";
  const size_t first = r.err.find(refused);
  EXPECT_NE(first, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(refused, first + 1), std::string::npos) << "said twice: " << r.err;
  // An entry name never drives the terminal: its escape sequence is shown, not sent.
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\x07'), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "outside.txt"));
  EXPECT_FALSE(fs::exists(dir_.parent_path() / "outside.txt"));
  EXPECT_FALSE(fs::exists(dir_.parent_path() / "outside2.txt"));
  auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["records"]["PRBlackBerryNoteNode"][0]["noteTittle"], "kept");
}

// A backup being scanned from inside a run folder that a crash left behind is not removed by
// the start-up clean-up of another program; the folder goes once nothing scans from it.
TEST_F(Cli, StaleRunFolderHoldingAnotherProgramsInputIsKept) {
  const fs::path stale = dir_ / "work" / "run-Ab12Cd";
  fs::create_directories(stale);
  fs::copy_file(sample("sample.ipd"), stale / "in.ipd");
  {
    ScannedInput held((stale / "in.ipd").string());
    CliRun r = run("-q scan " + quote(sample("sample.ipd").string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(stale / "in.ipd"));
  }
  CliRun r = run("-q scan " + quote(sample("sample.ipd").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(stale));
}

// An input inside a run folder that an earlier run left (or a phone backup folder named like
// one) is the scan's input, not the leftover: no command's start-up clean-up removes it.
TEST_F(Cli, InputInsideALeftoverRunFolderIsKeptByEveryCommand) {
  const fs::path work = dir_ / "work";
  const fs::path ipd = work / "run-abc123" / "in.ipd";
  const fs::path phone = work / "run-0a1b2c";
  const std::string out = " " + quote((dir_ / "out").string());
  const struct {
    std::string command;
    fs::path input;
  } cases[] = {
      {"scan", ipd},       {"recover", ipd}, {"rawscan", ipd},
      {"rawrecover", ipd}, {"scan", phone},  {"recover", phone},
  };
  for (const auto& c : cases) {
    fs::remove_all(work);
    fs::remove_all(dir_ / "out");
    fs::create_directories(ipd.parent_path());
    fs::copy_file(sample("sample.ipd"), ipd);
    testing::writeSampleBackup(phone);
    const fs::path held = c.input == ipd ? ipd.parent_path() : phone;
    const std::set<std::string> before = tree(held);
    const bool recovers = c.command.find("recover") != std::string::npos;
    CliRun r = run("-q " + c.command + " " + quote(c.input.string()) + (recovers ? out : ""));
    SCOPED_TRACE(c.command + " " + c.input.string() + ": " + r.err);
    ASSERT_TRUE(fs::exists(c.input));
    EXPECT_EQ(tree(held), before);
    if (c.input == ipd) {
      EXPECT_TRUE(read(ipd) == read(sample("sample.ipd")));
    }
    // A card command may not read a backup, but it still found its input.
    if (c.command.starts_with("raw")) {
      EXPECT_EQ(r.err.find("No such file"), std::string::npos);
    } else {
      EXPECT_TRUE(r.status == 0 || r.status == 3);
    }
  }
}

TEST_F(Cli, RecoverWritesTheSevenFoldersAndASecondRunLosesNothing) {
  fs::path out = dir_ / "out dir";
  CliRun first =
      run("-q recover " + quote(sample("sample.bbb").string()) + " " + quote(out.string()));
  ASSERT_EQ(first.status, 0) << first.err;
  for (const char* folder : {"Content_Store", "Contact", "Message", "Note", "Calendar&Reminder",
                             "CallHistory", "MMSMessgae"}) {
    EXPECT_TRUE(fs::is_directory(out / folder)) << folder;
  }
  std::set<std::string> once = tree(out);
  EXPECT_TRUE(once.count("Contact/Contacts.txt"));
  EXPECT_TRUE(once.count("MMSMessgae/beach-holiday.png"));
  EXPECT_TRUE(once.count("Content_Store/IMG00042-20130402-0915.png"));
  std::string contacts = read(out / "Contact" / "Contacts.txt");

  CliRun second =
      run("-q recover " + quote(sample("sample.bbb").string()) + " " + quote(out.string()));
  ASSERT_EQ(second.status, 0) << second.err;
  std::set<std::string> twice = tree(out);
  EXPECT_EQ(twice.size(), 2 * once.size());
  for (const auto& f : once) EXPECT_TRUE(twice.count(f)) << f;
  EXPECT_EQ(read(out / "Contact" / "Contacts.txt"), contacts);
  EXPECT_EQ(read(out / "Contact" / "Contacts (2).txt"), contacts);
  // The count is of the files the run created, its receipt (report.html, manifest.csv) aside.
  EXPECT_NE(second.out.find("Recovered " + std::to_string(once.size() - 2) +
                            " files from 43 ticked records"),
            std::string::npos)
      << second.out;
}

TEST_F(Cli, RecoverCanBeLimitedToOneClass) {
  fs::path out = dir_ / "memos";
  CliRun r = run("-q recover --category PRBlackBerryNoteNode " +
                 quote(sample("sample.ipd").string()) + " " + quote(out.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  // Five memos; every category's text file is written, ticked or not.
  EXPECT_NE(r.out.find("Recovered 6 files from 5 ticked records"), std::string::npos) << r.out;
  EXPECT_FALSE(read(out / "Note" / "Notes.txt").empty());
  EXPECT_TRUE(read(out / "Message" / "Messages.txt").empty());
  CliRun bad = run("-q recover --category NoSuchClass " + quote(sample("sample.ipd").string()) +
                   " " + quote(out.string()));
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("unknown record class"), std::string::npos);
  // An OUTDIR that is a link is not written through, and the message says why.
  fs::create_directory_symlink(out, dir_ / "link");
  CliRun link = run("-q recover " + quote(sample("sample.ipd").string()) + " " +
                    quote((dir_ / "link").string()));
  EXPECT_EQ(link.status, 1);
  EXPECT_NE(link.err.find("is a symbolic link; give the folder it points to"), std::string::npos)
      << link.err;
}

// --json never writes over the scanned input (whatever name or link reaches it), replaces
// an existing file only with --force, and leaves no temporary file behind.
TEST_F(Cli, JsonNeverReplacesTheInputAndOtherFilesOnlyWhenForced) {
  const fs::path input = dir_ / "backup.ipd";
  fs::copy_file(sample("sample.ipd"), input);
  const std::string original = read(input);
  fs::create_symlink(input, dir_ / "link.json");
  fs::create_hard_link(input, dir_ / "hard.json");
  for (const char* dest : {"backup.ipd", "link.json", "hard.json"}) {
    for (const char* force : {"", " --force"}) {
      CliRun r =
          run("scan " + quote(input.string()) + " --json " + quote((dir_ / dest).string()) + force);
      EXPECT_EQ(r.status, 1) << dest << force;
      EXPECT_NE(r.err.find("scanned input"), std::string::npos) << dest << ": " << r.err;
      EXPECT_EQ(r.out, "") << "the scan itself did not run";
    }
  }
  EXPECT_EQ(read(input), original);

  const fs::path existing = dir_ / "out.json";
  std::ofstream(existing) << "keep";
  CliRun refused = run("scan " + quote(input.string()) + " --json " + quote(existing.string()));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
  EXPECT_EQ(read(existing), "keep");

  CliRun forced =
      run("scan " + quote(input.string()) + " --json " + quote(existing.string()) + " --force");
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(nlohmann::json::parse(read(existing))["kind"], "blackberry");

  CliRun fresh =
      run("scan " + quote(input.string()) + " --json " + quote((dir_ / "new.json").string()));
  ASSERT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_EQ(read(dir_ / "new.json"), read(existing));
  EXPECT_EQ(tree(dir_), (std::set<std::string>{"backup.ipd", "hard.json", "new.json", "out.json",
                                               "stderr.txt"}));

  // Through a link, the file it names is replaced and the link stays.
  std::ofstream(existing) << "keep";
  fs::create_symlink(existing, dir_ / "alias.json");
  CliRun linked = run("scan " + quote(input.string()) + " --json " +
                      quote((dir_ / "alias.json").string()) + " --force");
  ASSERT_EQ(linked.status, 0) << linked.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "alias.json"));
  EXPECT_EQ(read(existing), read(dir_ / "new.json"));
}

// A full disk (or any write error) is reported with exit status 1, for a file and stdout.
TEST_F(Cli, JsonWriteErrorsExitWithOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const std::string input = quote(sample("sample.ipd").string());
  CliRun device = run("scan " + input + " --json /dev/full");
  EXPECT_EQ(device.status, 1);
  EXPECT_NE(device.err.find("cannot write the JSON export to /dev/full"), std::string::npos)
      << device.err;
  CliRun out = run("scan " + input + " --json - >/dev/full");
  EXPECT_EQ(out.status, 1);
  EXPECT_NE(out.err.find("standard output"), std::string::npos) << out.err;
}

// A source path that is not UTF-8 is exported with U+FFFD in place of the bad bytes.
TEST_F(Cli, JsonOfANonUtf8SourcePath) {
  const fs::path input = dir_ / "caf\xE9 \xFF.ipd";
  fs::copy_file(sample("sample.ipd"), input);
  CliRun r = run("scan --json - " + quote(input.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["source"], (dir_ / "caf\xEF\xBF\xBD \xEF\xBF\xBD.ipd").string());
  EXPECT_FALSE(doc["records"]["PRBlackBerryContactNode"].empty());
}

TEST_F(Cli, DamagedWindowsMemberIsAWarningAndExitStatusThree) {
  fixtures::IpdWriter good, bad;
  good.addRecord(good.addDatabase("Memos"), {fixtures::textField(1, "good")});
  bad.addRawRecord(bad.addDatabase("SMS Messages"), 3, {});
  fs::path bbb = dir_ / "win.bbb";
  fixtures::writeWindowsBbb(bbb, {good.bytes(), bad.bytes()});
  CliRun r = run("scan --json - " + quote(bbb.string()));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("tamsel-cli: warning: " + bbb.string() + ": Databases/2.dat: IPD record"),
            std::string::npos)
      << r.err;
  auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["records"]["PRBlackBerryNoteNode"][0]["noteTittle"], "good");
  EXPECT_TRUE(fs::is_empty(dir_ / "work"));  // the run folder went with the command
}

}  // namespace
}  // namespace tamsel
