#include "gui/ui_invoker.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace tamsel {

UiInvoker::UiInvoker(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  // The event loop has stopped: nothing queued would run any more.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { shutDown(); });
  }
}

UiInvoker::~UiInvoker() {
  shutDown();
}

bool UiInvoker::onUiThread() const {
  return QThread::currentThread() == thread();
}

void UiInvoker::post(std::function<void()> fn) {
  if (isShutDown()) return;
  std::shared_ptr<Shared> shared = shared_;
  QMetaObject::invokeMethod(
      this,
      [shared, fn = std::move(fn)] {
        {
          std::lock_guard lock(shared->m);
          if (shared->shutDown) return;
        }
        fn();
      },
      Qt::QueuedConnection);
}

void UiInvoker::postAndWait(std::function<void()> fn) {
  if (onUiThread()) {
    fn();
    return;
  }
  std::shared_ptr<Shared> shared = shared_;
  auto task = std::make_shared<Task>();
  task->fn = std::move(fn);
  if (isShutDown()) return;
  // The queued call holds the task and the shared state, never this thread's stack.
  QMetaObject::invokeMethod(
      this,
      [shared, task] {
        {
          std::lock_guard lock(shared->m);
          if (shared->shutDown) return;
        }
        task->fn();
        {
          std::lock_guard lock(shared->m);
          task->done = true;
        }
        shared->cv.notify_all();
      },
      Qt::QueuedConnection);
  // From here on only the shared state is touched: this object may go while we wait.
  std::unique_lock lock(shared->m);
  ++shared->waiting;
  shared->cv.wait(lock, [&] { return task->done || shared->shutDown; });
  --shared->waiting;
}

void UiInvoker::shutDown() {
  {
    std::lock_guard lock(shared_->m);
    if (shared_->shutDown) return;
    shared_->shutDown = true;
  }
  shared_->cv.notify_all();
}

bool UiInvoker::isShutDown() const {
  std::lock_guard lock(shared_->m);
  return shared_->shutDown;
}

size_t UiInvoker::pendingWaits() const {
  std::lock_guard lock(shared_->m);
  return shared_->waiting;
}

}  // namespace tamsel
