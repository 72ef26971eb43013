// Signature carving: at the start of every sector, look for the header of a common file
// format; when one is found, walk the file's structure (or search for its footer) to learn
// where it ends. Only complete files are reported, each as long as its own structure says
// (a file longer than a found-file record can carry is left to the scan loop, which logs
// it). A carved file is skipped over, so files are not reported inside one another, and
// sectors of files the file-system walks found are left out.
//
// Formats: JPEG, PNG, GIF, BMP (pictures, looked for within kPictureCap), PDF (to its first
// "%%EOF"), ZIP and the formats built on it (entry by entry to the end of the central
// directory), RIFF (WAV, AVI, WebP), ISO media (MP4, MOV, 3GP, M4A), MP3 (ID3 tag and a run of
// MPEG layer III frames) and plain text (see text()).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "disklib/disk_internal.h"

namespace tamsel::disk {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kBlock = 4 << 20;
constexpr size_t kLook = 64;  // header bytes a format may look at
// Pictures end at a footer or a chain of segments; a picture cut short would otherwise run
// on into a later one, so they are looked for this far at most. Every other format is
// walked as far as the region goes.
constexpr uint64_t kPictureCap = 64u << 20;

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) {
  return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}
bool printable4(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  }
  return true;
}

struct Measured {
  uint64_t len = 0;  // 0: not a complete file
  const char* ext = "";
};

// Skips `n` bytes; false when that passes `limit` (the position is then unchanged).
bool skip(Cursor& c, uint64_t n, uint64_t limit) {
  if (c.pos() > limit || n > limit - c.pos()) return false;
  c.seek(c.pos() + n);
  return true;
}

int get16be(Cursor& c) {
  int a = c.get(), b = c.get();
  return a < 0 || b < 0 ? -1 : (a << 8) | b;
}

Measured jpeg(Cursor& c, uint64_t start, uint64_t limit) {
  c.seek(start + 2);
  bool sawScan = false;
  int marker = -1;
  while (c.pos() < limit) {
    if (marker < 0) {
      int b = c.get();
      if (b != 0xFF) return {};
      do marker = c.get();
      while (marker == 0xFF);
      if (marker < 0) return {};
    }
    const int m = marker;
    marker = -1;
    if (m == 0xD9) return sawScan ? Measured{c.pos() - start, "jpg"} : Measured{};
    if (m == 0xD8 || m == 0x00) return {};
    if ((m >= 0xD0 && m <= 0xD7) || m == 0x01) continue;
    int len = get16be(c);
    if (len < 2 || !skip(c, static_cast<uint64_t>(len - 2), limit)) return {};
    if (m != 0xDA) continue;
    sawScan = true;
    // Entropy-coded data: runs until a marker other than a stuffed byte or a restart.
    for (;;) {
      int b = c.get();
      if (b < 0 || c.pos() > limit) return {};
      if (b != 0xFF) continue;
      int n;
      do n = c.get();
      while (n == 0xFF);
      if (n < 0) return {};
      if (n == 0x00 || (n >= 0xD0 && n <= 0xD7)) continue;
      marker = n;
      break;
    }
  }
  return {};
}

Measured png(Cursor& c, uint64_t start, uint64_t limit) {
  c.seek(start + 8);
  bool first = true;
  while (c.pos() + 12 <= limit) {
    uint8_t head[8];
    if (!c.read(head, 8)) return {};
    uint32_t len = be32(head);
    if (len > 0x7FFFFFFFu) return {};
    for (int i = 4; i < 8; ++i) {
      uint8_t ch = head[i];
      if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))) return {};
    }
    if (first && std::memcmp(head + 4, "IHDR", 4) != 0) return {};
    first = false;
    if (!skip(c, static_cast<uint64_t>(len) + 4, limit)) return {};
    if (std::memcmp(head + 4, "IEND", 4) == 0) return {c.pos() - start, "png"};
  }
  return {};
}

bool gifSubBlocks(Cursor& c, uint64_t limit) {
  for (;;) {
    int n = c.get();
    if (n < 0) return false;
    if (n == 0) return true;
    if (!skip(c, static_cast<uint64_t>(n), limit)) return false;
  }
}

