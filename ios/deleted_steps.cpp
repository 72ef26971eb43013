#include "ios/deleted_steps.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "carve/carve_pages.h"
#include "carve/deleted_bookmarks.h"
#include "carve/deleted_calendar.h"
#include "carve/deleted_calls.h"
#include "carve/deleted_contacts.h"
#include "carve/deleted_messages.h"
#include "carve/deleted_notes.h"
#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/phone_db.h"
#include "util/log.h"
#include "util/output_folder.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

using Carver = void (*)(const CarveInput&, ScanContext&);

// One deleted-record step: which stored database it reads (the second only when the backup
// does not hold the first), the line logged when the backup holds neither (none: nothing is
// logged), its carver and the progress value it posts at its end.
struct DeletedStep {
  const StoredDatabase* first;
  const StoredDatabase* second;
  const char* missingLine;
  Carver carve;
  int progress;
};

bool isRegularFile(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::unique_ptr<CarveInput> openCarveInput(const fs::path& backup, const StoredDatabase& db,
                                           ScanContext& ctx, fs::path* copyOut) {
  std::optional<fs::path> copy = privateDatabaseCopy(backup, db, ctx);
  if (!copy) return nullptr;
  if (copyOut) *copyOut = *copy;
  const fs::path storedLog(copy->string() + ".stored-wal");
  fs::path carved = *copy;
  if (isRegularFile(storedLog)) {
    const std::string untouchedName = copy->filename().string() + ".stored";
    const fs::path untouched = copy->parent_path() / untouchedName;
    if (!isRegularFile(untouched)) {
      std::optional<fs::path> stored = findStoredFile(backup, db.name);
      std::string error;
      std::optional<OutputFolder> folder = OutputFolder::openExisting(copy->parent_path(), &error);
      std::optional<fs::path> made;
      if (stored && folder) {
        // Opened below the backup folder without following a link, copied for this user only.
        if (const int in = openStoredFile(*stored, &error); in >= 0) {
          made = folder->copyFrom(in, stored->string(), untouchedName, &error, 0600);
        }
      }
      if (made && made->filename() != untouchedName) {
        std::error_code ec;
        fs::remove(*made, ec);
        made.reset();
        error = untouched.string() + " exists already";
      }
      if (!made) {
        logLine("no untouched copy of " + std::string(db.name) + " (" + error +
                "): deleted rows are read from the checkpointed copy");
      }
    }
    if (isRegularFile(untouched)) carved = untouched;
  }
  std::string error;
  std::unique_ptr<CarveInput> input =
      CarveInput::open(carved.string(), isRegularFile(storedLog) ? storedLog.string() : "", &error);
  if (!input) logLine("cannot read " + carved.string() + " for deleted records: " + error);
  return input;
}

namespace {

void runStep(const std::string& backup, ScanContext& ctx, const DeletedStep& step) {
  if (backup.empty()) return;
  const fs::path folder(backup);
  const StoredDatabase* db = nullptr;
  if (findStoredFile(folder, step.first->name)) {
    db = step.first;
  } else if (step.second && findStoredFile(folder, step.second->name)) {
    db = step.second;
  }
  if (!db) {
    if (step.missingLine) logLine(step.missingLine);
    return;
  }
  std::unique_ptr<CarveInput> input = openCarveInput(folder, *db, ctx);
  if (!input) return;
  step.carve(*input, ctx);
  if (ctx.stopped()) return;
  ctx.nc.post(notify::kScanProgressInfo, int64_t{step.progress});
}

}  // namespace

void scanDelContactThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kAddressBook, nullptr, "contactDB is not exist", carveDeletedContacts, 75});
}

void scanDelMessageThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kMessages, nullptr, "messageDB is not exist", carveDeletedMessages, 80});
}

void scanDelNoteThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kNotes, &stored::kNotesOld, "NoteDB is not exist", carveDeletedNotes, 85});
}

void scanDelCallHistoryThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kCallHistory, &stored::kCallHistoryOld, "messageDB is not exist",
           carveDeletedCallHistory, 90});
}

// The bookmarks are read from the file the live bookmark step reads: the second name only
// when the backup lacks the first.
void ScanDelBookMarkThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kBookmarks, &stored::kBookmarksOther, nullptr, carveDeletedBookmarks, 95});
}

void ScanDelCalenderThread(const std::string& backup, ScanContext& ctx) {
  runStep(backup, ctx,
          {&stored::kCalendar, nullptr, "NoteDB is not exist", carveDeletedCalendar, 100});
}

}  // namespace tamsel
