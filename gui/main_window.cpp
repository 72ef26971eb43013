#include "gui/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <memory>

#include "app/orlisk_app_delegate.h"
#include "events/notification_names.h"
#include "gui/icon_set.h"
#include "ios/device_list.h"
#include "ios/iphone_source.h"
#include "results/web_links.h"

namespace tamsel {

namespace {

constexpr int kHomeWidth = 849, kHomeHeight = 560;
constexpr int kScanWidth = 850, kScanHeight = 620;

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The frame of a source button held down by the mouse.
constexpr std::string_view kPressedFrame = "firstBtnDown";

}  // namespace

HoverButton::HoverButton(const QString& text, QWidget* parent,
                         std::function<void(bool entered)> hover)
    : QPushButton(text, parent), hover_(std::move(hover)) {}

void HoverButton::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  if (hover_) hover_(true);
}

void HoverButton::leaveEvent(QEvent* event) {
  QPushButton::leaveEvent(event);
  if (hover_) hover_(false);
}

void HoverButton::setPictures(const QString& frame, const QString& picture) {
  setProperty("frame", frame);
  setProperty("picture", picture);
  frame_ = buttonIcon(frame.toStdString(), kPressedFrame);
  setIcon(iconFor(picture.toStdString()));
  update();
}

void HoverButton::paintEvent(QPaintEvent* event) {
  if (frame_.isNull()) {
    QPushButton::paintEvent(event);
    return;
  }
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), frame_.pixmap(size(), devicePixelRatioF(), QIcon::Normal,
                                           isDown() ? QIcon::On : QIcon::Off));
  painter.drawControl(QStyle::CE_PushButtonLabel, option);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  setWindowTitle(QStringLiteral("Tamsel"));
  stack_ = new QStackedWidget(this);
  home_ = buildHome();
  result_ = new ResultWidget(stack_);
  disk_ = new DiskViewWidget(stack_);
  stack_->addWidget(home_);
  stack_->addWidget(result_);
  stack_->addWidget(disk_);
  setCentralWidget(stack_);
  setWindowScanSize(false);
}

MainWindow::~MainWindow() {
  result_->beginShutdown();
}

QWidget* MainWindow::buildHome() {
  auto* page = new QWidget(stack_);
  auto* outer = new QVBoxLayout(page);
  homeContent_ = new QWidget(page);
  outer->addWidget(homeContent_);
  auto* v = new QVBoxLayout(homeContent_);
  v->setContentsMargins(40, 18, 40, 12);
  v->setSpacing(4);

  auto* title = new QLabel(QStringLiteral("Tamsel"), homeContent_);
  QFont f = title->font();
  f.setPointSize(26);
  f.setBold(true);
  title->setFont(f);
  auto* subtitle =
      new QLabel(QStringLiteral("BlackBerry and phone backup data recovery"), homeContent_);
  QFont sf = subtitle->font();
  sf.setPointSize(14);
  subtitle->setFont(sf);
  v->addWidget(title);
  v->addWidget(subtitle);
  v->addSpacing(14);

  auto* buttons = new QHBoxLayout();
  backupButton_ = new HoverButton(QStringLiteral("Backup File"), homeContent_,
                                  [this](bool in) { postHover(kBackupFileButton, in); });
  cardButton_ = new HoverButton(QStringLiteral("Memory Card"), homeContent_,
                                [this](bool in) { postHover(kMemoryCardButton, in); });
  QFont buttonFont = backupButton_->font();
  buttonFont.setPointSize(15);
  for (HoverButton* b : {backupButton_, cardButton_}) {
    b->setMinimumSize(300, 96);
    b->setFont(buttonFont);
    b->setIconSize(QSize(56, 56));
    buttons->addWidget(b);
  }
  backupButton_->setPictures(QStringLiteral("firstBtn"), QStringLiteral("ipdBtn"));
  cardButton_->setPictures(QStringLiteral("firstBtn"), QStringLiteral("cardBtn"));
  v->addLayout(buttons);
  v->addSpacing(6);

  hint_ = new QLabel(homeContent_);
  hint_->setWordWrap(true);
  hint_->setMinimumHeight(36);
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  v->addWidget(hint_);
  v->addWidget(buildBackupSection(homeContent_), 1);

  suggestions_ = new QLabel(homeContent_);
  suggestions_->setTextFormat(Qt::RichText);
  suggestions_->setOpenExternalLinks(false);
  suggestions_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(suggestions_, &QLabel::linkActivated, this, [this] {
    if (!suggestionsUrl_.isEmpty() && openUrl_) openUrl_(QUrl(suggestionsUrl_));
  });
  v->addWidget(suggestions_);
  setSuggestionsAddress(configuredWebLinks().suggestions);

  connect(backupButton_, &QPushButton::clicked, this, [this] { chooseBackupFile(); });
  connect(cardButton_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->ClickRawRecover();
  });
  return page;
}

