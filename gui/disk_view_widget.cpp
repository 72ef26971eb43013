#include "gui/disk_view_widget.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/orlisk_app_delegate.h"
#include "gui/icon_set.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// The file system shown for a row: the library's name, else the system's.
QString fileSystemText(const PRDiskInfoNode& row) {
  return qs(!row.partitionType.empty() ? row.partitionType : row.fileSystem);
}

}  // namespace

DiskViewWidget::DiskViewWidget(QWidget* parent) : QWidget(parent) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  content_ = new QWidget(this);
  outer->addWidget(content_);
  auto* v = new QVBoxLayout(content_);
  v->setContentsMargins(30, 24, 30, 20);

  auto* title = new QLabel(QStringLiteral("Memory Card Recovery"), content_);
  QFont f = title->font();
  f.setPointSize(18);
  f.setBold(true);
  title->setFont(f);
  v->addWidget(title);

  info_ = new QLabel(content_);
  info_->setWordWrap(true);
  v->addWidget(info_);

  tree_ = new QTreeWidget(content_);
  tree_->setColumnCount(kColumnCount);
  tree_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"),
                          QStringLiteral("File system"), QStringLiteral("Model"), QString(),
                          QStringLiteral("Device")});
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->header()->setStretchLastSection(true);
  tree_->setColumnWidth(kNameColumn, 220);
  tree_->setColumnWidth(kSizeColumn, 70);
  tree_->setColumnWidth(kTypeColumn, 80);
  tree_->setColumnWidth(kModelColumn, 150);
  tree_->setColumnWidth(kNoteColumn, 90);
  tree_->headerItem()->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
  v->addWidget(tree_, 1);

  detail_ = new QLabel(content_);
  detail_->setWordWrap(true);
  detail_->setTextFormat(Qt::PlainText);
  v->addWidget(detail_);

  auto* buttons = new QHBoxLayout();
  home_ = new QPushButton(QStringLiteral("Home"), content_);
  addImage_ = new QPushButton(QStringLiteral("Add image file…"), content_);
  removeImage_ = new QPushButton(QStringLiteral("Remove image"), content_);
  removeImage_->setEnabled(false);
  removeImage_->setToolTip(
      QStringLiteral("Takes the selected image off the list; the file itself is kept"));
  refresh_ = new QPushButton(QStringLiteral("Refresh"), content_);
  scan_ = new QPushButton(QStringLiteral("Scan"), content_);
  scan_->setDefault(true);
  scan_->setEnabled(false);
  for (QPushButton* b : {home_, addImage_, removeImage_, refresh_, scan_}) {
    b->setMinimumWidth(110);
  }
  buttons->addWidget(home_);
  buttons->addWidget(addImage_);
  buttons->addWidget(removeImage_);
  buttons->addWidget(refresh_);
  buttons->addStretch(1);
  buttons->addWidget(scan_);
  v->addLayout(buttons);

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item != nullptr && rowOf(item)) scanClicked();
  });
  connect(scan_, &QPushButton::clicked, this, [this] { scanClicked(); });
  connect(home_, &QPushButton::clicked, this, [this] { homeClicked(); });
  connect(refresh_, &QPushButton::clicked, this, [this] { refreshClicked(); });
  connect(addImage_, &QPushButton::clicked, this, [this] { addImageClicked(); });
  connect(removeImage_, &QPushButton::clicked, this, [this] { removeImageClicked(); });
  tree_->installEventFilter(this);
}

DiskViewWidget::~DiskViewWidget() = default;

void DiskViewWidget::attach(OrliskAppDelegate& app) {
  app_ = &app;
  controller_ = std::make_unique<PRDiskViewController>(
      app, this, PRDiskFileController::VolumeNameReader{}, defaultImageListFile());
}

void DiskViewWidget::detach() {
  controller_.reset();
  app_ = nullptr;
}

void DiskViewWidget::showView() {
  if (!controller_) {
    showDiskTree({});
    return;
  }
  controller_->showView();
}

std::shared_ptr<PRDiskInfoNode> DiskViewWidget::rowOf(const QTreeWidgetItem* item) const {
  auto it = rows_.find(item);
  return it != rows_.end() ? it->second : nullptr;
}

QTreeWidgetItem* DiskViewWidget::diskItem(const QString& devicePath) const {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = tree_->topLevelItem(i);
    if (auto row = rowOf(item); row && qs(row->diskdev) == devicePath) return item;
  }
  return nullptr;
}

