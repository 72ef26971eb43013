// The disk view: the disks the disk library lists, each with its partitions, for the user
// to pick what a memory-card scan reads. It draws what PRDiskViewController asks for and
// hands the selection and the Scan and Home buttons back to it; the listing and the scan
// happen in the core.
#pragma once

#include <QWidget>
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
  enum Column { kNameColumn = 0, kTypeColumn = 1, kDeviceColumn = 2 };

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

  // DiskView.
  void showDiskTree(const std::vector<std::shared_ptr<PRDiskInfoNode>>& rows) override;
  void hideDiskView() override;
  void showDiskView() override;
  void fixWindowSize(int width, int height) override;

 private:
  QTreeWidgetItem* addRow(const std::shared_ptr<PRDiskInfoNode>& row, QTreeWidgetItem* parent);
  void selectionChanged();
  void scanClicked();
  void homeClicked();

  OrliskAppDelegate* app_ = nullptr;
  std::unique_ptr<PRDiskViewController> controller_;
  QWidget* content_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QLabel* info_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* home_ = nullptr;
  // The rows behind the items; the tree and this map are replaced together.
  std::unordered_map<const QTreeWidgetItem*, std::shared_ptr<PRDiskInfoNode>> rows_;
};

}  // namespace tamsel
