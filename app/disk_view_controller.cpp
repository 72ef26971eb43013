#include "app/disk_view_controller.h"

#include "app/orlisk_app_delegate.h"
#include "util/log.h"

namespace tamsel {

PRDiskViewController::PRDiskViewController(OrliskAppDelegate& app, DiskView* view,
                                           PRDiskFileController::VolumeNameReader reader)
    : app_(app),
      view_(view != nullptr ? view : &nullView_),
      diskFileController_(app.diskTable(), std::move(reader)) {}

void PRDiskViewController::showView() {
  view_->showDiskView();
  diskFileController_.setTable(app_.diskTable());
  if (diskFileController_.initDisk() == 0) logLine("The disk library cannot list the disks");
  diskFileController_.initVolumeName();
  diskFileController_.addDeepDeviceList();
  app_.diskHandles = diskFileController_.disks();
  view_->showDiskTree(diskFileController_.content());
}

void PRDiskViewController::outlineViewSelectionDidChange(
    const std::shared_ptr<PRDiskInfoNode>& row) {
  if (!row) return;
  currentScanNode_ = row;
  app_.currentDiskName = row->diskdev;
}

bool PRDiskViewController::CilckScan() {
  if (!currentScanNode_ || app_.rawScanRunning()) return false;
  view_->fixWindowSize(849, 620);
  // The flag is set and the result screen prepared before the scan thread posts anything.
  app_.brawScan_ = true;
  app_.showResultView();
  if (!app_.QuickScanStart(currentScanNode_)) return false;
  view_->hideDiskView();
  return true;
}

void PRDiskViewController::ClickHome() {
  view_->fixWindowSize(849, 560);
  view_->hideDiskView();
  app_.showMainView();
}

}  // namespace tamsel
