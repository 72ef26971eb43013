// Writes a seed corpus for the disk library's fuzz target into the folder named on the
// command line: small exFAT and FAT12/16/32 volumes (long names, folders, deleted files and
// folders, fragmented files, loops, entries pointing outside the volume or into another
// folder), the same volumes inside an MBR disk, files of every carved format in free space,
// and cut-short and damaged copies. Images are cut after their last used sector, so a FAT32
// volume's seed holds its FATs and its files but not the empty clusters after them.
// Deterministic: the same files every run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/corpus_writer.h"
#include "tests/fixtures/exfat_image_writer.h"
#include "tests/fixtures/fat_image_writer.h"

namespace fs = std::filesystem;
using tamsel::fuzzing::CorpusWriter;
using tamsel::fuzzing::nextRandom;
using tamsel::fuzzing::runCorpusGenerator;
using tamsel::testing::ExfatImageWriter;
using tamsel::testing::FatImageWriter;

namespace {

void put16(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 2; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put32be(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}
uint32_t get16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8);
}
uint32_t get32(const std::string& s, size_t at) {
  return get16(s, at) | (get16(s, at + 2) << 16);
}

std::string text(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (seed + i * 7 + i / 13) % 26);
  return s;
}

// One small complete file of each format the carver knows.
std::vector<std::string> carvedSamples() {
  std::vector<std::string> out;
  std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string("\x00\x10JFIF\x00\x01\x01\x00\x00\x01", 12);
  jpeg += std::string("\x00\x01\x00\x00", 4) + "\xFF\xDA" + std::string("\x00\x02", 2);
  jpeg += std::string("\x11\x22\xFF\x00\x33\xFF\xD0\x44", 8) + "\xFF\xD9";
  out.push_back(jpeg);

  std::string png = "\x89PNG\r\n\x1a\n";
  png += std::string("\x00\x00\x00\x0DIHDR", 8) + std::string(13, '\x01') + "CRC!";
  png += std::string("\x00\x00\x00\x00IEND", 8) + "CRC!";
  out.push_back(png);

  std::string gif = "GIF89a" + std::string("\x01\x00\x01\x00\x80\x00\x00", 7);
  gif += std::string(6, '\x7F');  // a global colour table of two entries
  gif += "\x21\xF9" + std::string("\x04\x00\x00\x00\x00\x00", 6);
  gif += "\x2C" + std::string("\x00\x00\x00\x00\x01\x00\x01\x00\x00", 9);
  gif += std::string("\x02\x02\x4C\x01\x00", 5) + "\x3B";
  out.push_back(gif);

  out.push_back("%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n");

  std::string zip = "PK\x03\x04" + std::string(22, '\0') + std::string("\x01\x00\x00\x00", 4) + "a";
  std::string cd = "PK\x01\x02" + std::string(24, '\0') + std::string("\x01\x00", 2) +
                   std::string(16, '\0') + "a";
  std::string eocd = "PK\x05\x06" + std::string(6, '\0') + std::string("\x01\x00", 2);
  eocd += std::string(8, '\0') + std::string(2, '\0');
  put32(eocd, 12, static_cast<uint32_t>(cd.size()));
  put32(eocd, 16, static_cast<uint32_t>(zip.size()));
  out.push_back(zip + cd + eocd);

  std::string bmp = "BM" + std::string(56, '\0');
  put32(bmp, 2, 58);
  put32(bmp, 10, 54);
  put32(bmp, 14, 40);
  put32(bmp, 18, 1);
  put32(bmp, 22, 1);
  out.push_back(bmp);

  std::string wav = "RIFF" + std::string(4, '\0') + "WAVEfmt " + std::string(20, '\x02');
  put32(wav, 4, static_cast<uint32_t>(wav.size() - 8));
  out.push_back(wav);

  std::string mp4 = std::string(4, '\0') + "ftypisom" + std::string(4, '\0');
  put32be(mp4, 0, 16);
  std::string moov = std::string(4, '\0') + "moov";
  put32be(moov, 0, 8);
  std::string mdat = std::string(4, '\0') + "mdat" + std::string(8, '\x55');
  put32be(mdat, 0, 16);
  out.push_back(mp4 + moov + mdat);
  // The same movie followed by a box whose 64-bit size would wrap the walk back before it.
  std::string wrap = std::string("\x00\x00\x00\x01", 4) + "free" + std::string(8, '\xFF');
  out.push_back(mp4 + moov + mdat + wrap);

  // A ZIP whose second entry's length is in a data descriptor, named like a word document.
  std::string z = "PK\x03\x04" + std::string(26, '\0') + "[Content_Types].xml" + "<Types/>";
  put16(z, 26, 19);
  put32(z, 18, 8);
  put32(z, 22, 8);
  const size_t second = z.size();
  z += "PK\x03\x04" + std::string(26, '\0') + "word/document.xml" + "<w:document/>";
  put16(z, second + 6, 8);
  put16(z, second + 26, 17);
  z += "PK\x07\x08" + std::string(12, '\0');
  put32(z, z.size() - 8, 13);
  put32(z, z.size() - 4, 13);
  const size_t directory = z.size();
  for (const auto& [at, name] : {std::pair<size_t, std::string>{0, "[Content_Types].xml"},
                                 std::pair<size_t, std::string>{second, "word/document.xml"}}) {
    std::string entry = "PK\x01\x02" + std::string(42, '\0') + name;
    put16(entry, 28, static_cast<uint32_t>(name.size()));
    put32(entry, 42, static_cast<uint32_t>(at));
    z += entry;
  }
  std::string end = "PK\x05\x06" + std::string(18, '\0');
  put16(end, 8, 2);
  put16(end, 10, 2);
  put32(end, 12, static_cast<uint32_t>(z.size() - directory));
  put32(end, 16, static_cast<uint32_t>(directory));
  out.push_back(z + end);

  // MP3: an ID3 tag and frames (MPEG 1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes, 418
  // padded), and eight frames without a tag.
  std::string frames;
  for (int i = 0; i < 8; ++i) {
    std::string frame(i % 2 == 0 ? 417 : 418, static_cast<char>(0x11 * i));
    put32be(frame, 0, i % 2 == 0 ? 0xFFFB9064u : 0xFFFB9264u);
    frames += frame;
  }
  out.push_back(std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) + std::string(10, 'T') +
                frames.substr(0, 835) + "TAG" + std::string(125, 'v'));
  out.push_back(frames);

  // Plain text of a little over 4 KiB.
  std::string prose;
  for (int line = 0; prose.size() < 4200; ++line) {
    prose += "line " + std::to_string(line) + ": " + text(50 + line % 17, static_cast<char>(line)) +
             "\n";
  }
  out.push_back(prose);
  return out;
}

