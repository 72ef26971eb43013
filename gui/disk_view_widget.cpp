#include "gui/disk_view_widget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/orlisk_app_delegate.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
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
  tree_->setColumnCount(3);
  tree_->setHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Device")});
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->header()->setStretchLastSection(true);
  tree_->setColumnWidth(kNameColumn, 330);
  tree_->setColumnWidth(kTypeColumn, 120);
  v->addWidget(tree_, 1);

  auto* buttons = new QHBoxLayout();
  home_ = new QPushButton(QStringLiteral("Home"), content_);
  scan_ = new QPushButton(QStringLiteral("Scan"), content_);
  scan_->setDefault(true);
  scan_->setEnabled(false);
  for (QPushButton* b : {home_, scan_}) b->setMinimumWidth(110);
  buttons->addWidget(home_);
  buttons->addStretch(1);
  buttons->addWidget(scan_);
  v->addLayout(buttons);

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item != nullptr && rowOf(item)) scanClicked();
  });
  connect(scan_, &QPushButton::clicked, this, [this] { scanClicked(); });
  connect(home_, &QPushButton::clicked, this, [this] { homeClicked(); });
}

DiskViewWidget::~DiskViewWidget() = default;

void DiskViewWidget::attach(OrliskAppDelegate& app) {
  app_ = &app;
  controller_ = std::make_unique<PRDiskViewController>(app, this);
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
  item->setText(kTypeColumn, qs(row->partitionType));
  item->setText(kDeviceColumn, qs(row->diskdev));
  item->setToolTip(kDeviceColumn, qs(row->diskdev));
  // "partitionImg": the system's drive icon.
  if (!row->partitionIcon.empty()) {
    item->setIcon(kNameColumn, style()->standardIcon(QStyle::SP_DriveHDIcon));
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

void DiskViewWidget::selectionChanged() {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  std::shared_ptr<PRDiskInfoNode> row = selected.isEmpty() ? nullptr : rowOf(selected.front());
  scan_->setEnabled(row != nullptr && controller_ != nullptr);
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
