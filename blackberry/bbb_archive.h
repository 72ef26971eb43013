// BBB archives: a ZIP that holds either "Databases/Databases.ipd" (Mac layout) or a
// "Databases" folder with one file per database, "1.dat" and on (Windows layout). The
// archive is copied into the work folder and unpacked there; the user's file is only read.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tamsel {

struct BbbPreparation {
  // The IPD file to read (work folder's "Databases/Databases.ipd"), none when the chosen
  // file is not a .bbb archive and is read as an IPD file itself.
  std::optional<std::string> ipdPath;
  bool windowsLayout = false;  // read the folder "Databases" file by file instead
  std::string error;           // set when the archive could not be unpacked
  int refusedEntries = 0;      // entries refused for leaving the work folder
};

// Prepares the chosen backup at `path`. Only the exact suffix "bbb" marks an archive
// ("BBB" in capitals is read as an IPD file). Each archive is unpacked into an emptied
// "Databases" folder, so two archives opened in one run never mix.
BbbPreparation checkTheBackUpFile(const std::string& path, const std::filesystem::path& workDir);

// Unpacks the ZIP archive at `zipPath` into `destDir` without overwriting files already
// there. Entries with absolute paths or ".." components are refused (logged, counted);
// only regular files and folders are created. Returns false with `error` set when the file
// is not a readable ZIP archive.
bool unpackArchive(const std::filesystem::path& zipPath, const std::filesystem::path& destDir,
                   std::string* error, int* refusedEntries);

}  // namespace tamsel
