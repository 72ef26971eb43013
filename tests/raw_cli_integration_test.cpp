// tamsel-cli rawscan and rawrecover end to end on a generated card image.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "disklib/disklib_api.h"
#include "tests/fixtures/fat_image_test.h"

namespace tamsel {
namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class RawCli : public ::testing::Test {
 protected:
  void SetUp() override {
    FatImageWriter w(8192);
    w.addDirectory("DCIM");
    w.addFile("DCIM/Beach day.jpg", photo, false, /*fragmented=*/true);
    w.addFile("notes.txt", notes, /*deleted=*/true);
    w.addFile("SONG.MP3", song);
    image = tmp.path() / "card.img";
    w.writeTo(image);
  }

  int run(const std::string& args, std::string& out, std::string& err) {
    const fs::path errFile = tmp.path() / "stderr.txt";
    std::string cmd = "TAMSEL_DISKLIB=" + quote(TAMSEL_DISKLIB_PATH) + " " +
                      quote(TAMSEL_CLI_PATH) + " --work-dir " +
                      quote((tmp.path() / "work").string()) + " " + args + " 2>" +
                      quote(errFile.string()) + " </dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    std::array<char, 4096> buf;
    size_t n;
    out.clear();
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int st = pclose(p);
    err = readWholeFile(errFile);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  TempFolder tmp;
  fs::path image;
  const std::string photo = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(2000, 'p');
  const std::string notes = "deleted notes\n";
  const std::string song = std::string(1200, 's');
};

TEST_F(RawCli, RawscanListsTheFoundFilesAndWritesJson) {
  std::string out, err;
  const fs::path json = tmp.path() / "found.json";
  ASSERT_EQ(run("rawscan " + quote(image.string()) + " --json " + quote(json.string()), out, err),
            0)
      << err;
  EXPECT_NE(out.find("DCIM/Beach day.jpg"), std::string::npos) << out;
  EXPECT_NE(out.find("total                  3"), std::string::npos) << out;

  auto doc = nlohmann::json::parse(readWholeFile(json));
  EXPECT_EQ(doc["kind"], "raw");
  std::set<std::pair<std::string, std::string>> records;
  for (const auto& r : doc["records"]["PRScanListNode"]) {
    records.emplace(r["nodeName"].get<std::string>(), r["fileType"].get<std::string>());
  }
  EXPECT_EQ(records, (std::set<std::pair<std::string, std::string>>{{"DCIM/Beach day.jpg", "Image"},
                                                                    {"notes.txt", "Document"},
                                                                    {"SONG.MP3", "Audio"}}));
}

// scan, given a card image, loads the disk library itself and lists what rawscan lists;
// its JSON export is the raw one.
TEST_F(RawCli, ScanOfACardImageListsWhatRawscanLists) {
  std::string raw, scanned, err;
  ASSERT_EQ(run("-q rawscan " + quote(image.string()), raw, err), 0) << err;
  const fs::path json = tmp.path() / "scan.json";
  ASSERT_EQ(
      run("-q scan " + quote(image.string()) + " --json " + quote(json.string()), scanned, err), 0)
      << err;
  EXPECT_EQ(scanned, raw);
  EXPECT_NE(scanned.find("Image                  1"), std::string::npos) << scanned;
  EXPECT_NE(scanned.find("total                  3"), std::string::npos) << scanned;
  auto doc = nlohmann::json::parse(readWholeFile(json));
  EXPECT_EQ(doc["kind"], "raw");
  EXPECT_EQ(doc["records"]["PRScanListNode"].size(), 3u);
}

TEST_F(RawCli, RawrecoverWritesTheChosenKindsByteForByte) {
  std::string out, err;
  const fs::path dest = tmp.path() / "recovered";
  ASSERT_EQ(run("rawrecover " + quote(image.string()) + " " + quote(dest.string()) +
                    " --kind Image --kind Document",
                out, err),
            0)
      << err;
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dest)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), dest).string();
    if (rel == "report.html" || rel == "manifest.csv") continue;  // the receipt
    files.insert(rel);
    const std::string got = readWholeFile(e.path());
    EXPECT_TRUE(got == photo || got == notes) << rel;
  }
  EXPECT_EQ(files.size(), 2u);
  for (const auto& f : files) EXPECT_EQ(f.find("Audio"), std::string::npos) << f;

  EXPECT_EQ(
      run("rawrecover " + quote(image.string()) + " " + quote(dest.string()) + " --kind Pictures",
          out, err),
      2);
  EXPECT_NE(err.find("unknown kind"), std::string::npos);
}

