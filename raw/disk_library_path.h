// Where the program finds its disk library.
#pragma once

#include <filesystem>
#include <vector>

namespace tamsel {

// In order: $TAMSEL_DISKLIB when set (and only it), else beside the program:
// <exe dir>/../lib/tamsel/bblib.so (installed), <exe dir>/bblib.so, and
// <exe dir>/../disklib/bblib.so (the build tree).
std::vector<std::filesystem::path> diskLibraryCandidates();

// The first candidate that exists, else the first candidate (whose load then fails with a
// clear message).
std::filesystem::path findDiskLibrary();

}  // namespace tamsel
