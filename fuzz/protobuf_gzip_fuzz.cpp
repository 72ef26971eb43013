// Fuzzes the readers of note bodies: the input is read as a protocol-buffer message (fields,
// paths, a walk into nested messages), inflated with a small cap and the output read the same
// way, and handed whole to the note body reader. Nothing may read outside the bytes it was
// given, go deeper than the nesting limit or inflate past the cap.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ios/note_store.h"
#include "util/gzip.h"
#include "util/log.h"
#include "util/protobuf_wire.h"

namespace {

using namespace tamsel;

constexpr size_t kFuzzCap = size_t{1} << 20;

volatile size_t g_sink = 0;

bool inside(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void readMessage(std::span<const uint8_t> bytes) {
  ProtoReader reader(bytes);
  ProtoField f;
  size_t fields = 0;
  while (reader.next(&f)) {
    if (!inside(f.bytes, bytes) || reader.offset() > bytes.size()) __builtin_trap();
    ++fields;
  }
  const uint32_t paths[][3] = {{2, 3, 2}, {1, 1, 1}, {2, 2, 2}};
  for (const auto& path : paths) {
    if (auto found = findField(bytes, path)) {
      if (!inside(*found, bytes)) __builtin_trap();
      fields += found->size();
    }
  }
  walkFields(bytes, [&](const ProtoField& field, int depth) {
    if (depth > kMaxProtoDepth || !inside(field.bytes, bytes)) __builtin_trap();
    ++fields;
    return fields < 100000;
  });
  g_sink = g_sink + fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (tamsel::setLogSink({}), true);
  (void)quiet;
  const std::span<const uint8_t> input(data, size);
  readMessage(input);
  const InflateResult inflated = inflateBytes(input, kFuzzCap);
  if (inflated.bytes.size() > kFuzzCap) __builtin_trap();
  if (inflated.ok() != inflated.error.empty()) __builtin_trap();
  readMessage(inflated.bytes);
  if (auto text = noteBodyText(input)) g_sink = g_sink + text->size();
  return 0;
}