// When no file could be created the run says so and fails, instead of claiming the ticked
// files as recovered.
TEST_F(RawCli, RawrecoverThatWritesNothingSaysSoAndFails) {
  std::string out, err;
  const fs::path dest = tmp.path() / "blocked";
  fs::create_directories(dest);
  for (const char* kind : {"Image", "Document"}) writeWholeFile(dest / kind, "not a folder");
  EXPECT_EQ(run("rawrecover " + quote(image.string()) + " " + quote(dest.string()) +
                    " --kind Image --kind Document",
                out, err),
            1);
  EXPECT_EQ(out.find("Recovered"), std::string::npos) << out;
  EXPECT_NE(err.find("nothing could be written into"), std::string::npos) << err;
  EXPECT_NE(err.find("(2 ticked records)"), std::string::npos) << err;

  const fs::path good = tmp.path() / "good";
  EXPECT_EQ(run("rawrecover " + quote(image.string()) + " " + quote(good.string()), out, err), 0)
      << err;
  EXPECT_NE(out.find("Recovered 3 files from 3 ticked records"), std::string::npos) << out;
}

// Archives are listed, counted with the deleted ones, exported with their deleted mark and
// recovered into "Archive" like every other kind.
TEST_F(RawCli, ArchivesAndDeletedFilesAreListedExportedAndRecovered) {
  FatImageWriter w(8192);
  const std::string live = std::string("PK\x03\x04", 4) + std::string(900, 'z');
  const std::string gone = std::string("7z\xBC\xAF\x27\x1C", 6) + std::string(700, 'y');
  w.addFile("BACKUP.ZIP", live);
  w.addFile("old.7z", gone, /*deleted=*/true);
  const fs::path card = tmp.path() / "archives.img";
  w.writeTo(card);

  std::string out, err;
  const fs::path json = tmp.path() / "archives.json";
  ASSERT_EQ(run("-q rawscan " + quote(card.string()) + " --json " + quote(json.string()), out, err),
            0)
      << err;
  EXPECT_NE(out.find("Archive                2        1"), std::string::npos) << out;
  EXPECT_NE(out.find("total                  2        1"), std::string::npos) << out;
  std::map<std::string, std::pair<std::string, uint64_t>> records;  // name -> deleted, flags
  const auto doc = nlohmann::json::parse(readWholeFile(json));
  for (const auto& r : doc["records"]["PRScanListNode"]) {
    EXPECT_EQ(r["fileType"], "Archive");
    records[r["nodeName"].get<std::string>()] = {r["bDeleted"].get<std::string>(),
                                                 r["foundFlags"].get<uint64_t>()};
  }
  // FAT keeps no zone: both carry the card's clock times.
  EXPECT_EQ(records["BACKUP.ZIP"],
            std::make_pair(std::string(), uint64_t{TAMSEL_FOUND_CLOCK_TIMES}));
  EXPECT_EQ(records["old.7z"],
            std::make_pair(std::string("Yes"),
                           uint64_t{TAMSEL_FOUND_DELETED | TAMSEL_FOUND_CLOCK_TIMES}));

  const fs::path dest = tmp.path() / "out";
  ASSERT_EQ(
      run("-q rawrecover " + quote(card.string()) + " " + quote(dest.string()) + " --kind Archive",
          out, err),
      0)
      << err;
  EXPECT_EQ(readWholeFile(dest / "Archive/BACKUP.ZIP"), live);
  EXPECT_EQ(readWholeFile(dest / "Archive/old.7z"), gone);
  EXPECT_NE(out.find("Recovered 2 files from 2 ticked records"), std::string::npos) << out;
}

