// Reading a small file (a property list, a settings file) whole, without trusting its size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tamsel {

// The whole file at `path` when it is a regular file (not a link to one) of at most `cap` bytes;
// none (logged) otherwise. One read call per large block; a file that shrinks while read gives what
// it had.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, uint64_t cap);

}  // namespace tamsel
