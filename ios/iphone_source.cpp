#include "ios/iphone_source.h"

#include <sys/stat.h>

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "events/deleted_keys.h"
#include "events/notification_names.h"
#include "ios/backup_crypto.h"
#include "ios/backup_files.h"
#include "ios/backup_index.h"
#include "ios/contacts_messages.h"
#include "ios/deleted_rows.h"
#include "ios/deleted_steps.h"
#include "ios/device_list.h"
#include "ios/encrypted_backup.h"
#include "ios/media_files.h"
#include "ios/phone_db.h"
#include "ios/phone_records.h"
#include "util/log.h"

namespace tamsel {
namespace {

constexpr const char* kBackupMarkers[] = {"Manifest.mbdb", "Manifest.db", "Info.plist",
                                          "Manifest.plist"};

// Every notification that carries a record of the phone scan.
constexpr std::string_view kRecordNotifications[] = {
    notify::kScanPhotoAndVideo,   notify::kScanFaceTwitterInfo, notify::kScanContactInfo,
    notify::kScanMessageInfo,     notify::kScanCallHistoryInfo, notify::kScanNoteInfo,
    notify::kScanBookMarkInfo,    notify::kScanCalenderInfo,    notify::kScanDelContactInfo,
    notify::kScanDelMessageInfo,  notify::kScanDelNoteInfo,     notify::kScanDelCallHistoryInfo,
    notify::kScanDelBookMarkInfo, notify::kScanDelCalenderInfo};

// One of the phone's databases as the steps pick it: the first of `names` the backup holds;
// read only when the backup also holds `with` (when given).
struct PhoneDatabase {
  const char* what;
  std::vector<const StoredDatabase*> names;
  const StoredDatabase* with = nullptr;
};

const std::vector<PhoneDatabase>& phoneDatabases() {
  static const std::vector<PhoneDatabase> k = {
      {"address book", {&stored::kAddressBook}},
      {"contact pictures",
       {&stored::kAddressBookImages, &stored::kAddressBookImagesOld},
       &stored::kAddressBook},
      {"messages", {&stored::kMessages}},
      {"call history", {&stored::kCallHistory, &stored::kCallHistoryOld}},
      {"notes", {&stored::kNotes, &stored::kNotesOld}},
      {"bookmarks", {&stored::kBookmarks, &stored::kBookmarksOther}},
      {"calendar", {&stored::kCalendar}},
  };
  return k;
}

// A regular file itself, not a link to one: the backup's own files are never followed out
// of it.
bool isRegularFile(const std::filesystem::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Every stored database (and its log) that a step reads.
constexpr const StoredDatabase* kReadDatabases[] = {
    &stored::kAddressBook,
    &stored::kAddressBookImages,
    &stored::kAddressBookImagesOld,
    &stored::kMessages,
    &stored::kCallHistory,
    &stored::kCallHistoryOld,
    &stored::kCallHistoryStore,
    &stored::kNotes,
    &stored::kNotesOld,
    &stored::kNoteStore,
    &stored::kBookmarks,
    &stored::kBookmarksOther,
    &stored::kBrowserHistory,
    &stored::kCalendar,
};

// The stored databases that are there but cannot be read as files: a link (out of the
// backup), a FIFO, a device or a folder in their place, or an empty file. Each gets a
// warning, as a database that does not open does: the records it would hold are missing.
void warnUnreadableDatabases(const std::filesystem::path& folder, ScanContext& ctx) {
  for (const char* own :
       {"Manifest.db", "Manifest.db-wal", "Manifest.mbdb", "Info.plist", "Manifest.plist"}) {
    const EntryKind kind = entryKindBeneath(folder, own);
    if (kind != EntryKind::regular && kind != EntryKind::missing) {
      ctx.warnOnce(refusedEntryText(own, kind));
    }
  }
  for (const StoredDatabase* db : kReadDatabases) {
    for (std::string_view name : {db->name, db->walName}) {
      if (name.empty()) continue;
      StoredFileLookup found = lookupStoredFile(folder, name);
      if (found.refused()) {
        ctx.warnOnce(found.refusal());
      } else if (found.path && name == db->name) {
        std::error_code ec;
        if (std::filesystem::file_size(*found.path, ec) == 0 && !ec) {
          ctx.warnOnce("the stored file " + std::string(name) +
                       " is empty, not a database: nothing in it is read");
        }
      }
    }
  }
}

// The name of the first of `db`'s stored files that the backup holds.
std::optional<std::string_view> storedName(const std::filesystem::path& folder,
                                           const PhoneDatabase& db) {
  for (const StoredDatabase* s : db.names) {
    if (findStoredFile(folder, s->name)) return s->name;
  }
  return std::nullopt;
}

// True when the backup's index opens and its header reads (the walk stops at the first entry).
// An index whose log must be taken in is copied into the run folder for that.
bool indexReadable(const std::filesystem::path& folder, const ScanContext& ctx) {
  return forEachIndexEntry(
      folder, [](const BackupIndexEntry&) { return false; }, ctx.runDir);
}

// A private copy that opens and whose schema reads.
bool copyReadable(const std::filesystem::path& copy) {
  SqliteDatabase db(copy);
  return db.isOpen() && db.getTable("SELECT name FROM sqlite_master").has_value();
}

// Counts the records posted on `nc` while it lives.
class RecordCounter {
 public:
  explicit RecordCounter(NotificationCenter& nc) : nc_(nc) {
    for (std::string_view name : kRecordNotifications) {
      nc_.addObserver(this, name, [this](const Notification& n) {
        if (std::holds_alternative<std::shared_ptr<PRNode>>(n.object)) {
          count_.fetch_add(1, std::memory_order_relaxed);
        }
      });
    }
  }
  ~RecordCounter() { nc_.removeObserver(this); }
  RecordCounter(const RecordCounter&) = delete;
  RecordCounter& operator=(const RecordCounter&) = delete;
  uint64_t count() const { return count_.load(std::memory_order_relaxed); }

 private:
  NotificationCenter& nc_;
  std::atomic<uint64_t> count_{0};
};

// Keeps the keys of the records posted on `nc` while it lives, by the result presenter's
// duplicate rule, for the schema-aware pass that comes after the steps.
class PostedKeys {
 public:
  explicit PostedKeys(NotificationCenter& nc) : nc_(nc) {
    for (std::string_view name : kRecordNotifications) {
      const bool deleted = name.substr(1, 6) == "canDel";
      nc_.addObserver(this, name, [this, deleted](const Notification& n) {
        auto record = n.record<PRNode>();
        if (!record) return;
        if (deleted) {
          keys_.admitDeleted(*record);
        } else {
          keys_.noteLive(*record);
        }
      });
    }
  }
  ~PostedKeys() { stop(); }
  PostedKeys(const PostedKeys&) = delete;
  PostedKeys& operator=(const PostedKeys&) = delete;
  // Stops keeping keys (the pass keeps its own from then on).
  void stop() { nc_.removeObserver(this); }
  DeletedRecordKeys& keys() { return keys_; }

 private:
  NotificationCenter& nc_;
  DeletedRecordKeys keys_;
};

}  // namespace

int majorVersion(std::string_view version) {
  int major = 0;
  for (char c : version.substr(0, version.find('.'))) {
    if (c < '0' || c > '9' || major > 1000) return 0;
    major = major * 10 + (c - '0');
  }
  return major;
}

bool isIos6Version(std::string_view version) {
  if (version.empty()) return false;
  return version.substr(0, version.find('.')) == "6";
}

bool looksLikePhoneBackup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  const std::filesystem::path folder(path);
  for (const char* marker : kBackupMarkers) {
    if (isRegularFile(folder / marker)) return true;
  }
  return false;
}

ScanOutcome scanPhoneBackup(const std::string& path, ScanContext& ctx) {
  ScanOutcome o;
  std::string refusedList;
  const std::optional<PRIOSDeviceNode> node = readDeviceNode(path, &refusedList);
  if (!refusedList.empty()) {
    o.warnings.push_back(path + ": " + refusedList + ": the device's details are not read");
  }
  // An encrypted backup is read from a clear copy in the run folder; outcomes and messages
  // still name the user's folder.
  std::string readFrom = path;
  bool fromClearCopy = false;
  if (node && node->encrypted) {
    if (ctx.backupPassword.empty()) {
      o.fail(path + ": this backup is encrypted; its password is needed to read it");
      return o;
    }
    ClearBackup clear =
        openEncryptedBackup(path, ctx.backupPassword, ctx.runDir,
                            [&ctx](std::string_view stage, uint64_t done, uint64_t total) {
                              if (ctx.preparationProgress)
                                ctx.preparationProgress(stage, done, total);
                              return !ctx.stopped();
                            });
    for (std::string& w : clear.warnings) o.warnings.push_back(path + ": " + std::move(w));
    if (!clear.opened) {
      o.fail(path + ": " + clear.error);
      return o;
    }
    logDebug(path + ": " + std::to_string(clear.files) + " stored files (" +
             std::to_string(clear.bytes) + " bytes) decrypted into " + clear.folder.string());
    readFrom = clear.folder.string();
    fromClearCopy = true;
  }
  wipeSecret(ctx.backupPassword);
  const std::filesystem::path folder(readFrom);
  // A chosen list entry set the flag already; the folder's own property lists say the same,
  // and they decide for a folder chosen by its path.
  if (node && !node->strIOSVersion.empty()) {
    ctx.currentNodeIsiOS6Version = isIos6Version(node->strIOSVersion);
    ctx.iosMajorVersion = majorVersion(node->strIOSVersion);
  }

  const bool haveIndex = indexReadable(folder, ctx);
  bool haveDatabase = findStoredFile(folder, stored::kBrowserHistory.name).has_value();
  for (const PhoneDatabase& db : phoneDatabases()) {
    haveDatabase = haveDatabase || storedName(folder, db).has_value();
  }
  // The call and notes stores of newer phones (their steps report their own damage).
  for (const StoredDatabase* store : {&stored::kCallHistoryStore, &stored::kNoteStore}) {
    haveDatabase = haveDatabase || findStoredFile(folder, store->name).has_value();
  }
  if (!haveIndex && !haveDatabase) {
    o.fail(path +
           ": not a readable phone backup (its index, Manifest.db or Manifest.mbdb, cannot be "
           "read and it holds none of the phone's databases)");
    return o;
  }
  if (!haveIndex) {
    o.warnings.push_back(path +
                         ": the backup's index (Manifest.db or Manifest.mbdb) cannot be read; "
                         "photos, videos and app files are not listed");
  }
  if (ctx.runDir.empty() && haveDatabase) {
    o.warnings.push_back(path +
                         ": no run folder for the databases' private copies; contacts, "
                         "messages, calls, notes, bookmarks and calendar are not read");
  }

  warnUnreadableDatabases(folder, ctx);
  PostedKeys posted(ctx.nc);
  using Step = std::function<void()>;
  const std::pair<const char*, Step> steps[] = {
      {"index", [&] { scanDirAnalyThread(readFrom, ctx); }},
      {"folder listing", [&] { scanPhotoAndVideoThread(readFrom, ctx); }},
      {"contacts", [&] { scanContactThread(readFrom, ctx); }},
      {"messages", [&] { scanMessageThread(readFrom, ctx); }},
      {"call history", [&] { scanCallHistoryThread(readFrom, ctx); }},
      {"notes", [&] { scanNoteThread(readFrom, ctx); }},
      {"bookmarks", [&] { scanBookMarkThread(readFrom, ctx); }},
      {"calendar", [&] { scanCalenderThread(readFrom, ctx); }},
      {"deleted contacts", [&] { scanDelContactThread(readFrom, ctx); }},
      {"deleted messages", [&] { scanDelMessageThread(readFrom, ctx); }},
      {"deleted notes", [&] { scanDelNoteThread(readFrom, ctx); }},
      {"deleted call history", [&] { scanDelCallHistoryThread(readFrom, ctx); }},
      {"deleted bookmarks", [&] { ScanDelBookMarkThread(readFrom, ctx); }},
      {"deleted calendar", [&] { ScanDelCalenderThread(readFrom, ctx); }},
      {"deleted rows",
       [&] {
         posted.stop();
         scanDeletedRows(readFrom, ctx, posted.keys());
       }},
  };
  RecordCounter counter(ctx.nc);
  // The records read from the clear copy name the backup's own files as their origin.
  ctx.clearBackupFolder = fromClearCopy ? folder : std::filesystem::path();
  ctx.backupFolder = fromClearCopy ? std::filesystem::path(path) : std::filesystem::path();
  for (const auto& [what, step] : steps) {
    if (ctx.stopped()) break;
    // A step that fails (out of memory, say) ends that step, not the scan.
    try {
      step();
    } catch (const std::exception& e) {
      o.warnings.push_back(path + ": the " + what + " step ended early: " + e.what());
    }
  }
  ctx.clearBackupFolder.clear();
  ctx.backupFolder.clear();
  o.recordsPosted = counter.count();
  const bool stopped = ctx.stopped();
  for (std::string& w : ctx.warnings) o.warnings.push_back(path + ": " + std::move(w));
  ctx.warnings.clear();

  // The databases the steps had to skip. After a stop some were never meant to be read.
  if (!stopped && !ctx.runDir.empty()) {
    for (const PhoneDatabase& db : phoneDatabases()) {
      const std::optional<std::string_view> name = storedName(folder, db);
      if (!name || (db.with && !findStoredFile(folder, db.with->name))) continue;
      auto copy = ctx.databaseCopies.find(*name);
      if (copy == ctx.databaseCopies.end()) {
        o.warnings.push_back(path + ": the " + db.what + " database (" + std::string(*name) +
                             ") could not be copied for reading");
      } else if (!copyReadable(copy->second)) {
        o.warnings.push_back(path + ": the " + db.what + " database (" + std::string(*name) +
                             ") does not open as a database");
      }
    }
  }
  if (stopped) logLine(path + ": scan stopped");
  return o;
}

}  // namespace tamsel
