#include "gui/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/orlisk_app_delegate.h"
#include "events/notification_names.h"

namespace tamsel {

namespace {

constexpr int kHomeWidth = 849, kHomeHeight = 560;
constexpr int kScanWidth = 850, kScanHeight = 620;

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The look of a source button for its picture: the "...Down" pictures are the hovered look.
void styleSourceButton(QPushButton* b, bool down) {
  b->setStyleSheet(down ? QStringLiteral("QPushButton { font-size: 15pt; padding: 18px; "
                                         "background: #2c6fb7; color: white; }")
                        : QStringLiteral("QPushButton { font-size: 15pt; padding: 18px; }"));
}

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

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
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
  v->setContentsMargins(40, 30, 40, 24);

  auto* title = new QLabel(QStringLiteral("Tamsel"), homeContent_);
  QFont f = title->font();
  f.setPointSize(26);
  f.setBold(true);
  title->setFont(f);
  auto* subtitle = new QLabel(QStringLiteral("BlackBerry Data Recovery"), homeContent_);
  QFont sf = subtitle->font();
  sf.setPointSize(14);
  subtitle->setFont(sf);
  v->addWidget(title);
  v->addWidget(subtitle);
  v->addSpacing(36);

  auto* buttons = new QHBoxLayout();
  backupButton_ = new HoverButton(QStringLiteral("Backup File"), homeContent_,
                                  [this](bool in) { postHover(kBackupFileButton, in); });
  cardButton_ = new HoverButton(QStringLiteral("Memory Card"), homeContent_,
                                [this](bool in) { postHover(kMemoryCardButton, in); });
  for (QPushButton* b : {backupButton_, cardButton_}) {
    b->setMinimumSize(300, 150);
    styleSourceButton(b, false);
    buttons->addWidget(b);
  }
  v->addLayout(buttons);
  v->addSpacing(24);

  hint_ = new QLabel(homeContent_);
  hint_->setWordWrap(true);
  hint_->setMinimumHeight(44);
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  v->addWidget(hint_);
  v->addStretch(1);

  auto* feedback =
      new QLabel(QStringLiteral("Please help me get BETTER with your <span style=\"color:#d9511e\">"
                                "suggestions</span>!"),
                 homeContent_);
  feedback->setTextFormat(Qt::RichText);
  v->addWidget(feedback);

  connect(backupButton_, &QPushButton::clicked, this, [this] { chooseBackupFile(); });
  connect(cardButton_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->ClickRawRecover();
  });
  return page;
}

void MainWindow::attach(OrliskAppDelegate& controller) {
  controller_ = &controller;
  controller.setResultView(result_);
  disk_->attach(controller);
  result_->setPresenterSource([c = &controller] { return c->resultViewController(); });
}

void MainWindow::detach() {
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
  QTimer::singleShot(100, this, [this, chosen] {
    if (!controller_ || closing_ || controller_->openPanelDidEnd(chosen, 1)) return;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tamsel"),
                                QStringLiteral("The previous scan is still ending. Please choose "
                                               "the backup again in a moment."),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
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
    box->setText(QStringLiteral("Not a backup"));
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
  QPushButton* b = button == kBackupFileButton   ? backupButton_
                   : button == kMemoryCardButton ? cardButton_
                                                 : nullptr;
  if (!b) return;
  b->setProperty("frame", qs(frame));
  b->setProperty("picture", qs(picture));
  styleSourceButton(b, QString::fromStdString(picture).endsWith(QStringLiteral("Down")));
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
