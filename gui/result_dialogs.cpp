// The result screen's dialogs and desktop requests: alerts, the save panel, the recovery
// progress sheet and receipt, the feedback window, and opening folders, files and web pages.
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/result_widget.h"
#include "results/result_view_controller.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

bool ResultWidget::runConfirmAlert(const std::string& message, const std::string& defaultButton,
                                   const std::string& otherButton) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tamsel"), qs(message), QMessageBox::NoButton,
                  window());
  box.setWindowModality(Qt::WindowModal);
  QPushButton* yes = box.addButton(qs(defaultButton), QMessageBox::AcceptRole);
  box.addButton(qs(otherButton), QMessageBox::RejectRole);
  box.setDefaultButton(yes);
  box.exec();
  return box.clickedButton() == yes;
}

void ResultWidget::openFile(const std::string& path) {
  openUrl_(QUrl::fromLocalFile(qs(path)));
}

void ResultWidget::openUrl(const std::string& url) {
  openUrl_(QUrl(qs(url)));
}

void ResultWidget::openFolder(const std::string& path) {
  openUrl_(QUrl::fromLocalFile(qs(path)));
}

void ResultWidget::showFeedbackWindow(const std::string& placeholder) {
  if (!feedback_) {
    auto* dialog = new QDialog(window());
    dialog->setWindowTitle(QStringLiteral("Feedback"));
    auto* v = new QVBoxLayout(dialog);
    auto* text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("feedbackText"));
    QFont f = text->font();
    f.setPointSize(13);
    text->setFont(f);
    auto* email = new QLineEdit(dialog);
    email->setObjectName(QStringLiteral("feedbackEmail"));
    email->setPlaceholderText(QStringLiteral("E-mail"));
    auto* status = new QLabel(dialog);
    status->setObjectName(QStringLiteral("feedbackStatus"));
    status->setWordWrap(true);
    // Nothing is sent anywhere: the text is kept in a file the user chooses.
    auto* save = new QPushButton(QStringLiteral("Save\u2026"), dialog);
    save->setObjectName(QStringLiteral("feedbackSave"));
    QObject::connect(save, &QPushButton::clicked, this, [this] { saveFeedback(); });
    auto* close = new QPushButton(QStringLiteral("Close"), dialog);
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::hide);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(close);
    v->addWidget(text);
    v->addWidget(email);
    v->addWidget(status);
    v->addLayout(buttons);
    dialog->resize(420, 300);
    feedback_ = dialog;
  }
  if (feedback_->isVisible()) return;
  auto* text = feedback_->findChild<QPlainTextEdit*>(QStringLiteral("feedbackText"));
  text->clear();
  text->setPlaceholderText(qs(placeholder));
  feedback_->findChild<QLineEdit*>(QStringLiteral("feedbackEmail"))->clear();
  feedback_->findChild<QLabel*>(QStringLiteral("feedbackStatus"))->clear();
  const QRect frame = window()->frameGeometry();
  feedback_->move(frame.center() - QPoint(feedback_->width() / 2, feedback_->height() / 2));
  feedback_->show();
}

void ResultWidget::saveFeedback() {
  if (!feedback_) return;
  const QString text =
      feedback_->findChild<QPlainTextEdit*>(QStringLiteral("feedbackText"))->toPlainText();
  const QString email = feedback_->findChild<QLineEdit*>(QStringLiteral("feedbackEmail"))->text();
  auto* status = feedback_->findChild<QLabel*>(QStringLiteral("feedbackStatus"));
  const QString path =
      chooseFeedbackFile_(QDir(recoveryStartFolder()).filePath(QStringLiteral("feedback.txt")));
  if (path.isEmpty()) return;
  QString body;
  if (!email.trimmed().isEmpty()) body += QStringLiteral("E-mail: ") + email.trimmed() + "\n\n";
  body += text;
  if (!body.endsWith('\n')) body += '\n';
  // Written whole or not at all: a failed write leaves any earlier file as it was.
  QSaveFile file(path);
  const QByteArray bytes = body.toUtf8();
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    status->setText(QStringLiteral("The feedback could not be saved to %1: %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    return;
  }
  status->setText(
      QStringLiteral("The feedback was saved to %1.").arg(QDir::toNativeSeparators(path)));
}

void ResultWidget::runSavePanel(const std::string& proposedName,
                                std::function<void(int, const std::string&)> done) {
  // The panel opens in the user's Documents folder. A folder on the device being scanned is
  // only taken when the user insists: what is written there may overwrite what is sought.
  const std::string source = presenter() ? presenter()->scanSourcePath() : std::string();
  QString start = recoveryStartFolder();
  for (;;) {
    const QString path = QFileDialog::getSaveFileName(
        window(), QStringLiteral("Choose a folder name for the recovered files"),
        QDir(start).filePath(qs(proposedName)));
    if (path.isEmpty()) {
      done(0, "");
      return;
    }
    if (!onScannedDevice(path.toStdString(), source) ||
        !runConfirmAlert("The folder " + path.toStdString() +
                             " is on the device being scanned. Writing there can overwrite the "
                             "data you want to recover. Choose a folder on another device?",
                         "Choose again", "Continue")) {
      done(1, path.toStdString());
      return;
    }
    start = QFileInfo(path).absolutePath();
  }
}

void ResultWidget::showRecoveryReceipt(const RecoveryReport& report) {
  if (receipt_) receipt_->close();
  receipt_ = new RecoveryReceiptDialog(report, openFolder_, window());
  receipt_->setAttribute(Qt::WA_DeleteOnClose);
  receipt_->setWindowModality(Qt::WindowModal);
  receipt_->show();
}

void ResultWidget::setSaveSheetVisible(bool visible) {
  if (!visible) {
    if (saveSheet_) {
      saveSheet_->hide();
      saveSheet_->deleteLater();
      saveSheet_ = nullptr;
    }
    return;
  }
  if (saveSheet_) return;
  // Made for each run and dropped after it: a progress dialog left alive shows itself again
  // on its own after a while.
  saveSheet_ = new QProgressDialog(window());
  saveSheet_->setWindowTitle(QStringLiteral("Recovering"));
  saveSheet_->setCancelButton(nullptr);
  saveSheet_->setAutoClose(false);
  saveSheet_->setAutoReset(false);
  saveSheet_->setWindowModality(Qt::WindowModal);
  auto* bar = new QProgressBar(saveSheet_);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  saveSheet_->setBar(bar);
  saveSheet_->setLabelText(QStringLiteral("0%"));
  saveSheet_->show();
}

void ResultWidget::setSaveProgress(int percent, const std::string& text) {
  if (!saveSheet_) return;
  // The bar is set directly: QProgressDialog::setValue would run a nested event loop.
  if (auto* bar = saveSheet_->findChild<QProgressBar*>())
    bar->setValue(std::clamp(percent, 0, 100));
  saveSheet_->setLabelText(qs(text));
}

}  // namespace tamsel