Measured gif(Cursor& c, uint64_t start, uint64_t limit) {
  c.seek(start + 6);
  uint8_t lsd[7];
  if (!c.read(lsd, 7)) return {};
  if ((lsd[0] | lsd[1]) == 0 || (lsd[2] | lsd[3]) == 0) return {};
  if ((lsd[4] & 0x80) != 0 && !skip(c, 3u << ((lsd[4] & 7) + 1), limit)) return {};
  bool image = false;
  while (c.pos() < limit) {
    int b = c.get();
    if (b == 0x3B) return image ? Measured{c.pos() - start, "gif"} : Measured{};
    if (b == 0x21) {
      if (c.get() < 0 || !gifSubBlocks(c, limit)) return {};
    } else if (b == 0x2C) {
      uint8_t d[9];
      if (!c.read(d, 9)) return {};
      if ((d[8] & 0x80) != 0 && !skip(c, 3u << ((d[8] & 7) + 1), limit)) return {};
      if (c.get() < 0 || !gifSubBlocks(c, limit)) return {};
      image = true;
    } else {
      return {};
    }
  }
  return {};
}

// Footer searches remember how far a failed search went: a later header of the same kind
// below that point cannot find a footer there either, so its search starts further on.
struct FooterMemory {
  uint64_t searchedFrom = 0;
  uint64_t searchedTo = 0;  // no footer begins in [searchedFrom, searchedTo)
  uint64_t startFor(uint64_t from, size_t patternLen) const {
    if (from >= searchedFrom && from < searchedTo) {
      return std::max(from, searchedTo - std::min<uint64_t>(searchedTo, patternLen - 1));
    }
    return from;
  }
};

// A PDF ends after its first "%%EOF" and the line break after it. The search gives up at a
// sector that begins another PDF: a PDF cut short would otherwise take in every file up to
// the next one's footer.
Measured pdf(Cursor& c, uint64_t start, uint64_t limit, FooterMemory& memory) {
  static constexpr char kFooter[] = "%%EOF";
  static constexpr size_t kFooterFail[] = {0, 1, 0, 0, 0};  // KMP failure table of kFooter
  static constexpr char kHeader[] = "%PDF-";
  c.seek(memory.startFor(start + 5, 5));
  size_t k = 0;     // footer bytes matched
  int header = -1;  // header bytes matched from the current sector's start; -1: none
  uint64_t end = 0;
  while (end == 0 && c.pos() < limit) {
    if (c.pos() % kSector == 0) header = 0;
    const int b = c.get();
    if (b < 0) break;
    if (header >= 0) {
      header = b == kHeader[header] ? header + 1 : -1;
      if (header == 5) break;
    }
    while (k > 0 && b != kFooter[k]) k = kFooterFail[k - 1];
    if (b == kFooter[k]) ++k;
    if (k == 5) end = c.pos();
  }
  if (end == 0) {
    memory = {start, c.pos()};
    return {};
  }
  int b = c.get();
  if (b == '\r') {
    ++end;
    if (c.get() == '\n') ++end;
  } else if (b == '\n') {
    ++end;
  }
  return {end - start, "pdf"};
}

// ZIP: the local entries one after another (the length of each entry's data is in its header,
// or, when bit 3 of its flags is set, in a data descriptor after the data), then the central
// directory, an optional ZIP64 end record and its locator, and the end record with its
// comment. The end record must agree with what the walk saw: as many entries as local ones,
// the directory's size and its offset from the first entry.
constexpr uint32_t kZipLocal = 0x04034b50;
constexpr uint32_t kZipCentral = 0x02014b50;
constexpr uint32_t kZipEnd = 0x06054b50;
constexpr uint32_t kZipDescriptor = 0x08074b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr size_t kZipNameLook = 64;  // bytes of each entry name that are looked at

// The kind of ZIP, from its entry names and from the first entry's content when it is a
// stored "mimetype" (OpenDocument, EPUB).
class ZipContent {
 public:
  // `name` holds the first bytes of a name of `nameLen` bytes.
  void note(std::string_view name, size_t nameLen) {
    const bool whole = name.size() == nameLen;
    if (whole && name == "[Content_Types].xml") contentTypes_ = true;
    if (name.starts_with("word/")) word_ = true;
    if (name.starts_with("xl/")) xl_ = true;
    if (name.starts_with("ppt/")) ppt_ = true;
    if (whole && name == "AndroidManifest.xml") android_ = true;
    if (whole && name == "META-INF/MANIFEST.MF") java_ = true;
  }
  void mimetype(std::string_view type) {
    if (type == "application/vnd.oasis.opendocument.text") byMimetype_ = "odt";
    if (type == "application/vnd.oasis.opendocument.spreadsheet") byMimetype_ = "ods";
    if (type == "application/vnd.oasis.opendocument.presentation") byMimetype_ = "odp";
    if (type == "application/epub+zip") byMimetype_ = "epub";
  }
  const char* ext() const {
    if (byMimetype_ != nullptr) return byMimetype_;
    if (contentTypes_ && word_) return "docx";
    if (contentTypes_ && xl_) return "xlsx";
    if (contentTypes_ && ppt_) return "pptx";
    if (android_) return "apk";
    if (java_) return "jar";
    return "zip";
  }

