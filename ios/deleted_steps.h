// The deleted-record steps of the phone scan, after the live ones: each carves the scan's
// private copy of its database and the write-ahead log the backup stored beside it, then
// posts its progress value.
#pragma once

#include <string>

#include "events/scan_context.h"

namespace tamsel {

void scanDelContactThread(const std::string& backup, ScanContext& ctx);      // progress 75
void scanDelMessageThread(const std::string& backup, ScanContext& ctx);      // progress 80
void scanDelNoteThread(const std::string& backup, ScanContext& ctx);         // progress 85
void scanDelCallHistoryThread(const std::string& backup, ScanContext& ctx);  // progress 90
void ScanDelBookMarkThread(const std::string& backup, ScanContext& ctx);     // progress 95
void ScanDelCalenderThread(const std::string& backup, ScanContext& ctx);     // progress 100

}  // namespace tamsel
