#include "bench/ipd_bench_file.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tamsel::bench {
namespace {

using fixtures::byteField;
using fixtures::bytesField;
using fixtures::ByteVec;
using fixtures::IpdField;
using fixtures::IpdWriter;
using fixtures::leField;
using fixtures::smsMetaField;
using fixtures::smsNumberField;
using fixtures::textField;
using fixtures::utf16Field;

// Field data holds at most 65535 bytes; large contents come in pieces of this size.
constexpr size_t kPiece = 65000;
// Contents of a few KB come in pieces of this size, as the decoding benchmark always had.
constexpr size_t kSmallPiece = 2048;

// Bytes that do not compress or repeat within a piece: windows of one random pool.
const ByteVec& pool() {
  static const ByteVec p = [] {
    ByteVec v(size_t{1} << 20);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& b : v) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      b = static_cast<uint8_t>(x);
    }
    return v;
  }();
  return p;
}

ByteVec poolBytes(size_t n, uint64_t seed) {
  const ByteVec& p = pool();
  const size_t start = static_cast<size_t>(seed * 7919) % (p.size() - kPiece);
  const size_t take = std::min(n, p.size() - start);
  ByteVec out(p.begin() + static_cast<long>(start), p.begin() + static_cast<long>(start + take));
  while (out.size() < n) out.push_back(static_cast<uint8_t>(out.size()));
  return out;
}

// A size in [lo, hi] chosen by `i`, spread evenly over the range.
uint64_t pick(uint64_t lo, uint64_t hi, int i, uint64_t salt) {
  if (hi <= lo) return lo;
  const uint64_t h = (static_cast<uint64_t>(i) + salt) * 0x9E3779B97F4A7C15ull;
  return lo + (h >> 11) % (hi - lo + 1);
}

// `total` bytes as pieces of type `rest`, the first of type `first`.
void addPieces(std::vector<IpdField>& fields, uint8_t first, uint8_t rest, uint64_t total, int i) {
  const size_t piece = total <= 4 * kSmallPiece ? kSmallPiece : kPiece;
  for (uint64_t at = 0; at < total; at += piece) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece, total - at));
    fields.push_back(
        bytesField(at == 0 ? first : rest, poolBytes(n, static_cast<uint64_t>(i) + at)));
  }
}

}  // namespace

IpdCycleSizes IpdCycleSizes::realistic() {
  IpdCycleSizes s;
  s.photoMin = 20000;
  s.photoMax = 60000;
  s.attachmentMin = 200000;
  s.attachmentMax = 2000000;
  s.storeFileMin = 100000;
  s.storeFileMax = 4000000;
  return s;
}

void appendIpdCycle(ByteVec& out, int i, const IpdCycleSizes& sizes) {
  const std::string n = std::to_string(i);
  for (int k = 0; k < 4; ++k) {
    std::vector<IpdField> fields = {
        textField(32, "Firstname" + n),
        textField(32, "Lastname"),
        textField(6, "+1 555 0100 " + n),
        textField(8, "+1 555 0199"),
        textField(1, "person" + n + "@example.org"),
        bytesField(5, {1, 2}),
        textField(33, "Example Company Ltd"),
        textField(38, "Springfield"),
        textField(64, "Met at the conference; call back about the offer.")};
    if (sizes.photoMax > 0) {
      const auto photo = static_cast<size_t>(pick(sizes.photoMin, sizes.photoMax, i * 4 + k, 1));
      fields.push_back(bytesField(77, poolBytes(photo, static_cast<uint64_t>(i * 4 + k))));
    }
    IpdWriter::appendRecord(out, 1, fields);
  }
  for (int k = 0; k < 6; ++k) {
    IpdWriter::appendRecord(out, 2,
                            {byteField(2, static_cast<uint8_t>(k % 4)), leField(3, 75u + k, 4),
                             leField(4, 1300000000000ull + i * 1000ull, 8),
                             textField(12, "+15550100" + n), textField(31, "Caller")});
  }
  for (int k = 0; k < 8; ++k) {
    IpdWriter::appendRecord(
        out, 3,
        {smsMetaField(k % 2 ? fixtures::kSmsIncoming : fixtures::kSmsOutgoing, 1300000000000 + i,
                      0),
         smsNumberField("+8613725573137"),
         k == 7 ? utf16Field(4, u"Unicode message body \u4f60\u597d", true, false)
                : textField(4, "See you at eight tonight, bring the tickets please.", false)});
  }
  {
    std::vector<IpdField> mms = {textField(111, "+15550100"), textField(114, "+15550101"),
                                 textField(103, "IMG_" + n + ".JPG")};
    addPieces(mms, 104, 105, pick(sizes.attachmentMin, sizes.attachmentMax, i, 2), i);
    IpdWriter::appendRecord(out, 4, mms);
  }
  for (int k = 0; k < 3; ++k) {
    IpdWriter::appendRecord(
        out, 5,
        {textField(1, "Memo " + n), textField(2, std::string(240, 'm') + " end of memo " + n)});
  }
  for (int k = 0; k < 3; ++k) {
    IpdWriter::appendRecord(
        out, 6,
        {textField(2, "Weekly meeting"), bytesField(5, {0}), textField(3, "Room 4, floor 2"),
         textField(3, "Bring the quarterly figures")});
  }
  {
    std::vector<IpdField> store = {textField(1, "/store/home/user/documents/report" + n + ".pdf")};
    addPieces(store, 7, 7, pick(sizes.storeFileMin, sizes.storeFileMax, i, 3), i);
    IpdWriter::appendRecord(out, 7, store);
  }
  IpdWriter::appendRecord(out, 0, {textField(1, "service book entry"), bytesField(9, ByteVec(64))});
}

uint64_t writeBenchIpd(const std::string& path, uint64_t targetBytes, const IpdCycleSizes& sizes) {
  IpdWriter w;
  for (const char* name : {"Service Book", "Address Book - All", "Phone Call Logs", "SMS Messages",
                           "MMS Messages", "Memos", "Calendar - All", "Content Store"}) {
    w.addDatabase(name);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!out) throw std::runtime_error("cannot create " + path);
  ByteVec chunk = w.headerBytes();
  uint64_t written = 0;
  auto flush = [&] {
    if (std::fwrite(chunk.data(), 1, chunk.size(), out.get()) != chunk.size())
      throw std::runtime_error("cannot write " + path);
    written += chunk.size();
    chunk.clear();
  };
  for (int i = 0; written + chunk.size() < targetBytes; ++i) {
    appendIpdCycle(chunk, i, sizes);
    if (chunk.size() >= (size_t{4} << 20)) flush();
  }
  flush();
  if (std::fclose(out.release()) != 0) throw std::runtime_error("cannot write " + path);
  return written;
}

}  // namespace tamsel::bench