 private:
  const char* byMimetype_ = nullptr;
  bool contentTypes_ = false, word_ = false, xl_ = false, ppt_ = false;
  bool android_ = false, java_ = false;
};

// Where the data of an entry of unknown length (flag bit 3) that begins at `data` ends,
// its data descriptor included: at the first descriptor signature whose compressed size is
// the length of the data before it, or at the first local or central header right after an
// unsigned descriptor that gives that length (32- or 64-bit sizes). 0 when the data runs into
// a header without such a descriptor, or on to `limit`.
uint64_t zipDataEnd(Cursor& c, uint64_t data, uint64_t limit) {
  uint8_t recent[32] = {};  // the last bytes read, by position modulo 32
  uint32_t window = 0;
  c.seek(data);
  while (c.pos() < limit) {
    const uint64_t at = c.pos();
    const int b = c.get();
    if (b < 0) return 0;
    recent[at % 32] = static_cast<uint8_t>(b);
    window = (window >> 8) | (static_cast<uint32_t>(b) << 24);  // the last four, as le32
    if (at - data < 3) continue;
    const uint64_t sig = at - 3;  // where the four bytes in `window` begin
    const uint64_t length = sig - data;
    if (window == kZipDescriptor) {
      // A descriptor with 32- or 64-bit sizes: the one followed by a header is taken.
      uint8_t d[24] = {};
      const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof d, limit - c.pos()));
      if (c.read(d, n)) {
        auto header = [&](size_t i) {
          return i + 4 <= n && (le32(d + i) == kZipLocal || le32(d + i) == kZipCentral);
        };
        if (le32(d + 4) == length && header(12)) return sig + 16;
        if (le64(d + 4) == length && header(20)) return sig + 24;
      }
      c.seek(sig + 4);
      continue;
    }
    if (window != kZipLocal && window != kZipCentral) continue;
    auto before = [&](uint64_t back) {  // the eight bytes `back` bytes before `sig`
      uint8_t v[8];
      for (int i = 0; i < 8; ++i) v[i] = recent[(sig - back + i) % 32];
      return le64(v);
    };
    if (length >= 12 && static_cast<uint32_t>(before(8)) == length - 12) return sig;
    if (length >= 20 && before(16) == length - 20) return sig;
    return 0;
  }
  return 0;
}

