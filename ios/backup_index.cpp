#include "ios/backup_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/media_files.h"
#include "util/byte_source.h"
#include "util/log.h"
#include "util/sha1.h"
#include "util/text.h"
#include "util/untrusted_sqlite.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMbdbHeader("mbdb\x05\x00", 6);
constexpr size_t kMbdbWindow = size_t{1} << 20;
// Mode, inode, user and group ids, three times, size and protection class of a record.
constexpr uint64_t kMbdbFixedFields = 2 + 8 + 4 + 4 + 4 + 4 + 4 + 8 + 1;

// The six domains whose files the index step hands on.
constexpr std::array<std::string_view, 6> kWantedDomains = {
    "CameraRollDomain",
    "MediaDomain",
    "HomeDomain",
    "AppDomain-com.facebook.Facebook",
    "AppDomain-com.facebook.Messenger",
    "AppDomain-com.atebits.Tweetie2",
};

std::string upperHex(std::span<const uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

bool isWantedDomain(std::string_view domain) {
  for (std::string_view d : kWantedDomains) {
    if (d == domain) return true;
  }
  return false;
}

// st_size of a regular file, none for anything else (a link to a file included: the index
// and its log are never followed out of the backup).
std::optional<uint64_t> regularFileSize(const fs::path& p) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

// Where the stored files of the entries are: lookupStoredFile for the first entries, then,
// for a long index, one listing of the backup folder and its two-hex-digit subfolders, so
// that a large backup costs one directory read instead of two failed look-ups per entry
// that is not stored. Both give the same answer, and neither follows a link: a link (or a
// FIFO, a device) in place of a stored file, or a link in place of a subfolder, is given as
// the entry's path so that the entry is refused where it is read.
class StoredFiles {
 public:
  explicit StoredFiles(const fs::path& backup) : backup_(backup), prefix_(backup.string() + "/") {}

  // The stored file of `name`, or the flat path "backup/name" when it is in neither place.
  std::string key(const std::string& name) {
    if (lookups_ < kDirectLookups) {
      ++lookups_;
      StoredFileLookup found = lookupStoredFile(backup_, name);
      if (found.path) return found.path->string();
      // A folder of that name is no stored file (as in the listing below); anything else
      // in its place is refused where the entry is read.
      if (found.refused() && found.refusedKind != EntryKind::folder) {
        return found.refusedPath.string();
      }
      return prefix_ + name;
    }
    if (!listed_) list();
    if (name.size() < 2 || name.find('/') != std::string::npos) return prefix_ + name;
    const std::string nested = prefix_ + name.substr(0, 2) + "/" + name;
    const auto flat = flat_.find(name), sub = nested_.find(name);
    if (flat != flat_.end() && flat->second) return prefix_ + name;
    if (sub != nested_.end() && sub->second) return nested;
    if (flat != flat_.end()) return prefix_ + name;
    if (sub != nested_.end() || linkedFolders_.contains(name.substr(0, 2))) return nested;
    return prefix_ + name;
  }

 private:
  static constexpr size_t kDirectLookups = 256;

  static bool isHexPair(std::string_view n) {
    auto hex = [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    return n.size() == 2 && hex(n[0]) && hex(n[1]);
  }

  // Adds the entries of the open folder `dir` that are not folders (links not followed) to
  // `names`, each with whether it is a regular file; with `subfolders`, lists its
  // two-hex-digit subfolders into nested_.
  void listFolder(DIR* dir, std::unordered_map<std::string, bool>& names, bool subfolders) {
    while (struct dirent* d = ::readdir(dir)) {
      std::string_view n = d->d_name;
      if (n == "." || n == "..") continue;
      unsigned char type = d->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(st.st_mode)   ? DT_DIR
               : S_ISLNK(st.st_mode) ? DT_LNK
               : S_ISREG(st.st_mode) ? DT_REG
                                     : DT_FIFO;
      }
      if (type == DT_DIR) {
        if (!subfolders || !isHexPair(n)) continue;
        int fd = ::openat(::dirfd(dir), d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        DIR* sub = ::fdopendir(fd);
        if (sub == nullptr) {
          ::close(fd);
          continue;
        }
        listFolder(sub, nested_, false);
        ::closedir(sub);
      } else if (type == DT_LNK && subfolders && isHexPair(n)) {
        linkedFolders_.emplace(n);
      } else {
        names.emplace(n, type == DT_REG);
      }
    }
  }

  void list() {
    listed_ = true;
    if (DIR* dir = ::opendir(backup_.c_str())) {
      listFolder(dir, flat_, true);
      ::closedir(dir);
    }
  }

  fs::path backup_;
  std::string prefix_;
  size_t lookups_ = 0;
  bool listed_ = false;
  std::unordered_map<std::string, bool> flat_, nested_;
  std::unordered_set<std::string> linkedFolders_;
};

// The bytes up to the first zero byte, as the index's C-string fields are taken.
std::string_view uptoZero(std::span<const uint8_t> bytes) {
  std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t zero = s.find('\0');
  return zero == std::string_view::npos ? s : s.substr(0, zero);
}

// ------------------------------------------------------------------------ Manifest.mbdb

// Sequential reader of Manifest.mbdb through a read window; every step reports whether the
// record still lies inside the file.
class MbdbCursor {
 public:
  explicit MbdbCursor(const ByteSource& src) : src_(src) {}
  uint64_t position() const { return pos_; }
  void seek(uint64_t pos) { pos_ = pos; }

  // A string field: false when cut short. `out` gets its bytes (nothing for an absent or
  // empty string) and stays valid until the next read.
  bool string(std::string_view* out) {
    if (src_.size() - pos_ < 2) return false;
    uint64_t length = src_.readBE(pos_, 2);
    pos_ += 2;
    *out = {};
    if (length == 0xFFFF || length == 0) return true;
    if (src_.size() - pos_ < length) return false;
    *out = uptoZero(src_.view(pos_, length));
    pos_ += length;
    return true;
  }
  bool skipString() {
    std::string_view ignored;
    return string(&ignored);
  }
  bool skip(uint64_t n) {
    if (src_.size() - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  bool byte(uint8_t* out) {
    if (src_.size() - pos_ < 1) return false;
    *out = src_.byteAt(pos_++);
    return true;
  }

 private:
  const ByteSource& src_;
  uint64_t pos_ = 0;
};

bool walkMbdb(const fs::path& backup, const std::function<bool(const BackupIndexEntry&)>& each,
              std::string* damage) {
  const fs::path index = backup / "Manifest.mbdb";
  std::string error;
  // Opened read-only: the backup is evidence and is never written.
  ByteSource src = ByteSource::open(index.string(), &error, kMbdbWindow);
  if (!src.valid()) {
    logDebug("Manifest.mbdb cannot be opened: " + error);
    return false;
  }
  if (src.size() < kMbdbHeader.size()) {
    logDebug("Manifest.mbdb is shorter than its header");
    return false;
  }
  auto header = src.view(0, kMbdbHeader.size());
  if (std::string_view(reinterpret_cast<const char*>(header.data()), header.size()) !=
      kMbdbHeader) {
    logLine("Manifest.mbdb: not an index of a known version (header " + upperHex(header) + ")");
    return false;
  }

  StoredFiles stored(backup);
  MbdbCursor cur(src);
  cur.seek(kMbdbHeader.size());
  BackupIndexEntry entry;
  entry.total = src.size();
  while (cur.position() < src.size()) {
    const uint64_t start = cur.position();
    std::string_view domain, path;
    bool whole = cur.string(&domain);
    std::string rawDomain(domain);
    whole = whole && cur.string(&path);
    std::string rawPath(path);
    uint8_t propertyCount = 0;
    whole = whole && cur.skipString() && cur.skipString() && cur.skipString() &&
            cur.skip(kMbdbFixedFields) && cur.byte(&propertyCount);
    for (unsigned i = 0; whole && i < propertyCount; ++i) {
      whole = cur.skipString() && cur.skipString();
    }
    if (src.failed()) {
      logLine("Manifest.mbdb: read failed at offset " + std::to_string(start) + ": " + src.error());
      if (damage) *damage = "Manifest.mbdb could not be read past offset " + std::to_string(start);
      break;
    }
    if (!whole) {
      // A record the end of the file cuts short is not an entry: the walk ends there.
      logLine("Manifest.mbdb: the record at offset " + std::to_string(start) +
              " is cut short by the end of the file");
      if (damage) {
        *damage = "Manifest.mbdb is cut short: the entries from offset " + std::to_string(start) +
                  " on are missing";
      }
      break;
    }
    entry.domain = GetStringFormChar(rawDomain);
    entry.path = GetStringFormChar(rawPath);
    std::string name = hashedFileName(rawDomain, rawPath);
    entry.fileKey = name.empty() ? std::string() : stored.key(name);
    entry.position = cur.position();
    if (!each(entry)) break;
  }
  return true;
}

// -------------------------------------------------------------------------- Manifest.db

std::string sqliteUri(const fs::path& p, bool immutable) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : p.string()) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  uri += immutable ? "?mode=ro&immutable=1" : "?mode=ro";
  return uri;
}

struct StatementFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The index through the guards for a database of the user's (util/untrusted_sqlite.h); a
// stop, when given, ends its statements.
std::unique_ptr<UntrustedSqlite> openReadOnly(const fs::path& p, bool immutable,
                                              const std::atomic<bool>* stop) {
  auto db = std::make_unique<UntrustedSqlite>(
      sqliteUri(p, immutable), p.string(),
      UntrustedSqlite::Options{.flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI});
  if (!db->isOpen()) {
    logDebug("Manifest.db cannot be opened: " + db->error());
    return nullptr;
  }
  if (stop != nullptr) db->stopWhen([stop] { return stop->load(std::memory_order_relaxed); });
  return db;
}

// A folder of our own for the copies of Manifest.db and its log, removed with them.
class CopyFolder {
 public:
  explicit CopyFolder(const fs::path& parent) {
    fs::path base = parent.empty() ? fs::temp_directory_path() : parent;
    std::string tmpl = (base / "manifest-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~CopyFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  CopyFolder(const CopyFolder&) = delete;
  CopyFolder& operator=(const CopyFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool isHashedName(std::string_view s) {
  if (s.size() != 40) return false;
  for (char c : s) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string columnText(sqlite3_stmt* st, int column) {
  const unsigned char* text = sqlite3_column_text(st, column);
  int length = sqlite3_column_bytes(st, column);
  if (text == nullptr || length <= 0) return {};
  return GetStringFormChar(std::span<const uint8_t>(text, static_cast<size_t>(length)));
}

bool walkManifestDb(const fs::path& backup, const fs::path& copyParent,
                    const std::function<bool(const BackupIndexEntry&)>& each, std::string* damage,
                    const std::atomic<bool>* stop) {
  const fs::path index = backup / "Manifest.db";
  const fs::path wal = backup / "Manifest.db-wal";
  std::optional<CopyFolder> copies;
  std::unique_ptr<UntrustedSqlite> guarded;
  if (regularFileSize(wal).value_or(0) > 0) {
    // Rows still in the log are only seen through a copy: reading the log in place would
    // need a shared-memory file beside it, and the backup folder is never written.
    copies.emplace(copyParent);
    if (copies->path().empty()) {
      logLine("Manifest.db: no folder for a copy of the index and its log");
      return false;
    }
    std::error_code ec;
    fs::copy_file(index, copies->path() / "Manifest.db", ec);
    if (!ec) fs::copy_file(wal, copies->path() / "Manifest.db-wal", ec);
    if (ec) {
      logLine("Manifest.db: cannot copy the index and its log: " + ec.message());
      return false;
    }
    guarded = openReadOnly(copies->path() / "Manifest.db", false, stop);
  } else {
    // Nothing in a log: the file is read as it is, without locks or a shared-memory file,
    // so a read-only folder opens too.
    guarded = openReadOnly(index, true, stop);
  }
  if (!guarded) return false;
  sqlite3* db = guarded->handle();
  // What the guards refused or ended is logged when the walk ends.
  struct Told {
    UntrustedSqlite& db;
    ~Told() {
      for (const std::string& line : db.takeWarnings()) logLine("Manifest.db: " + line);
    }
  } told{*guarded};
  auto fail = [damage](const std::string& line) {
    logLine(line);
    if (damage) *damage = line;
    return false;
  };
  // The index is read from a table only: a view in its place could give rows without end.
  if (std::optional<std::string> type = guarded->objectType("Files"); type && *type != "table") {
    return fail("Manifest.db: Files is a " + *type + ", not a table: not read");
  }

  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM Files", -1, &raw, nullptr) != SQLITE_OK) {
    logLine(std::string("Manifest.db: no table of files: ") + sqlite3_errmsg(db));
    return false;
  }
  StatementPtr count(raw);
  if (sqlite3_step(count.get()) != SQLITE_ROW) {
    if (guarded->stopped()) return true;  // stopped before the first entry
    if (guarded->budgetSpent()) {
      return fail("Manifest.db is not read: it asks for more work than its size accounts for");
    }
    logLine(std::string("Manifest.db cannot be read: ") + sqlite3_errmsg(db));
    return false;
  }
  const int64_t rows = sqlite3_column_int64(count.get(), 0);
  count.reset();

  if (sqlite3_prepare_v2(db, "SELECT fileID, domain, relativePath FROM Files", -1, &raw, nullptr) !=
      SQLITE_OK) {
    logLine(std::string("Manifest.db: no table of files: ") + sqlite3_errmsg(db));
    return false;
  }
  StatementPtr files(raw);
  StoredFiles stored(backup);
  BackupIndexEntry entry;
  entry.total = rows > 0 ? static_cast<uint64_t>(rows) : 0;
  uint64_t read = 0;
  int rc;
  while ((rc = sqlite3_step(files.get())) == SQLITE_ROW) {
    ++read;
    std::string fileId = columnText(files.get(), 0);
    if (!isHashedName(fileId)) {
      logLine("Manifest.db: row " + std::to_string(read) +
              " skipped: its file name is not 40 hexadecimal digits");
      continue;
    }
    entry.domain = columnText(files.get(), 1);
    entry.path = columnText(files.get(), 2);
    entry.fileKey = stored.key(fileId);
    entry.position = read < entry.total ? read : entry.total;
    if (!each(entry)) return true;
  }
  if (rc != SQLITE_DONE && !guarded->stopped()) {
    const std::string why = guarded->budgetSpent()
                                ? std::string("it asks for more work than its size accounts for")
                                : std::string(sqlite3_errmsg(db));
    logLine("Manifest.db: reading stopped after " + std::to_string(read) + " rows: " + why);
    if (damage) {
      *damage = "Manifest.db could not be read past row " + std::to_string(read) + ": " + why;
    }
  }
  return true;
}

bool hasSqliteHeader(const fs::path& p) {
  std::string error;
  ByteSource src = ByteSource::open(p.string(), &error, 4096);
  if (!src.valid() || src.size() < 16) return false;
  auto head = src.view(0, 16);
  return std::string_view(reinterpret_cast<const char*>(head.data()), head.size()) ==
         std::string_view("SQLite format 3\0", 16);
}

}  // namespace

std::string hashedFileName(std::string_view domain, std::string_view path) {
  // The texts are hashed whole. Cutting each to 259 bytes first, as a fixed text buffer
  // would, gives a name no backup uses for a long path, so no stored file would be found.
  Sha1 sha;
  sha.input(domain);
  sha.input(std::string_view("-"));
  sha.input(path);
  auto words = sha.result();
  if (!words) {
    logLine("AnalyzerFile hash1 could not compute message digest.");
    return {};
  }
  return sha1WordsHex(*words);
}

BackupIndexKind backupIndexKind(const fs::path& backup) {
  if (regularFileSize(backup / "Manifest.db") && hasSqliteHeader(backup / "Manifest.db")) {
    return BackupIndexKind::manifestDb;
  }
  if (regularFileSize(backup / "Manifest.mbdb")) return BackupIndexKind::mbdb;
  return BackupIndexKind::none;
}

bool forEachIndexEntry(const fs::path& backup,
                       const std::function<bool(const BackupIndexEntry&)>& each,
                       const fs::path& copyFolder, std::string* damage,
                       const std::atomic<bool>* stop) {
  switch (backupIndexKind(backup)) {
    case BackupIndexKind::manifestDb:
      if (walkManifestDb(backup, copyFolder, each, damage, stop)) return true;
      // A Manifest.db that does not read leaves an older index, when there is one.
      return regularFileSize(backup / "Manifest.mbdb") && walkMbdb(backup, each, damage);
    case BackupIndexKind::mbdb:
      return walkMbdb(backup, each, damage);
    case BackupIndexKind::none:
      break;
  }
  return false;
}

bool forEachIndexEntry(const fs::path& backup,
                       const std::function<bool(const BackupIndexEntry&)>& each) {
  return forEachIndexEntry(backup, each, fs::path());
}

void scanDirAnalyThread(const std::string& backup, ScanContext& ctx) {
  std::string damage;
  forEachIndexEntry(
      backup,
      [&ctx](const BackupIndexEntry& e) {
        if (ctx.stopped()) return false;
        if (!isWantedDomain(e.domain)) return true;
        int64_t progress =
            e.total > 0 ? static_cast<int64_t>(e.position * 20 / e.total) : int64_t{0};
        ctx.nc.post(notify::kScanProgressInfo, progress);
        PRTreeDirNode node;
        node.fileDomain = e.domain;
        node.filePath = e.path;
        node.fileKey = e.fileKey;
        GetMediaFileByNode(node, ctx);
        return true;
      },
      ctx.runDir, &damage, &ctx.stopRequested);
  if (!damage.empty()) ctx.warnings.push_back(std::move(damage));
}

}  // namespace tamsel
