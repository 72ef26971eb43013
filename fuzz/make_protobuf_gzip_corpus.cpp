// Writes a seed corpus for the note body fuzz target into the folder named on the command
// line: note bodies as the phone stores them (gzip and zlib), the messages uncompressed, bodies
// cut short at several places and with bytes changed, deeply nested messages, over-long
// varints, lengths past the end, groups, and a small bomb. Deterministic.
#include <string>

#include "fuzz/corpus_writer.h"
#include "tests/fixtures/ios_note_store_writer.h"

using tamsel::fuzzing::CorpusWriter;
using tamsel::fuzzing::nextRandom;
using tamsel::fuzzing::runCorpusGenerator;

namespace {

namespace fx = tamsel::fixtures;

void fill(CorpusWriter& out) {
  const std::string texts[] = {"", "Title", "Groceries\nmilk\neggs\n",
                               "Ünïcode ✓ 日本語\n\xef\xbf\xbc attachment",
                               std::string(3000, 'x') + "\nend"};
  uint32_t seed = 0x9e3779b9u;
  for (const std::string& text : texts) {
    const std::string message = fx::noteBodyMessage(text);
    out.write(message);
    for (auto header : {fx::CompressedHeader::gzip, fx::CompressedHeader::zlib}) {
      const std::string body = fx::compressBytes(message, header);
      out.write(body);
      for (size_t keep : {body.size() / 4, body.size() / 2, body.size() - 4, body.size() - 1}) {
        out.write(body.substr(0, keep));
      }
      for (int i = 0; i < 4 && !body.empty(); ++i) {
        std::string changed = body;
        changed[nextRandom(seed) % changed.size()] ^= static_cast<char>(1 + nextRandom(seed) % 255);
        out.write(changed);
      }
    }
    for (size_t keep = 1; keep < message.size(); keep += 1 + message.size() / 5) {
      out.write(message.substr(0, keep));
    }
  }
  // A note at another place, beside fields of every wire type.
  fx::ProtoWriter run;
  run.varint(1, 3);
  fx::ProtoWriter note;
  note.bytes(2, "elsewhere").message(5, run).fixed32(6, 7).fixed64(7, 8);
  out.write(
      fx::compressBytes(fx::ProtoWriter().message(4, fx::ProtoWriter().message(1, note)).data()));
  // Nesting far past the limit.
  std::string deep = fx::ProtoWriter().varint(1, 1).data();
  for (int i = 0; i < 200; ++i) deep = fx::ProtoWriter().bytes(1, deep).data();
  out.write(deep);
  out.write(fx::compressBytes(deep));
  // Hostile fields.
  out.write(std::string("\x08") + std::string(11, '\xff') + "\x01");  // varint of 12 bytes
  out.write(std::string("\x12\xff\xff\xff\xff\x0f") + "short");       // length past the end
  out.write(std::string("\x0b\x08\x01\x0c", 4));                      // a group
  out.write(std::string("\x00\x01\x0e\x0f", 4));                      // field 0, wire types 6, 7
  // A bomb: a few KiB that inflate to 8 MiB.
  out.write(fx::compressBytes(std::string(size_t{8} << 20, '\0')));
}

}  // namespace

int main(int argc, char** argv) {
  return runCorpusGenerator(argc, argv, "body", fill);
}
