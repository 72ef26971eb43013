#include "ios/encrypted_backup.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "ios/backup_crypto.h"
#include "ios/backup_files.h"
#include "ios/property_list.h"
#include "util/log.h"
#include "util/small_file.h"
#include "util/suffix_types.h"
#include "util/untrusted_sqlite.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

// A property list larger than this is not a backup's Manifest.plist.
constexpr uint64_t kMaxPlistSize = uint64_t{16} << 20;

// The domains whose picture, sound and video files the index step lists, and the app
// domains whose every file it lists.
constexpr std::array<std::string_view, 3> kMediaDomains = {"CameraRollDomain", "MediaDomain",
                                                           "HomeDomain"};
constexpr std::array<std::string_view, 3> kAppDomains = {"AppDomain-com.facebook.Facebook",
                                                         "AppDomain-com.facebook.Messenger",
                                                         "AppDomain-com.atebits.Tweetie2"};

struct StatementFinalize {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};

std::span<const uint8_t> dataOf(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return {};
  uint64_t length = 0;
  const char* p = plist_get_data_ptr(node, &length);
  if (p == nullptr) return {};
  return {reinterpret_cast<const uint8_t*>(p), static_cast<size_t>(length)};
}

std::optional<uint64_t> uintOf(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  uint64_t v = 0;
  plist_get_uint_val(node, &v);
  return v;
}

// What the index row of a stored file says about it: its wrapped key (4-byte class, then
// the key) and its size.
struct StoredFileInfo {
  Bytes wrappedKey;
  std::optional<uint64_t> size;
};

// The object an archive's UID node points at in $objects; null when out of range.
plist_t archivedObject(plist_t objects, plist_t uid) {
  if (uid == nullptr || plist_get_node_type(uid) != PLIST_UID) return nullptr;
  uint64_t index = 0;
  plist_get_uid_val(uid, &index);
  if (index >= plist_array_get_size(objects)) return nullptr;
  return plist_array_get_item(objects, static_cast<uint32_t>(index));
}

// The `file` column: a keyed archive whose root object (an MBFile) holds EncryptionKey (a
// reference to an NSData, or the data itself), ProtectionClass and Size.
std::optional<StoredFileInfo> readFileArchive(std::span<const uint8_t> blob, std::string* why) {
  if (blob.empty() || blob.size() > (size_t{16} << 20)) {
    *why = "its index row has no file description";
    return std::nullopt;
  }
  std::string refused;
  PlistPtr root = parsePropertyList(
      std::string_view(reinterpret_cast<const char*>(blob.data()), blob.size()), &refused);
  plist_t raw = root.get();
  if (!root || plist_get_node_type(raw) != PLIST_DICT) {
    *why = "its file description is not a property list" +
           (refused.empty() || refused == "not a property list" ? "" : " (" + refused + ")");
    return std::nullopt;
  }
  plist_t objects = plist_dict_get_item(raw, "$objects");
  plist_t top = plist_dict_get_item(raw, "$top");
  if (objects == nullptr || plist_get_node_type(objects) != PLIST_ARRAY || top == nullptr ||
      plist_get_node_type(top) != PLIST_DICT) {
    *why = "its file description is not a keyed archive";
    return std::nullopt;
  }
  plist_t file = archivedObject(objects, plist_dict_get_item(top, "root"));
  if (file == nullptr || plist_get_node_type(file) != PLIST_DICT) {
    *why = "its file description has no file object";
    return std::nullopt;
  }
  StoredFileInfo info;
  info.size = uintOf(plist_dict_get_item(file, "Size"));
  plist_t keyRef = plist_dict_get_item(file, "EncryptionKey");
  plist_t key =
      plist_get_node_type(keyRef) == PLIST_DATA ? keyRef : archivedObject(objects, keyRef);
  if (key != nullptr && plist_get_node_type(key) == PLIST_DICT) {
    key = plist_dict_get_item(key, "NS.data");
  }
  std::span<const uint8_t> bytes = dataOf(key);
  info.wrappedKey.assign(bytes.begin(), bytes.end());
  return info;
}

