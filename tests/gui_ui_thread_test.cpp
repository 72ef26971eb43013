// Handing work from worker threads to the result screen's UI thread, and releasing workers
// that wait for it once the screen is closing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "gui/result_widget.h"
#include "tests/gui_test_support.h"

namespace tamsel {
namespace {

using testing::kWaitMs;
using namespace std::chrono_literals;

// Spins (without pumping events) until `pred` holds or a generous bound passes.
template <class Pred>
bool spinUntil(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(GuiUiThread, WaitingCallRunsOnTheUiThreadInOrder) {
  ResultWidget screen;
  const std::thread::id ui = std::this_thread::get_id();
  std::vector<int> order;  // touched on the UI thread only
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) screen.runOnUiThread([&order, i] { order.push_back(i); });
    screen.runOnUiThreadAndWait([&] {
      ranOn = std::this_thread::get_id();
      order.push_back(50);
    });
    returned = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, kWaitMs));
  worker.join();
  EXPECT_EQ(ranOn, ui);
  ASSERT_EQ(order.size(), 51u);
  for (int i = 0; i <= 50; ++i) EXPECT_EQ(order[i], i);

  // On the UI thread itself the call runs at once.
  bool direct = false;
  screen.runOnUiThreadAndWait([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST(GuiUiThread, WaitingWorkerIsReleasedWhenTheScreenBeginsClosing) {
  ResultWidget screen;
  std::atomic<bool> ran{false};
  auto done =
      std::async(std::launch::async, [&] { screen.runOnUiThreadAndWait([&] { ran = true; }); });
  // The worker waits; this thread pumps no events, as when it is busy closing.
  ASSERT_TRUE(spinUntil([&] { return screen.invoker().pendingWaits() == 1; }));
  screen.beginShutdown();
  ASSERT_EQ(done.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);  // dropped, also when the event loop runs again

  // Later calls from workers return at once and run nothing.
  std::atomic<int> later{0};
  auto after = std::async(std::launch::async, [&] {
    screen.runOnUiThreadAndWait([&] { ++later; });
    screen.runOnUiThread([&] { ++later; });
  });
  ASSERT_EQ(after.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  QCoreApplication::processEvents();
  EXPECT_EQ(later, 0);
}

TEST(GuiUiThread, DestroyingTheScreenReleasesAWaitingWorker) {
  auto* screen = new ResultWidget;
  auto done = std::async(std::launch::async, [screen] { screen->runOnUiThreadAndWait([] {}); });
  ASSERT_TRUE(spinUntil([&] { return screen->invoker().pendingWaits() == 1; }));
  delete screen;
  EXPECT_EQ(done.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  QCoreApplication::processEvents();  // the queued call went with the screen
}

TEST(GuiUiThread, StoppedEventLoopReleasesWaitingWorkers) {
  ResultWidget screen;
  auto done = std::async(std::launch::async, [&] { screen.runOnUiThreadAndWait([] {}); });
  ASSERT_TRUE(spinUntil([&] { return screen.invoker().pendingWaits() == 1; }));
  // What QCoreApplication::exec() sends as it returns.
  ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
  EXPECT_EQ(done.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  EXPECT_TRUE(screen.shuttingDown());
}

}  // namespace
}  // namespace tamsel