Measured zip(Cursor& c, uint64_t start, uint64_t limit) {
  ZipContent content;
  uint8_t h[56];
  uint64_t at = start, local = 0;
  for (;; ++local) {
    c.seek(at);
    if (limit - at < 4 || !c.read(h, 4)) return {};
    if (le32(h) != kZipLocal) break;
    if (limit - at < 30 || !c.read(h + 4, 26)) return {};
    const uint16_t flags = le16(h + 6), method = le16(h + 8);
    const uint16_t nameLen = le16(h + 26), extraLen = le16(h + 28);
    uint64_t size = le32(h + 18);
    char name[kZipNameLook];
    const size_t look = std::min<size_t>(nameLen, sizeof name);
    if (!c.read(name, look) || !skip(c, nameLen - look, limit)) return {};
    if (extraLen > limit - c.pos()) return {};
    const uint64_t data = c.pos() + extraLen;
    // A ZIP64 field holds the sizes that do not fit the header (both in a local header).
    while (data - c.pos() >= 4) {
      uint8_t f[20];
      if (!c.read(f, 4)) return {};
      const uint16_t id = le16(f), fieldLen = le16(f + 2);
      if (fieldLen > data - c.pos()) break;
      const uint64_t next = c.pos() + fieldLen;
      if (id == 1 && fieldLen >= 16 && le32(h + 18) == 0xFFFFFFFF && c.read(f + 4, 16)) {
        size = le64(f + 12);
      }
      c.seek(next);
    }
    c.seek(data);
    const std::string_view shown(name, look);
    content.note(shown, nameLen);
    if (local == 0 && shown == "mimetype" && method == 0 && (flags & 8) == 0 && size <= 64 &&
        size <= limit - data) {
      char type[64];
      if (c.read(type, static_cast<size_t>(size))) {
        content.mimetype({type, static_cast<size_t>(size)});
      }
    }
    if ((flags & 8) != 0) {
      at = zipDataEnd(c, data, limit);
      if (at == 0) return {};
    } else {
      if (size > limit - data) return {};
      at = data + size;
    }
  }
  // `h` holds the four bytes at `at`, the first after the local entries.
  const uint64_t directory = at;
  uint64_t central = 0;
  while (le32(h) == kZipCentral) {
    if (!c.read(h + 4, 42)) return {};
    const uint64_t rest = uint64_t{le16(h + 28)} + le16(h + 30) + le16(h + 32);
    if (!skip(c, rest, limit) || limit - c.pos() < 4 || !c.read(h, 4)) return {};
    ++central;
  }
  const uint64_t directoryEnd = c.pos() - 4;
  const uint64_t directorySize = directoryEnd - directory, directoryOffset = directory - start;
  if (central != local) return {};
  bool zip64 = false;
  if (le32(h) == kZip64End) {
    uint8_t r[52];  // after the signature: record size, versions, disks, counts, size, offset
    if (limit - c.pos() < 52 + 20 + 22 || !c.read(r, 52)) return {};
    const uint64_t recordSize = le64(r);
    if (recordSize < 44 || !skip(c, recordSize - 44, limit)) return {};
    if (le64(r + 28) != central || le64(r + 36) != directorySize ||
        le64(r + 44) != directoryOffset) {
      return {};
    }
    uint8_t locator[20];
    if (limit - c.pos() < 20 + 4 || !c.read(locator, 20) || le32(locator) != kZip64Locator ||
        le64(locator + 8) != directoryEnd - start || !c.read(h, 4)) {
      return {};
    }
    zip64 = true;
  }
  if (le32(h) != kZipEnd) return {};
  uint8_t e[18];
  if (!c.read(e, sizeof e)) return {};
  // In a ZIP64 archive the end record may leave a field at its maximum for the record above.
  auto agrees = [zip64](uint64_t field, uint64_t max, uint64_t actual) {
    return field == actual || (zip64 && field == max);
  };
  if (!agrees(le16(e + 6), 0xFFFF, central) || !agrees(le32(e + 8), 0xFFFFFFFF, directorySize) ||
      !agrees(le32(e + 12), 0xFFFFFFFF, directoryOffset)) {
    return {};
  }
  const uint64_t comment = le16(e + 16);
  if (comment > limit - c.pos()) return {};
  return {c.pos() + comment - start, content.ext()};
}

Measured bmp(const uint8_t* p, uint64_t start, uint64_t limit) {
  uint32_t size = le32(p + 2), dataOffset = le32(p + 10), dib = le32(p + 14);
  if (le32(p + 6) != 0 || size < 26 || dataOffset >= size || dataOffset < 26) return {};
  if (dib != 12 && dib != 40 && dib != 52 && dib != 56 && dib != 108 && dib != 124) return {};
  if (le32(p + 18) == 0 || le32(p + 22) == 0) return {};
  if (start + size > limit) return {};
  return {size, "bmp"};
}

Measured riff(const uint8_t* p, uint64_t start, uint64_t limit) {
  uint64_t size = static_cast<uint64_t>(le32(p + 4)) + 8;
  const char* ext = std::memcmp(p + 8, "WAVE", 4) == 0   ? "wav"
                    : std::memcmp(p + 8, "AVI ", 4) == 0 ? "avi"
                    : std::memcmp(p + 8, "WEBP", 4) == 0 ? "webp"
                                                         : nullptr;
  if (ext == nullptr || size < 20 || !printable4(p + 12) || start + size > limit) return {};
  return {size, ext};
}

Measured isoMedia(Cursor& c, const uint8_t* p, uint64_t start, uint64_t limit) {
  const char* ext = std::memcmp(p + 8, "qt  ", 4) == 0   ? "mov"
                    : std::memcmp(p + 8, "3gp", 3) == 0  ? "3gp"
                    : std::memcmp(p + 8, "M4A ", 4) == 0 ? "m4a"
                                                         : "mp4";
  bool movie = false, data = false;
  uint64_t at = start;
  for (int boxes = 0; at + 8 <= limit && boxes < 4096; ++boxes) {
    uint8_t head[16];
    c.seek(at);
    if (!c.read(head, 8) || !printable4(head + 4)) break;
    uint64_t size = be32(head);
    uint64_t least = 8;
    if (size == 1) {
      if (!c.read(head + 8, 8)) break;
      size = (static_cast<uint64_t>(be32(head + 8)) << 32) | be32(head + 12);
      least = 16;
    }
    // Compared with what is left, so that a size near 2^64 cannot wrap the sum; every box
    // moves the walk on by at least its header.
    if (size < least || size > limit - at) break;
    movie = movie || std::memcmp(head + 4, "moov", 4) == 0;
    data = data || std::memcmp(head + 4, "mdat", 4) == 0;
    at += size;
  }
  if (!movie || !data) return {};
  return {at - start, ext};
}