// The image without the zero sectors at its end.
std::string trimmed(const std::string& image) {
  size_t end = image.find_last_not_of('\0');
  if (end == std::string::npos) return image.substr(0, 512);
  return image.substr(0, (end + 512) / 512 * 512);
}

// A volume with a bit of everything; `kind` picks the FAT type.
FatImageWriter sampleVolume(int kind) {
  // FAT12: 2000 sectors; FAT16: 4400; FAT32: 67000 (the fewest clusters FAT32 allows).
  const uint32_t sectors = kind == 12 ? 2000 : kind == 16 ? 4400 : 67000;
  FatImageWriter w(sectors);
  w.addFile("HELLO.TXT", "hello, card\n");
  w.addFile("A rather long file name.txt", text(1300, 1));
  const uint32_t dcim = w.addDirectory("DCIM");
  w.addDirectory("DCIM/Camera roll");
  w.addFile("DCIM/Camera roll/IMG_0001.JPG", carvedSamples()[0]);
  w.addFile("DCIM/Camera roll/scattered pieces.bin", text(2100, 2), false, true);
  w.addFile("DCIM/GONE.TXT", text(700, 3), true);
  w.addFile("Deleted with a long name.doc", text(900, 4), true);
  w.addDirectory("OLD", true);
  w.addFile("OLD/INSIDE.TXT", text(40, 5), true);
  // Damage: a chain that loops back on itself, and entries that point nowhere.
  uint32_t loop = w.addFile("LOOP.BIN", text(1600, 6));
  w.setFatEntry(loop + 2, loop);
  w.addRawEntry("", "FAR     BIN", 0x20, 0x0FFFFFF0u, 5000);
  w.addRawEntry("", "HUGE    BIN", 0x20, loop, 0xFFFFFFFFu);
  w.addRawEntry("DCIM", "UP      DIR", 0x10, 0, 0);
  w.addRawEntry("", "INTO    DIR", 0x10, dcim + 1, 0);    // into the middle of a folder
  w.addRawEntry("DCIM", "        .  ", 0x20, loop, 100);  // a name of an extension only
  return w;
}