void MainWindow::setSuggestionsAddress(const std::string& url) {
  suggestionsUrl_ = QString::fromStdString(acceptedWebAddress(url));
  suggestions_->setText(QStringLiteral("Please help me get BETTER with your <a href=\"%1\" "
                                       "style=\"color:#d9511e\">suggestions</a>!")
                            .arg(suggestionsUrl_.toHtmlEscaped()));
  suggestions_->setToolTip(suggestionsUrl_);
  suggestions_->setVisible(!suggestionsUrl_.isEmpty());
}

QWidget* MainWindow::buildBackupSection(QWidget* parent) {
  auto* section = new QWidget(parent);
  auto* v = new QVBoxLayout(section);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(4);
  auto* header = new QHBoxLayout();
  auto* title = new QLabel(QStringLiteral("Phone backups on this computer"), section);
  QFont f = title->font();
  f.setBold(true);
  title->setFont(f);
  header->addWidget(title, 1);
  chooseFolder_ = new QPushButton(QString::fromUtf8("Choose backup folder\u2026"), section);
  backupScan_ = new QPushButton(QStringLiteral("Scan"), section);
  backupScan_->setEnabled(false);  // until a row is selected
  header->addWidget(chooseFolder_);
  header->addWidget(backupScan_);
  v->addLayout(header);

  backupModel_ = new BackupTableModel(section);
  backupTable_ = new QTableView(section);
  backupTable_->setModel(backupModel_);
  backupTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  backupTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  backupTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  backupTable_->setAlternatingRowColors(true);
  backupTable_->setWordWrap(false);
  backupTable_->setTextElideMode(Qt::ElideRight);
  backupTable_->setIconSize(QSize(16, 16));
  backupTable_->verticalHeader()->hide();
  backupTable_->verticalHeader()->setDefaultSectionSize(22);
  backupTable_->horizontalHeader()->setStretchLastSection(true);
  backupTable_->horizontalHeader()->setHighlightSections(false);
  backupTable_->setColumnWidth(BackupTableModel::kName, 250);
  backupTable_->setColumnWidth(BackupTableModel::kModel, 110);
  backupTable_->setColumnWidth(BackupTableModel::kVersion, 80);
  backupTable_->setColumnWidth(BackupTableModel::kBackupTime, 160);
  backupTable_->setMinimumHeight(110);
  v->addWidget(backupTable_, 1);

  backupHint_ = new QLabel(section);
  backupHint_->setWordWrap(true);
  backupHint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  backupHint_->setStyleSheet(QStringLiteral("QLabel { color: #666666; }"));
  v->addWidget(backupHint_);

  // tableViewSelectionDidChange: the scan button is enabled exactly when a row is selected.
  connect(backupTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { setScanButtonEnabled(selectedBackupRow() >= 0); });
  connect(backupScan_, &QPushButton::clicked, this, [this] { scanSelectedBackup(); });
  connect(backupTable_, &QTableView::doubleClicked, this, [this] { scanSelectedBackup(); });
  connect(chooseFolder_, &QPushButton::clicked, this, [this] { chooseBackupFolder(); });
  return section;
}

