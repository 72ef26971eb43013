#include "app/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include "app/work_folder.h"

namespace tamsel {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe from the handler to the signal thread; never closed.
int gPipe[2] = {-1, -1};
std::atomic<int> gReceived{0};

// Only async-signal-safe calls: the number goes into the pipe (which never blocks; a full
// pipe already holds a signal to act on).
extern "C" void onTerminationSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &number, 1);
  errno = savedErrno;
}

void signalThread(const TerminationHandling& how) {
  for (;;) {
    unsigned char number = 0;
    const ssize_t n = ::read(gPipe[0], &number, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return;
    const int signal = number;
    int none = 0;
    const bool first = gReceived.compare_exchange_strong(none, signal);
    removeLiveRunFolders();
    if (first && how.onSignal) how.onSignal(signal);
    if (!how.programEndsItself || !first) endBySignal(signal);
  }
}

}  // namespace

void handleTerminationSignals(TerminationHandling how) {
  static std::once_flag once;
  std::call_once(once, [&how] {
    if (::pipe2(gPipe, O_CLOEXEC) != 0) return;
    ::fcntl(gPipe[1], F_SETFL, ::fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
    // The thread outlives main (it may act while the program exits): it is never joined.
    std::thread([how = std::move(how)] { signalThread(how); }).detach();
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
      // A signal ignored when the program started (nohup, a background job) stays ignored.
      struct sigaction before {};
      if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
      ::sigaction(signal, &action, nullptr);
    }
  });
}

int terminationSignal() {
  return gReceived.load();
}

void endBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  // Not reached: the signal's default action ends the process.
  ::_exit(128 + signal);
}

}  // namespace tamsel