// MP3: an optional ID3v2 tag, then MPEG audio layer III frames, each header exactly where the
// previous frame ends, all of one MPEG version and sample rate, then an optional ID3v1 tag.
// Without an ID3v2 tag a run of kMp3Frames frames is needed before the bytes count as audio.
constexpr uint64_t kMp3Frames = 8;
constexpr uint64_t kMp3TaggedFrames = 2;
constexpr uint64_t kMp3TagGap = 4096;  // zero bytes passed over between the tag and the audio

// The length of the layer III frame whose header `h` holds, with the bits every frame of a
// file shares (version, layer, sample rate) in `key`; 0 when `h` is no such header.
uint32_t mp3Frame(const uint8_t* h, uint32_t& key) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const int version = (h[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5, 1: reserved
  const int layer = (h[1] >> 1) & 3;    // 1: layer III
  const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
  if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
      (h[3] & 3) == 2) {
    return 0;
  }
  static constexpr uint32_t kKbitV1[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                         112, 128, 160, 192, 224, 256, 320};
  static constexpr uint32_t kKbitV2[] = {0,  8,  16, 24,  32,  40,  48, 56,
                                         64, 80, 96, 112, 128, 144, 160};
  static constexpr uint32_t kSampleRate[] = {44100, 48000, 32000};
  const uint32_t bitrate = (version == 3 ? kKbitV1 : kKbitV2)[bitrateIndex] * 1000;
  const uint32_t sampleRate = kSampleRate[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  key = (static_cast<uint32_t>(h[1] & 0x1E) << 8) | (h[2] & 0x0C);
  return (version == 3 ? 144 : 72) * bitrate / sampleRate + ((h[2] >> 1) & 1);
}

// Whether the sector at `p` may begin MPEG audio: a frame header, and a second one of the same
// kind where the first frame ends when that lies among the `n` bytes at hand.
bool mp3Start(const uint8_t* p, size_t n) {
  uint32_t key = 0, next = 0;
  const uint32_t len = p[0] == 0xFF ? mp3Frame(p, key) : 0;
  if (len == 0) return false;
  return len + 4 > n || (mp3Frame(p + len, next) != 0 && next == key);
}

bool id3Tag(const uint8_t* p) {
  return p[0] == 'I' && p[1] == 'D' && p[2] == '3' && p[3] >= 2 && p[3] <= 4 && p[4] != 0xFF &&
         ((p[6] | p[7] | p[8] | p[9]) & 0x80) == 0;
}

Measured mp3(Cursor& c, const uint8_t* p, uint64_t start, uint64_t limit) {
  uint64_t at = start, needed = kMp3Frames;
  if (id3Tag(p)) {
    const uint64_t size = (uint64_t{p[6]} << 21) | (p[7] << 14) | (p[8] << 7) | p[9];
    const bool footer = p[3] == 4 && (p[5] & 0x10) != 0;
    at = start + 10 + size + (footer ? 10 : 0);
    if (at > limit) return {};
    const uint64_t tagEnd = at;
    c.seek(at);
    while (at - tagEnd < kMp3TagGap && at < limit && c.get() == 0) ++at;
    needed = kMp3TaggedFrames;
  }
  uint64_t frames = 0;
  uint32_t first = 0;
  for (;;) {
    uint8_t h[4];
    uint32_t key = 0;
    c.seek(at);
    if (limit - at < 4 || !c.read(h, 4)) break;
    const uint32_t len = mp3Frame(h, key);
    if (len == 0 || (frames > 0 && key != first) || len > limit - at) break;
    first = key;
    at += len;
    ++frames;
  }
  if (frames < needed) return {};
  char tag[3];
  c.seek(at);
  if (limit - at >= 128 && c.read(tag, 3) && std::memcmp(tag, "TAG", 3) == 0) at += 128;
  return {at - start, "mp3"};
}

// Plain text: a sector that begins with eight bytes of ASCII text (after a UTF-8 byte-order
// mark, if any) starts a run of text: printable ASCII, tab, line feed, carriage return, form
// feed and well-formed UTF-8. The run ends at the first other byte (a zero of the sector's
// padding, for one), at a sector of a file the FAT walk found, or at a sector that begins a
// PDF. It is reported when it is at least kTextMin bytes long and reads as lines of words:
// a line break for every kTextLine bytes or fewer on average, at least kTextDistinct
// different byte values, no byte value making up more than 60% of it (runs of one repeated
// byte, such as blank or filled areas, are not text) and letters or digits (or UTF-8) making
// up at least a quarter. Files that are text inside (XML, HTML, logs, source) are reported
// as text too.
constexpr uint64_t kTextMin = 4096;
constexpr uint64_t kTextLine = 1024;
constexpr int kTextDistinct = 16;

// ASCII bytes that text holds: the printable ones, tab, line feed, form feed, carriage return.
constexpr uint64_t kTextControls = (1u << '\t') | (1u << '\n') | (1u << '\f') | (1u << '\r');
bool asciiText(int b) {
  return b >= 0x20 ? b < 0x7F : b >= 0 && ((kTextControls >> b) & 1) != 0;
}

// Whether the sector at `p` may begin a run of text: eight bytes of ASCII text first, and no
// byte that ends every run (a control byte) among the first kTextMin of the `n` at hand, so
// that noise is turned away without reading through the cursor.
bool looksLikeText(const uint8_t* p, size_t n) {
  const size_t bom = p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
  for (size_t i = bom; i < bom + 8; ++i) {
    if (!asciiText(p[i])) return false;
  }
  for (size_t i = bom + 8; i < std::min<size_t>(n, kTextMin); ++i) {
    if (p[i] < 0x80 && !asciiText(p[i])) return false;
  }
  return true;
}

// Reads the device itself, a chunk at a time, rather than byte by byte through the cursor (a
// text run may be long); leaves the cursor where the reading stopped.
Measured text(const Device& device, Cursor& c, uint64_t start, uint64_t limit,
              const RangeSet& skipSet, const std::atomic<bool>& stop) {
  static constexpr char kPdf[] = "%PDF-";
  // Most runs that begin like text are short: the first piece read is small.
  constexpr size_t kFirstChunk = 2 * kTextMin, kChunk = 64 << 10;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunk]);
  size_t have = 0, at = 0;  // bytes in `chunk`, and the next one to look at
  uint64_t pos = start;     // the position of the next byte
  auto get = [&]() -> int {
    if (at == have) {
      if (pos >= limit || stop.load(std::memory_order_relaxed)) return -1;
      const size_t want = pos == start ? kFirstChunk : kChunk;
      have = static_cast<size_t>(std::min<uint64_t>(want, limit - pos));
      device.read(pos, chunk.get(), have);
      at = 0;
    }
    return chunk[at++];
  };
  uint64_t counts[256] = {};
  uint64_t end = start;  // where the run ends, once it has
  uint64_t sectorEnd = start;
  int pdf = -1;  // bytes of kPdf matched from the current sector's start; -1: none
  // Moves into the next sector; false when the run must not enter it.
  auto enterSector = [&] {
    if (pos != start && skipSet.contains(pos)) return false;
    sectorEnd = std::min(limit, pos + kSector);
    return true;
  };
  for (;;) {
    if (pos == sectorEnd) {
      if (pos >= limit || !enterSector()) {
        end = pos;
        break;
      }
      pdf = 0;
    }
    const int b = get();
    ++pos;
    if (b >= 0 && b < 0x80) {
      if (!asciiText(b)) {
        end = pos - 1;
        break;
      }
      ++counts[b];
      if (pdf >= 0) {
        pdf = b == kPdf[pdf] ? pdf + 1 : -1;
        if (pdf == 5) {
          end = pos - 5;  // the run ends where the PDF begins
          break;
        }
      }
      continue;
    }
    end = pos - 1;  // unless the sequence that begins here is whole
    // A UTF-8 sequence: its first byte gives its length and the range of its second byte.
    pdf = -1;
    int more = 0;
    int low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      break;
    }
    uint8_t sequence[4] = {static_cast<uint8_t>(b)};
    bool whole = true;
    for (int i = 1; i <= more && whole; ++i) {
      if (pos == sectorEnd && (pos >= limit || !enterSector())) {
        whole = false;
        break;
      }
      const int n = get();
      ++pos;
      whole = n >= low && n <= high;
      sequence[i] = static_cast<uint8_t>(n);
      low = 0x80;
      high = 0xBF;
    }
    if (!whole) break;
    for (int i = 0; i <= more; ++i) ++counts[sequence[i]];
  }
  c.seek(pos);
  const uint64_t len = end - start;
  if (len < kTextMin) return {};
  uint64_t letters = 0, top = 0;
  int distinct = 0;
  for (int v = 0; v < 256; ++v) {
    if (counts[v] != 0) ++distinct;
    top = std::max(top, counts[v]);
    if ((v >= '0' && v <= '9') || (v >= 'A' && v <= 'Z') || (v >= 'a' && v <= 'z') || v >= 0x80) {
      letters += counts[v];
    }
  }
  const uint64_t breaks = std::max(counts['\n'], counts['\r']);
  if (breaks * kTextLine < len || distinct < kTextDistinct || top * 10 > len * 6 ||
      letters * 4 < len) {
    return {};
  }
  return {len, "txt"};
}

}  // namespace

