// Live call history, notes, browser bookmarks and history, and calendar of a phone backup,
// read as whole result tables from the scan's private copies.
#pragma once

#include <string>

#include "events/scan_context.h"

namespace tamsel {

void scanCallHistoryThread(const std::string& backup, ScanContext& ctx);  // progress 60
void scanNoteThread(const std::string& backup, ScanContext& ctx);         // progress 70
void scanBookMarkThread(const std::string& backup, ScanContext& ctx);     // no progress
void scanCalenderThread(const std::string& backup, ScanContext& ctx);     // no progress

}  // namespace tamsel
