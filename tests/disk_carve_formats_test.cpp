// The loaded disk library's carving: lengths from each file's own structure, cut or
// inconsistent files not reported, hostile lengths neither wrap nor hang, files past 200 MiB.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fixtures/carve_image_writer.h"
#include "tests/fixtures/disklib_harness.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/zip_writer.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using namespace testing;

std::string carvedName(uint64_t offset, const std::string& ext) {
  char name[64];
  std::snprintf(name, sizeof name, "carved_%08llx.%s", static_cast<unsigned long long>(offset),
                ext.c_str());
  return name;
}

// Entries that make an archive of a given kind.
std::vector<ZipItem> officeItems(const std::string& folder) {
  return {{"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>", 8},
          {"_rels/.rels", "<Relationships/>", 8},
          {folder + "/document.xml", std::string(900, 'w'), 8, ZipSizes::kDescriptor}};
}
std::vector<ZipItem> openDocumentItems(const std::string& mimetype) {
  return {{"mimetype", mimetype},
          {"META-INF/manifest.xml", "<manifest/>", 8},
          {"content.xml", std::string(700, 'c'), 8}};
}
const std::string kPdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n%%EOF\n";

class CarveFormats : public DiskLibHarness {
 protected:
  // Scans an image holding each of `files` at its offset (zeros elsewhere).
  std::vector<Found> scanWith(const std::vector<std::pair<uint64_t, std::string>>& files,
                              uint64_t size = 4 << 20) {
    SparseImage image(tmp.path() / "card.img", size);
    for (const auto& [offset, bytes] : files) image.put(offset, bytes);
    return scan(image.path());
  }
  TempFolder tmp;
};

struct Complete {
  const char* what;
  std::string bytes;
  const char* ext;
  uint64_t len = 0;  // 0: the whole of `bytes`
};

TEST_F(CarveFormats, EachFormatAtASectorStartIsCarvedWithTheLengthItsStructureGives) {
  const std::string tagged = id3v2Tag("Song", 300) + mp3Frames(12) + id3v1Tag("Song");
  const std::string cutFrame = mp3Frames(20);
  const std::string utf8 = "Postcards: Grüße aus Köln — 東京タワー\n" + proseText(5000, 3);
  std::string libzipDocx;
  {
    const fs::path path = tmp.path() / "real.docx";
    fixtures::writeZip(path, {{"[Content_Types].xml", fixtures::bytesOf("<Types/>")},
                              {"word/document.xml", fixtures::bytesOf(std::string(3000, 'x'))}});
    libzipDocx = readWholeFile(path);
  }
  const std::vector<Complete> cases = {
      {"stored entries, comment", zipArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}}, {"hi"}),
       "zip"},
      {"signed descriptors",
       zipArchive({{"a.bin", std::string(2000, 'a'), 8, ZipSizes::kDescriptor},
                   {"b.bin", "PK", 8, ZipSizes::kDescriptor}}),
       "zip"},
      {"bare descriptors",
       zipArchive({{"a.bin", std::string(800, '\x01'), 8, ZipSizes::kBareDescriptor},
                   {"b.bin", "", 0, ZipSizes::kBareDescriptor}}),
       "zip"},
      {"64-bit descriptors and end record",
       zipArchive({{"a.bin", "data", 8, ZipSizes::kDescriptor64},
                   {"b.bin", "more", 8, ZipSizes::kBareDescriptor64}},
                  {"", true}),
       "zip"},
      {"word", zipArchive(officeItems("word")), "docx"},
      {"spreadsheet", zipArchive(officeItems("xl")), "xlsx"},
      {"slides", zipArchive(officeItems("ppt")), "pptx"},
      {"word written by libzip", libzipDocx, "docx"},
      {"text document", zipArchive(openDocumentItems("application/vnd.oasis.opendocument.text")),
       "odt"},
      {"spreadsheet document",
       zipArchive(openDocumentItems("application/vnd.oasis.opendocument.spreadsheet")), "ods"},
      {"presentation document",
       zipArchive(openDocumentItems("application/vnd.oasis.opendocument.presentation")), "odp"},
      {"book", zipArchive(openDocumentItems("application/epub+zip")), "epub"},
      {"compressed mimetype", zipArchive({{"mimetype", "application/epub+zip", 8}}), "zip"},
      {"java", zipArchive({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"}}), "jar"},
      {"android", zipArchive({{"AndroidManifest.xml", "\x03\x00"}, {"META-INF/MANIFEST.MF", "M"}}),
       "apk"},
      {"office names without content types", zipArchive({{"word/a.xml", "x"}}), "zip"},
      {"mp3, ID3v2 and ID3v1 tags", tagged, "mp3"},
      {"mp3, eight frames, no tag", mp3Frames(8), "mp3"},
      {"mp3, MPEG 2", mp3Frames(30, 0xFFF39064), "mp3"},
      {"mp3, zeros between tag and audio", id3v2Tag("Gap") + std::string(700, '\0') + mp3Frames(3),
       "mp3"},
      {"mp3, cut inside the last frame's header",
       cutFrame.substr(0, cutFrame.size() - mp3FrameLength(0xFFFB9064) + 2), "mp3",
       cutFrame.size() - mp3FrameLength(0xFFFB9064)},
      {"text", proseText(4096), "txt"},
      {"utf-8 text with a byte-order mark", "\xEF\xBB\xBF" + utf8, "txt"},
      {"text ending in binary", proseText(9000, 2) + "\x01\x02\x03", "txt", 9000},
  };
  uint64_t offset = 0x10000;
  std::vector<std::pair<uint64_t, std::string>> files;
  for (const Complete& c : cases) {
    files.emplace_back(offset, c.bytes);
    offset += 0x10000;
  }
  SparseImage image(tmp.path() / "card.img", offset + 0x10000);
  for (const auto& [at, bytes] : files) image.put(at, bytes);
  auto found = byName(scan(image.path()));
  EXPECT_EQ(found.size(), cases.size());
  const std::string card = readWholeFile(image.path());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Complete& c = cases[i];
    SCOPED_TRACE(c.what);
    const std::string name = carvedName(files[i].first, c.ext);
    ASSERT_TRUE(found.count(name)) << name;
    const uint64_t len = c.len != 0 ? c.len : c.bytes.size();
    EXPECT_EQ(found[name].len, len);
    EXPECT_EQ(card.substr(found[name].start, found[name].len), c.bytes.substr(0, len));
  }
}

