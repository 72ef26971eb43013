// The disk view: the disks the disk library lists, each with its partitions, for the user
// to pick what a memory-card scan reads, with their sizes, models, file systems and labels;
// the system disk is marked and scanning it asks first. It draws what PRDiskViewController
// asks for and hands the selection and the buttons (Home, Add image file…, Remove image,
// Refresh, Scan; Delete on an added image's row removes it too) back to it; the listing and
// the scan happen in the core.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "app/disk_view_controller.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamsel {

class OrliskAppDelegate;

class DiskViewWidget : public QWidget, public DiskView {
 public:
  // Columns of the tree.
  enum Column {
    kNameColumn = 0,
    kSizeColumn,
    kTypeColumn,  // the file system
    kModelColumn,
    kNoteColumn,  // "System disk", "Removable", "Image file", "Missing"
    kDeviceColumn,
    kColumnCount
  };

  // Answers the system-disk question (its text); true: scan. Default: a message box.
  using SystemDiskConfirmer = std::function<bool(const QString& question)>;
  // Chooses an image file; empty: cancelled. Default: a file chooser.
  using ImageFileChooser = std::function<QString()>;

  explicit DiskViewWidget(QWidget* parent = nullptr);
  ~DiskViewWidget() override;

  // Creates the disk view's controller over `app`. Call once, before showView().
  void attach(OrliskAppDelegate& app);
  // Drops the controller (before the application controller goes).
  void detach();

  // Lists the disks anew and shows them; the selection is cleared.
  void showView();

  // The row shown by a tree item, or null.
  std::shared_ptr<PRDiskInfoNode> rowOf(const QTreeWidgetItem* item) const;
  // The top-level item of the disk at this device path, or null.
  QTreeWidgetItem* diskItem(const QString& devicePath) const;

  PRDiskViewController* controller() const { return controller_.get(); }
  QTreeWidget* tree() const { return tree_; }
  QPushButton* scanButton() const { return scan_; }
  QPushButton* homeButton() const { return home_; }
  QLabel* infoLabel() const { return info_; }
  // The line describing the selected row.
  QLabel* detailLabel() const { return detail_; }
  QPushButton* refreshButton() const { return refresh_; }
  QPushButton* addImageButton() const { return addImage_; }
  // Enabled while the row of an added image file is selected.
  QPushButton* removeImageButton() const { return removeImage_; }

  void setSystemDiskConfirmer(SystemDiskConfirmer confirmer) { confirmer_ = std::move(confirmer); }
  void setImageFileChooser(ImageFileChooser chooser) { chooser_ = std::move(chooser); }

  // The text of a row's size column, its note column and its detail line.
  static QString sizeText(const PRDiskInfoNode& row);
  static QString noteText(const PRDiskInfoNode& row);
  static QString detailText(const PRDiskInfoNode& row);

  // DiskView.
  void showDiskTree(const std::vector<std::shared_ptr<PRDiskInfoNode>>& rows) override;
  void hideDiskView() override;
  void showDiskView() override;
  void fixWindowSize(int width, int height) override;
  bool confirmSystemDiskScan(const PRDiskInfoNode& row) override;

 protected:
  // Delete in the tree: removeImageClicked().
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTreeWidgetItem* addRow(const std::shared_ptr<PRDiskInfoNode>& row, QTreeWidgetItem* parent);
  void selectionChanged();
  void scanClicked();
  void homeClicked();
  void refreshClicked();
  void addImageClicked();
  void removeImageClicked();
  // The selected row, or null.
  std::shared_ptr<PRDiskInfoNode> selectedRow() const;
  // Selects the row of this device and partition again after a new listing, if it is there.
  void reselect(const std::string& devicePath, int32_t deviceIndex);

  OrliskAppDelegate* app_ = nullptr;
  std::unique_ptr<PRDiskViewController> controller_;
  QWidget* content_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QLabel* info_ = nullptr;
  QLabel* detail_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* home_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QPushButton* addImage_ = nullptr;
  QPushButton* removeImage_ = nullptr;
  SystemDiskConfirmer confirmer_;
  ImageFileChooser chooser_;
  // The rows behind the items; the tree and this map are replaced together.
  std::unordered_map<const QTreeWidgetItem*, std::shared_ptr<PRDiskInfoNode>> rows_;
};

}  // namespace tamsel
