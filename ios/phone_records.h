// Live call history, notes, browser bookmarks and history, and calendar of a phone backup,
// read as whole result tables from the scan's private copies.
//
// Each step reads its database's first stored file, or the second only when the backup does
// not hold the first. NULL and empty cells leave a record's field at its default. Each step
// checks ctx.stopped() between records and, once stopped, returns without posting anything
// more (no progress either).
#pragma once

#include <string>

#include "events/scan_context.h"

namespace tamsel {

// "ScanCallHistoryInfo" per call (name through ctx's name index) of call_history.db, then
// those of CallHistory.storedata (ios/call_history_store.h) when the backup holds it, then
// "ScanProgressInfo" 60 when the backup holds either call file, whether or not it could be read.
void scanCallHistoryThread(const std::string& backup, ScanContext& ctx);
// "ScanNoteInfo" per note (old layout, else the newer one), then those of NoteStore.sqlite
// (ios/note_store.h) when the backup holds it, then "ScanProgressInfo" 70 when the backup
// holds either notes file, whether or not it could be read.
void scanNoteThread(const std::string& backup, ScanContext& ctx);
// When the backup holds a bookmarks database: "scanBookMarkInfo" per bookmark but the two
// standard folders, then the browser's five default bookmarks, then one per entry of the
// browser history list. No progress.
void scanBookMarkThread(const std::string& backup, ScanContext& ctx);
// "scanCalenderInfo" per event; the location is the location's row id on system 6 phones
// (ctx.currentNodeIsiOS6Version), its title otherwise. No progress.
void scanCalenderThread(const std::string& backup, ScanContext& ctx);

}  // namespace tamsel