int MainWindow::selectedBackupRow() const {
  const QModelIndexList rows = backupTable_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::showBackupList(const std::vector<std::shared_ptr<PRIOSDeviceNode>>& nodes,
                                const std::string& root) {
  backupRoot_ = qs(root);
  backupModel_->setNodes(nodes);  // a reset: no row stays selected
  setScanButtonEnabled(selectedBackupRow() >= 0);
  if (nodes.empty()) {
    backupHint_->setText(
        QStringLiteral("No phone backups found. Backups are looked for in %1.")
            .arg(backupRoot_.isEmpty() ? QStringLiteral("(no folder)") : backupRoot_));
    backupHint_->show();
  } else {
    backupHint_->clear();
    backupHint_->hide();
  }
}

void MainWindow::setScanButtonEnabled(bool enabled) {
  backupScan_->setEnabled(enabled);
}

void MainWindow::scanSelectedBackup() {
  const int row = selectedBackupRow();
  if (row < 0 || !controller_ || closing_) return;
  if (static_cast<size_t>(row) >= controller_->deviceController.count()) return;
  const auto& node = controller_->deviceController.at(static_cast<size_t>(row));
  scanWithPassword(node->encrypted ? node->backUpFilePath : std::string(), [this, row] {
    if (!controller_ || closing_) return;
    if (!controller_->actScanIOSBackupFile(static_cast<size_t>(row))) {
      showStillEnding(QStringLiteral("Please press Scan again in a moment."));
    }
  });
}

void MainWindow::scanWithPassword(const std::string& folder, std::function<void()> scan) {
  if (folder.empty() || !looksLikePhoneBackup(folder)) {
    scan();
    return;
  }
  const std::optional<PRIOSDeviceNode> node = readDeviceNode(folder);
  if (!node || !node->encrypted) {
    scan();
    return;
  }
  if (passwordDialog_ != nullptr) passwordDialog_->close();
  auto* dialog = new QInputDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setWindowTitle(QStringLiteral("Encrypted backup"));
  const QString name = qs(node->strDeviceName.empty() ? folder : node->strDeviceName);
  dialog->setLabelText(
      QStringLiteral("The backup of %1 is encrypted. Enter its password:").arg(name));
  dialog->setTextEchoMode(QLineEdit::Password);
  connect(dialog, &QInputDialog::textValueSelected, this,
          [this, scan = std::move(scan)](const QString& password) {
            if (!controller_ || closing_) return;
            controller_->setBackupPassword(password.toStdString());
            scan();
          });
  passwordDialog_ = dialog;
  dialog->open();
}

void MainWindow::chooseBackupFolder() {
  QString start = backupRoot_;
  if (start.isEmpty() || !QDir(start).exists()) start = QDir::homePath();
  auto* dialog = new QFileDialog(this, QStringLiteral("Choose a phone backup folder"), start);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly, true);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setWindowModality(Qt::WindowModal);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString& path) { backupFileChosen(path); });
  dialog->open();
}

void MainWindow::showStillEnding(const QString& again) {
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tamsel"),
                              QStringLiteral("The previous scan is still ending. ") + again,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->open();
}

void MainWindow::attach(OrliskAppDelegate& controller) {
  controller_ = &controller;
  controller.setResultView(result_);
  disk_->attach(controller);
  result_->setPresenterSource([c = &controller] { return c->resultViewController(); });
  // Opening an encrypted backup (its key, then its files) moves the scan's progress bar
  // before the steps do; only a changed percentage crosses to the UI thread.
  auto shown = std::make_shared<std::atomic<int>>(-1);
  QPointer<ResultWidget> result = result_;
  controller.preparationProgress = [result, shown](std::string_view, uint64_t done,
                                                   uint64_t total) {
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (shown->exchange(percent) == percent) return;
    QMetaObject::invokeMethod(
        result.data(),
        [result, percent] {
          if (result) result->setProgressValue(percent);
        },
        Qt::QueuedConnection);
  };
}

void MainWindow::detach() {
  if (controller_ != nullptr) controller_->preparationProgress = nullptr;
  controller_ = nullptr;
  disk_->detach();
  result_->setPresenterSource(nullptr);
}

void MainWindow::postHover(std::string_view button, bool entered) {
  if (!controller_) return;
  controller_->notificationCenter().post(
      entered ? notify::kPRbuttonMouseEntered : notify::kPRbuttonMouseExited, std::string(button));
}

void MainWindow::chooseBackupFile() {
  auto* dialog = new QFileDialog(this, QStringLiteral("Choose a BlackBerry backup"),
                                 QDir::homePath() + QStringLiteral("/Documents"),
                                 QStringLiteral("BlackBerry backups (*.bbb *.ipd)"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setWindowModality(Qt::WindowModal);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString& path) { backupFileChosen(path); });
  dialog->open();
}

