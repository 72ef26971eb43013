#include "util/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

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
  std::lock_guard lock(logMutex());
  if (currentSink()) currentSink()(line);
}

}  // namespace tamsel
