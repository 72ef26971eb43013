#include "util/protobuf_wire.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace tamsel {
namespace {

constexpr uint32_t kMaxFieldNumber = (uint32_t{1} << 29) - 1;

}  // namespace

std::optional<uint64_t> readVarint(std::span<const uint8_t> bytes, size_t* at) {
  uint64_t value = 0;
  size_t i = *at;
  for (int shift = 0; shift < 70; shift += 7, ++i) {
    if (i >= bytes.size()) return std::nullopt;
    const uint8_t b = bytes[i];
    // The tenth byte holds the 64th bit only.
    if (shift == 63 && b > 1) return std::nullopt;
    value |= uint64_t{b & 0x7fu} << shift;
    if ((b & 0x80) == 0) {
      *at = i + 1;
      return value;
    }
  }
  return std::nullopt;
}

bool ProtoReader::fail(std::string what) {
  error_ = std::move(what) + " at offset " + std::to_string(at_);
  return false;
}

bool ProtoReader::next(ProtoField* field) {
  if (failed() || at_ >= message_.size()) return false;
  size_t at = at_;
  const std::optional<uint64_t> key = readVarint(message_, &at);
  if (!key) return fail("field key cut short or longer than ten bytes");
  const uint64_t number = *key >> 3;
  if (number == 0 || number > kMaxFieldNumber) return fail("field number out of range");
  ProtoField f;
  f.number = static_cast<uint32_t>(number);
  switch (*key & 7) {
    case 0: {
      f.type = WireType::varint;
      const std::optional<uint64_t> v = readVarint(message_, &at);
      if (!v) return fail("varint value cut short or longer than ten bytes");
      f.value = *v;
      break;
    }
    case 1:
    case 5: {
      const size_t width = (*key & 7) == 1 ? 8 : 4;
      if (message_.size() - at < width) return fail("fixed-width value cut short");
      f.type = width == 8 ? WireType::fixed64 : WireType::fixed32;
      for (size_t k = 0; k < width; ++k) f.value |= uint64_t{message_[at + k]} << (8 * k);
      at += width;
      break;
    }
    case 2: {
      f.type = WireType::lengthDelimited;
      const std::optional<uint64_t> length = readVarint(message_, &at);
      if (!length) return fail("length cut short or longer than ten bytes");
      if (*length > message_.size() - at) return fail("length past the end of the message");
      f.bytes = message_.subspan(at, static_cast<size_t>(*length));
      at += static_cast<size_t>(*length);
      break;
    }
    case 3:
    case 4:
      return fail("group field (not read)");
    default:
      return fail("unknown wire type " + std::to_string(*key & 7));
  }
  at_ = at;
  *field = f;
  return true;
}

bool isWellFormedMessage(std::span<const uint8_t> bytes) {
  ProtoReader reader(bytes);
  ProtoField f;
  while (reader.next(&f)) {
  }
  return !reader.failed();
}

std::optional<std::span<const uint8_t>> findField(std::span<const uint8_t> message,
                                                  std::span<const uint32_t> path,
                                                  std::string* error) {
  auto fail = [error](std::string why) -> std::optional<std::span<const uint8_t>> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (path.empty()) return fail("empty field path");
  if (path.size() > static_cast<size_t>(kMaxProtoDepth)) return fail("field path too deep");
  // Each level looks for its first field of the number that leads on; a field of the number
  // that does not (a text where a message was expected) is passed by. The levels are walked
  // one after the other, without recursion.
  std::string why = "field " + std::to_string(path[0]) + " not found";
  // Candidates at each level, tried in order: a small explicit stack of readers.
  struct Level {
    ProtoReader reader;
  };
  std::vector<Level> levels;
  levels.push_back({ProtoReader(message)});
  while (!levels.empty()) {
    const size_t depth = levels.size() - 1;
    ProtoField f;
    bool found = false;
    while (levels.back().reader.next(&f)) {
      if (f.number == path[depth] && f.type == WireType::lengthDelimited) {
        found = true;
        break;
      }
    }
    if (!found) {
      if (levels.back().reader.failed()) {
        why = "malformed message at depth " + std::to_string(depth) + ": " +
              levels.back().reader.error();
      }
      levels.pop_back();
      continue;
    }
    if (depth + 1 == path.size()) return f.bytes;
    if (!isWellFormedMessage(f.bytes)) continue;  // not a message: look on at this level
    why = "field " + std::to_string(path[depth + 1]) + " not found at depth " +
          std::to_string(depth + 1);
    levels.push_back({ProtoReader(f.bytes)});
  }
  return fail(why);
}

namespace {

// The walk of one message at `depth`; false when it was ended by `visit`.
bool walkLevel(std::span<const uint8_t> message,
               const std::function<bool(const ProtoField&, int)>& visit, int depth, int maxDepth) {
  ProtoReader reader(message);
  ProtoField f;
  while (reader.next(&f)) {
    if (!visit(f, depth)) return false;
    if (f.type == WireType::lengthDelimited && !f.bytes.empty() && depth < maxDepth &&
        isWellFormedMessage(f.bytes)) {
      if (!walkLevel(f.bytes, visit, depth + 1, maxDepth)) return false;
    }
  }
  return true;
}

}  // namespace

bool walkFields(std::span<const uint8_t> message,
                const std::function<bool(const ProtoField&, int depth)>& visit, int maxDepth) {
  if (!isWellFormedMessage(message)) return false;
  walkLevel(message, visit, 0, std::clamp(maxDepth, 0, kMaxProtoDepth));
  return true;
}

}  // namespace tamsel