QTreeWidgetItem* DiskViewWidget::addRow(const std::shared_ptr<PRDiskInfoNode>& row,
                                        QTreeWidgetItem* parent) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(kNameColumn, qs(row->partitionName));
  item->setText(kSizeColumn, sizeText(*row));
  item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
  item->setText(kTypeColumn, fileSystemText(*row));
  item->setText(kModelColumn, qs(row->model));
  item->setText(kNoteColumn, noteText(*row));
  item->setText(kDeviceColumn, qs(row->diskdev));
  item->setToolTip(kDeviceColumn, qs(row->diskdev));
  const QString detail = detailText(*row);
  for (int c : {kNameColumn, kSizeColumn, kTypeColumn, kModelColumn, kNoteColumn}) {
    item->setToolTip(c, detail);
  }
  // An added image whose file went away while the program runs; it can still be removed.
  if (controller_ && controller_->canRemoveImage(*row) && !QFileInfo::exists(qs(row->diskdev))) {
    item->setText(kNoteColumn, QStringLiteral("Missing"));
  }
  if (row->bSystemDisk) {
    QFont bold = item->font(kNoteColumn);
    bold.setBold(true);
    item->setFont(kNoteColumn, bold);
  }
  // The row's picture by name ("partitionImg"); a name the icon set lacks gets the system's
  // drive icon.
  if (!row->partitionIcon.empty()) {
    QIcon icon = iconFor(row->partitionIcon);
    item->setIcon(kNameColumn,
                  icon.isNull() ? style()->standardIcon(QStyle::SP_DriveHDIcon) : icon);
  }
  rows_.emplace(item, row);
  return item;
}

void DiskViewWidget::showDiskTree(const std::vector<std::shared_ptr<PRDiskInfoNode>>& rows) {
  {
    const QSignalBlocker quiet(tree_);
    tree_->clear();
    rows_.clear();
    for (const auto& disk : rows) {
      if (!disk) continue;
      QTreeWidgetItem* item = addRow(disk, nullptr);
      for (const auto& part : disk->children) {
        if (part) addRow(part, item);
      }
    }
    tree_->expandAll();
  }
  scan_->setEnabled(false);
  removeImage_->setEnabled(false);
  detail_->clear();
  addImage_->setEnabled(app_ != nullptr && app_->diskTable() != nullptr);
  if (app_ == nullptr || app_->diskTable() == nullptr) {
    info_->setText(
        QStringLiteral("Memory card recovery needs the disk library (bblib.so), "
                       "which is not installed."));
  } else if (rows.empty()) {
    info_->setText(
        QStringLiteral("No memory card was found. Plug the card into the computer "
                       "and try again."));
  } else {
    info_->setText(
        QStringLiteral("Choose the memory card (or one of its partitions) and press "
                       "Scan."));
  }
}

void DiskViewWidget::hideDiskView() {
  content_->hide();
}

void DiskViewWidget::showDiskView() {
  content_->show();
}

void DiskViewWidget::fixWindowSize(int width, int height) {
  window()->setFixedSize(width, height);
}

QString DiskViewWidget::sizeText(const PRDiskInfoNode& row) {
  return row.sizeBytes > 0 ? qs(row.partitionSizeString) : QString();
}

QString DiskViewWidget::noteText(const PRDiskInfoNode& row) {
  if (row.bSystemDisk) return QStringLiteral("System disk");
  if (row.bImageFile) return QStringLiteral("Image file");
  if (row.bRemovable) return QStringLiteral("Removable");
  return {};
}

QString DiskViewWidget::detailText(const PRDiskInfoNode& row) {
  QStringList parts;
  const bool disk = row.deviceIndex == 255;
  parts << (disk ? qs(row.diskdev)
                 : QStringLiteral("Partition %1 of %2").arg(row.deviceIndex).arg(qs(row.diskdev)));
  if (!row.model.empty()) parts << qs(row.model);
  if (row.sizeBytes > 0) parts << qs(row.partitionSizeString);
  if (const QString fs = fileSystemText(row); !fs.isEmpty()) parts << fs;
  if (!row.volumeLabel.empty()) parts << QStringLiteral("label \"%1\"").arg(qs(row.volumeLabel));
  if (row.bImageFile) {
    parts << QStringLiteral("image file");
  } else if (row.bRemovable) {
    parts << QStringLiteral("removable");
  }
  QString text = parts.join(QStringLiteral(", "));
  if (row.bSystemDisk) text += QStringLiteral(". System disk: it holds the running system.");
  return text;
}

