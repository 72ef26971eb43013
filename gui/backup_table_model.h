// The phone-backup table of the home view: one row per node of the backup list, in its
// order, with the device's picture beside its name. UI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QPixmap>
#include <QString>
#include <memory>
#include <vector>

#include "ios/device_list.h"

namespace tamsel {

// The pictures of the backup table by resource name: "ipad" a tablet, anything else
// ("iphone") a phone, `height` pixels high (the icon set's pictures of those names).
QPixmap devicePicture(const QString& name, int height);

class BackupTableModel : public QAbstractTableModel {
 public:
  enum ColumnId : int { kName, kModel, kVersion, kBackupTime, kSize, kColumns };

  // The font of every cell.
  static constexpr const char* kFontFamily = "Lucida Grande";
  static constexpr int kFontPoints = 11;
  // Added to the name of a backup whose files are encrypted.
  static constexpr const char* kEncryptedMark = " (encrypted)";

  explicit BackupTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Replaces every row (one model reset).
  void setNodes(std::vector<std::shared_ptr<PRIOSDeviceNode>> nodes);
  const std::vector<std::shared_ptr<PRIOSDeviceNode>>& nodes() const { return nodes_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The text of a size column cell: the byte count with its unit ("1.50K"); "" for an empty
  // or unreadable count.
  static QString sizeText(const std::string& decimalBytes);

 private:
  QString text(const PRIOSDeviceNode& node, int column) const;

  std::vector<std::shared_ptr<PRIOSDeviceNode>> nodes_;
};

}  // namespace tamsel