// A chain that comes back on itself before the size its entry gives: the file is cut where
// the loop closes, listed as damaged, and written as incomplete (receipt, stderr and the exit
// status of a run read only in part).
TEST_F(RawCli, AChainThatLoopsWithinItsSizeIsRecoveredAsIncomplete) {
  FatImageWriter w(8192);
  const std::string clip = testing::noiseBytes(10 * 512, 7);
  const uint32_t first = w.addFile("CLIP.MOV", clip);
  w.setFatEntry(first + 7, first + 4);  // the eighth cluster leads back to the fifth
  w.addFile("SONG.MP3", song);
  const fs::path card = tmp.path() / "looping.img";
  w.writeTo(card);

  std::string out, err;
  ASSERT_EQ(run("-q rawscan " + quote(card.string()), out, err), 0) << err;
  EXPECT_NE(out.find("! CLIP.MOV"), std::string::npos) << out;
  const fs::path dest = tmp.path() / "out";
  EXPECT_EQ(run("-q rawrecover " + quote(card.string()) + " " + quote(dest.string()), out, err), 3)
      << err;
  EXPECT_EQ(readWholeFile(dest / "Video/CLIP.MOV"), clip.substr(0, 8 * 512));
  EXPECT_EQ(readWholeFile(dest / "Audio/SONG.MP3"), song);
  EXPECT_NE(err.find("CLIP.MOV written incomplete: its cluster chain on the card is damaged"),
            std::string::npos)
      << err;
  EXPECT_NE(out.find("Incomplete: 1 files (1 damaged on the card)"), std::string::npos) << out;
  // The receipt's status is the last cell of the file's row.
  const std::string manifest = readWholeFile(dest / "manifest.csv");
  const auto status = [&manifest](const std::string& file) {
    const size_t row = manifest.find("," + file + ",");
    if (row == std::string::npos) return std::string("(no row)");
    const std::string line = manifest.substr(row, manifest.find("\r\n", row) - row);
    return line.substr(line.rfind(',') + 1);
  };
  EXPECT_EQ(status("Video/CLIP.MOV"), "written incomplete") << manifest;
  EXPECT_EQ(status("Audio/SONG.MP3"), "written") << manifest;
  // `recover` of the image loads the disk library as `scan` does, and says the same.
  const fs::path viaRecover = tmp.path() / "recover-out";
  EXPECT_EQ(run("-q recover " + quote(card.string()) + " " + quote(viaRecover.string()), out, err),
            3)
      << err;
  EXPECT_EQ(readWholeFile(viaRecover / "Video/CLIP.MOV"), clip.substr(0, 8 * 512));
}

TEST_F(RawCli, MissingDeviceAndMissingLibraryAreClearErrors) {
  std::string out, err;
  EXPECT_EQ(run("rawscan " + quote((tmp.path() / "nope.img").string()), out, err), 2);
  EXPECT_NE(err.find("nope.img"), std::string::npos);
  const std::string cmd = "TAMSEL_DISKLIB=/nonexistent/bblib.so " + quote(TAMSEL_CLI_PATH) +
                          " --work-dir " + quote((tmp.path() / "work").string()) + " rawscan " +
                          quote(image.string()) + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
  int st = pclose(p);
  EXPECT_EQ(WEXITSTATUS(st), 2);
  EXPECT_NE(text.find("cannot load the disk library"), std::string::npos) << text;
}

}  // namespace
}  // namespace tamsel