bool isHashedName(std::string_view s) {
  if (s.size() != 40) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// The hashed names of the fixed stored files the scan reads (databases, logs, history).
const std::set<std::string, std::less<>>& fixedNames() {
  static const std::set<std::string, std::less<>> k = [] {
    std::set<std::string, std::less<>> names;
    for (const StoredDatabase* db :
         {&stored::kAddressBook, &stored::kAddressBookImages, &stored::kMessages,
          &stored::kCallHistory, &stored::kCallHistoryOld, &stored::kNotes, &stored::kNotesOld,
          &stored::kBookmarks, &stored::kBookmarksOther, &stored::kBrowserHistory,
          &stored::kCalendar}) {
      names.emplace(db->name);
      if (!db->walName.empty()) names.emplace(db->walName);
    }
    return names;
  }();
  return k;
}

// The databases of newer systems (the call store of systems 8 on, the notes store of 9 on)
// by domain and path, each with its log ("-wal" after the path).
constexpr std::pair<std::string_view, std::string_view> kNewerDatabases[] = {
    {"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata"},
    {"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"},
};

// True for the index rows whose stored file the scan's steps read.
bool scanReads(std::string_view fileId, std::string_view domain, std::string_view path) {
  if (fixedNames().contains(fileId)) return true;
  const std::string_view base =
      path.size() > 4 && path.ends_with("-wal") ? path.substr(0, path.size() - 4) : path;
  for (const auto& [d, p] : kNewerDatabases) {
    if (d == domain && p == base) return true;
  }
  for (std::string_view d : kAppDomains) {
    if (d == domain) return true;
  }
  bool media = false;
  for (std::string_view d : kMediaDomains) media = media || d == domain;
  if (!media) return false;
  const std::string_view name = path.substr(path.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  return GetImageType(extension) >= 0 || GetAudioType(extension) >= 0 ||
         GetViedoType(extension) >= 0;
}

std::string columnText(sqlite3_stmt* st, int column) {
  const unsigned char* text = sqlite3_column_text(st, column);
  const int length = sqlite3_column_bytes(st, column);
  if (text == nullptr || length <= 0) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

// One stored file to decrypt.
struct Job {
  std::string fileId;
  fs::path source;
  Bytes key;
  std::optional<uint64_t> size;
  uint64_t storedSize = 0;
};

class Opener {
 public:
  Opener(const fs::path& backup, const fs::path& runDir, const OpenProgress& progress)
      : backup_(backup), runDir_(runDir), progress_(progress) {}
  ~Opener() {
    for (Job& j : jobs_) wipeSecret(j.key);
    for (KeybagClassKey& k : bag_.classKeys) wipeSecret(k.key);
  }

  ClearBackup open(std::string& password) {
    ClearBackup out;
    if (!readManifest(out) || !unlock(password, out) || !makeFolder(out) || !decryptIndex(out) ||
        !listFiles(out) || !decryptFiles(out)) {
      wipeSecret(password);
      if (!out.folder.empty()) {
        std::error_code ec;
        fs::remove_all(out.folder, ec);
        out.folder.clear();
      }
      return out;
    }
    out.opened = true;
    return out;
  }

 private:
  bool fail(ClearBackup& out, std::string why) {
    out.error = std::move(why);
    return false;
  }

  bool tell(std::string_view stage, uint64_t done, uint64_t total) {
    return !progress_ || progress_(stage, done, total);
  }

  bool readManifest(ClearBackup& out) {
    std::optional<std::string> bytes = readSmallFile(backup_ / "Manifest.plist", kMaxPlistSize);
    if (!bytes || bytes->empty()) return fail(out, "Manifest.plist cannot be read");
    std::string refused;
    PlistPtr root = parsePropertyList(*bytes, &refused);
    plist_t raw = root.get();
    if (!root && refused != "not a property list") {
      return fail(out, "Manifest.plist refused: " + refused);
    }
    if (!root || plist_get_node_type(raw) != PLIST_DICT) {
      return fail(out, "Manifest.plist is not a property list dictionary");
    }
    std::span<const uint8_t> keybag = dataOf(plist_dict_get_item(raw, "BackupKeyBag"));
    if (keybag.empty()) return fail(out, "Manifest.plist holds no keybag (BackupKeyBag)");
    std::string error;
    std::optional<Keybag> bag = parseKeybag(keybag, &error);
    if (!bag) return fail(out, error);
    bag_ = std::move(*bag);
    std::span<const uint8_t> manifestKey = dataOf(plist_dict_get_item(raw, "ManifestKey"));
    manifestKey_.assign(manifestKey.begin(), manifestKey.end());
    return true;
  }

  bool unlock(std::string& password, ClearBackup& out) {
    logLine(std::string(kDerivingStage) + " (" +
            std::to_string(bag_.iterations + (bag_.dpsl.empty() ? 0 : bag_.dpic)) + " iterations)");
    bool stopped = false;
    std::optional<Key256> key =
        derivePasscodeKey(bag_, password, [this, &stopped](uint64_t d, uint64_t t) {
          stopped = !tell(kDerivingStage, d, t);
          return !stopped;
        });
    wipeSecret(password);
    if (!key) {
      out.stopped = stopped;
      return fail(out, stopped ? "stopped while deriving the backup's key"
                               : "the backup's key could not be derived (a library failure)");
    }
    const bool passcodeWrapped =
        std::any_of(bag_.classKeys.begin(), bag_.classKeys.end(), [](const KeybagClassKey& k) {
          return (k.wrap & kWrapByPasscode) != 0 && !k.wrappedKey.empty();
        });
    if (!passcodeWrapped) {
      std::fill(key->begin(), key->end(), 0);
      return fail(out,
                  "the backup's keybag is damaged: none of its keys is wrapped by the password");
    }
    const bool unlocked = unlockKeybag(bag_, *key);
    std::fill(key->begin(), key->end(), 0);
    if (!unlocked) {
      out.wrongPassword = true;
      return fail(out, "wrong password: the backup's keys do not unlock with it");
    }
    logLine("the backup's key is derived and its class keys are unlocked");
    return true;
  }

  bool makeFolder(ClearBackup& out) {
    if (runDir_.empty()) return fail(out, "no run folder for the backup's decrypted copy");
    std::string tmpl = (runDir_ / "clear-backup-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      return fail(out, "cannot make a folder for the backup's decrypted copy in " +
                           runDir_.string() + ": " + std::strerror(errno));
    }
    out.folder = tmpl;
    folder_ = out.folder;
    for (const char* name : {"Info.plist", "Manifest.plist"}) {
      std::error_code ec;
      // A link in place of either is not followed out of the backup.
      if (fs::symlink_status(backup_ / name, ec).type() == fs::file_type::regular) {
        fs::copy_file(backup_ / name, folder_ / name, ec);
        // Like every decrypted file of the run: for this user only.
        if (!ec)
          fs::permissions(folder_ / name, fs::perms::owner_read | fs::perms::owner_write, ec);
        if (ec) out.warnings.push_back(std::string(name) + " could not be copied: " + ec.message());
      }
    }
    return true;
  }

  bool decryptIndex(ClearBackup& out) {
    const fs::path index = backup_ / "Manifest.db";
    std::error_code ec;
    if (fs::symlink_status(index, ec).type() != fs::file_type::regular) {
      return fail(out,
                  "this encrypted backup has no Manifest.db (encrypted backups indexed by "
                  "Manifest.mbdb are not read)");
    }
    if (manifestKey_.empty()) {
      return fail(out, "Manifest.plist holds no key for Manifest.db (ManifestKey)");
    }
    std::string why;
    std::optional<Bytes> key = unwrapStoredKey(bag_, manifestKey_, &why);
    if (!key) return fail(out, "the key of Manifest.db cannot be used: " + why);
    DecryptLength length;
    length.stripPadding = true;
    const bool ok = decryptFile(index, folder_ / "Manifest.db", *key, length, &why);
    wipeSecret(*key);
    if (!ok) return fail(out, "Manifest.db " + why);
    std::optional<std::string> head;
    {
      const int fd = ::open((folder_ / "Manifest.db").c_str(), O_RDONLY | O_CLOEXEC);
      char buffer[16] = {};
      if (fd >= 0) {
        if (::read(fd, buffer, sizeof buffer) == static_cast<ssize_t>(sizeof buffer)) {
          head = std::string(buffer, sizeof buffer);
        }
        ::close(fd);
      }
    }
    if (!head || *head != std::string_view("SQLite format 3\0", 16)) {
      return fail(out, "Manifest.db does not decrypt to a database (the backup is damaged)");
    }
    return true;
  }

  // The index rows whose files the scan reads, with their unwrapped keys.
  bool listFiles(ClearBackup& out) {
    // The index is the backup's own: it is read through the guards for such databases, and
    // a stop asked while it is read ends the listing.
    UntrustedSqlite guarded((folder_ / "Manifest.db").string());
    guarded.stopWhen([this] { return !tell(kDecryptingStage, 0, 1); });
    sqlite3* db = guarded.handle();
    if (!guarded.isOpen()) {
      return fail(out, "the decrypted Manifest.db cannot be read: " + guarded.error());
    }
    // Its Files must be a table: a view in its place could give rows without end.
    if (std::optional<std::string> type = guarded.objectType("Files"); type && *type != "table") {
      return fail(out, "the decrypted Manifest.db cannot be read: Files is a " + *type +
                           ", not a table: not read");
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fileID, domain, relativePath, flags, file FROM Files", -1,
                           &st, nullptr) != SQLITE_OK) {
      return fail(out,
                  std::string("the decrypted Manifest.db cannot be read: ") + sqlite3_errmsg(db));
    }
    std::unique_ptr<sqlite3_stmt, StatementFinalize> rows(st);
    int rc;
    uint64_t row = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      ++row;
      const std::string fileId = columnText(st, 0);
      if (!isHashedName(fileId) || sqlite3_column_int64(st, 3) != 1) continue;
      if (!scanReads(fileId, columnText(st, 1), columnText(st, 2))) continue;
      StoredFileLookup found = lookupStoredFile(backup_, fileId);
      if (found.refused()) out.warnings.push_back(found.refusal());
      std::optional<fs::path> source = std::move(found.path);
      if (!source) continue;  // listed but not stored: the scan finds it missing, as always
      struct stat sst {};
      if (::lstat(source->c_str(), &sst) != 0 || !S_ISREG(sst.st_mode)) continue;
      const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(st, 4));
      const int blobLength = sqlite3_column_bytes(st, 4);
      std::string why;
      std::optional<StoredFileInfo> info = readFileArchive(
          std::span<const uint8_t>(blob, blob ? static_cast<size_t>(blobLength) : 0), &why);
      Job job;
      job.fileId = fileId;
      job.source = *source;
      job.storedSize = static_cast<uint64_t>(sst.st_size);
      if (info) job.size = info->size;
      if (info && info->wrappedKey.empty() && info->size.value_or(0) == 0) {
        jobs_.push_back(std::move(job));  // an empty file: nothing encrypted to read
        continue;
      }
      if (info && info->wrappedKey.empty()) why = "its file description holds no key";
      if (info && !info->wrappedKey.empty()) {
        std::optional<Bytes> key = unwrapStoredKey(bag_, info->wrappedKey, &why);
        wipeSecret(info->wrappedKey);
        if (key) {
          job.key = std::move(*key);
          jobs_.push_back(std::move(job));
          continue;
        }
      }
      out.warnings.push_back("the stored file " + fileId + " is not decrypted: " + why);
    }
    if (guarded.stopped()) return stop(out);
    if (rc != SQLITE_DONE) {
      out.warnings.push_back(
          "the decrypted Manifest.db could not be read past row " + std::to_string(row) + ": " +
          (guarded.budgetSpent() ? "it asks for more work than its size accounts for"
                                 : sqlite3_errmsg(db)));
    }
    return true;
  }

  bool decryptFiles(ClearBackup& out) {
    uint64_t total = 0;
    for (const Job& j : jobs_) total += j.storedSize;
    uint64_t done = 0;
    if (!tell(kDecryptingStage, 0, total)) return stop(out);
    for (Job& j : jobs_) {
      const fs::path sub = folder_ / j.fileId.substr(0, 2);
      if (::mkdir(sub.c_str(), 0700) != 0 && errno != EEXIST) {
        return fail(out, "cannot make " + sub.string() + ": " + std::strerror(errno));
      }
      const fs::path target = sub / j.fileId;
      std::string why;
      bool ok = false;
      if (j.key.empty()) {
        const int fd =
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        ok = fd >= 0 && ::close(fd) == 0;
        if (!ok) why = std::string("cannot be written in clear: ") + std::strerror(errno);
      } else {
        DecryptLength length;
        length.size = j.size;
        ok = decryptFile(j.source, target, j.key, length, &why, [&](uint64_t d, uint64_t) {
          return tell(kDecryptingStage, done + d, total);
        });
        wipeSecret(j.key);
      }
      done += j.storedSize;
      if (!ok && why == "stopped") return stop(out);
      if (!ok) {
        out.warnings.push_back("the stored file " + j.fileId + " is not decrypted: it " + why);
        continue;
      }
      ++out.files;
      out.bytes += j.storedSize;
      if (!tell(kDecryptingStage, done, total)) return stop(out);
    }
    return true;
  }

  bool stop(ClearBackup& out) {
    out.stopped = true;
    return fail(out, "stopped while decrypting the backup");
  }

  fs::path backup_;
  fs::path runDir_;
  const OpenProgress& progress_;
  Keybag bag_;
  Bytes manifestKey_;
  fs::path folder_;
  std::vector<Job> jobs_;
};

}  // namespace

ClearBackup openEncryptedBackup(const fs::path& backup, std::string& password,
                                const fs::path& runDir, const OpenProgress& progress) {
  Opener opener(backup, runDir, progress);
  return opener.open(password);
}

std::optional<StoredFileDescription> describeStoredFile(std::span<const uint8_t> column,
                                                        std::string* why) {
  std::string reason;
  std::optional<StoredFileInfo> info = readFileArchive(column, &reason);
  if (!info) {
    if (why) *why = std::move(reason);
    return std::nullopt;
  }
  return StoredFileDescription{std::move(info->wrappedKey), info->size};
}

}  // namespace tamsel
