// Reading the files of an input folder without ever leaving it. A phone backup is a folder
// of plain files and two-hex-digit subfolders; a symbolic link in it (in place of a file or
// of a subfolder) points out of the evidence, and a FIFO or device node in it is nothing a
// backup holds. Both are refused here: every component below the chosen folder is looked at
// and opened relative to the one before it, never following a link, and only a regular file
// is opened at the end. The chosen folder itself may be reached through links: the user
// named it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tamsel {

enum class EntryKind { missing, regular, folder, link, other };

// "a regular file", "a folder", "a symbolic link", "a FIFO, socket or device", "missing".
std::string_view entryKindText(EntryKind kind);

// What `relative` ("name" or "sub/name"; no "." or ".." components) is below the folder
// `root`, without following a link anywhere below `root`. A link in place of one of the
// subfolders makes the whole path a link; a file in place of one makes it missing.
// `size` (when given) gets a regular file's size.
EntryKind entryKindBeneath(const std::filesystem::path& root, std::string_view relative,
                           uint64_t* size = nullptr);

// Opens the regular file `relative` below `root` read-only the same way (openat with
// O_NOFOLLOW from `root` down; nothing that is not a regular file is opened at all). Returns
// the descriptor (blocking reads, close-on-exec), or -1 with `error` set to a line that
// names the path and what is in its place.
int openRegularBeneath(const std::filesystem::path& root, std::string_view relative,
                       std::string* error);

}  // namespace tamsel
