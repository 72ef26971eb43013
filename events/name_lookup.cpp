#include "events/name_lookup.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tamsel {
namespace {

char foldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Normalised and case-folded in one pass.
std::string foldedNumber(std::string_view number) {
  std::string out;
  out.reserve(number.size());
  for (char c : number) {
    if (c == '-' || c == '(' || c == ')' || c == ' ') continue;
    out.push_back(foldCase(c));
  }
  return out;
}

}  // namespace

std::string normalisePhoneNumber(std::string_view number) {
  std::string out;
  out.reserve(number.size());
  for (char c : number) {
    if (c != '-' && c != '(' && c != ')' && c != ' ') out.push_back(c);
  }
  return out;
}

std::optional<std::string> getNameByPhoneNumber(
    const std::vector<std::shared_ptr<PRContactNode>>& contactArray, std::string_view phone) {
  if (contactArray.empty()) return std::nullopt;
  const std::string wanted = foldedNumber(phone);
  if (wanted.empty()) return std::nullopt;
  for (const auto& contact : contactArray) {
    if (!contact || contact->contactPhone.empty()) continue;
    const std::string numbers = foldedNumber(contact->contactPhone);
    if (numbers.size() >= wanted.size() && numbers.find(wanted) != std::string::npos) {
      return contact->contactName;
    }
  }
  return std::nullopt;
}

}  // namespace tamsel

namespace tamsel {

// The contacts' folded numbers, in list order, are joined into one text with a blank between
// two contacts (a blank never survives folding, so no folded phone can span two contacts).
// A suffix automaton of that text answers "does the phone occur" in one walk over the phone's
// bytes, and each of its states keeps the end of the first occurrence of its texts: the
// contact holding that position is the first contact whose numbers contain the phone.
struct PhoneNameIndex::Impl {
  // Beyond this much folded text (some hundred thousand contacts) the automaton, up to about
  // 70 bytes per byte of text, is not built and lookups go over the folded numbers in turn.
  static constexpr size_t kMaxIndexedText = size_t{4} << 20;
  static constexpr uint32_t kNone = UINT32_MAX;

  struct State {
    uint32_t len = 0;
    uint32_t link = kNone;
    uint32_t firstEnd = 0;   // end (inclusive) of the first occurrence
    uint32_t edges = kNone;  // first outgoing edge
  };
  struct Edge {
    uint32_t target;
    uint32_t next;
    uint8_t byte;
  };

  std::vector<std::string> names;   // of the indexed contacts, in list order
  std::vector<uint32_t> starts;     // where each contact's numbers begin in the text
  std::vector<std::string> folded;  // only when the text is too long to index
  std::vector<State> states;
  std::vector<Edge> edges;

  // Recent answers, by folded phone: a scan looks the same few numbers up again and again.
  static constexpr size_t kCacheSlots = 64;
  struct CacheEntry {
    std::string phone;
    std::optional<std::string> name;
  };
  mutable std::mutex cacheMutex;
  mutable std::vector<CacheEntry> cache = std::vector<CacheEntry>(kCacheSlots);

  uint32_t* edgeTo(uint32_t state, uint8_t byte) {
    for (uint32_t e = states[state].edges; e != kNone; e = edges[e].next) {
      if (edges[e].byte == byte) return &edges[e].target;
    }
    return nullptr;
  }
  uint32_t next(uint32_t state, uint8_t byte) const {
    for (uint32_t e = states[state].edges; e != kNone; e = edges[e].next) {
      if (edges[e].byte == byte) return edges[e].target;
    }
    return kNone;
  }
  void addEdge(uint32_t state, uint8_t byte, uint32_t target) {
    edges.push_back({target, states[state].edges, byte});
    states[state].edges = static_cast<uint32_t>(edges.size() - 1);
  }

  void build(const std::string& text) {
    states.reserve(2 * text.size() + 1);
    edges.reserve(3 * text.size());
    states.emplace_back();
    uint32_t last = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
      const uint8_t c = static_cast<uint8_t>(text[pos]);
      const uint32_t cur = static_cast<uint32_t>(states.size());
      states.push_back({states[last].len + 1, kNone, static_cast<uint32_t>(pos), kNone});
      uint32_t p = last;
      while (p != kNone && edgeTo(p, c) == nullptr) {
        addEdge(p, c, cur);
        p = states[p].link;
      }
      if (p == kNone) {
        states[cur].link = 0;
      } else {
        const uint32_t q = *edgeTo(p, c);
        if (states[p].len + 1 == states[q].len) {
          states[cur].link = q;
        } else {
          const uint32_t clone = static_cast<uint32_t>(states.size());
          states.push_back({states[p].len + 1, states[q].link, states[q].firstEnd, kNone});
          for (uint32_t e = states[q].edges; e != kNone; e = edges[e].next) {
            addEdge(clone, edges[e].byte, edges[e].target);
          }
          while (p != kNone) {
            uint32_t* to = edgeTo(p, c);
            if (to == nullptr || *to != q) break;
            *to = clone;
            p = states[p].link;
          }
          states[q].link = clone;
          states[cur].link = clone;
        }
      }
      last = cur;
    }
  }

  std::optional<std::string> lookUp(const std::string& wanted) const {
    if (!folded.empty() || states.empty()) {
      for (size_t i = 0; i < folded.size(); ++i) {
        if (folded[i].find(wanted) != std::string::npos) return names[i];
      }
      return std::nullopt;
    }
    uint32_t state = 0;
    for (char c : wanted) {
      state = next(state, static_cast<uint8_t>(c));
      if (state == kNone) return std::nullopt;
    }
    const uint32_t end = states[state].firstEnd;
    const size_t contact =
        static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), end) - starts.begin()) -
        1;
    return names[contact];
  }
};

PhoneNameIndex::PhoneNameIndex(const std::vector<std::shared_ptr<PRContactNode>>& contactArray)
    : impl_(std::make_unique<Impl>()) {
  std::vector<std::string> folded;
  size_t total = 0;
  for (const auto& contact : contactArray) {
    if (!contact || contact->contactPhone.empty()) continue;
    folded.push_back(foldedNumber(contact->contactPhone));
    impl_->names.push_back(contact->contactName);
    total += folded.back().size() + 1;
  }
  if (total > Impl::kMaxIndexedText) {
    impl_->folded = std::move(folded);
    return;
  }
  std::string text;
  text.reserve(total);
  for (const std::string& numbers : folded) {
    if (!text.empty()) text.push_back(' ');
    impl_->starts.push_back(static_cast<uint32_t>(text.size()));
    text += numbers;
  }
  impl_->build(text);
}

PhoneNameIndex::~PhoneNameIndex() = default;

std::optional<std::string> PhoneNameIndex::find(std::string_view phone) const {
  const std::string wanted = foldedNumber(phone);
  if (wanted.empty() || impl_->names.empty()) return std::nullopt;
  const size_t slot = std::hash<std::string>{}(wanted) % Impl::kCacheSlots;
  {
    std::lock_guard<std::mutex> lock(impl_->cacheMutex);
    const Impl::CacheEntry& entry = impl_->cache[slot];
    if (entry.phone == wanted) return entry.name;
  }
  std::optional<std::string> name = impl_->lookUp(wanted);
  std::lock_guard<std::mutex> lock(impl_->cacheMutex);
  impl_->cache[slot] = {wanted, name};
  return name;
}

}  // namespace tamsel
