#include "gui/backup_table_model.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <charconv>
#include <cstdint>
#include <limits>

#include "util/format.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A dark rounded body with a light screen and a round home button below it; a tablet is
// three quarters as wide as it is high, a phone half.
QPixmap drawDevice(bool tablet, int height) {
  const qreal h = height;
  const qreal w = tablet ? h * 0.75 : h * 0.5;
  QPixmap pm(static_cast<int>(w + 0.999), height);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal line = std::max<qreal>(1.0, h / 24.0);
  const QRectF body(line / 2, line / 2, w - line, h - line);
  p.setPen(QPen(QColor(0x2b, 0x2b, 0x2e), line));
  p.setBrush(QColor(0x44, 0x46, 0x4b));
  p.drawRoundedRect(body, w * 0.16, w * 0.16);
  const qreal side = w * (tablet ? 0.1 : 0.12);
  const qreal top = h * 0.12;
  const QRectF screen(side, top, w - 2 * side, h - top * 2);
  p.setPen(Qt::NoPen);
  QLinearGradient glass(screen.topLeft(), screen.bottomRight());
  glass.setColorAt(0, QColor(0x9f, 0xd0, 0xf5));
  glass.setColorAt(1, QColor(0x3c, 0x7e, 0xc2));
  p.setBrush(glass);
  p.drawRect(screen);
  const qreal button = std::max<qreal>(1.5, h * 0.07);
  p.setBrush(QColor(0x8a, 0x8c, 0x90));
  p.drawEllipse(QPointF(w / 2, h - top / 2), button / 2, button / 2);
  return pm;
}

}  // namespace

QPixmap devicePicture(const QString& name, int height) {
  const bool tablet = name == QLatin1String("ipad");
  const QString key =
      QStringLiteral("tamsel-device-%1-%2").arg(tablet ? "ipad" : "iphone").arg(height);
  QPixmap pm;
  if (!QPixmapCache::find(key, &pm)) {
    pm = drawDevice(tablet, std::max(height, 8));
    QPixmapCache::insert(key, pm);
  }
  return pm;
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
