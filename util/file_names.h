// Turning names found in records into file names, and creating files that never replace
// anything already on disk. Every recovered file goes through here: a name taken from a
// backup or a card is untrusted, and the user's folder may already hold files of the same
// name from an earlier run.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

// Longest file name (one path component) the file systems we write to accept, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// A name that is safe as a single component inside a chosen folder: every "/", every control
// character (C0 with NUL, DEL, C1), every bidirectional control (util/text.h
// isControlOrBidi) and every byte that is not valid UTF-8 becomes "_"; "", "." and ".."
// become "_" and "__"; a name longer than 255 bytes is cut on
// a UTF-8 character boundary, keeping its suffix (".jpg") when that is short. Applying it
// twice changes nothing.
std::string sanitizeFileName(std::string_view name);

// The last component of a "/"-separated path: "a/b/c.jpg" gives "c.jpg", "a/b/" gives "b",
// "/" and "" give "".
std::string lastPathComponent(std::string_view path);

// The n-th variant of a (sanitised) name: n <= 1 gives the name itself, 2 gives
// "stem (2).ext", 3 gives "stem (3).ext" ..., cut so that it stays within 255 bytes.
std::string numberedFileName(std::string_view name, int n);

// A number n >= 1 for which `taken(n)` is false (1 stands for the name itself), or none
// past 2^30. Probes 1, 2, 4, 8 ... until one is free, then halves the gap to the highest
// taken one: when 1 to k are taken it gives k + 1 after about 2 log k probes, so a backup
// with thousands of attachments of one name does not make a run quadratic. Where the taken
// numbers have gaps, some free number is found, not necessarily the lowest.
std::optional<int> firstFreeNumber(const std::function<bool(int)>& taken);

// dir/name when nothing is at that path (a dangling symbolic link counts as something),
// otherwise dir/ a free numbered variant of name: the next after the highest of an unbroken
// run "name", "stem (2).ext" ... "stem (k).ext". An empty path when no variant is free.
// `name` must already be sanitised.
std::filesystem::path uniquePath(const std::filesystem::path& dir, std::string_view name);

}  // namespace tamsel
