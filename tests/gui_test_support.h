// Helpers of the front-end tests: answering modal dialogs from inside their event loop and
// pumping events until a condition holds.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
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

}  // namespace tamsel::testing
