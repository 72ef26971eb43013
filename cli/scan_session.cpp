#include "cli/scan_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/progress_bar.h"
#include "events/notification_names.h"
#include "ios/backup_crypto.h"
#include "ios/device_list.h"
#include "ios/iphone_source.h"
#include "util/text.h"

namespace tamsel::cli {
namespace {

// The longest password line read from a file.
constexpr size_t kMaxPasswordLine = 4096;

// A password file's first line; none when the file cannot be read or is no file to read one
// line from. Never more than a line's worth of bytes is read: /dev/zero or an endless pipe
// is no reason to fill the memory.
std::optional<std::string> firstLine(const std::string& file, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    *error = "cannot read the password file " + file + ": " + why;
    return std::nullopt;
  };
  // Blocking: a pipe (standard input, a process substitution) waits for its writer.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
      !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || (S_ISCHR(st.st_mode) && ::isatty(fd)))) {
    const int err = errno;
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return fail("it is a folder");
    return fail(st.st_mode != 0 ? "it is not a regular file, a pipe or a terminal"
                                : std::strerror(err));
  }
  // The line, its "\r\n" and no more.
  constexpr size_t kMostRead = kMaxPasswordLine + 2;
  std::string bytes;
  char buffer[1024];
  bool ended = false;
  while (bytes.size() < kMostRead) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kMostRead - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      wipeSecret(bytes);
      return fail(std::strerror(err));
    }
    if (n == 0) {
      ended = true;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    if (std::memchr(buffer, '\n', static_cast<size_t>(n)) != nullptr) break;
  }
  ::close(fd);
  std::fill(std::begin(buffer), std::end(buffer), '\0');
  const size_t end = bytes.find('\n');
  std::string line = bytes.substr(0, end);
  wipeSecret(bytes);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if ((end == std::string::npos && !ended) || line.size() > kMaxPasswordLine) {
    wipeSecret(line);
    return fail("its first line is longer than " + std::to_string(kMaxPasswordLine) + " bytes");
  }
  return line;
}

// The terminal's settings while a password is typed without echo, for restoreTerminal.
std::atomic<bool> gEchoOff{false};
termios gTerminalBefore{};

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
    gTerminalBefore = before;
    gEchoOff = true;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  for (int c; (c = std::getchar()) != EOF && c != '\n';) line += static_cast<char>(c);
  if (restore) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    gEchoOff = false;
  }
  if (!restore) std::fputc('\n', stderr);
  return line;
}

}  // namespace

void restoreTerminal() {
  if (gEchoOff.exchange(false)) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &gTerminalBefore);
    std::fputc('\n', stderr);
  }
}

ScanSession::ScanSession(std::optional<std::filesystem::path> workDir, const std::string& input)
    : input_(input), controller_(nullptr, std::move(workDir)) {
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
