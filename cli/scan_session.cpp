#include "cli/scan_session.h"

#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "cli/progress_bar.h"
#include "events/notification_names.h"
#include "ios/device_list.h"
#include "ios/iphone_source.h"
#include "util/text.h"

namespace tamsel::cli {
namespace {

// A password file's first line; none when the file cannot be read.
std::optional<std::string> firstLine(const std::string& file, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *error = "cannot read the password file " + file + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// One line from the terminal on standard input, typed without echo.
std::string askPassword(const std::string& backup) {
  std::fprintf(stderr, "Password of the encrypted backup %s: ", escapeForTerminal(backup).c_str());
  std::fflush(stderr);
  termios before{};
  const bool restore = ::tcgetattr(STDIN_FILENO, &before) == 0;
  if (restore) {
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  for (int c; (c = std::getchar()) != EOF && c != '\n';) line += static_cast<char>(c);
  if (restore) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
  if (!restore) std::fputc('\n', stderr);
  return line;
}

}  // namespace

ScanSession::ScanSession(std::optional<std::filesystem::path> workDir)
    : controller_(nullptr, std::move(workDir)) {
  // A scan needs no list of the computer's phone backups: the start-up lists no root.
  controller_.setBackupRoot({});
  controller_.applicationDidFinishLaunching();
}

std::string ScanSession::usePassword(const std::string& path, const std::string& passwordFile) {
  std::string password;
  if (!passwordFile.empty()) {
    std::string error;
    std::optional<std::string> line = firstLine(passwordFile, &error);
    if (!line) return error;
    password = std::move(*line);
  } else if (::isatty(STDIN_FILENO) == 1 && looksLikePhoneBackup(path)) {
    const std::optional<PRIOSDeviceNode> node = readDeviceNode(path);
    if (node && node->encrypted) password = askPassword(path);
  }
  controller_.setBackupPassword(std::move(password));
  return {};
}

BackupScanOutcome ScanSession::scan(const std::string& path, bool showProgress) {
  // Opening an encrypted backup (deriving its key, decrypting its files) has a bar of its own.
  std::unique_ptr<ProgressBar> opening;
  std::string openingStage;
  if (showProgress) {
    controller_.preparationProgress = [&](std::string_view stage, uint64_t done, uint64_t total) {
      if (stage != openingStage) {
        openingStage = stage;
        std::string label = openingStage;
        if (!label.empty()) label[0] = static_cast<char>(std::toupper(label[0]));
        opening.reset();  // the finished stage's line ends before the next one is drawn
        opening = std::make_unique<ProgressBar>(label);
      }
      opening->update(total > 0 ? static_cast<int>(done * 100 / total) : 100);
    };
  } else {
    controller_.preparationProgress = nullptr;
  }
  ProgressBar bar("Scanning");
  // A phone backup's steps number their progress each on its own scale (the folder listing
  // counts 1 to 29 after the index reached 20): the bar shows the highest value seen.
  int phoneProgress = 0;
  if (showProgress) {
    controller_.nc.addObserver(
        &bar, notify::kBlackBerryRawRecoveryProgress,
        [&bar](const Notification& n) { bar.update(static_cast<int>(n.number())); });
    controller_.nc.addObserver(&bar, notify::kScanProgressInfo,
                               [&bar, &phoneProgress, &opening](const Notification& n) {
                                 opening.reset();
                                 const int64_t v = n.number();
                                 if (v <= phoneProgress || v > 100) return;
                                 phoneProgress = static_cast<int>(v);
                                 bar.update(phoneProgress);
                               });
  }
  const bool started = controller_.openPanelDidEnd(path, 1);
  controller_.waitForScan();
  controller_.preparationProgress = nullptr;
  opening.reset();
  controller_.nc.removeObserver(&bar);
  bar.finish();
  if (!started) {
    BackupScanOutcome refused;
    refused.fail(path + ": not scanned: the previous scan is still ending");
    return refused;
  }
  return controller_.lastOutcome();
}

ResultLists ScanSession::lists() {
  auto* results = controller_.resultViewController();
  return results != nullptr ? results->snapshot() : ResultLists{};
}

}  // namespace tamsel::cli
