// What the application controller asks of its window. The Qt front end implements it; the
// command line and the tests run with the do-nothing default.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "events/scan_source.h"
#include "ios/device_list.h"

namespace tamsel {

// Hover buttons of the home view, as carried by the hover notifications.
inline constexpr std::string_view kBackupFileButton = "backupFileButton";
inline constexpr std::string_view kMemoryCardButton = "memoryCardButton";

class MainView {
 public:
  virtual ~MainView() = default;
  virtual void hideMainView() {}
  virtual void showMainView() {}
  // 849 x 560 for the home view, 850 x 620 while a scan is shown.
  virtual void setWindowScanSize(bool /*scanning*/) {}
  virtual void showResultView() {}
  virtual void showDiskView() {}
  virtual void setHintText(const std::string& /*text*/) {}
  // Pictures by resource name for the frame and the hovered button.
  virtual void setButtonPictures(std::string_view /*button*/, const std::string& /*frame*/,
                                 const std::string& /*picture*/) {}
  virtual void setScanButtonEnabled(bool /*enabled*/) {}
  // The phone-backup table of the home view (showIphoneDiskView): the backup list's nodes in
  // display order, and the root folder they were looked for in (named when there is none).
  // UI thread; replaces what the table showed and leaves no row selected.
  virtual void showBackupList(const std::vector<std::shared_ptr<PRIOSDeviceNode>>& /*nodes*/,
                              const std::string& /*root*/) {}
  // How a backup scan ended; called on the scan's worker thread once the result screen has
  // finished, so a window hands it to its own thread (e.g. to show an alert).
  virtual void scanEnded(const ScanOutcome& /*outcome*/) {}
};

}  // namespace tamsel
