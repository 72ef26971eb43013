// Memory cards side by side: a FAT32 card image (--mb, 2048 by default) and an exFAT one
// (--exfat-mb, 256) are generated the way a camera card looks (photos, videos, audio,
// documents and archives in folders; some deleted, some fragmented, some deleted and then
// overwritten by later files), with the truth of every file kept (its size and SHA-256, and
// whether it is live, deleted but whole on the card, or overwritten). Each image is scanned
// by the disk library and every found file written out through writeFoundFile64; when
// photorec is installed (scripts/install-bench-deps) it recovers from the same image. Per
// tool: exact files (byte-identical to a truth file), false files (matching none, with their
// bytes), files with the truth's name, and MB/s (image bytes / wall time, the image read
// once beforehand so both tools read it from the page cache).
//
//   card_compare_bench [--mb N] [--exfat-mb N] [--work DIR] [--keep] [--ours-only]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "raw/disklib_loader.h"
#include "tests/fixtures/exfat_image_writer.h"
#include "tests/fixtures/fat_image_writer.h"
#include "util/sha256.h"

namespace fs = std::filesystem;

namespace {

// ---- file contents ----

struct Rng {
  uint64_t x;
  uint64_t next() {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    return x;
  }
  uint64_t below(uint64_t n) { return next() % n; }
  void fill(std::string& s, size_t from, size_t to) {
    for (size_t i = from; i < to;) {
      uint64_t v = next();
      for (int k = 0; k < 8 && i < to; ++k, v >>= 8) s[i++] = static_cast<char>(v);
    }
  }
};

void be16(std::string& s, uint32_t v) {
  s += static_cast<char>(v >> 8);
  s += static_cast<char>(v);
}
void be32(std::string& s, uint32_t v) {
  be16(s, v >> 16);
  be16(s, v & 0xFFFF);
}
void le16(std::string& s, uint32_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}
void le32(std::string& s, uint32_t v) {
  le16(s, v & 0xFFFF);
  le16(s, v >> 16);
}

// A baseline JPEG that decodes: one grey component, Huffman tables of one code each (DC
// difference 0, end of block), so every 8x8 block is two zero bits; a comment segment with
// random bytes makes each file its own. About `n` bytes.
std::string jpeg(size_t n, Rng& rng) {
  std::string s("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
  const size_t comment = std::min<size_t>(60000, n / 4);
  s += "\xFF\xFE";
  be16(s, static_cast<uint32_t>(comment + 2));
  const size_t at = s.size();
  s.resize(at + comment);
  rng.fill(s, at, s.size());
  s += std::string("\xFF\xDB\x00\x43\x00", 5) + std::string(64, '\x01');  // quantisation
  const size_t entropy = std::max<size_t>(64, (n - std::min(n, s.size() + 60)) / 64 * 64);
  const uint32_t width = 2048, height = static_cast<uint32_t>(entropy * 4 / 256 * 8);
  s += std::string("\xFF\xC0\x00\x0B\x08", 5);
  be16(s, height);
  be16(s, width);
  s += std::string("\x01\x01\x11\x00", 4);
  // DC table 0 and AC table 0: one code of length 1, for the symbol 0.
  s += std::string("\xFF\xC4\x00\x14\x00\x01", 6) + std::string(15, '\0') + '\0';
  s += std::string("\xFF\xC4\x00\x14\x10\x01", 6) + std::string(15, '\0') + '\0';
  s += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  s.append(entropy, '\0');
  return s + "\xFF\xD9";
}

// ISO media: ftyp, a large mdat of random bytes, a small moov.
std::string movie(size_t n, bool quickTime, Rng& rng) {
  std::string s;
  be32(s, 20);
  s += quickTime ? "ftypqt  " : "ftypisom";
  be32(s, 0x200);
  s += quickTime ? "qt  " : "mp41";
  const size_t data = n - std::min(n, s.size() + 8 + 116);
  be32(s, static_cast<uint32_t>(data + 8));
  s += "mdat";
  const size_t at = s.size();
  s.resize(at + data);
  rng.fill(s, at, s.size());
  be32(s, 116);
  s += "moov";
  be32(s, 108);
  s += "mvhd";
  s.append(100, '\0');
  return s;
}

// MP3: an ID3v2 tag, then MPEG-1 layer III frames of 128 kbit/s at 44.1 kHz (417 bytes).
std::string mp3(size_t n, Rng& rng) {
  std::string s("ID3\x03\x00\x00\x00\x00\x02\x00", 10);  // a 256-byte tag
  s += "TIT2";
  be32(s, 11);
  s += std::string("\0\0\0", 3) + "Track name";
  s.resize(10 + 256, '\0');
  for (size_t frames = std::max<size_t>(16, n / 417); frames > 0; --frames) {
    s += "\xFF\xFB\x90\x44";
    const size_t at = s.size();
    s.resize(at + 413);
    rng.fill(s, at, s.size());
  }
  return s;
}

std::string pdf(size_t n, Rng& rng) {
  std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Length ";
  const size_t data = n - std::min(n, size_t{200});
  s += std::to_string(data) + " /Filter /FlateDecode >>\nstream\n";
  const size_t at = s.size();
  s.resize(at + data);
  rng.fill(s, at, s.size());
  for (size_t i = at; i + 1 < s.size(); ++i) {
    if (s[i] == '%') s[i] = '#';  // no end marker inside the stream
  }
  s += "\nendstream\nendobj\n2 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< /Root 2 0 R "
       ">>\n%%EOF\n";
  return s;
}

std::string text(size_t n, Rng& rng) {
  static const char* kWords[] = {"card",   "photo", "holiday", "the",   "and",    "of",
                                 "notes",  "list",  "meeting", "beach", "camera", "summer",
                                 "family", "to",    "a",       "with",  "day",    "trip"};
  std::string s;
  while (s.size() < n) {
    for (int w = 0; w < 10; ++w) {
      s += kWords[rng.below(std::size(kWords))];
      s += w == 9 ? ".\n" : " ";
    }
  }
  return s;
}

uint32_t crc32(const std::string& data) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// A ZIP archive of stored entries.
std::string zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string s, cd;
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(s.size()), crc = crc32(data);
    const auto size = static_cast<uint32_t>(data.size());
    s += "PK\x03\x04";
    le16(s, 10), le16(s, 0), le16(s, 0), le16(s, 0), le16(s, 0x5021);
    le32(s, crc), le32(s, size), le32(s, size);
    le16(s, static_cast<uint32_t>(name.size())), le16(s, 0);
    s += name + data;
    cd += "PK\x01\x02";
    le16(cd, 20), le16(cd, 10), le16(cd, 0), le16(cd, 0), le16(cd, 0), le16(cd, 0x5021);
    le32(cd, crc), le32(cd, size), le32(cd, size);
    le16(cd, static_cast<uint32_t>(name.size()));
    le16(cd, 0), le16(cd, 0), le16(cd, 0), le16(cd, 0), le32(cd, 0), le32(cd, offset);
    cd += name;
  }
  const uint32_t cdAt = static_cast<uint32_t>(s.size());
  s += cd + "PK\x05\x06";
  le16(s, 0), le16(s, 0);
  le16(s, static_cast<uint32_t>(entries.size())), le16(s, static_cast<uint32_t>(entries.size()));
  le32(s, static_cast<uint32_t>(cd.size())), le32(s, cdAt), le16(s, 0);
  return s;
}

