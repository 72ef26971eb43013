// One process-wide diagnostic logger. Scanners write their free-text diagnostics here
// ("contactDB is not exist", skipped records with their offsets); the CLI sends them to
// stderr, the GUI to a log file. Thread-safe; each call writes one whole line.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tamsel {

using LogSink = std::function<void(std::string_view line)>;

// Replaces the sink; an empty sink discards every line. Returns the previous sink.
LogSink setLogSink(LogSink sink);

// Writes one line (no trailing newline needed).
void logLine(std::string_view line);

}  // namespace tamsel
