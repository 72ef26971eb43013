// The signals that end a program from a terminal or a session (SIGINT, SIGTERM, SIGHUP).
// Without this a scan ended by one leaves its run folder, and whatever it decrypted or
// copied there, in the work folder until the next start. The handler itself only writes the
// signal's number into a pipe; a thread of its own reads it and does the work, outside of
// any signal handler.
#pragma once

#include <functional>

namespace tamsel {

struct TerminationHandling {
  // Called on the signal thread after the run folders went, for the first signal only.
  std::function<void(int signal)> onSignal;
  // Off: the process then ends as the signal would have ended it (exit status 128 + signal).
  // On: the program ends itself (a window leaves its event loop, say) and then calls
  // endBySignal(terminationSignal()); a second signal ends it at once.
  bool programEndsItself = false;
};

// Installs the handlers and starts the signal thread; the first call wins, later ones do
// nothing. On a signal the thread removes every live run folder of the program
// (removeLiveRunFolders: a folder that holds a scanned input stays), calls onSignal, and
// ends the process unless the program ends itself.
void handleTerminationSignals(TerminationHandling how = {});

// The first termination signal received, or 0.
int terminationSignal();

// Ends the process as `signal` does by default: its default disposition restored, then the
// signal raised in the calling thread.
[[noreturn]] void endBySignal(int signal);

}  // namespace tamsel
