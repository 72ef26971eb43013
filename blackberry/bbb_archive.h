// BBB archives: a ZIP that holds either "Databases/Databases.ipd" (Mac layout) or a
// "Databases" folder with one file per database, "1.dat" and on (Windows layout), next to
// "BlackBerry_Backup.xml". The archive is read in place (the user's file is only read) and
// the entries the scan reads are unpacked into the scan's run folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

// No archive may claim more unpacked bytes than this multiple of its own size: deflate
// cannot do better than about 1032:1, so an archive that claims more lies about its sizes.
inline constexpr uint64_t kMaxUnpackRatio = 1032;

struct BbbPreparation {
  // The IPD file to read (the run folder's "Databases/Databases.ipd"); none when the archive
  // could not be unpacked or holds the Windows layout.
  std::optional<std::string> ipdPath;
  bool windowsLayout = false;         // read `databasesFolder` file by file instead
  std::string databasesFolder;        // the run folder's "Databases"
  std::string error;                  // set when the archive could not be read or was refused
  int refusedEntries = 0;             // entries refused (paths leaving the folder, sizes that lie)
  std::vector<std::string> warnings;  // refused or unreadable entries, one line each
};

// Unpacks the backup entries of the .bbb archive at `path` into `runDir` (which must be
// the scan's own, empty run folder). The layout is that of what was unpacked: Mac when
// "Databases/Databases.ipd" is there, else Windows when "Databases/1.dat" is; an archive
// with neither is an error ("holds no BlackBerry databases").
BbbPreparation checkTheBackUpFile(const std::string& path, const std::filesystem::path& runDir,
                                  const std::atomic<bool>* stop = nullptr);

// True for the entries a backup scan reads: "BlackBerry_Backup.xml" and the files directly
// inside "Databases".
bool isBackupEntry(const std::filesystem::path& relative);

struct UnpackReport {
  int refusedEntries = 0;
  std::vector<std::string> warnings;
  uint64_t bytesWritten = 0;
};

// Unpacks the entries of the ZIP archive at `zipPath` for which `wanted` holds into
// `destDir`, never replacing a file already there. Entries with absolute paths or ".."
// components are refused; only regular files and their folders are created. Each entry is
// written up to its declared size: one that inflates past it is refused and its partial
// file removed. Returns false with `error` set when the file is not a readable ZIP archive,
// or when its wanted entries claim more bytes than the destination's disk has free or than
// kMaxUnpackRatio times the archive's size (nothing is written then). `stop`, when set,
// ends the unpacking between blocks.
bool unpackArchive(const std::filesystem::path& zipPath, const std::filesystem::path& destDir,
                   const std::function<bool(const std::filesystem::path&)>& wanted,
                   std::string* error, UnpackReport* report,
                   const std::atomic<bool>* stop = nullptr);

}  // namespace tamsel