struct Rejected {
  const char* what;
  std::string bytes;
};

TEST_F(CarveFormats, FilesCutShortOrInconsistentAreNotReportedAndHideNothingAfterThem) {
  const std::string zip = zipArchive({{"a.txt", "alpha"}, {"b.txt", std::string(600, 'b')}});
  const uint64_t directory = zipDirectoryOffset(zip);
  std::string wrongOffset = zip, wrongCount = zip, badDescriptor;
  wrongOffset[wrongOffset.size() - 6] ^= 1;  // the directory offset in the end record
  wrongCount[wrongCount.size() - 12] = 3;    // three entries, two in the directory
  badDescriptor = zipArchive({{"a.bin", std::string(900, 'a'), 8, ZipSizes::kDescriptor}});
  badDescriptor[30 + 5 + 900 + 4 + 4] ^= 1;  // its compressed size
  std::string hugeEntry = zip;
  for (int i = 18; i < 22; ++i) hugeEntry[i] = '\xFF';  // 4 GiB - 1 bytes of data
  std::string mdatPastEnd = isoMediaHead("isom", 64 << 20);
  auto lines = [](auto line) {  // 8 KiB of lines
    std::string s;
    for (int i = 0; s.size() < 8192; ++i) s += line(i);
    return s;
  };
  const std::vector<Rejected> cases = {
      {"zip cut inside an entry", zip.substr(0, 200)},
      {"zip without its end record", zip.substr(0, zip.size() - 22)},
      {"zip without central directory", zip.substr(0, directory)},
      {"zip end record naming another directory offset", wrongOffset},
      {"zip end record counting another number of entries", wrongCount},
      {"zip descriptor with a wrong size", badDescriptor},
      {"zip entry longer than the card", hugeEntry},
      {"seven mp3 frames without a tag", mp3Frames(7)},
      {"mp3 of mixed sample rates", mp3Frames(5) + mp3Frames(5, 0xFFFB9464)},
      {"ID3 tag and one frame", id3v2Tag("Lonely") + mp3Frames(1)},
      {"ID3 tag longer than the card", std::string("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10)},
      {"text shorter than 4 KiB", proseText(4095)},
      {"text without line breaks",
       [] {
         std::string s = proseText(8192);
         for (char& c : s) c = c == '\n' ? ' ' : c;
         return s;
       }()},
      {"one repeated line", lines([](int) { return std::string(30, 'a') + "\n"; })},
      {"punctuation with numbers",
       lines([](int i) { return "+-*/=%<>!?&|#" + std::to_string(i) + "\n"; })},
      {"no letters", lines([](int i) {
         return "  ...  ,,,  ;;;  ---  ___  ~~~  !!! " + std::to_string(i % 10) + "\n";
       })},
      {"pdf cut short before another", "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n"},
      {"movie whose media data passes the card's end", mdatPastEnd},
  };
  for (const Rejected& c : cases) {
    SCOPED_TRACE(c.what);
    // The sentinel PDF after the damaged file must still be found, on its own.
    const std::vector<Found> found = scanWith({{0x10000, c.bytes}, {0x80000, kPdf}});
    ASSERT_EQ(found.size(), 1u) << found[0].name;
    EXPECT_EQ(found[0].name, carvedName(0x80000, "pdf"));
    EXPECT_EQ(found[0].len, kPdf.size());
  }
}

TEST_F(CarveFormats, TextEndsWhereASectorBeginsAPdfAndBothAreFound) {
  const std::string text = proseText(10 * 512);
  auto found = byName(scanWith({{0x10000, text + kPdf}}));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[carvedName(0x10000, "txt")].len, text.size());
  EXPECT_EQ(found[carvedName(0x10000 + text.size(), "pdf")].len, kPdf.size());
}

std::string be64(uint64_t v) {
  std::string s;
  for (int shift = 56; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
  return s;
}

// A box size near 2^64 wrapped the sum of offset and size, and the walk went back: to
// before the file (a length that wrapped too) or into it (a wrong length).
TEST_F(CarveFormats, MovieBoxSizesThatWouldWrapEndTheWalkAtThatBox) {
  const uint64_t at = 0x10000;
  const std::string movie = isoMediaHead("isom", 16) + std::string(8, '\x07');
  const uint64_t box = at + movie.size();
  for (const uint64_t size : {0 - (box - (at - 512)), ~uint64_t{0}, uint64_t{1} << 63}) {
    SCOPED_TRACE(size);
    const std::string hostile = std::string("\x00\x00\x00\x01", 4) + "free" + be64(size);
    const std::vector<Found> found = scanWith({{at, movie + hostile}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, carvedName(at, "mp4"));
    EXPECT_EQ(found[0].len, movie.size());
  }
}

TEST_F(CarveFormats, HostileZipLengthsEndTheWalk) {
  std::string hugeZip64 = zipArchive({{"a.bin", "abc"}});
  // A local header whose sizes are in a ZIP64 field, claiming 2^64 - 1 bytes of data.
  std::string local = hugeZip64.substr(0, 30) + "a.bin";
  for (int i = 18; i < 26; ++i) local[i] = '\xFF';
  local[28] = 20;
  local += std::string("\x01\x00\x10\x00", 4) + std::string(16, '\xFF') + "abc";
  std::string endComment = zipArchive({{"a.txt", "x"}});
  endComment[endComment.size() - 2] = '\xFF';  // a 65535-byte comment at the card's end
  std::string hugeRecord = zipArchive({{"a.txt", "x"}}, {"", true});
  const size_t record = hugeRecord.find("PK\x06\x06");
  for (int i = 4; i < 12; ++i) hugeRecord[record + i] = '\xFF';
  for (const auto& [what, bytes, offset] :
       std::vector<std::tuple<const char*, std::string, uint64_t>>{
           {"64-bit entry size", local + hugeZip64.substr(30 + 5 + 3), 0x10000},
           {"comment past the end", endComment, (4 << 20) - endComment.size()},
           {"64-bit end record size", hugeRecord, 0x10000}}) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(scanWith({{offset, bytes}}).empty());
  }
}

// Files past the old limit of 200 MiB keep the length their structure gives; in a sparse
// image they cost no disk space and, skipped once carved, no reading.
TEST_F(CarveFormats, FilesPast200MiBAreListedWithTheirWholeLength) {
  const uint64_t movieAt = 1 << 20, movieLen = 250ull << 20;
  const std::string movieHead = isoMediaHead("mp42", 8);
  const std::string movie = isoMediaHead("mp42", movieLen - (movieHead.size() - 8));
  const uint64_t riffAt = movieAt + movieLen + 512, riffLen = 300ull << 20;
  std::string riff = "RIFF";
  for (int i = 0; i < 4; ++i) riff += static_cast<char>(((riffLen - 8) >> (8 * i)) & 0xFF);
  riff += "AVI LIST";
  // A stored 220 MiB entry: the local header, then (after the data) directory and end.
  const uint64_t zipAt = riffAt + riffLen, dataLen = 220ull << 20;
  std::string zip = zipArchive({{"v.mov", ""}});
  auto put32 = [&](size_t at, uint64_t v) {
    for (int i = 0; i < 4; ++i) zip[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const size_t directory = 35, end = zip.size() - 22;
  put32(18, dataLen);
  put32(22, dataLen);
  put32(directory + 20, dataLen);
  put32(directory + 24, dataLen);
  put32(end + 16, directory + dataLen);
  const uint64_t zipLen = zip.size() + dataLen;
  SparseImage image(tmp.path() / "video.img", zipAt + zipLen + (1 << 20));
  image.put(movieAt, movie);
  image.put(movieAt + 0x8000000, kPdf);  // inside the movie: not carved on its own
  image.put(riffAt, riff);
  image.put(zipAt, zip.substr(0, directory));
  image.put(zipAt + directory + dataLen, zip.substr(directory));
  auto found = byName(scan(image.path()));
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[carvedName(movieAt, "mp4")].len, movieLen);
  EXPECT_EQ(found[carvedName(riffAt, "avi")].len, riffLen);
  EXPECT_EQ(found[carvedName(zipAt, "zip")].len, zipLen);
}

TEST_F(CarveFormats, AFileOver4GiBIsLoggedByThe32BitScanListedByThe64BitOneAndKeptFromCarving) {
  const uint64_t at = 1 << 20, len = (4ull << 30) + (1 << 20);
  const std::string head = isoMediaHead("isom", 8);
  SparseImage image(tmp.path() / "long.img", at + len + (1 << 20));
  image.put(at, isoMediaHead("isom", len - (head.size() - 8)));
  image.put(at + (1ull << 30), kPdf);  // inside the movie
  image.put(at + len, kPdf);           // after it
  const std::vector<Found> found = scan(image.path());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, carvedName(at + len, "pdf"));
  bool logged = false;
  for (const std::string& line : gLog) {
    logged = logged || (line.find(carvedName(at, "mp4")) != std::string::npos &&
                        line.find(std::to_string(len)) != std::string::npos);
  }
  EXPECT_TRUE(logged);

  // The 64-bit entry lists it, with its whole length.
  ASSERT_NE(t->scanDeviceFor, nullptr);
  std::vector<std::pair<std::string, uint64_t>> wide;
  t->scanDeviceFor(
      image.path().c_str(), 255, &wide,
      [](void* caller, const tamsel_found_file* f) {
        static_cast<std::vector<std::pair<std::string, uint64_t>>*>(caller)->emplace_back(
            std::string(f->name, f->name_len), f->file_len);
      },
      nullptr);
  EXPECT_EQ(wide, (std::vector<std::pair<std::string, uint64_t>>{
                      {carvedName(at, "mp4"), len}, {carvedName(at + len, "pdf"), kPdf.size()}}));
}

// A header in every sector of a structure that never completes: each kind of walk must cost
// linear time (a walk from every sector to the end would take hours on this image).
TEST_F(CarveFormats, AHeaderInEverySectorOfADamagedStructureCostsLinearTime) {
  auto sector = [](std::string head, char fill) {
    head.resize(512, fill);
    return head;
  };
  std::string unknownLength = "PK\x03\x04" + std::string("\x14\x00\x08\x00\x08\x00", 6);
  unknownLength += std::string(16, '\0') + std::string("\x01\x00\x00\x00", 4) + "a";
  std::string chained = "PK\x03\x04" + std::string(14, '\0');
  chained += std::string("\xE1\x01\x00\x00\xE1\x01\x00\x00\x01\x00\x00\x00", 12) + "a";
  std::string longTag = std::string("ID3\x03\x00\x00\x00\x04\x00\x00", 10);
  std::string boxes = sector(std::string("\x00\x00\x01\x00", 4) + "ftypisom", '\0');
  boxes.replace(256, 8, std::string("\x00\x00\x01\x00", 4) + "free");
  std::string noLetters;
  while (noLetters.size() < 512) noLetters += ".. ,, ;; -- __ !! ?? ** ++ == // <> || ## @@ $$\n";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"zip entries of unknown length", sector(unknownLength, 'x')},
      {"zip entries chained to the end", sector(chained, 'y')},
      {"ID3 tags", sector(longTag, '\0')},
      {"movie boxes without media data", boxes},
      {"pdf headers", sector("%PDF-1.7\n", 'z')},
      {"text without letters", noLetters.substr(0, 512)},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    std::string disk;
    for (int i = 0; i < 16384; ++i) disk += bytes;
    const fs::path path = tmp.path() / "hostile.img";
    writeWholeFile(path, disk);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(scan(path).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(60));
    ASSERT_FALSE(gProgress.empty());
    EXPECT_EQ(gProgress.back().current, disk.size());
  }
}

}  // namespace
}  // namespace tamsel