// Where a volume's FAT, root folder and data area begin, read from its boot sector.
struct Layout {
  size_t fat = 0, root = 0, data = 0;
};
Layout layoutOf(const std::string& v, size_t at) {
  Layout l;
  const uint32_t bps = get16(v, at + 11), reserved = get16(v, at + 14), fats = v[at + 16];
  const uint32_t rootEntries = get16(v, at + 17);
  const uint32_t fatSectors = get16(v, at + 22) != 0 ? get16(v, at + 22) : get32(v, at + 36);
  l.fat = at + reserved * bps;
  l.root = l.fat + static_cast<size_t>(fats) * fatSectors * bps;
  l.data = l.root + rootEntries * 32;
  if (rootEntries == 0) l.root = l.data;  // FAT32: the root folder is cluster 2
  return l;
}

// A small exFAT volume (512-byte clusters) with a bit of everything: files contiguous and
// chained, fragmented, in folders, deleted (some of them overwritten since), a looping
// chain, entries pointing outside the volume or at a folder again, and a name to clean.
ExfatImageWriter sampleExfat() {
  ExfatImageWriter w(384 * 1024, 0);
  const std::vector<std::string> samples = carvedSamples();
  w.addFile("hello.txt", "hello, card\n");
  const uint32_t loop = w.addFile("loop.bin", text(1600, 6), {false, false});
  w.setFatEntry(loop + 2, loop);
  w.addDirectory("DCIM", {false, false});
  w.addDirectory("DCIM/100 camera roll");
  w.addFile("DCIM/100 camera roll/IMG_0001.JPG", samples[0]);
  w.addFile("DCIM/scattered pieces with a long name.bin", text(2100, 2), {false, true});
  w.addFile("old.png", samples[1] + text(600, 3));
  w.remove("old.png");
  w.addFile("over.txt", text(300, 4));  // takes the deleted picture's first cluster
  w.addFile("gone.pdf", samples[3] + text(900, 5), {false, false});
  w.addDirectory("OLD");
  w.addFile("OLD/inside.gif", samples[2]);
  w.remove("gone.pdf");
  w.remove("OLD");
  w.addRawSet("", u"far.bin", 0x0FFFFFF0u, 5000, true);
  w.addRawSet("", u"huge.bin", loop, 1ull << 40, false);
  w.addRawSet("DCIM", u"up", w.rootCluster(), 512, true, true);
  w.addRawSet("DCIM", u"..", loop, 100, true);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  return runCorpusGenerator(argc, argv, "fat", [](CorpusWriter& out) {
    struct Seed {
      std::string bytes;
      size_t volume;  // where the FAT boot sector is
    };
    std::vector<Seed> seeds;
    const std::vector<std::string> samples = carvedSamples();
    for (int kind : {12, 16, 32}) {
      FatImageWriter w = sampleVolume(kind);
      std::string v = trimmed(w.bytes());
      // Carvable files in the free clusters after the last used one.
      for (const std::string& s : samples) v += s + std::string(1024 - s.size() % 512, '\0');
      seeds.push_back({v, 0});
      const uint32_t start = kind == 32 ? 2048 : 63;
      seeds.push_back(
          {FatImageWriter::inMbrDisk(v, start, start + static_cast<uint32_t>(v.size() / 512) + 8),
           static_cast<size_t>(start) * 512});
    }
    // exFAT: the volume alone and as partition 1 of an MBR disk, cut short, changed at
    // random (the main boot region, then the FAT, the bitmap and the folders), with boot
    // fields that claim too much (sealed again, so the checksum holds), and with its main
    // boot region wrecked so that the backup is read.
    {
      ExfatImageWriter w = sampleExfat();
      const std::string v = trimmed(w.bytes());
      out.write(v);
      out.write(
          FatImageWriter::inMbrDisk(v, 63, 63 + static_cast<uint32_t>(v.size() / 512) + 8, 0x07));
      const size_t fat = 32 * 512, heap = static_cast<size_t>(w.clusterOffset(2));
      for (size_t cut :
           {size_t{300}, size_t{12 * 512}, size_t{24 * 512}, fat + 700, heap + 100, v.size() / 2}) {
        if (cut < v.size()) out.write(v.substr(0, cut));
      }
      uint32_t xrng = 0x9E3779B9u;
      for (int m = 0; m < 16; ++m) {
        std::string copy = v;
        for (int j = 0; j <= m % 4; ++j) {
          const size_t area = nextRandom(xrng) % 4;
          const size_t from = area == 0 ? 64 : area == 1 ? fat : area == 2 ? heap : heap + 1024;
          const size_t span = area == 0 ? 48 : 1024;
          const size_t at = from + nextRandom(xrng) % span;
          if (at < copy.size()) copy[at] = static_cast<char>(nextRandom(xrng));
        }
        out.write(copy);
      }
      auto claim = [&](size_t field, int width, uint64_t value) {
        std::string copy = v;
        for (int i = 0; i < width; ++i) copy[field + i] = static_cast<char>(value >> (8 * i));
        copy.resize(std::max(copy.size(), size_t{12} << static_cast<uint8_t>(copy[108])), '\0');
        ExfatImageWriter::sealBootRegion(copy, 0);
        out.write(copy);
      };
      claim(109, 1, 16);                   // 32 MiB clusters
      claim(108, 1, 12);                   // 4 KiB sectors
      claim(72, 8, ~0ull);                 // a volume of 2^64 sectors
      claim(84, 4, 0xFFFFFFFFu);           // a FAT longer than the disk
      claim(88, 4, 0xFFFFFF00u);           // a heap past the disk's end
      claim(92, 4, 0xFFFFFFF5u);           // the most clusters exFAT allows
      claim(96, 4, w.clusterCount() + 1);  // the root folder at the last cluster
      claim(110, 1, 2);                    // two FATs ...
      claim(106, 2, 1);                    // ... the second one active, though there is one
      std::string wrecked = v;
      wrecked[5 * 512] ^= 0x40;
      out.write(wrecked);
    }

    std::string carved;
    for (const std::string& s : samples) {
      carved += s + std::string(512 - s.size() % 512, '\0');
      carved += s.substr(0, s.size() / 2) + std::string(512 - s.size() / 2 % 512, '\0');
    }
    out.write(carved);

    uint32_t rng = 0x2545F491u;
    for (const Seed& seed : seeds) {
      const std::string& bytes = seed.bytes;
      out.write(bytes);
      const size_t b = seed.volume;
      const Layout l = layoutOf(bytes, b);
      // Cut short: in the boot sector, in the FAT, at the root folder, in the data.
      for (size_t cut : {b + 300, b + 1024, l.fat + 700, l.root, l.data + 1500, bytes.size() / 2}) {
        if (cut < bytes.size()) out.write(bytes.substr(0, cut));
      }
      // Random changes in the boot sector, the FAT and the folders.
      for (int m = 0; m < 12; ++m) {
        std::string copy = bytes;
        for (int j = 0; j <= m % 4; ++j) {
          const size_t area = nextRandom(rng) % 3;
          const size_t from = area == 0 ? b + 11 : area == 1 ? l.fat : l.root;
          const size_t span = area == 0 ? 80 : area == 1 ? 512 : 4096;
          const size_t at = from + nextRandom(rng) % span;
          if (at < copy.size()) copy[at] = static_cast<char>(nextRandom(rng));
        }
        out.write(copy);
      }
      // Boot sectors that claim what the image cannot hold.
      auto boot = [&](size_t field, int width, uint32_t value) {
        std::string copy = bytes;
        if (width == 1) copy[b + field] = static_cast<char>(value);
        if (width == 2) put16(copy, b + field, value);
        if (width == 4) put32(copy, b + field, value);
        out.write(copy);
      };
      boot(13, 1, 128);          // 64 KiB clusters
      boot(11, 2, 4096);         // 4 KiB sectors
      boot(16, 1, 4);            // four FATs
      boot(32, 4, 0xFFFFFFFFu);  // four billion sectors
      boot(36, 4, 0x00FFFFFFu);  // a FAT bigger than the disk
      boot(44, 4, 0x0FFFFFF5u);  // the root folder at the last cluster
      boot(17, 2, 0xFFFF);       // a root folder of 65535 entries
    }
  });
}
