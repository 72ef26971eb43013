#include "util/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "util/text.h"

namespace tamsel {
namespace {

std::mutex& logMutex() {
  static std::mutex m;
  return m;
}

LogSink& currentSink() {
  static LogSink sink = [](std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  };
  return sink;
}

std::atomic<bool> gDebug{false};

}  // namespace

void setDebugLogging(bool on) {
  gDebug = on;
}

void logDebug(std::string_view line) {
  if (gDebug.load()) logLine(line);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(logMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

void logLine(std::string_view line) {
  // Names and texts in diagnostics come from the input: escaped here, once for every sink,
  // so that a log shown on a terminal cannot drive it.
  std::lock_guard lock(logMutex());
  if (currentSink()) currentSink()(escapeForTerminal(line));
}

}  // namespace tamsel