std::optional<uint64_t> structuredLength(const Device& device, uint64_t start, uint64_t limit,
                                         const std::atomic<bool>& stop) {
  limit = std::min(limit, device.size());
  if (start >= limit) return std::nullopt;
  uint8_t p[kLook] = {};
  const size_t have = static_cast<size_t>(std::min<uint64_t>(kLook, limit - start));
  if (device.read(start, p, have) != have) return std::nullopt;
  Cursor c(device, start, limit, stop);
  Measured m;
  if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) {
    m = jpeg(c, start, limit);
  } else if (std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) {
    m = png(c, start, limit);
  } else if (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0) {
    m = gif(c, start, limit);
  } else if (std::memcmp(p, "PK\x03\x04", 4) == 0) {
    m = zip(c, start, limit);
  } else if (p[0] == 'B' && p[1] == 'M') {
    m = bmp(p, start, limit);
  } else if (std::memcmp(p, "RIFF", 4) == 0) {
    m = riff(p, start, limit);
  } else if (std::memcmp(p + 4, "ftyp", 4) == 0 && be32(p) >= 8 && be32(p) <= 256) {
    m = isoMedia(c, p, start, limit);
  } else if (id3Tag(p) || mp3Start(p, have)) {
    m = mp3(c, p, start, limit);
  } else {
    return std::nullopt;
  }
  return m.len;
}

