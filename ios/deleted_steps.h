// The deleted-record steps of the phone scan, after the live ones: each carves the scan's
// private copy of its database and the write-ahead log the backup stored beside it, then
// posts its progress value.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "carve/carve_pages.h"
#include "events/scan_context.h"
#include "ios/backup_files.h"

namespace tamsel {

// What the deleted-record readers carve of the stored database `db` of `backup`: the database
// as the backup stored it with the write-ahead log stored beside it. The scan's private copy is
// checkpointed, which overwrites pages of the file with their last version from the log (and
// with them the deleted rows those pages held), so when there is a log the stored file is
// copied once more, untouched, into the run folder ("<copy>.stored") and that copy is carved;
// without a log the private copy is. `copy` gets the private, checkpointed copy (for SQL).
// Null (logged) when no copy could be made.
std::unique_ptr<CarveInput> openCarveInput(const std::filesystem::path& backup,
                                           const StoredDatabase& db, ScanContext& ctx,
                                           std::filesystem::path* copy = nullptr);

void scanDelContactThread(const std::string& backup, ScanContext& ctx);      // progress 75
void scanDelMessageThread(const std::string& backup, ScanContext& ctx);      // progress 80
void scanDelNoteThread(const std::string& backup, ScanContext& ctx);         // progress 85
void scanDelCallHistoryThread(const std::string& backup, ScanContext& ctx);  // progress 90
void ScanDelBookMarkThread(const std::string& backup, ScanContext& ctx);     // progress 95
void ScanDelCalenderThread(const std::string& backup, ScanContext& ctx);     // progress 100

}  // namespace tamsel