void MainWindow::backupFileChosen(const QString& path) {
  if (path.isEmpty()) return;
  const std::string chosen = path.toStdString();
  scanWithPassword(chosen, [this, chosen] {
    QTimer::singleShot(100, this, [this, chosen] {
      if (!controller_ || closing_ || controller_->openPanelDidEnd(chosen, 1)) return;
      showStillEnding(QStringLiteral("Please choose the backup again in a moment."));
    });
  });
}

void MainWindow::scanEnded(const ScanOutcome& outcome) {
  QMetaObject::invokeMethod(
      this, [this, outcome] { showScanOutcome(outcome); }, Qt::QueuedConnection);
}

void MainWindow::showScanOutcome(const ScanOutcome& outcome) {
  if (closing_ || (outcome.readable && outcome.warnings.empty())) return;
  if (outcomeAlert_ != nullptr) outcomeAlert_->close();
  auto* box = new QMessageBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setWindowTitle(QStringLiteral("Tamsel"));
  box->setStandardButtons(QMessageBox::Ok);
  if (!outcome.readable) {
    box->setIcon(QMessageBox::Warning);
    const bool wrongPassword = outcome.error.find("wrong password") != std::string::npos;
    box->setText(wrongPassword ? QStringLiteral("Wrong password") : QStringLiteral("Not a backup"));
    box->setInformativeText(qs(outcome.error));
    // Nothing was found: back to the home view rather than an empty result screen.
    connect(box, &QMessageBox::finished, this, [this] {
      if (controller_ && !closing_) controller_->showMainView();
    });
  } else {
    box->setIcon(QMessageBox::Information);
    box->setText(QStringLiteral("Damaged \u2014 partial results"));
    constexpr size_t kListed = 10;
    QString listed = QStringLiteral("The records before each damaged part are shown.\n\n");
    for (size_t i = 0; i < outcome.warnings.size() && i < kListed; ++i) {
      listed += QStringLiteral("\u2022 ") + qs(outcome.warnings[i]) + QLatin1Char('\n');
    }
    if (outcome.warnings.size() > kListed) {
      listed +=
          QStringLiteral("and %1 more (see the details)").arg(outcome.warnings.size() - kListed);
    }
    box->setInformativeText(listed.trimmed());
    QString all;
    for (const std::string& w : outcome.warnings) all += qs(w) + QLatin1Char('\n');
    box->setDetailedText(all);
  }
  outcomeAlert_ = box;
  box->open();
}

QWidget* MainWindow::currentPage() const {
  return stack_->currentWidget();
}

void MainWindow::hideMainView() {
  homeContent_->hide();
}

void MainWindow::showMainView() {
  homeContent_->show();
  stack_->setCurrentWidget(home_);
}

void MainWindow::setWindowScanSize(bool scanning) {
  if (scanning) {
    setFixedSize(kScanWidth, kScanHeight);
  } else {
    setFixedSize(kHomeWidth, kHomeHeight);
  }
}

void MainWindow::showResultView() {
  stack_->setCurrentWidget(result_);
}

void MainWindow::showDiskView() {
  stack_->setCurrentWidget(disk_);
  disk_->showView();
}

void MainWindow::setHintText(const std::string& text) {
  hint_->setText(qs(text));
}

void MainWindow::setButtonPictures(std::string_view button, const std::string& frame,
                                   const std::string& picture) {
  HoverButton* b = button == kBackupFileButton   ? backupButton_
                   : button == kMemoryCardButton ? cardButton_
                                                 : nullptr;
  if (!b) return;
  b->setPictures(qs(frame), qs(picture));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tamsel"),
                  QStringLiteral("Are you sure you want to Exit ?"), QMessageBox::NoButton, this);
  box.setWindowModality(Qt::WindowModal);
  QPushButton* exit = box.addButton(QStringLiteral(" Exit "), QMessageBox::AcceptRole);
  box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(exit);
  box.exec();
  if (box.clickedButton() != exit) {
    event->ignore();
    return;
  }
  shutDown();
  event->accept();
}

void MainWindow::shutDown() {
  closing_ = true;
  // First release a worker waiting for the UI thread, then stop the scan and wait for it.
  result_->beginShutdown();
  if (controller_) {
    controller_->stopScan();  // the backup scan, and the disk library's scan when loaded
    controller_->waitForScan();
    controller_->waitForRawScan();
  }
}

}  // namespace tamsel