std::string randomBytes(size_t n, Rng& rng) {
  std::string s(n, '\0');
  rng.fill(s, 0, n);
  return s;
}

std::string docx(size_t n, Rng& rng) {
  return zip({{"[Content_Types].xml",
               "<?xml version=\"1.0\"?><Types><Default Extension=\"xml\" "
               "ContentType=\"application/xml\"/></Types>"},
              {"_rels/.rels", "<?xml version=\"1.0\"?><Relationships/>"},
              {"word/document.xml", "<?xml version=\"1.0\"?><w:document><w:body>" + text(n, rng) +
                                        "</w:body></w:document>"},
              {"word/media/image1.bin", randomBytes(n / 2, rng)}});
}

// ---- the card and its truth ----

enum class State { kLive, kDeleted, kDeletedFragmented, kOverwritten, kNoEntry };

struct Truth {
  std::string name;  // the file's own name, without its folder
  uint64_t size = 0;
  std::string sha;
  State state = State::kLive;
};

struct Card {
  fs::path image;
  uint64_t bytes = 0;
  std::vector<Truth> files;
};

std::string hashOf(const std::string& bytes) {
  return tamsel::sha256Hex(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// One file of a family chosen the way a camera card's files are spread, at most `room` bytes.
struct Made {
  std::string folder, name, bytes;
};
Made makeFile(int index, Rng& rng, uint64_t room, uint64_t scale) {
  char num[16];
  std::snprintf(num, sizeof num, "%04d", index);
  const uint64_t r = rng.below(100);
  auto size = [&](uint64_t lo, uint64_t hi) {
    const uint64_t v = (lo + rng.below(hi - lo)) * scale / 16;
    return static_cast<size_t>(std::max<uint64_t>(std::min(v, room), 4096));
  };
  if (r < 55)
    return {"DCIM/100CAMRA", std::string("IMG_") + num + ".JPG", jpeg(size(1 << 20, 6 << 20), rng)};
  if (r < 62)
    return {"DCIM/100CAMRA", std::string("MVI_") + num + ".MOV",
            movie(size(20 << 20, 90 << 20), true, rng)};
  if (r < 67)
    return {"DCIM/101CAMRA", std::string("Clip ") + num + ".mp4",
            movie(size(10 << 20, 60 << 20), false, rng)};
  if (r < 78)
    return {"Music", std::string("Track ") + num + ".mp3", mp3(size(3 << 20, 8 << 20), rng)};
  if (r < 84)
    return {"Documents", std::string("Report ") + num + ".pdf", pdf(size(100 << 10, 2 << 20), rng)};
  if (r < 89)
    return {"Documents", std::string("Letter ") + num + ".docx",
            docx(size(20 << 10, 300 << 10), rng)};
  if (r < 95)
    return {"Documents", std::string("notes-") + num + ".txt", text(size(4 << 10, 60 << 10), rng)};
  std::vector<std::pair<std::string, std::string>> entries;
  for (int e = 0, count = 2 + static_cast<int>(rng.below(6)); e < count; ++e)
    entries.push_back(
        {"part" + std::to_string(e) + ".bin", randomBytes(size(20 << 10, 900 << 10), rng)});
  return {"Archives", std::string("Backup ") + num + ".zip", zip(entries)};
}

// FAT32: files written in order; deleted ones keep their clusters free; a file "deleted then
// overwritten" is a deleted entry whose first cluster the next live file took.
Card makeFatCard(const fs::path& dir, uint64_t mb) {
  const uint32_t sectors = static_cast<uint32_t>(mb << 11);
  uint8_t spc = 64;
  while (spc > 1 && sectors / spc < 70000) spc /= 2;
  tamsel::testing::FatImageWriter w(sectors, spc);
  for (const char* d : {"DCIM", "DCIM/100CAMRA", "DCIM/101CAMRA", "Music", "Documents", "Archives"})
    w.addDirectory(d);
  Card card;
  Rng rng{0x5EED1234ABCDull};
  const uint64_t target = (mb << 20) * 3 / 4, scale = std::clamp<uint64_t>(mb * 16 / 2048, 1, 16);
  uint64_t used = 0;
  struct Pending {
    std::string folder, shortName;
    size_t truth;
  };
  std::vector<Pending> pending;  // overwritten entries waiting for the next live file
  for (int i = 1; used < target; ++i) {
    Made m = makeFile(i, rng, target - used + 4096, scale);
    // Gaps of fragmented files cost a cluster each.
    const uint64_t r = rng.below(100);
    const bool fragmented = r >= 85 && r < 93 && m.bytes.size() < (4u << 20);
    const bool deleted = r < 10 || (r >= 85 && r < 88 && fragmented);
    const bool overwritten = r >= 10 && r < 15;
    used += m.bytes.size() * (fragmented ? 2 : 1);
    Truth t{m.name, m.bytes.size(), hashOf(m.bytes), State::kLive};
    if (overwritten) {
      char shortName[12];
      std::snprintf(shortName, sizeof shortName, "\xE5OLD%04d%.3s", i % 10000,
                    m.name.substr(m.name.rfind('.') + 1).c_str());
      t.state = State::kOverwritten;
      pending.push_back({m.folder, std::string(shortName, 11), card.files.size()});
      card.files.push_back(t);
      continue;
    }
    uint32_t first = 0;
    try {
      first = w.addFile(m.folder + "/" + m.name, m.bytes, deleted, fragmented);
      if (!deleted) {
        for (const Pending& p : pending)
          w.addRawEntry(p.folder, p.shortName, 0x20, first,
                        static_cast<uint32_t>(card.files[p.truth].size));
      }
    } catch (const std::exception& e) {
      // The volume or a folder is full. A full folder leaves the file's bytes on the card
      // without an entry: carving may still find them.
      if (std::strstr(e.what(), "folder full") != nullptr) {
        t.state = State::kNoEntry;
        card.files.push_back(t);
      }
      break;
    }
    t.state = !deleted ? State::kLive : fragmented ? State::kDeletedFragmented : State::kDeleted;
    card.files.push_back(t);
    if (!deleted) pending.clear();
  }
  // Overwritten entries that no later file took: their bytes were never on this card.
  for (const Pending& p : pending) card.files[p.truth].state = State::kOverwritten;
  card.image = dir / "fat32.img";
  w.writeTo(card.image);
  card.bytes = w.bytes().size();
  return card;
}

// exFAT: files added and removed as on a used card; a later file takes the clusters a
// removed one freed (overwritten), files removed after the last one was written stay whole.
Card makeExfatCard(const fs::path& dir, uint64_t mb) {
  tamsel::testing::ExfatImageWriter w(mb << 20, 6);  // 32 KiB clusters
  for (const char* d : {"DCIM", "DCIM/100CAMRA", "DCIM/101CAMRA", "Music", "Documents", "Archives"})
    w.addDirectory(d, {}, 512);
  Card card;
  Rng rng{0xE4FA7C0FFEEull};
  const uint64_t scale = std::clamp<uint64_t>(mb * 16 / 2048, 1, 16);
  uint64_t used = 0;
  const uint64_t target = (mb << 20) * 3 / 4;
  std::map<uint32_t, size_t> freed;  // cluster -> the removed file that had it last
  std::vector<std::pair<size_t, std::string>> lastOnes;
  for (int i = 1; used < target; ++i) {
    Made m = makeFile(i, rng, target - used + 4096, scale);
    const uint64_t r = rng.below(100);
    tamsel::testing::ExfatPlacement placement;
    if (r >= 80 && r < 92) placement = {false, r < 86};  // chained; half of them with gaps
    const std::string path = m.folder + "/" + m.name;
    try {
      w.addFile(path, m.bytes, placement);
    } catch (const std::exception&) {
      break;  // full
    }
    used += m.bytes.size();
    card.files.push_back({m.name, m.bytes.size(), hashOf(m.bytes), State::kLive});
    // A removed file any of whose clusters a later file took is overwritten, even when that
    // file is removed in turn.
    for (uint32_t c : w.clustersOf(path)) {
      if (auto it = freed.find(c); it != freed.end())
        card.files[it->second].state = State::kOverwritten;
    }
    if (r < 9) {  // deleted while the card was in use: later files may take its clusters
      for (uint32_t c : w.clustersOf(path)) freed[c] = card.files.size() - 1;
      card.files.back().state = State::kDeleted;
      w.remove(path);
      used -= m.bytes.size();
    } else if (r < 18) {
      lastOnes.push_back({card.files.size() - 1, path});
    }
  }
  // Deleted after the last file was written: whole on the card.
  for (const auto& [index, path] : lastOnes) {
    w.remove(path);
    card.files[index].state = State::kDeleted;
  }
  card.image = dir / "exfat.img";
  w.writeTo(card.image);
  card.bytes = w.volumeBytes();
  return card;
}

// ---- running the tools ----

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Reads the whole image once, so that every tool reads it from the page cache, and has it
// on the disk first, so that no tool's time includes writing back the generated image.
void warm(const fs::path& image) {
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  std::vector<char> buffer(8 << 20);
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
}

struct Output {
  fs::path file;
  std::string name;  // the name the tool gave it
};

struct Scan {
  std::vector<std::pair<tamsel_found_file, std::string>> files;
  static void onFound(void* caller, const tamsel_found_file* f) {
    auto* self = static_cast<Scan*>(caller);
    self->files.push_back({*f, std::string(f->name, f->name_len)});
  }
};

std::string safeName(const std::string& name) {
  std::string s = name.substr(name.rfind('/') + 1);
  for (char& c : s)
    if (c == '/' || c == '\0') c = '_';
  return s.empty() ? "unnamed" : s;
}

std::vector<Output> runOurs(const tamsel::DiskLibrary& lib, const Card& card, const fs::path& out,
                            double& wall, double& scanSeconds) {
  const export_function_table* t = lib.table();
  fs::create_directories(out);
  const auto start = std::chrono::steady_clock::now();
  t->addDiskImage(card.image.c_str());
  t->initDiskList();
  list_disk_struct* disk = nullptr;
  while (list_disk_struct* d = t->nextDisk())
    if (card.image.string() == t->diskDevicePath(d)) disk = d;
  Scan scan;
  t->scanDeviceFor(card.image.c_str(), 255, &scan, Scan::onFound, nullptr);
  scanSeconds = seconds(start);
  std::vector<Output> written;
  int n = 0;
  for (auto& [record, name] : scan.files) {
    record.name = name.data();
    const fs::path file = out / (std::to_string(++n) + "_" + safeName(name));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) continue;
    const int result = t->writeFoundFile64(disk, &record, fd, nullptr);
    ::close(fd);
    if (result != 0 && result != TAMSEL_DISKLIB_ZERO_FILLED) {
      fs::remove(file);
      continue;
    }
    written.push_back({file, name.substr(name.rfind('/') + 1)});
  }
  wall = seconds(start);
  return written;
}

std::vector<Output> runPhotorec(const Card& card, const fs::path& out, double& wall) {
  const fs::path dir = out.parent_path();
  const std::string options =
      "options,keep_corrupted_file_no,paranoid,fileopt,everything,enable,wholespace,search";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
    ::execlp("photorec", "photorec", "/log", "/d", out.c_str(), "/cmd", card.image.c_str(),
             options.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  wall = seconds(start);
  std::vector<Output> written;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string base = entry.path().filename().string();
    if (!entry.is_directory() || base.rfind(out.filename().string() + ".", 0) != 0) continue;
    for (const auto& f : fs::directory_iterator(entry.path())) {
      if (f.is_regular_file() && f.path().filename() != "report.xml")
        written.push_back({f.path(), f.path().filename().string()});
    }
  }
  return written;
}

bool photorecInstalled() {
  return std::system("command -v photorec >/dev/null 2>&1") == 0;
}

// ---- scoring ----

struct Score {
  size_t written = 0, exact = 0, duplicates = 0, falseFiles = 0, named = 0;
  uint64_t falseBytes = 0;
  double mbps = 0;
  std::vector<std::string> falseNames;
  std::vector<std::string> unnamed;  // exact files written under another name than theirs
};

std::string hashFile(const fs::path& path) {
  tamsel::Sha256 h;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<uint8_t> buffer(4 << 20);
  ssize_t got;
  while (fd >= 0 && (got = ::read(fd, buffer.data(), buffer.size())) > 0)
    h.update(std::span(buffer.data(), static_cast<size_t>(got)));
  if (fd >= 0) ::close(fd);
  return h.finishHex();
}

Score score(const Card& card, const std::vector<Output>& outputs, double wall,
            std::set<size_t>* missing) {
  std::map<std::pair<uint64_t, std::string>, size_t> bySizeHash;
  for (size_t i = 0; i < card.files.size(); ++i)
    bySizeHash.emplace(std::make_pair(card.files[i].size, card.files[i].sha), i);
  Score s;
  s.written = outputs.size();
  std::set<size_t> matched;
  for (const Output& o : outputs) {
    const uint64_t size = fs::file_size(o.file);
    auto it = bySizeHash.find({size, hashFile(o.file)});
    if (it == bySizeHash.end()) {
      ++s.falseFiles;
      s.falseBytes += size;
      s.falseNames.push_back(o.name + " (" + std::to_string(size) + " bytes)");
      continue;
    }
    if (!matched.insert(it->second).second) ++s.duplicates;
    if (o.name == card.files[it->second].name) {
      ++s.named;
    } else {
      s.unnamed.push_back(o.name + " (is " + card.files[it->second].name + ")");
    }
  }
  s.exact = matched.size();
  if (missing != nullptr) {
    for (size_t i = 0; i < card.files.size(); ++i)
      if (card.files[i].state != State::kOverwritten && !matched.count(i)) missing->insert(i);
  }
  s.mbps = static_cast<double>(card.bytes) / 1e6 / wall;
  return s;
}

const char* stateName(State s) {
  switch (s) {
    case State::kLive:
      return "live";
    case State::kDeleted:
      return "deleted";
    case State::kDeletedFragmented:
      return "deleted, fragmented";
    case State::kOverwritten:
      return "overwritten";
    case State::kNoEntry:
      return "no entry";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t fatMb = 2048, exfatMb = 256;
  fs::path work;
  bool keep = false, oursOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--mb" && i + 1 < argc)
      fatMb = std::stoull(argv[++i]);
    else if (a == "--exfat-mb" && i + 1 < argc)
      exfatMb = std::stoull(argv[++i]);
    else if (a == "--work" && i + 1 < argc)
      work = argv[++i];
    else if (a == "--keep")
      keep = true;
    else if (a == "--ours-only")
      oursOnly = true;
    else {
      std::fprintf(stderr,
                   "usage: %s [--mb N] [--exfat-mb N] [--work DIR] [--keep] [--ours-only]\n",
                   argv[0]);
      return 2;
    }
  }
  if (fatMb < 64 || exfatMb < 16) {
    std::fprintf(stderr, "the images need at least 64 MB (FAT32) and 16 MB (exFAT)\n");
    return 2;
  }
  const bool ownWork = work.empty();
  if (ownWork)
    work = fs::temp_directory_path() / ("tamsel_card_compare_" + std::to_string(::getpid()));
  fs::create_directories(work);
  tamsel::DiskLibrary lib;
  if (!lib.load(TAMSEL_DISKLIB_PATH) || lib.table()->scanDeviceFor == nullptr) {
    std::fprintf(stderr, "cannot load the disk library: %s\n", lib.error().c_str());
    return 1;
  }
  lib.table()->setLogFunction([](const char*) {});
  const bool withPhotorec = photorecInstalled();
  if (!withPhotorec)
    std::printf("photorec is not installed (scripts/install-bench-deps): ours only\n");

  struct Row {
    std::string card, tool;
    Score s;
  };
  std::vector<Row> rows;
  for (int which = 0; which < 2; ++which) {
    const auto made = std::chrono::steady_clock::now();
    Card card = which == 0 ? makeFatCard(work, fatMb) : makeExfatCard(work, exfatMb);
    const std::string label = which == 0 ? "FAT32 " + std::to_string(fatMb) + " MB"
                                         : "exFAT " + std::to_string(exfatMb) + " MB";
    std::map<State, size_t> states;
    for (const Truth& t : card.files) ++states[t.state];
    std::printf("%s: %zu files (", label.c_str(), card.files.size());
    for (const auto& [state, count] : states) std::printf(" %s %zu", stateName(state), count);
    std::printf(" ), made in %.1f s\n", seconds(made));

    warm(card.image);
    double wall = 0, scanSeconds = 0;
    std::vector<Output> ours =
        runOurs(lib, card, work / (std::to_string(which) + "-ours"), wall, scanSeconds);
    std::printf("  tamsel: scan %.2f s, writing %.2f s\n", scanSeconds, wall - scanSeconds);
    std::set<size_t> missing;
    Score s = score(card, ours, wall, &missing);
    rows.push_back({label, "tamsel", s});
    for (size_t i : missing)
      std::printf("  tamsel missed: %s (%s, %llu bytes)\n", card.files[i].name.c_str(),
                  stateName(card.files[i].state),
                  static_cast<unsigned long long>(card.files[i].size));
    for (const std::string& f : s.falseNames) std::printf("  tamsel false: %s\n", f.c_str());
    for (const std::string& f : s.unnamed) std::printf("  tamsel unnamed: %s\n", f.c_str());
    if (!keep) fs::remove_all(work / (std::to_string(which) + "-ours"));

    if (withPhotorec && !oursOnly) {
      warm(card.image);
      const fs::path out = work / (std::to_string(which) + "-photorec");
      std::vector<Output> theirs = runPhotorec(card, out, wall);
      rows.push_back({label, "photorec", score(card, theirs, wall, nullptr)});
      if (!keep) {
        for (const auto& entry : fs::directory_iterator(work))
          if (entry.path().filename().string().rfind(out.filename().string(), 0) == 0)
            fs::remove_all(entry.path());
      }
    }
    if (!keep) fs::remove(card.image);
  }

  std::printf("\n%-15s %-9s %8s %7s %6s %12s %6s %6s %9s\n", "card", "tool", "written", "exact",
              "false", "false bytes", "dupl.", "named", "MB/s");
  for (const Row& r : rows) {
    std::printf("%-15s %-9s %8zu %7zu %6zu %12llu %6zu %6zu %9.1f\n", r.card.c_str(),
                r.tool.c_str(), r.s.written, r.s.exact, r.s.falseFiles,
                static_cast<unsigned long long>(r.s.falseBytes), r.s.duplicates, r.s.named,
                r.s.mbps);
  }
  if (ownWork && !keep) fs::remove_all(work);
  return 0;
}
