// The command line's memory-card scan: the disk library lists the given device or image
// as a disk, the disk view's steps select its row and start the scan, and the result
// screen files what the library finds.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/disk_view_controller.h"
#include "cli/progress_bar.h"
#include "cli/scan_session.h"
#include "events/notification_names.h"
#include "raw/disk_library_path.h"
#include "raw/raw_scan.h"

namespace tamsel::cli {

std::string ScanSession::rawScan(const std::string& device, bool showProgress) {
  std::error_code ec;
  const std::string path = std::filesystem::absolute(device, ec).lexically_normal().string();
  struct stat st {};
  if (ec || ::stat(path.c_str(), &st) != 0) return device + ": " + std::strerror(errno);
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    return device + ": neither a disk nor an image file";
  }
  const std::filesystem::path library = findDiskLibrary();
  if (!controller_.initDll(library)) {
    return "cannot load the disk library " + library.string() + " (set TAMSEL_DISKLIB)";
  }
  const export_function_table* table = controller_.diskTable();
  if (table->addDiskImage != nullptr) table->addDiskImage(path.c_str());

  PRDiskViewController disks(controller_);
  disks.showView();
  std::shared_ptr<PRDiskInfoNode> row;
  for (const auto& r : disks.diskFileController().content()) {
    if (r->diskdev == path && r->deviceIndex == 255) row = r;
  }
  if (!row) return path + ": the disk library does not list it";
  disks.outlineViewSelectionDidChange(row);

  ProgressBar bar("Scanning");
  if (showProgress) {
    controller_.nc.addObserver(
        &bar, notify::kBlackBerryRawRecoveryProgress,
        [&bar](const Notification& n) { bar.update(static_cast<int>(n.number())); });
  }
  const bool started = disks.CilckScan();
  controller_.waitForRawScan();
  controller_.nc.removeObserver(&bar);
  bar.finish();
  return started ? "" : path + ": the scan could not start";
}

std::string ScanSession::loadDiskLibraryForCard(const std::string& path, bool* isCard) {
  *isCard = MemoryCardSource(nullptr).probe(path);
  if (!*isCard || controller_.diskTable() != nullptr) return "";
  const std::filesystem::path library = findDiskLibrary();
  if (!controller_.initDll(library)) {
    return path + ": a memory card, but the disk library " + library.string() +
           " cannot be loaded (set TAMSEL_DISKLIB)";
  }
  return "";
}

}  // namespace tamsel::cli
