// The disk view's logic without a window: list the disks, keep the selected row, start the
// raw scan of it (after the user confirmed when it is the system disk), add image files
// (kept in a list between runs) and take them off that list again, go home. A front end
// shows the tree through DiskView and forwards the outline's selection and the buttons.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "events/records.h"
#include "raw/disk_tree.h"

namespace tamsel {

class OrliskAppDelegate;

// What the disk view asks of its window; the default does nothing (headless).
class DiskView {
 public:
  virtual ~DiskView() = default;
  // Shows the rows with every disk row expanded.
  virtual void showDiskTree(const std::vector<std::shared_ptr<PRDiskInfoNode>>& /*rows*/) {}
  virtual void hideDiskView() {}
  virtual void showDiskView() {}
  virtual void fixWindowSize(int /*width*/, int /*height*/) {}
  // Asks whether the system disk `row` lies on may be scanned; true: scan it. Headless
  // callers (the command line) named the device themselves, so the default scans it.
  virtual bool confirmSystemDiskScan(const PRDiskInfoNode& /*row*/) { return true; }
};

// The file that keeps the added image files between runs: $XDG_CONFIG_HOME (else
// ~/.config) /tamsel/disk-images; empty when neither is known.
std::string defaultImageListFile();
// The paths in an image list file, one a line; none when it is missing.
std::vector<std::string> readImageList(const std::string& file);
// Writes the list (its folder created when missing) to a temporary file renamed over it, so
// the list is replaced whole or not at all; false (and a log line) when it cannot be written.
bool writeImageList(const std::string& file, const std::vector<std::string>& paths);

class PRDiskViewController {
 public:
  // `view` may be null (headless). The tree reads volume names with `reader` (default: the
  // labels of each disk's details).
  // `imageListFile` keeps the added images between runs (the desktop program gives
  // defaultImageListFile()); empty: added images are kept for this run only and no list is
  // read.
  explicit PRDiskViewController(OrliskAppDelegate& app, DiskView* view = nullptr,
                                PRDiskFileController::VolumeNameReader reader = {},
                                std::string imageListFile = {});

  // Lists the disks anew (the tables and the tree are replaced), hands the disk table to the
  // application controller and shows the tree. The first time, the images added in earlier
  // runs are handed to the library first; those whose file is gone are dropped from the
  // list with a log line. Images taken off the list are not shown.
  void showView();
  // The Refresh button: lists the disks anew.
  void refresh() { showView(); }
  // The "Add image file…" button's choice: lists the image (a regular file or a block
  // device) as a disk from now on, keeps it in the list and lists the disks anew. A file
  // listed already (under this or another name: a link, an image the environment offers, a
  // disk) is not added again. False (with a log line) when it is not such a file or the
  // library cannot take it.
  bool addImageFile(const std::string& path);
  // Whether the "Remove image" button applies to `row`: the row of a whole image file on the
  // user's list (not a partition, not a disk of the system, not an image only the
  // TAMSEL_DISKLIB_IMAGES variable offers).
  bool canRemoveImage(const PRDiskInfoNode& row) const;
  // Takes the added image at `path` off the list, writes the list back and lists the disks
  // anew without it. The image file itself is left as it is. False when `path` is not on
  // the list or canRemoveImage() says no.
  bool removeImageFile(const std::string& path);
  // The images added and kept, in order.
  const std::vector<std::string>& addedImages() const { return addedImages_; }
  // The disk row showing the file `path` names (under any name), or null.
  std::shared_ptr<PRDiskInfoNode> rowOfFile(const std::string& path) const;
  // The disk rows shown, in the library's order.
  const std::vector<std::shared_ptr<PRDiskInfoNode>>& rows() const { return rows_; }
  // The outline's selection: with a row, it becomes currentScanNode and its disk the
  // controller's currentDiskName; null (no selection) changes nothing.
  void outlineViewSelectionDidChange(const std::shared_ptr<PRDiskInfoNode>& row);
  // The scan button: with a row selected, prepares the result screen for a raw scan and
  // starts the scan of that row; false (nothing happens) without a row, while a raw scan
  // still runs, or when the row lies on the system disk and the view's question is not
  // answered yes.
  bool CilckScan();
  // The home button: back to the home view.
  void ClickHome();

  std::shared_ptr<PRDiskInfoNode> currentScanNode() const { return currentScanNode_; }
  PRDiskFileController& diskFileController() { return diskFileController_; }

 private:
  OrliskAppDelegate& app_;
  DiskView nullView_;
  DiskView* view_;
  void loadAddedImages();

  PRDiskFileController diskFileController_;
  std::shared_ptr<PRDiskInfoNode> currentScanNode_;
  std::string imageListFile_;
  std::vector<std::string> addedImages_;
  std::vector<std::shared_ptr<PRDiskInfoNode>> rows_;
  bool imagesLoaded_ = false;
};

}  // namespace tamsel
