// The end of a recovery: how many files were written into which folder, how many failed and
// why (the failure lines, scrollable), where the receipt is, and buttons to open the folder
// in the desktop's file manager or copy its path. When no file manager can be opened the
// dialog says so and shows the path.
//
// Also the save panel's helpers: the folder it starts in and whether a chosen folder lies on
// the device being scanned.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>
#include <string>

#include "results/recovery_writer.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tamsel {

class RecoveryReceiptDialog : public QDialog {
 public:
  // `openFolder` opens a folder URL and says whether a file manager took it.
  RecoveryReceiptDialog(const RecoveryReport& report, std::function<bool(const QUrl&)> openFolder,
                        QWidget* parent = nullptr);

  QLabel* summary() const { return summary_; }
  QPlainTextEdit* failures() const { return failures_; }
  QLabel* notice() const { return notice_; }
  QPushButton* openButton() const { return open_; }
  QPushButton* copyButton() const { return copy_; }

 private:
  void openFolder();

  QString folder_;
  std::function<bool(const QUrl&)> openFolder_;
  QLabel* summary_ = nullptr;
  QPlainTextEdit* failures_ = nullptr;
  QLabel* notice_ = nullptr;
  QPushButton* open_ = nullptr;
  QPushButton* copy_ = nullptr;
};

// The folder the save panel opens in: the user's Documents folder, else the home folder.
QString recoveryStartFolder();

// True when `folder` (or, while it does not exist yet, its nearest existing parent) lies on
// the device `source` was scanned from: a device node's own device (or the disk of which the
// folder's partition is part), else the file system holding the image file or backup.
bool onScannedDevice(const std::string& folder, const std::string& source);

}  // namespace tamsel
