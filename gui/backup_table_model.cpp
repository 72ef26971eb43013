#include "gui/backup_table_model.h"

#include <QFont>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "gui/icon_set.h"
#include "util/format.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QPixmap devicePicture(const QString& name, int height) {
  const int h = std::max(height, 8);
  // The icon keeps the picture's proportions: a phone half as wide as high, a tablet three
  // quarters.
  return iconFor(name == QLatin1String("ipad") ? "ipad" : "iphone").pixmap(QSize(h, h));
}

void BackupTableModel::setNodes(std::vector<std::shared_ptr<PRIOSDeviceNode>> nodes) {
  beginResetModel();
  nodes_ = std::move(nodes);
  endResetModel();
}

int BackupTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(nodes_.size());
}

int BackupTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QString BackupTableModel::sizeText(const std::string& decimalBytes) {
  uint64_t bytes = 0;
  const char* end = decimalBytes.data() + decimalBytes.size();
  const auto [ptr, ec] = std::from_chars(decimalBytes.data(), end, bytes);
  if (decimalBytes.empty() || ec != std::errc() || ptr != end) return {};
  if (bytes > std::numeric_limits<uint32_t>::max()) return qs(decimalBytes) + QLatin1Char('B');
  return qs(size_to_unit(static_cast<uint32_t>(bytes)));
}

QString BackupTableModel::text(const PRIOSDeviceNode& node, int column) const {
  switch (column) {
    case kName: {
      QString name = qs(node.strDeviceName);
      if (node.encrypted) name += QLatin1String(kEncryptedMark);
      return name;
    }
    case kModel:
      return qs(node.strDeviceType);
    case kVersion:
      return qs(node.strIOSVersion);
    case kBackupTime:
      return qs(node.strDeviceBackUpTime);
    case kSize:
      return sizeText(node.strDeviceSize);
    default:
      return {};
  }
}

QVariant BackupTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const std::shared_ptr<PRIOSDeviceNode>& node = nodes_[index.row()];
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
      return text(*node, index.column());
    case Qt::DecorationRole:
      if (index.column() != kName) return {};
      return devicePicture(qs(node->deviceImage), 16);
    case Qt::FontRole: {
      QFont font(QString::fromLatin1(kFontFamily));
      font.setPointSize(kFontPoints);
      return font;
    }
    case Qt::ToolTipRole:
      if (index.column() != kName) return text(*node, index.column());
      return node->encrypted
                 ? qs(node->backUpFilePath) + QStringLiteral(
                                                  "\nThe backup is encrypted: its databases "
                                                  "cannot be read without the password.")
                 : qs(node->backUpFilePath);
    default:
      return {};
  }
}

QVariant BackupTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::FontRole) {
    // The header in the rows' font, so that the titles do not look smaller than the rows.
    QFont font(QString::fromLatin1(kFontFamily));
    font.setPointSize(kFontPoints);
    return font;
  }
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  switch (section) {
    case kName:
      return QStringLiteral("Name");
    case kModel:
      return QStringLiteral("Model");
    case kVersion:
      return QStringLiteral("Version");
    case kBackupTime:
      return QStringLiteral("Backup Time");
    case kSize:
      return QStringLiteral("Size");
    default:
      return {};
  }
}

}  // namespace tamsel