bool DiskViewWidget::confirmSystemDiskScan(const PRDiskInfoNode& row) {
  const QString question =
      QStringLiteral(
          "%1 is the system disk: it holds the running system. Scanning it reads "
          "the whole disk (nothing is written to it) and can take a long time.\n\n"
          "Scan the system disk?")
          .arg(qs(row.diskdev));
  if (confirmer_) return confirmer_(question);
  return QMessageBox::question(this, QStringLiteral("Tamsel"), question,
                               QMessageBox::Yes | QMessageBox::Cancel,
                               QMessageBox::Cancel) == QMessageBox::Yes;
}

void DiskViewWidget::refreshClicked() {
  if (!controller_) return;
  std::string device;
  int32_t index = -1;
  if (const QList<QTreeWidgetItem*> selected = tree_->selectedItems(); !selected.isEmpty()) {
    if (auto row = rowOf(selected.front())) {
      device = row->diskdev;
      index = row->deviceIndex;
    }
  }
  controller_->refresh();
  if (!device.empty()) reselect(device, index);
}

void DiskViewWidget::addImageClicked() {
  if (!controller_) return;
  QString path;
  if (chooser_) {
    path = chooser_();
  } else {
    path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Add image file"), QDir::homePath(),
        QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso);;All files (*)"));
  }
  if (path.isEmpty()) return;
  const std::string chosen = path.toStdString();
  if (!controller_->addImageFile(chosen)) {
    info_->setText(
        QStringLiteral("%1 cannot be added: it is not an image file or a disk.").arg(path));
    return;
  }
  // The new image (or the row that lists it already) is selected, ready to scan.
  if (const auto row = controller_->rowOfFile(chosen)) reselect(row->diskdev, 255);
}

void DiskViewWidget::removeImageClicked() {
  const std::shared_ptr<PRDiskInfoNode> row = selectedRow();
  if (!controller_ || !row || !controller_->canRemoveImage(*row)) return;
  const std::string path = row->diskdev;  // the row goes with the listing
  if (controller_->removeImageFile(path)) {
    info_->setText(
        QStringLiteral("%1 is no longer listed; the file itself is kept.").arg(qs(path)));
  }
}

bool DiskViewWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && removeImage_->isEnabled()) {
    removeImageClicked();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

std::shared_ptr<PRDiskInfoNode> DiskViewWidget::selectedRow() const {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  return selected.isEmpty() ? nullptr : rowOf(selected.front());
}

void DiskViewWidget::reselect(const std::string& devicePath, int32_t deviceIndex) {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* disk = tree_->topLevelItem(i);
    auto row = rowOf(disk);
    if (!row || row->diskdev != devicePath) continue;
    QTreeWidgetItem* found = deviceIndex == 255 ? disk : nullptr;
    for (int c = 0; found == nullptr && c < disk->childCount(); ++c) {
      auto part = rowOf(disk->child(c));
      if (part && part->deviceIndex == deviceIndex) found = disk->child(c);
    }
    if (found != nullptr) tree_->setCurrentItem(found);
    return;
  }
}

void DiskViewWidget::selectionChanged() {
  const std::shared_ptr<PRDiskInfoNode> row = selectedRow();
  // An image file that went away has nothing to scan.
  const bool gone = row &&
                    (row->bImageFile || (controller_ && controller_->canRemoveImage(*row))) &&
                    !QFileInfo::exists(qs(row->diskdev));
  scan_->setEnabled(row != nullptr && controller_ != nullptr && !gone);
  removeImage_->setEnabled(row != nullptr && controller_ && controller_->canRemoveImage(*row));
  detail_->setText(row ? detailText(*row) : QString());
  if (controller_) controller_->outlineViewSelectionDidChange(row);
}

void DiskViewWidget::scanClicked() {
  if (!controller_ || tree_->selectedItems().isEmpty()) return;
  // Refused while the previous raw scan is still ending; the view stays as it is.
  controller_->CilckScan();
}

void DiskViewWidget::homeClicked() {
  if (controller_) {
    controller_->ClickHome();
  } else if (app_ != nullptr) {
    app_->showMainView();
  }
}

}  // namespace tamsel
