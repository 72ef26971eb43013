#include "util/file_names.h"

#include <system_error>
#include <utility>

#include "util/text.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

// A suffix longer than this (dot included) is treated as part of the stem when a name is
// cut or numbered, so that the stem always keeps room.
constexpr size_t kMaxSuffixBytes = 32;
// Highest variant number tried before giving up on a name.
constexpr int kMaxVariants = 1 << 30;

std::pair<std::string_view, std::string_view> splitSuffix(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxSuffixBytes) {
    return {name, {}};
  }
  return {name.substr(0, dot), name.substr(dot)};
}

// At most `max` bytes of `s`, never ending inside a UTF-8 sequence of valid text.
std::string_view cutUtf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80;
       ++back) {
    --end;
  }
  // Not UTF-8 at all (a long run of continuation bytes): cut at the limit.
  if ((static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) end = max;
  return s.substr(0, end);
}

bool somethingAt(const fs::path& p) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(p, ec);
  // Anything but "not there" (including an error we cannot see through) counts as taken.
  return st.type() != fs::file_type::not_found;
}

std::optional<int> freeVariant(const fs::path& dir, std::string_view name) {
  return firstFreeNumber([&](int n) { return somethingAt(dir / numberedFileName(name, n)); });
}

}  // namespace

std::optional<int> firstFreeNumber(const std::function<bool(int)>& taken) {
  if (!taken(1)) return 1;
  int highestTaken = 1;
  int probe = 2;
  while (taken(probe)) {
    if (probe > kMaxVariants / 2) return std::nullopt;
    highestTaken = probe;
    probe *= 2;
  }
  while (probe - highestTaken > 1) {
    int mid = highestTaken + (probe - highestTaken) / 2;
    if (taken(mid)) {
      highestTaken = mid;
    } else {
      probe = mid;
    }
  }
  return probe;
}

std::string sanitizeFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    char32_t cp = 0;
    const size_t len = decodeUtf8At(name, i, &cp);
    if (len == 0 || cp == '/' || isControlOrBidi(cp)) {
      // A byte that is no text, a separator, or a character that would act on a terminal
      // or reorder the name when it is shown.
      out += '_';
      i += len == 0 ? 1 : len;
      continue;
    }
    out.append(name.substr(i, len));
    i += len;
  }
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  if (out.size() <= kMaxFileNameBytes) return out;
  auto [stem, suffix] = splitSuffix(out);
  std::string cut(cutUtf8(stem, kMaxFileNameBytes - suffix.size()));
  cut += suffix;
  return cut;
}

std::string lastPathComponent(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path);
}

std::string numberedFileName(std::string_view name, int n) {
  if (n <= 1) return std::string(name);
  std::string marker = " (" + std::to_string(n) + ")";
  auto [stem, suffix] = splitSuffix(name);
  size_t room = kMaxFileNameBytes - suffix.size() - marker.size();
  std::string out(cutUtf8(stem, room));
  out += marker;
  out += suffix;
  return out;
}

fs::path uniquePath(const fs::path& dir, std::string_view name) {
  std::optional<int> n = freeVariant(dir, name);
  if (!n) return {};
  return dir / numberedFileName(name, *n);
}

}  // namespace tamsel
