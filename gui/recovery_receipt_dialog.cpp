#include "gui/recovery_receipt_dialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace tamsel {
namespace fs = std::filesystem;

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// "MAJ:MIN" of the whole disk a partition device belongs to; none for anything else.
std::optional<dev_t> diskOfPartition(dev_t partition) {
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(partition)) + ":" + std::to_string(minor(partition));
  std::error_code ec;
  const fs::path real = fs::canonical(sys, ec);
  if (ec || !fs::exists(real / "partition", ec)) return std::nullopt;
  std::ifstream in(real.parent_path() / "dev");
  unsigned maj = 0, min = 0;
  char colon = 0;
  if (!(in >> maj >> colon >> min) || colon != ':') return std::nullopt;
  return makedev(maj, min);
}

}  // namespace

RecoveryReceiptDialog::RecoveryReceiptDialog(const RecoveryReport& report,
                                             std::function<bool(const QUrl&)> folderOpener,
                                             QWidget* parent)
    : QDialog(parent),
      folder_(qs(report.recoverPath.string())),
      openFolder_(std::move(folderOpener)) {
  setWindowTitle(QStringLiteral("Recovery finished"));
  setObjectName(QStringLiteral("recoveryReceipt"));
  auto* v = new QVBoxLayout(this);
  // A file written with unreadable parts is listed among the failures but was written.
  const size_t failed =
      report.failures.size() -
      std::min(report.failures.size(), static_cast<size_t>(std::max(report.incomplete, 0)));
  // The counts first, then where the files are and what is only partly there.
  QString text =
      QStringLiteral("%1 written, %2 failed.")
          .arg(report.written.size() == 1 ? QStringLiteral("1 file")
                                          : QStringLiteral("%1 files").arg(report.written.size()))
          .arg(failed);
  text += QStringLiteral("\nFolder: ") + folder_;
  if (report.incomplete > 0) {
    // Damaged on the card (a broken or looping chain) and unreadable sectors, as the
    // command line says it.
    text += QStringLiteral("\n%1 of them incomplete: %2.")
                .arg(report.incomplete)
                .arg(qs(incompleteDetail(report)));
  }
  if (report.cancelled) text += QStringLiteral("\nThe recovery was stopped.");
  summary_ = new QLabel(text, this);
  summary_->setObjectName(QStringLiteral("receiptSummary"));
  summary_->setWordWrap(true);
  summary_->setTextFormat(Qt::PlainText);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(summary_);

  failures_ = new QPlainTextEdit(this);
  failures_->setObjectName(QStringLiteral("receiptFailures"));
  failures_->setReadOnly(true);
  failures_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QStringList lines;
  for (const auto& line : report.failures) lines << qs(line);
  failures_->setPlainText(lines.join(QLatin1Char('\n')));
  auto* failuresTitle = new QLabel(QStringLiteral("Not written, or written incomplete:"), this);
  v->addWidget(failuresTitle);
  v->addWidget(failures_, 1);
  failuresTitle->setVisible(failed > 0);
  failures_->setVisible(failed > 0);

  if (!report.reportHtml.empty() || !report.manifestCsv.empty()) {
    QString receipt = QStringLiteral(
                          "Every recovered file, with its size, SHA-256 and origin, "
                          "is listed in %1 and %2.")
                          .arg(qs(report.reportHtml.filename().string()),
                               qs(report.manifestCsv.filename().string()));
    auto* receiptLabel = new QLabel(receipt, this);
    receiptLabel->setObjectName(QStringLiteral("receiptFiles"));
    receiptLabel->setTextFormat(Qt::PlainText);
    receiptLabel->setWordWrap(true);
    v->addWidget(receiptLabel);
  }

  notice_ = new QLabel(this);
  notice_->setObjectName(QStringLiteral("receiptNotice"));
  notice_->setTextFormat(Qt::PlainText);
  notice_->setWordWrap(true);
  notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  notice_->hide();
  v->addWidget(notice_);

  auto* buttons = new QHBoxLayout;
  open_ = new QPushButton(QStringLiteral("Open folder"), this);
  copy_ = new QPushButton(QStringLiteral("Copy path"), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  buttons->addWidget(open_);
  buttons->addWidget(copy_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  v->addLayout(buttons);
  close->setDefault(true);
  connect(open_, &QPushButton::clicked, this, [this] { openFolder(); });
  connect(copy_, &QPushButton::clicked, this, [this] {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(folder_);
  });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  resize(560, failed > 0 ? 360 : 180);
}

void RecoveryReceiptDialog::openFolder() {
  if (openFolder_ && openFolder_(QUrl::fromLocalFile(folder_))) return;
  notice_->setText(
      QStringLiteral("No file manager could be opened. The recovered files are in:\n%1")
          .arg(folder_));
  notice_->show();
}

QString recoveryStartFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QDir(documents).exists()) return documents;
  return QDir::homePath();
}

bool onScannedDevice(const std::string& folder, const std::string& source) {
  if (folder.empty() || source.empty()) return false;
  struct stat src {};
  if (::stat(source.c_str(), &src) != 0) return false;
  // The folder is usually still to be made: its nearest existing parent tells the device.
  fs::path at = fs::absolute(fs::path(folder)).lexically_normal();
  struct stat dst {};
  while (::stat(at.c_str(), &dst) != 0) {
    if (!at.has_parent_path() || at.parent_path() == at) return false;
    at = at.parent_path();
  }
  if (S_ISBLK(src.st_mode)) {
    if (dst.st_dev == src.st_rdev) return true;
    // A folder on a partition of the scanned disk.
    const std::optional<dev_t> disk = diskOfPartition(dst.st_dev);
    return disk && *disk == src.st_rdev;
  }
  return dst.st_dev == src.st_dev;
}

}  // namespace tamsel
