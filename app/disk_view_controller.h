// The disk view's logic without a window: list the disks, keep the selected row, start the
// raw scan of it, go home. A front end shows the tree through DiskView and forwards the
// outline's selection and the two buttons.
#pragma once

#include <memory>
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
};

class PRDiskViewController {
 public:
  // `view` may be null (headless). The tree reads volume names with `reader` (default:
  // getDiskInfo_aux).
  explicit PRDiskViewController(OrliskAppDelegate& app, DiskView* view = nullptr,
                                PRDiskFileController::VolumeNameReader reader = {});

  // Lists the disks anew (the tables and the tree are replaced), hands the disk table to the
  // application controller and shows the tree.
  void showView();
  // The outline's selection: with a row, it becomes currentScanNode and its disk the
  // controller's currentDiskName; null (no selection) changes nothing.
  void outlineViewSelectionDidChange(const std::shared_ptr<PRDiskInfoNode>& row);
  // The scan button: with a row selected, prepares the result screen for a raw scan and
  // starts the scan of that row; false (nothing happens) without a row or while a raw
  // scan still runs.
  bool CilckScan();
  // The home button: back to the home view.
  void ClickHome();

  std::shared_ptr<PRDiskInfoNode> currentScanNode() const { return currentScanNode_; }
  PRDiskFileController& diskFileController() { return diskFileController_; }

 private:
  OrliskAppDelegate& app_;
  DiskView nullView_;
  DiskView* view_;
  PRDiskFileController diskFileController_;
  std::shared_ptr<PRDiskInfoNode> currentScanNode_;
};

}  // namespace tamsel
