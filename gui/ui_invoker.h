// Hands work from scan and recovery threads to the UI thread. Calls that wait for the UI
// thread can be released at shutdown: once shutDown() has run (the window is closing or the
// event loop has stopped), work from other threads is dropped and every waiting thread
// returns at once, so a worker can never block the program's exit.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace tamsel {

class UiInvoker : public QObject {
 public:
  // Lives on the thread that creates it (the UI thread).
  explicit UiInvoker(QObject* parent = nullptr);
  ~UiInvoker() override;

  // Runs `fn` later on the UI thread, in call order. Dropped after shutDown().
  void post(std::function<void()> fn);
  // Runs `fn` on the UI thread and waits for it; runs it at once when called on the UI
  // thread. From another thread after shutDown() (or while waiting when it comes) `fn` is
  // dropped and the call returns.
  void postAndWait(std::function<void()> fn);

  // From now on nothing queued from other threads runs. Idempotent; UI thread only.
  void shutDown();
  bool isShutDown() const;
  bool onUiThread() const;
  // Threads waiting in postAndWait (for tests).
  size_t pendingWaits() const;

 private:
  struct Shared {
    mutable std::mutex m;
    std::condition_variable cv;
    bool shutDown = false;
    size_t waiting = 0;
  };
  struct Task {
    std::function<void()> fn;
    bool done = false;
  };
  // Shared with waiting threads, so that they can wake after this object is gone.
  std::shared_ptr<Shared> shared_;
};

}  // namespace tamsel
