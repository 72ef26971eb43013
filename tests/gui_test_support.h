// Helpers of the front-end tests: answering modal dialogs (message boxes, file choosers) from
// inside their event loop and pumping events until a condition holds.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <filesystem>
#include <functional>

namespace tamsel::testing {

// Generous bound for work that normally takes milliseconds (sanitizer builds are slow).
inline constexpr int kWaitMs = 120000;

// Runs `act` once on the first visible top-level dialog of class D, from the event loop
// (which may be the dialog's own modal loop).
template <class D>
void whenDialogAppears(std::function<void(D*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, qApp, [timer, act] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<D*>(w);
      if (d && d->isVisible()) {
        timer->stop();
        timer->deleteLater();
        act(d);
        return;
      }
    }
  });
  timer->start();
}

// Answers the next message box with the button of this text; reports what it showed.
inline void answerNextAlert(const QString& buttonText, QString* message = nullptr,
                            QStringList* buttons = nullptr) {
  whenDialogAppears<QMessageBox>([=](QMessageBox* box) {
    if (message) *message = box->text();
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      if (buttons) buttons->push_back(b->text());
      if (b->text() == buttonText) chosen = b;
    }
    if (chosen) {
      chosen->click();
    } else {
      box->reject();
    }
  });
}

// Chooses `path` in the next file dialog, as the user does, and accepts it only once the
// dialog reports it as its selection: accepted before that, the dialog stays open and the
// test waits on it for ever. selectFile leaves the name field alone while that field has the
// keyboard focus (which it gets at some point after the dialog shows), so the path is typed
// into the field whenever the selection is not yet the path. Keeps going until the dialog
// has closed. `opened` (if any) sees the dialog first, as it opened.
inline void chooseInNextFileDialog(const std::filesystem::path& path,
                                   std::function<void(QFileDialog*)> opened = nullptr) {
  const QString wanted = QString::fromStdString(path.string());
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(
      timer, &QTimer::timeout, qApp,
      [timer, wanted, opened, dialog = QPointer<QFileDialog>(), seen = false]() mutable {
        if (!seen) {
          for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QFileDialog*>(w);
            if (d && d->isVisible()) dialog = d;
          }
          if (!dialog) return;
          seen = true;
          if (opened) opened(dialog);
          dialog->selectFile(wanted);
          return;
        }
        if (!dialog || !dialog->isVisible()) {
          timer->stop();
          timer->deleteLater();
          return;
        }
        if (dialog->selectedFiles().value(0) != wanted) {
          if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            name->setText(wanted);
          } else {
            dialog->selectFile(wanted);
          }
          return;
        }
        static_cast<QDialog*>(dialog.data())->accept();
      });
  timer->start();
}

}  // namespace tamsel::testing
