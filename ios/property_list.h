// Property lists from a backup, parsed only once their shape is known to be harmless. The
// parsing library builds (and frees) its tree recursively: a list nested a hundred thousand
// deep runs it off the stack, and a binary list whose objects refer to one another many times
// over makes it copy a shared object once per reference, which grows exponentially. Both
// are measured here first, without recursion and in time linear in the bytes, and a list
// beyond the limits is refused with a reason instead of parsed.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tamsel {

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// No property list of a backup nests nearly this deep, or holds this many values.
inline constexpr uint64_t kMaxPlistDepth = 256;
inline constexpr uint64_t kMaxPlistNodes = 4'000'000;

// True when the property list in `bytes` (binary "bplist00", else XML) nests at most
// kMaxPlistDepth containers deep and would give at most kMaxPlistNodes values once parsed;
// otherwise false with `why` set ("nested deeper than 256 levels", "its objects refer to one
// another in a loop", ...). A binary list whose structure cannot be followed (offsets or
// references out of range) is refused too: the library would refuse it anyway.
bool plistShapeAcceptable(std::string_view bytes, std::string* why);

// The property list in `bytes`, parsed after plistShapeAcceptable; null with `why` set when
// the shape is refused or the bytes are not a property list.
PlistPtr parsePropertyList(std::string_view bytes, std::string* why);

}  // namespace tamsel
