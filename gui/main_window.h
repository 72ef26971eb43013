// The main window: the home view with its two sources and the table of the phone backups
// found on the computer, the disk view of the memory-card source and the result screen. It
// implements the controller's MainView and hands the user's choices to the controller
// (OrliskAppDelegate); the scanning itself happens in the core.
#pragma once

#include <QInputDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <functional>
#include <string>

#include "app/main_view.h"
#include "gui/backup_table_model.h"
#include "gui/disk_view_widget.h"
#include "gui/result_widget.h"

class QLabel;
class QStackedWidget;
class QTableView;

namespace tamsel {

class OrliskAppDelegate;

// A source button of the home view that reports the pointer entering and leaving it. It is
// drawn as its frame picture (the button's background, stretched to its size) with its
// picture left of its text.
class HoverButton : public QPushButton {
 public:
  HoverButton(const QString& text, QWidget* parent, std::function<void(bool entered)> hover);

  // The pictures by resource name: `frame` the background ("firstBtn"; while the mouse button
  // holds it down the button shows "firstBtnDown"), `picture` the icon ("ipdBtn"). Kept in the
  // "frame" and "picture" properties too.
  void setPictures(const QString& frame, const QString& picture);
  const QIcon& frame() const { return frame_; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void(bool)> hover_;
  QIcon frame_;
};

class MainWindow : public QMainWindow, public MainView {
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Connects the window to the controller: the result screen becomes the controller's
  // result view and the hover notifications go to its centre. Call once, before show().
  void attach(OrliskAppDelegate& controller);
  // Forgets the controller (before it is destroyed; call shutDown() first).
  void detach();

  // The backup-file button: a file chooser limited to .bbb and .ipd files, starting in the
  // Documents folder, shown as a sheet.
  void chooseBackupFile();
  // "Choose backup folder…": a folder chooser (folders only) starting in the backup root; the
  // chosen folder is scanned as a chosen backup file is.
  void chooseBackupFolder();
  // The Scan button under the backup table: the controller scans the selected row's backup.
  void scanSelectedBackup();
  // The selected row of the backup table, or -1.
  int selectedBackupRow() const;
  // A chosen backup: 0.1 s later the controller starts the scan (or, while the previous scan
  // is still ending, an alert says so).
  void backupFileChosen(const QString& path);
  // The end of a scan: an input that is not a backup gets an alert with the reason, then the
  // home view (not an empty result screen); a damaged one keeps its results and gets an
  // alert listing the damaged parts. UI thread.
  void showScanOutcome(const ScanOutcome& outcome);
  // The alert showScanOutcome has open, or null.
  QMessageBox* outcomeAlert() const { return outcomeAlert_.data(); }
  // The password dialog of an encrypted phone backup while it is open, or null.
  QInputDialog* passwordDialog() const { return passwordDialog_.data(); }
  // Stops the running scan (backup or memory card) and waits for it, releasing a worker
  // that waits for the UI thread. Called when the window closes; safe to call again. The owner
  // calls it (and detach()) before it destroys the controller.
  void shutDown();

  ResultWidget* resultWidget() const { return result_; }
  QWidget* homePage() const { return home_; }
  DiskViewWidget* diskPage() const { return disk_; }
  QWidget* currentPage() const;
  HoverButton* backupFileButton() const { return backupButton_; }
  HoverButton* memoryCardButton() const { return cardButton_; }
  QLabel* hintLabel() const { return hint_; }
  QTableView* backupTable() const { return backupTable_; }
  BackupTableModel* backupModel() const { return backupModel_; }
  QPushButton* backupScanButton() const { return backupScan_; }
  QPushButton* chooseFolderButton() const { return chooseFolder_; }
  // The line under the backup table that says where backups are looked for when there is
  // none.
  QLabel* backupListHint() const { return backupHint_; }
  // The "suggestions" line of the home view: shown, with a link, only when an http or https
  // address is configured (TAMSEL_SUGGESTIONS_URL by default); an empty or refused address
  // hides it.
  void setSuggestionsAddress(const std::string& url);
  QLabel* suggestionsLabel() const { return suggestions_; }
  // How the link is opened (QDesktopServices by default).
  void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }

  // MainView.
  void hideMainView() override;
  void showMainView() override;
  void setWindowScanSize(bool scanning) override;
  void showResultView() override;
  void showDiskView() override;
  void setHintText(const std::string& text) override;
  void setButtonPictures(std::string_view button, const std::string& frame,
                         const std::string& picture) override;
  void setScanButtonEnabled(bool enabled) override;
  void showBackupList(const std::vector<std::shared_ptr<PRIOSDeviceNode>>& nodes,
                      const std::string& root) override;
  // From the scan's worker: handed to the UI thread (showScanOutcome).
  void scanEnded(const ScanOutcome& outcome) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* buildHome();
  QWidget* buildBackupSection(QWidget* parent);
  // The alert shown when a scan is refused because the previous one is still ending.
  void showStillEnding(const QString& again);
  // For an encrypted phone backup at `folder`: asks for its password (a window-modal dialog),
  // hands it to the controller and runs `scan`; Cancel runs nothing. For any other input runs
  // `scan` at once.
  void scanWithPassword(const std::string& folder, std::function<void()> scan);
  void postHover(std::string_view button, bool entered);

  OrliskAppDelegate* controller_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QWidget* home_ = nullptr;
  QWidget* homeContent_ = nullptr;
  DiskViewWidget* disk_ = nullptr;
  ResultWidget* result_ = nullptr;
  HoverButton* backupButton_ = nullptr;
  HoverButton* cardButton_ = nullptr;
  QLabel* hint_ = nullptr;
  QLabel* suggestions_ = nullptr;
  QString suggestionsUrl_;
  std::function<void(const QUrl&)> openUrl_;
  QTableView* backupTable_ = nullptr;
  BackupTableModel* backupModel_ = nullptr;
  QPushButton* backupScan_ = nullptr;
  QPushButton* chooseFolder_ = nullptr;
  QLabel* backupHint_ = nullptr;
  QString backupRoot_;
  QPointer<QMessageBox> outcomeAlert_;  // null again once the alert is closed
  QPointer<QInputDialog> passwordDialog_;
  bool closing_ = false;
};

}  // namespace tamsel
