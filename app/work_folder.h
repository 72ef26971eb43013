// The private work folder: where a .bbb archive is copied and unpacked. The user's files
// are never written to; everything the scan needs to write goes here.
#pragma once

#include <filesystem>
#include <string>

namespace tamsel {

// $TAMSEL_WORK_DIR when set, otherwise $HOME/Downloads/com.Veltrane.Tamsel.
std::filesystem::path defaultWorkDir();

// Removes the previous run's work files: the "Databases" folder (recursively), then
// "BlackBerry_Backup.xml", then "BlackBerry.zip". Missing files are not an error; other
// failures are logged and ignored.
void cleanWorkFolder(const std::filesystem::path& workDir);

}  // namespace tamsel
