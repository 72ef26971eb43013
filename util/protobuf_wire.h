// A small reader of the protocol-buffer wire format, for the message bodies some of the
// phone's databases keep (note bodies). It knows no schema: a message is a run of fields,
// each a key (field number and wire type, one varint) and a value. The input is not trusted:
// varints of more than ten bytes, lengths past the end, field number 0, groups and nesting
// deeper than kMaxProtoDepth are reported as failures, and nothing is read outside the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace tamsel {

enum class WireType : uint8_t {
  varint = 0,
  fixed64 = 1,
  lengthDelimited = 2,
  startGroup = 3,  // groups are not read: a message holding one is reported as malformed
  endGroup = 4,
  fixed32 = 5,
};

// How deep a walk into nested messages goes at most.
inline constexpr int kMaxProtoDepth = 32;

struct ProtoField {
  uint32_t number = 0;
  WireType type = WireType::varint;
  uint64_t value = 0;              // varint, fixed64 and fixed32 values
  std::span<const uint8_t> bytes;  // length-delimited values (inside the message)
};

// A varint at `*at` of `bytes`; `*at` moves past it. None when the bytes end inside it or it
// runs over ten bytes or past 64 bits (then `*at` is left where it was).
std::optional<uint64_t> readVarint(std::span<const uint8_t> bytes, size_t* at);

// Reads the fields of one message in order.
class ProtoReader {
 public:
  explicit ProtoReader(std::span<const uint8_t> message) : message_(message) {}

  // The next field; false at the end of the message, or at the first field that is malformed
  // (then failed() is true and error() says what and where).
  bool next(ProtoField* field);

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  size_t offset() const { return at_; }

 private:
  bool fail(std::string what);

  std::span<const uint8_t> message_;
  size_t at_ = 0;
  std::string error_;
};

// The value of the first length-delimited field reached by following `path` (field numbers,
// outermost first): at each level the first field of that number that is length-delimited
// and, but at the last level, reads as a message to the end of the remaining path. None (and
// why in *error) when there is none. The path is at most kMaxProtoDepth long.
std::optional<std::span<const uint8_t>> findField(std::span<const uint8_t> message,
                                                  std::span<const uint32_t> path,
                                                  std::string* error = nullptr);

// Calls `visit` for every field of `message` and, depth first, of each length-delimited value
// that reads wholly as a message (a text often does not), with the field's nesting depth (0
// for the outermost). Nesting deeper than `maxDepth` (at most kMaxProtoDepth) is not entered.
// `visit` returns false to end the walk. False when `message` itself is malformed.
bool walkFields(std::span<const uint8_t> message,
                const std::function<bool(const ProtoField&, int depth)>& visit,
                int maxDepth = kMaxProtoDepth);

// True when `bytes` read to their end as well-formed fields.
bool isWellFormedMessage(std::span<const uint8_t> bytes);

}  // namespace tamsel
