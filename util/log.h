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

// Writes one line (no trailing newline needed). Control and bidirectional characters and
// bytes that are not UTF-8 reach the sink escaped (util/text.h escapeForTerminal).
void logLine(std::string_view line);

// Writes one line of detail (what a reader saw, such as each database name) that front ends
// show only when asked to be verbose.
void logDebug(std::string_view line);
// Whether logDebug lines reach the sink (off by default).
void setDebugLogging(bool on);

}  // namespace tamsel