namespace {

// Where the bytes of `tail` end once the zeros after them are left out.
size_t withoutZeros(const std::vector<uint8_t>& tail) {
  size_t n = tail.size();
  while (n > 0 && tail[n - 1] == 0) --n;
  return n;
}

bool endsWith(const uint8_t* p, size_t n, const char* want, size_t w) {
  return n >= w && std::memcmp(p + n - w, want, w) == 0;
}

// Whether `tail` (the last `all` bytes of a file; `n` of them before the zeros that end it)
// ends as a file of the kind `head` names ends; none for kinds without a trailer.
std::optional<bool> trailerFits(const uint8_t* head, const uint8_t* tail, size_t n, size_t all) {
  if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
    return endsWith(tail, n, "\xFF\xD9", 2);
  if (std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) {
    return endsWith(tail, n, "IEND\xAE\x42\x60\x82", 8);
  }
  if (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0) {
    return n > 0 && tail[n - 1] == 0x3B;
  }
  if (std::memcmp(head, "%PDF-", 5) == 0) {
    const size_t from = n > 1024 ? n - 1024 : 0;
    return std::search(tail + from, tail + n, "%%EOF", "%%EOF" + 5) != tail + n;
  }
  if (std::memcmp(head, "PK\x03\x04", 4) == 0) {
    // The end record (22 bytes and its comment) closes the archive; its own last bytes are
    // often zeros, so it is looked for in the whole tail, with only zeros after it.
    for (size_t at = all >= 22 ? all - 22 : 0; all >= 22 && all - at <= 22 + 0xFFFF; --at) {
      const size_t end = at + 22 + (tail[at + 20] | (tail[at + 21] << 8));
      if (std::memcmp(tail + at, "PK\x05\x06", 4) == 0 && end <= all && end >= n) return true;
      if (at == 0) break;
    }
    return false;
  }
  return std::nullopt;
}

}  // namespace

bool deletedRunHoldsItsFormat(const Device& device, uint64_t start, uint64_t len,
                              const std::atomic<bool>& stop) {
  if (len == 0) return false;
  uint8_t head[kLook] = {};
  const size_t have = static_cast<size_t>(std::min<uint64_t>(kLook, len));
  if (device.read(start, head, have) != have) return false;
  // Formats with a trailer: the run must end with it (zeros after it are a writer's padding).
  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(len, 22 + 0xFFFF + 1024));
  std::vector<uint8_t> tail(tailSize);
  if (device.read(start + len - tailSize, tail.data(), tailSize) != tailSize) return false;
  if (std::optional<bool> fits = trailerFits(head, tail.data(), withoutZeros(tail), tail.size())) {
    return *fits;
  }
  // Formats measured by their structure: it must not end elsewhere.
  const std::optional<uint64_t> measured = structuredLength(device, start, start + len, stop);
  if (!measured || *measured == 0 || *measured == len) return true;
  if (len - *measured > tailSize) return false;
  return std::all_of(tail.end() - static_cast<std::ptrdiff_t>(len - *measured), tail.end(),
                     [](uint8_t b) { return b == 0; });
}

