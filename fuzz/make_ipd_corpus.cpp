// Writes a seed corpus for the IPD fuzz target into the folder named on the command line:
// well-formed files holding every database we decode, Windows-layout files, and cut-short
// and mutated copies of them. Deterministic: the same files on every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/corpus_writer.h"
#include "tests/fixtures/ipd_writer.h"

namespace fs = std::filesystem;
using namespace tamsel::fixtures;
using tamsel::fuzzing::CorpusWriter;
using tamsel::fuzzing::nextRandom;
using tamsel::fuzzing::runCorpusGenerator;

namespace {

std::vector<IpdField> sampleFields(int kind, int i) {
  const std::string n = std::to_string(i);
  switch (kind) {
    case 0:  // address book
      return {textField(32, "First" + n),       textField(32, "Last"), textField(6, "555-01" + n),
              textField(8, "555-02"),           bytesField(5, {1, 2}), textField(1, "a@b.c"),
              bytesField(77, ByteVec(12, 0xD8))};
    case 1:  // call logs
      return {byteField(2, static_cast<uint8_t>(i % 4)), leField(3, 75u + i, 4),
              leField(4, 1141885846000ull + i, 8), textField(12, "+1555" + n),
              textField(31, "Bob")};
    case 2:  // SMS
      return {
          smsMetaField(i % 2 ? kSmsIncoming : kSmsOutgoing, 1141885846000 + i, i % 3 == 0 ? 2 : 0),
          smsNumberField("+8613725573137"),
          i % 3 == 0 ? utf16Field(4, u"hello", true, false) : textField(4, "qwerty", false)};
    case 3:  // MMS
      return {textField(111, "+1555"), textField(103, "photo.JPG"), bytesField(104, ByteVec(20, 1)),
              bytesField(105, ByteVec(9, 2))};
    case 4:  // memos
      return {textField(1, "Title " + n), textField(2, "Body")};
    case 5:  // calendar
      return {textField(2, "Meeting"), bytesField(5, {0}), textField(3, "Room")};
    default:  // content store
      return {textField(1, "/store/file" + n + ".pdf"), bytesField(7, ByteVec(16, 3)),
              bytesField(7, ByteVec(4, 4))};
  }
}

const char* kNames[] = {"Address Book - All", "Phone Call Logs", "SMS Messages",
                        "MMS Messages",       "Memos",           "Calendar - All",
                        "Content Store"};

}  // namespace

int main(int argc, char** argv) {
  return runCorpusGenerator(argc, argv, "ipd", [](CorpusWriter& out) {
    struct Seed {
      ByteVec bytes;
      size_t headerSize;
    };
    std::vector<Seed> seeds;

    IpdWriter all;
    all.addDatabase("Service Book");
    for (const char* name : kNames) all.addDatabase(name);
    for (int i = 0; i < 14; ++i)
      all.addRecord(static_cast<uint16_t>(1 + i % 7), sampleFields(i % 7, i));
    all.addRecord(0, {textField(1, "skipped")});
    seeds.push_back({all.bytes(), all.headerBytes().size()});

    for (int k = 0; k < 7; ++k) {
      IpdWriter one;  // also a Windows-layout file
      one.addDatabase(kNames[k]);
      for (int i = 0; i < 3; ++i) one.addRecord(0, sampleFields(k, i));
      seeds.push_back({one.bytes(), one.headerBytes().size()});
    }

    uint32_t rng = 0x9E3779B9u;
    for (const Seed& seed : seeds) {
      const ByteVec& bytes = seed.bytes;
      out.write(bytes);
      // Cut short at a few places.
      for (size_t cut : {size_t{10}, size_t{41}, size_t{45}, bytes.size() / 2, bytes.size() - 1}) {
        if (cut < bytes.size()) out.write(ByteVec(bytes.begin(), bytes.begin() + cut));
      }
      // Random byte changes.
      for (int m = 0; m < 6; ++m) {
        ByteVec copy = bytes;
        for (int j = 0; j < 1 + m; ++j) {
          copy[nextRandom(rng) % copy.size()] = static_cast<uint8_t>(nextRandom(rng));
        }
        out.write(copy);
      }
      // The first record's length made huge, below 7, and off by one.
      const size_t first = seed.headerSize;
      for (uint32_t length : {0xFFFFFFF0u, 3u, 0u}) {
        ByteVec copy = seed.bytes;
        for (int j = 0; j < 4; ++j) copy[first + 2 + j] = static_cast<uint8_t>(length >> (8 * j));
        out.write(copy);
      }
      ByteVec longer = seed.bytes;
      ++longer[first + 2];
      out.write(longer);
    }
  });
}
