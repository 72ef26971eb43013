// Signature carving: at the start of every sector, look for the header of a common file
// format; when one is found, walk the file's structure (or search for its footer) to learn
// where it ends. Only complete files are reported. A carved file is skipped over, so files
// are not reported inside one another, and sectors of files the FAT walk found are left out.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disklib/disk_internal.h"

namespace tamsel::disk {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kBlock = 4 << 20;
constexpr size_t kLook = 64;                // header bytes a format may look at
constexpr uint64_t kLargeCap = 200u << 20;  // the largest file the program accepts
constexpr uint64_t kPictureCap = 64u << 20;

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
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

// Skips `n` bytes; false when that passes the end.
bool skip(Cursor& c, uint64_t n, uint64_t limit) {
  if (c.pos() + n > limit) return false;
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

// The position just past the first `pattern` in [from, limit), or 0.
uint64_t findPattern(Cursor& c, uint64_t from, uint64_t limit, const char* pattern) {
  const size_t n = std::strlen(pattern);
  std::vector<size_t> fail(n, 0);  // KMP failure table
  for (size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = fail[k - 1];
    if (pattern[i] == pattern[k]) ++k;
    fail[i] = k;
  }
  c.seek(from);
  size_t k = 0;
  while (c.pos() < limit) {
    int b = c.get();
    if (b < 0) return 0;
    while (k > 0 && b != static_cast<uint8_t>(pattern[k])) k = fail[k - 1];
    if (b == static_cast<uint8_t>(pattern[k])) ++k;
    if (k == n) return c.pos();
  }
  return 0;
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

Measured pdf(Cursor& c, uint64_t start, uint64_t limit, FooterMemory& memory) {
  uint64_t from = memory.startFor(start + 5, 5);
  uint64_t end = findPattern(c, from, limit, "%%EOF");
  if (end == 0) {
    memory = {start, c.pos()};
    return {};
  }
  c.seek(end);
  int b = c.get();
  if (b == '\r') {
    ++end;
    if (c.get() == '\n') ++end;
  } else if (b == '\n') {
    ++end;
  }
  return {end - start, "pdf"};
}

Measured zip(Cursor& c, uint64_t start, uint64_t limit, FooterMemory& memory) {
  uint64_t from = memory.startFor(start + 4, 4);
  for (;;) {
    uint64_t after = findPattern(c, from, limit, "PK\x05\x06");
    if (after == 0) {
      memory = {start, c.pos()};
      return {};
    }
    uint8_t tail[18];
    if (!c.read(tail, sizeof tail)) return {};
    const uint64_t eocd = after - 4;
    const uint64_t cdSize = le32(tail + 8), cdOffset = le32(tail + 12);
    const uint64_t comment = static_cast<uint64_t>(tail[16] | (tail[17] << 8));
    if (cdOffset + cdSize == eocd - start && eocd + 22 + comment <= limit) {
      return {eocd + 22 + comment - start, "zip"};
    }
    from = after;
  }
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
    if (size == 1) {
      if (!c.read(head + 8, 8)) break;
      size = (static_cast<uint64_t>(be32(head + 8)) << 32) | be32(head + 12);
    }
    if (size < 8 || at + size > limit) break;
    movie = movie || std::memcmp(head + 4, "moov", 4) == 0;
    data = data || std::memcmp(head + 4, "mdat", 4) == 0;
    at += size;
  }
  if (!movie || !data) return {};
  return {at - start, ext};
}

}  // namespace

void carveRegion(const Device& device, uint64_t start, uint64_t end, const RangeSet& skipSet,
                 const std::atomic<bool>& stop, const FoundSink& sink,
                 const std::function<void(uint64_t done)>& progress) {
  end = std::min(end, device.size());
  if (start >= end) return;
  std::vector<uint8_t> buffer(kBlock + kLook);
  Cursor cursor(device, start, end, stop);
  FooterMemory pdfMemory, zipMemory;
  // Where a failed structure walk of each kind stopped: headers of that kind before it lie
  // inside the damaged structure and are not walked again, so that crafted data with a
  // header in every sector costs linear time.
  enum Walked { kJpeg, kPng, kGif, kIso, kWalkedKinds };
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
        Measured m;
        const uint64_t bigLimit = std::min(end, off + kLargeCap);
        const uint64_t picLimit = std::min(end, off + kPictureCap);
        if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) {
          m = walk(kJpeg, off, [&] { return jpeg(cursor, off, picLimit); });
        } else if (std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) {
          m = walk(kPng, off, [&] { return png(cursor, off, picLimit); });
        } else if (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0) {
          m = walk(kGif, off, [&] { return gif(cursor, off, picLimit); });
        } else if (std::memcmp(p, "%PDF-", 5) == 0) {
          m = pdf(cursor, off, bigLimit, pdfMemory);
        } else if (std::memcmp(p, "PK\x03\x04", 4) == 0) {
          m = zip(cursor, off, bigLimit, zipMemory);
        } else if (p[0] == 'B' && p[1] == 'M') {
          m = bmp(p, off, picLimit);
        } else if (std::memcmp(p, "RIFF", 4) == 0) {
          m = riff(p, off, bigLimit);
        } else if (std::memcmp(p + 4, "ftyp", 4) == 0 && be32(p) >= 8 && be32(p) <= 256) {
          m = walk(kIso, off, [&] { return isoMedia(cursor, p, off, bigLimit); });
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