void carveRegion(const Device& device, uint64_t start, uint64_t end, const RangeSet& skipSet,
                 const std::atomic<bool>& stop, const FoundSink& sink,
                 const std::function<void(uint64_t done)>& progress) {
  end = std::min(end, device.size());
  if (start >= end) return;
  std::vector<uint8_t> buffer(kBlock + kLook);
  Cursor cursor(device, start, end, stop);
  FooterMemory pdfMemory;
  // Where a failed structure walk of each kind stopped: headers of that kind before it lie
  // inside the damaged structure and are not walked again, so that crafted data with a
  // header in every sector costs linear time.
  enum Walked { kJpeg, kPng, kGif, kIso, kZip, kMp3, kText, kWalkedKinds };
  uint64_t failedUntil[kWalkedKinds] = {};
  auto walk = [&](Walked kind, uint64_t off, auto&& measure) -> Measured {
    if (off < failedUntil[kind]) return {};
    Measured m = measure();
    if (m.len == 0 && cursor.pos() > off + 8) {
      failedUntil[kind] = std::max(failedUntil[kind], cursor.pos() - 8);
    }
    return m;
  };
  uint64_t resume = start;
  for (uint64_t block = start; block < end; block += kBlock) {
    if (stop.load(std::memory_order_relaxed)) return;
    const uint64_t blockEnd = std::min(block + kBlock, end);
    if (resume < blockEnd) {
      const size_t have = static_cast<size_t>(std::min<uint64_t>(kBlock + kLook, end - block));
      device.read(block, buffer.data(), buffer.size() < have ? buffer.size() : have);
      if (have < buffer.size()) std::memset(buffer.data() + have, 0, buffer.size() - have);
      for (uint64_t off = block; off < blockEnd; off += kSector) {
        if (off < resume || skipSet.contains(off)) continue;
        const uint8_t* p = buffer.data() + (off - block);
        const size_t atHand = static_cast<size_t>(kBlock + kLook - (off - block));
        Measured m;
        const uint64_t picLimit = std::min(end, off + kPictureCap);
        bool binary = true;  // the sector begins with the signature of a binary format
        if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) {
          m = walk(kJpeg, off, [&] { return jpeg(cursor, off, picLimit); });
        } else if (std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) {
          m = walk(kPng, off, [&] { return png(cursor, off, picLimit); });
        } else if (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0) {
          m = walk(kGif, off, [&] { return gif(cursor, off, picLimit); });
        } else if (std::memcmp(p, "%PDF-", 5) == 0) {
          m = pdf(cursor, off, end, pdfMemory);
        } else if (std::memcmp(p, "PK\x03\x04", 4) == 0) {
          m = walk(kZip, off, [&] { return zip(cursor, off, end); });
        } else if (p[0] == 'B' && p[1] == 'M') {
          m = bmp(p, off, picLimit);
          binary = false;  // two letters that begin many a text
        } else if (std::memcmp(p, "RIFF", 4) == 0) {
          m = riff(p, off, end);
        } else if (std::memcmp(p + 4, "ftyp", 4) == 0 && be32(p) >= 8 && be32(p) <= 256) {
          m = walk(kIso, off, [&] { return isoMedia(cursor, p, off, end); });
        } else if (id3Tag(p) || mp3Start(p, atHand)) {
          m = walk(kMp3, off, [&] { return mp3(cursor, p, off, end); });
        } else {
          binary = false;
        }
        if (m.len == 0 && !binary && looksLikeText(p, atHand)) {
          m = walk(kText, off, [&] { return text(device, cursor, off, end, skipSet, stop); });
        }
        if (stop.load(std::memory_order_relaxed)) return;
        if (m.len == 0) continue;
        char name[64];
        std::snprintf(name, sizeof name, "carved_%08llx.%s", static_cast<unsigned long long>(off),
                      m.ext);
        if (!sink(FoundFile{name, off, m.len, {}})) return;
        resume = off + (m.len + kSector - 1) / kSector * kSector;
      }
    }
    if (progress) progress(blockEnd - start);
  }
}

}  // namespace tamsel::disk
