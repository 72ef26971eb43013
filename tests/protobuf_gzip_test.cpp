// The protocol-buffer wire reader and the bounded inflater, over input made by the note store
// fixture's writers and hostile input (long varints, bad lengths, deep nesting, cut streams).
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "tests/fixtures/ios_note_store_writer.h"
#include "util/gzip.h"
#include "util/log.h"
#include "util/protobuf_wire.h"

namespace tamsel {
namespace {

namespace fx = tamsel::fixtures;

std::span<const uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string text(std::span<const uint8_t> b) {
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

std::string hex(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// ---------------------------------------------------------------- varints

TEST(ProtobufWire, Varints) {
  struct Case {
    const char* what;
    std::string in;
    std::optional<uint64_t> value;
    size_t end;
  };
  const std::vector<Case> cases{
      {"one byte", hex({0x7f}), 127, 1},
      {"two bytes", hex({0xac, 0x02}), 300, 2},
      {"followed by more", hex({0x96, 0x01, 0x55}), 150, 2},
      {"largest", hex({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}), UINT64_MAX,
       10},
      {"tenth byte past 64 bits", hex({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}),
       std::nullopt, 0},
      {"eleven bytes", hex({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
       std::nullopt, 0},
      {"cut short", hex({0x80, 0x80}), std::nullopt, 0},
      {"empty", "", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t at = 0;
    EXPECT_EQ(readVarint(bytes(c.in), &at), c.value);
    EXPECT_EQ(at, c.end);
  }
  // Round trip through the fixture's writer, at each width.
  for (uint64_t v : {uint64_t{0}, uint64_t{1} << 7, uint64_t{1} << 35, uint64_t{1} << 63}) {
    const std::string encoded = fx::ProtoWriter::encodeVarint(v) + "x";
    size_t at = 0;
    EXPECT_EQ(readVarint(bytes(encoded), &at), v);
    EXPECT_EQ(at, encoded.size() - 1);
  }
}

// ---------------------------------------------------------------- reader

TEST(ProtobufWire, ReadsEveryWireType) {
  fx::ProtoWriter inner;
  inner.varint(1, 7);
  fx::ProtoWriter w;
  w.varint(1, 150)
      .fixed64(2, 0x0102030405060708ull)
      .bytes(3, "text")
      .fixed32(4, 0xdeadbeef)
      .message(536870911, inner);  // the largest field number
  ProtoReader reader(bytes(w.data()));
  std::vector<ProtoField> fields;
  ProtoField f;
  while (reader.next(&f)) fields.push_back(f);
  EXPECT_FALSE(reader.failed()) << reader.error();
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0].type, WireType::varint);
  EXPECT_EQ(fields[0].value, 150u);
  EXPECT_EQ(fields[1].type, WireType::fixed64);
  EXPECT_EQ(fields[1].value, 0x0102030405060708ull);
  EXPECT_EQ(fields[2].type, WireType::lengthDelimited);
  EXPECT_EQ(text(fields[2].bytes), "text");
  EXPECT_EQ(fields[3].type, WireType::fixed32);
  EXPECT_EQ(fields[3].value, 0xdeadbeefu);
  EXPECT_EQ(fields[4].number, 536870911u);
  EXPECT_EQ(text(fields[4].bytes), inner.data());
  EXPECT_EQ(reader.offset(), w.data().size());
  EXPECT_TRUE(isWellFormedMessage(bytes(w.data())));
  EXPECT_TRUE(isWellFormedMessage({}));
}

TEST(ProtobufWire, MalformedMessagesFailAtTheirBadField) {
  struct Case {
    const char* what;
    std::string in;
    size_t goodFields;
    const char* error;
  };
  const std::string good = fx::ProtoWriter().varint(1, 5).data();
  const std::vector<Case> cases{
      {"length past the end", good + hex({0x12, 0x05, 'a', 'b'}), 1, "length past the end"},
      {"huge length", good + hex({0x12, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}), 1,
       "length past the end"},
      {"length varint too long",
       hex({0x12, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}), 0,
       "longer than ten bytes"},
      {"key cut short", good + hex({0x80}), 1, "field key cut short"},
      {"value cut short", hex({0x08, 0x80}), 0, "varint value cut short"},
      {"fixed64 cut short", hex({0x09, 1, 2, 3}), 0, "fixed-width value cut short"},
      {"fixed32 cut short", good + hex({0x0d, 1}), 1, "fixed-width value cut short"},
      {"start group", good + hex({0x0b, 0x08, 0x01, 0x0c}), 1, "group"},
      {"wire type 7", good + hex({0x0f}), 1, "unknown wire type 7"},
      {"field number 0", hex({0x00, 0x01}), 0, "field number out of range"},
      {"field number past 2^29", hex({0x80, 0x80, 0x80, 0x80, 0x10, 0x00}), 0,
       "field number out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProtoReader reader(bytes(c.in));
    ProtoField f;
    size_t read = 0;
    while (reader.next(&f)) ++read;
    EXPECT_EQ(read, c.goodFields);
    EXPECT_TRUE(reader.failed());
    EXPECT_NE(reader.error().find(c.error), std::string::npos) << reader.error();
    EXPECT_FALSE(reader.next(&f)) << "a failed reader stays failed";
    EXPECT_FALSE(isWellFormedMessage(bytes(c.in)));
  }
}

// ---------------------------------------------------------------- paths and walks

TEST(ProtobufWire, FindFieldFollowsThePath) {
  const std::string body = fx::noteBodyMessage("Title\nbody text");
  const uint32_t path[] = {2, 3, 2};
  std::optional<std::span<const uint8_t>> found = findField(bytes(body), path);
  ASSERT_TRUE(found);
  EXPECT_EQ(text(*found), "Title\nbody text");

  // A field of the path's number that is no message (a text) is passed by for a later one.
  fx::ProtoWriter note;
  note.bytes(2, "the text");
  fx::ProtoWriter document;
  document.bytes(3, "\x07 not a message").message(3, note);
  fx::ProtoWriter outer;
  outer.varint(2, 9).bytes(2, "\xff").message(2, document);
  found = findField(bytes(outer.data()), path);
  ASSERT_TRUE(found);
  EXPECT_EQ(text(*found), "the text");

  struct Miss {
    const char* what;
    std::string in;
    std::vector<uint32_t> path;
    const char* error;
  };
  std::string deep;
  for (int i = 0; i < 40; ++i) deep = fx::ProtoWriter().bytes(1, deep).data();
  const std::vector<Miss> misses{
      {"no such field", body, {2, 3, 9}, "field 9 not found at depth 2"},
      {"first level missing", body, {7}, "field 7 not found"},
      {"malformed outer message", hex({0x12, 0x09, 0x01}), {2}, "length past the end"},
      {"empty path", body, {}, "empty field path"},
      {"path deeper than allowed", deep, std::vector<uint32_t>(kMaxProtoDepth + 1, 1), "too deep"},
  };
  for (const Miss& m : misses) {
    SCOPED_TRACE(m.what);
    std::string why;
    EXPECT_FALSE(findField(bytes(m.in), m.path, &why));
    EXPECT_NE(why.find(m.error), std::string::npos) << why;
  }
  // The deepest path allowed is followed.
  EXPECT_TRUE(findField(bytes(deep), std::vector<uint32_t>(kMaxProtoDepth, 1)));
}

TEST(ProtobufWire, WalkVisitsNestedFieldsAndStopsAtTheDepthLimit) {
  const std::string body = fx::noteBodyMessage("ab\ncd");
  std::vector<std::pair<uint32_t, int>> seen;
  EXPECT_TRUE(walkFields(bytes(body), [&](const ProtoField& f, int depth) {
    seen.emplace_back(f.number, depth);
    return true;
  }));
  // body{1, 2:document{1, 2, 3:note{2:text, 5:run{1, 2:style{1}}, 5:run{...}}}}
  const std::vector<std::pair<uint32_t, int>> expected{{1, 0}, {2, 0}, {1, 1}, {2, 1}, {3, 1},
                                                       {2, 2}, {5, 2}, {1, 3}, {2, 3}, {1, 4},
                                                       {5, 2}, {1, 3}, {2, 3}, {1, 4}};
  EXPECT_EQ(seen, expected);

  // A thousand levels of nesting: the walk goes no deeper than the limit and does not recurse
  // without end.
  std::string deep = fx::ProtoWriter().varint(1, 1).data();
  for (int i = 0; i < 1000; ++i) deep = fx::ProtoWriter().bytes(1, deep).data();
  for (int limit : {0, 5, kMaxProtoDepth, 5000}) {
    SCOPED_TRACE(limit);
    int deepest = -1;
    size_t visits = 0;
    EXPECT_TRUE(walkFields(
        bytes(deep),
        [&](const ProtoField&, int depth) {
          deepest = std::max(deepest, depth);
          ++visits;
          return true;
        },
        limit));
    EXPECT_EQ(deepest, std::min(limit, kMaxProtoDepth));
    EXPECT_EQ(visits, static_cast<size_t>(deepest) + 1);
  }
  // The visitor ends the walk.
  size_t visits = 0;
  walkFields(bytes(body), [&](const ProtoField&, int) { return ++visits < 3; });
  EXPECT_EQ(visits, 3u);
  EXPECT_FALSE(walkFields(bytes(hex({0x12, 0x05})), [](const ProtoField&, int) { return true; }));
}

// ---------------------------------------------------------------- inflating

class Inflate : public ::testing::Test {
 protected:
  Inflate() {
    previous = setLogSink([this](std::string_view line) {
      std::lock_guard lock(mutex);
      lines.emplace_back(line);
    });
  }
  ~Inflate() override { setLogSink(previous); }

  std::mutex mutex;
  std::vector<std::string> lines;
  LogSink previous;
};

TEST_F(Inflate, RoundTripsBothHeaders) {
  std::string large;
  for (int i = 0; large.size() < (3u << 20); ++i) large += "line " + std::to_string(i) + "\n";
  for (auto header : {fx::CompressedHeader::gzip, fx::CompressedHeader::zlib}) {
    for (const std::string& original : {std::string(), std::string("x"), large}) {
      SCOPED_TRACE(std::to_string(original.size()) + " bytes");
      const std::string packed = fx::compressBytes(original, header);
      EXPECT_TRUE(hasCompressedHeader(bytes(packed)));
      InflateResult r = inflateBytes(bytes(packed));
      ASSERT_TRUE(r.ok()) << r.error;
      EXPECT_EQ(text(r.bytes), original);
      // What follows the stream is not read.
      r = inflateBytes(bytes(packed + "trailing bytes"));
      ASSERT_TRUE(r.ok()) << r.error;
      EXPECT_EQ(text(r.bytes), original);
    }
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(Inflate, HostileStreamsFailClearly) {
  const std::string original(20000, 'a');
  std::string gz = fx::compressBytes(original + "end of the text");
  std::string damaged = gz;
  damaged[10] = static_cast<char>(0x07);  // first block: final, reserved type 3
  struct Case {
    const char* what;
    std::string in;
    InflateResult::Status status;
    const char* error;
  };
  const std::vector<Case> cases{
      {"empty", "", InflateResult::Status::notCompressed, "no gzip or zlib header"},
      {"plain text", "hello", InflateResult::Status::notCompressed, "no gzip or zlib header"},
      {"gzip magic only", hex({0x1f, 0x8b}), InflateResult::Status::notCompressed, "header"},
      {"zlib header, bad check digits", hex({0x78, 0x9d, 0x00}),
       InflateResult::Status::notCompressed, "header"},
      {"cut in the header", gz.substr(0, 5), InflateResult::Status::truncated, "ends before"},
      {"cut in the data", gz.substr(0, gz.size() / 2), InflateResult::Status::truncated,
       "ends before"},
      {"cut before the trailer", gz.substr(0, gz.size() - 4), InflateResult::Status::truncated,
       "ends before"},
      {"reserved block type", damaged, InflateResult::Status::corrupt, "damaged"},
      {"wrong checksum", gz.substr(0, gz.size() - 8) + std::string(8, '\0'),
       InflateResult::Status::corrupt, "damaged"},
      // zlib header with a preset dictionary (FDICT) and its id.
      {"preset dictionary", hex({0x78, 0xbb, 0, 0, 0, 1, 0x03, 0x00}),
       InflateResult::Status::corrupt, "dictionary"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InflateResult r = inflateBytes(bytes(c.in));
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
  // A cut stream keeps what it inflated before the cut.
  InflateResult cut = inflateBytes(bytes(gz.substr(0, gz.size() - 4)));
  EXPECT_EQ(text(cut.bytes), original + "end of the text");
}

TEST_F(Inflate, OutputIsCapped) {
  const size_t cap = size_t{1} << 20;
  struct Case {
    size_t size;
    bool fits;
  };
  for (const Case& c :
       std::vector<Case>{{cap - 1, true}, {cap, true}, {cap + 1, false}, {8 * cap, false}}) {
    SCOPED_TRACE(c.size);
    lines.clear();
    const std::string packed = fx::compressBytes(std::string(c.size, '\0'));
    InflateResult r = inflateBytes(bytes(packed), cap);
    if (c.fits) {
      EXPECT_TRUE(r.ok()) << r.error;
      EXPECT_EQ(r.bytes.size(), c.size);
      EXPECT_TRUE(lines.empty());
    } else {
      EXPECT_EQ(r.status, InflateResult::Status::tooLarge);
      EXPECT_EQ(r.bytes.size(), cap);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("inflates to more than 1048576 bytes"), std::string::npos);
    }
  }
  // A bomb just past the default cap: about 65 KiB that would inflate to 64 MiB and more.
  const std::string bomb = fx::compressBytes(std::string(kMaxInflatedSize + 4096, '\0'));
  InflateResult r = inflateBytes(bytes(bomb));
  EXPECT_EQ(r.status, InflateResult::Status::tooLarge);
  EXPECT_EQ(r.bytes.size(), kMaxInflatedSize);
  // Nothing may come out at a cap of 0.
  EXPECT_EQ(inflateBytes(bytes(fx::compressBytes("x")), 0).status, InflateResult::Status::tooLarge);
  EXPECT_TRUE(inflateBytes(bytes(fx::compressBytes("")), 0).ok());
}

}  // namespace
}  // namespace tamsel
