// The index of a phone backup: every stored file with its domain and path. Older backups
// index in Manifest.mbdb (a flat record file), backups since 2016 in Manifest.db (SQLite,
// table Files); both are read through one interface, read-only.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "events/records.h"
#include "events/scan_context.h"

namespace tamsel {

// The hashed name of a phone file: the SHA-1 digest of domain, "-" and path, as 40
// lowercase hexadecimal digits. The texts are hashed in full, however long (a deliberate
// choice: cut texts would give names under which no backup stores a file).
std::string hashedFileName(std::string_view domain, std::string_view path);

enum class BackupIndexKind { none, mbdb, manifestDb };

// Which index the backup folder has (Manifest.db when both are present and it opens).
BackupIndexKind backupIndexKind(const std::filesystem::path& backup);

struct BackupIndexEntry {
  std::string domain;
  std::string path;
  std::string fileKey;    // the stored file's full path (flat or in its subfolder)
  uint64_t position = 0;  // how far the index has been read (bytes or rows)
  uint64_t total = 0;     // the index's size in the same unit
};

// Calls `each` for every entry of the backup's index, in index order; returns false when
// the backup has no index that can be read (nothing called). `each` returns false to stop.
// Manifest.mbdb: header "mbdb" 5 0 checked; a record cut short ends the walk (logged, not
// handed on). Manifest.db: rows of table Files whose fileID is not 40 hexadecimal digits
// are skipped (logged). fileKey is the stored file found flat or in its subfolder, else the
// flat path "backup/name".
bool forEachIndexEntry(const std::filesystem::path& backup,
                       const std::function<bool(const BackupIndexEntry&)>& each);
// The same, with the folder in which a Manifest.db whose "-wal" log holds rows is copied
// (with its log) to be read; a private temporary folder when empty. The copy goes when the
// walk ends; the backup folder is never written. `damage` (when given) gets one line when
// the index could be read only in part, or not at all because its Files is not a table (a
// view is never read). Manifest.db is read within a budget of work in proportion to its size
// (util/untrusted_sqlite.h); once `stop` (when given) is true, a read of it ends as if `each`
// had returned false.
bool forEachIndexEntry(const std::filesystem::path& backup,
                       const std::function<bool(const BackupIndexEntry&)>& each,
                       const std::filesystem::path& copyFolder, std::string* damage = nullptr,
                       const std::atomic<bool>* stop = nullptr);

// The index step: every entry of the six wanted domains goes to GetMediaFileByNode, with
// "ScanProgressInfo" (position x 20 / total) posted before each. An index read only in part
// adds a line to ctx.warnings.
void scanDirAnalyThread(const std::string& backup, ScanContext& ctx);

}  // namespace tamsel
