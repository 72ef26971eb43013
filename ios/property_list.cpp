#include "ios/property_list.h"

#include <algorithm>
#include <vector>

namespace tamsel {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr size_t kTrailerSize = 32;

void setWhy(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

std::string depthText() {
  return "nested deeper than " + std::to_string(kMaxPlistDepth) + " levels";
}

std::string nodesText() {
  return "more than " + std::to_string(kMaxPlistNodes) + " values";
}

uint64_t bigEndian(const unsigned char* p, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

// ------------------------------------------------------------------ binary property lists

class BinaryShape {
 public:
  explicit BinaryShape(std::string_view bytes)
      : data_(reinterpret_cast<const unsigned char*>(bytes.data())), size_(bytes.size()) {}

  bool check(std::string* why) {
    if (!readTrailer()) return fail(why, "a damaged binary property list (its trailer)");
    if (objects_ > kMaxPlistNodes) return fail(why, nodesText());
    std::vector<uint8_t> color(objects_, kWhite);
    std::vector<uint16_t> height(objects_, 0);
    std::vector<uint32_t> nodes(objects_, 0);

    struct Frame {
      uint64_t object;
      Container c;
      uint64_t next = 0;
      uint16_t tallest = 0;  // the tallest child so far
      uint64_t below = 0;    // the values below so far
    };
    std::vector<Frame> stack;
    auto enter = [&](uint64_t object) {
      Frame f{object, {}};
      if (!container(object, &f.c)) return false;
      color[object] = kGrey;
      stack.push_back(f);
      return true;
    };
    if (!enter(top_))
      return fail(why, "a damaged binary property list (object " + std::to_string(top_) + ")");
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next < f.c.refs) {
        const uint64_t child = bigEndian(data_ + f.c.refsAt + f.next * refSize_, refSize_);
        ++f.next;
        if (child >= objects_) {
          return fail(why, "a damaged binary property list (a reference past its objects)");
        }
        if (color[child] == kGrey) return fail(why, "its objects refer to one another in a loop");
        if (color[child] == kBlack) {
          f.tallest = std::max(f.tallest, height[child]);
          f.below += nodes[child];
          if (f.below > kMaxPlistNodes) return fail(why, nodesText());
          continue;
        }
        if (stack.size() >= kMaxPlistDepth) return fail(why, depthText());
        if (!enter(child)) {
          return fail(why, "a damaged binary property list (object " + std::to_string(child) + ")");
        }
        continue;
      }
      const uint64_t object = f.object;
      const uint16_t h = static_cast<uint16_t>(f.tallest + 1);
      const uint64_t n = f.below + 1;
      if (n > kMaxPlistNodes) return fail(why, nodesText());
      color[object] = kBlack;
      height[object] = h;
      nodes[object] = static_cast<uint32_t>(n);
      stack.pop_back();
      if (!stack.empty()) {
        Frame& parent = stack.back();
        parent.tallest = std::max(parent.tallest, h);
        parent.below += n;
        if (parent.below > kMaxPlistNodes) return fail(why, nodesText());
      }
    }
    return true;
  }

 private:
  static constexpr uint8_t kWhite = 0, kGrey = 1, kBlack = 2;

  // Where an object's references are: `refs` of refSize_ bytes each from `refsAt` (none for
  // a value that holds no others).
  struct Container {
    uint64_t refsAt = 0;
    uint64_t refs = 0;
  };

  static bool fail(std::string* why, std::string text) {
    setWhy(why, std::move(text));
    return false;
  }

  bool readTrailer() {
    if (size_ < kBinaryMagic.size() + kTrailerSize) return false;
    const unsigned char* t = data_ + size_ - kTrailerSize;
    offsetSize_ = t[6];
    refSize_ = t[7];
    objects_ = bigEndian(t + 8, 8);
    top_ = bigEndian(t + 16, 8);
    table_ = bigEndian(t + 24, 8);
    end_ = size_ - kTrailerSize;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
    if (objects_ == 0 || top_ >= objects_) return false;
    if (table_ < kBinaryMagic.size() || table_ > end_) return false;
    return objects_ <= (end_ - table_) / offsetSize_;
  }

  // The references of `object`; false when its offset or its header leaves the list.
  bool container(uint64_t object, Container* c) const {
    const uint64_t at = bigEndian(data_ + table_ + object * offsetSize_, offsetSize_);
    if (at < kBinaryMagic.size() || at >= end_) return false;
    const unsigned type = data_[at] >> 4;
    const unsigned info = data_[at] & 0x0F;
    if (type != 0xA && type != 0xC && type != 0xD) return true;
    uint64_t count = info;
    uint64_t pos = at + 1;
    if (info == 0x0F) {
      if (pos >= end_ || (data_[pos] >> 4) != 0x1) return false;
      const unsigned width = 1u << (data_[pos] & 0x0F);
      if (width > 8 || end_ - pos - 1 < width) return false;
      count = bigEndian(data_ + pos + 1, width);
      pos += 1 + width;
    }
    const uint64_t perEntry = type == 0xD ? 2 : 1;
    const uint64_t room = (end_ - pos) / refSize_;
    if (count > room / perEntry) return false;
    c->refsAt = pos;
    c->refs = count * perEntry;
    return true;
  }

  const unsigned char* data_;
  uint64_t size_;
  unsigned offsetSize_ = 0, refSize_ = 0;
  uint64_t objects_ = 0, top_ = 0, table_ = 0, end_ = 0;
};

// ------------------------------------------------------------------ XML property lists

// Counts the elements and their nesting. Only a closing tag that matches the innermost open
// element closes it, so the depth counted is never less than a parser's.
bool xmlShapeAcceptable(std::string_view x, std::string* why) {
  std::vector<std::string_view> open;
  uint64_t elements = 0;
  size_t i = 0;
  auto skipPast = [&](std::string_view end) {
    const size_t found = x.find(end, i);
    i = found == std::string_view::npos ? x.size() : found + end.size();
  };
  while ((i = x.find('<', i)) != std::string_view::npos) {
    const std::string_view rest = x.substr(i);
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!")) {
      skipPast(">");
    } else {
      const bool closing = rest.starts_with("</");
      size_t nameStart = i + (closing ? 2 : 1);
      size_t nameEnd = nameStart;
      while (nameEnd < x.size() && x[nameEnd] != '>' && x[nameEnd] != '/' && x[nameEnd] != ' ' &&
             x[nameEnd] != '\t' && x[nameEnd] != '\n' && x[nameEnd] != '\r') {
        ++nameEnd;
      }
      const std::string_view name = x.substr(nameStart, nameEnd - nameStart);
      // The end of the tag, past quoted attribute values.
      size_t j = nameEnd;
      char quote = 0;
      for (; j < x.size(); ++j) {
        if (quote) {
          if (x[j] == quote) quote = 0;
        } else if (x[j] == '"' || x[j] == '\'') {
          quote = x[j];
        } else if (x[j] == '>') {
          break;
        }
      }
      const bool selfClosing = j < x.size() && j > nameEnd && x[j - 1] == '/';
      i = j < x.size() ? j + 1 : x.size();
      if (closing) {
        if (!open.empty() && open.back() == name) open.pop_back();
        continue;
      }
      if (++elements > kMaxPlistNodes) {
        setWhy(why, nodesText());
        return false;
      }
      if (selfClosing) continue;
      open.push_back(name);
      // Values nest as in a binary list (a leaf counts as a level); the plist element comes
      // on top.
      if (open.size() > kMaxPlistDepth + 1) {
        setWhy(why, depthText());
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool plistShapeAcceptable(std::string_view bytes, std::string* why) {
  if (bytes.starts_with(kBinaryMagic)) return BinaryShape(bytes).check(why);
  return xmlShapeAcceptable(bytes, why);
}

PlistPtr parsePropertyList(std::string_view bytes, std::string* why) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) {
    setWhy(why, bytes.empty() ? "empty" : "too large");
    return nullptr;
  }
  if (!plistShapeAcceptable(bytes, why)) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (root == nullptr) setWhy(why, "not a property list");
  return PlistPtr(root);
}

}  // namespace tamsel
