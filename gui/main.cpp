// The Tamsel desktop program: the main window over the application controller.
#include <QApplication>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include "app/orlisk_app_delegate.h"
#include "app/termination_signals.h"
#include "app/work_folder.h"
#include "gui/main_window.h"
#include "raw/disk_library_path.h"
#include "util/log.h"

namespace {

// Diagnostics go to "tamsel.log" in the work folder.
void logToWorkFolder() {
  std::error_code ec;
  const std::filesystem::path dir = tamsel::defaultWorkDir();
  std::filesystem::create_directories(dir, ec);
  auto file = std::make_shared<std::ofstream>(dir / "tamsel.log", std::ios::app);
  if (!*file) return;
  auto lock = std::make_shared<std::mutex>();
  tamsel::setLogSink([file, lock](std::string_view line) {
    std::lock_guard guard(*lock);
    *file << line << '\n';
    file->flush();
  });
}

// The application while its event loop may still be left (null afterwards), for the
// signal thread.
std::mutex gAppMutex;
QCoreApplication* gApp = nullptr;

// SIGINT, SIGTERM or SIGHUP: the run folders go at once (on the signal thread), then the
// event loop is left and the program ends as on Quit, with the signal's exit status.
void quitOnSignals() {
  tamsel::TerminationHandling how;
  how.programEndsItself = true;
  how.onSignal = [](int) {
    std::lock_guard lock(gAppMutex);
    if (gApp != nullptr) {
      QMetaObject::invokeMethod(
          gApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    }
  };
  tamsel::handleTerminationSignals(std::move(how));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  {
    std::lock_guard lock(gAppMutex);
    gApp = &app;
  }
  quitOnSignals();
  QApplication::setApplicationName(QStringLiteral("Tamsel"));
  QApplication::setApplicationVersion(QStringLiteral(TAMSEL_VERSION));
  logToWorkFolder();

  int rc = 0;
  tamsel::MainWindow window;
  {
    tamsel::OrliskAppDelegate controller(&window);
    window.attach(controller);
    // The disk library: $TAMSEL_DISKLIB, else beside the program (installed or built). Without
    // it the disk view says so and lists nothing.
    controller.initDll(tamsel::findDiskLibrary());
    controller.applicationDidFinishLaunching();
    window.show();
    // A signal before the loop runs leaves it at once.
    if (tamsel::terminationSignal() == 0) rc = app.exec();
    {
      std::lock_guard lock(gAppMutex);
      gApp = nullptr;
    }
    // The scan (and a recovery, when the controller goes) ends before the widgets go.
    window.shutDown();
    window.detach();
  }
  tamsel::setLogSink({});
  if (const int signal = tamsel::terminationSignal(); signal != 0) tamsel::endBySignal(signal);
  return rc;
}
