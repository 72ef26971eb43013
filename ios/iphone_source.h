// The phone-backup source: a backup folder as the desktop synchronisation software leaves it
// (Info.plist, Manifest.plist, the index Manifest.mbdb or Manifest.db, and the phone's files
// under their hashed names). The folder is only ever read; the databases are read from
// private copies in the scan's run folder.
#pragma once

#include <string>
#include <string_view>

#include "events/scan_source.h"

namespace tamsel {

// True when `version` (a phone's system version, "6.1.3") begins with the piece "6".
bool isIos6Version(std::string_view version);

// The first number of a system version ("14.3" gives 14); 0 when it is not a number.
int majorVersion(std::string_view version);

// True when `path` is a folder holding Manifest.mbdb, Manifest.db, Info.plist or
// Manifest.plist as a regular file. Only looks at the names (stat), never reads them.
bool looksLikePhoneBackup(const std::string& path);

// Reads the backup folder `folder` in the order of the phone scan's steps: index with media
// and app files, folder listing, contacts, messages, call history, notes, bookmarks,
// calendar; ctx.stopped() is checked between steps. An encrypted backup is opened with
// ctx.backupPassword into a clear copy in the run folder, and the steps read that copy; without
// a password, with a wrong one, or with neither a readable index nor any of the phone's
// databases, the backup is not readable (nothing is posted).
ScanOutcome scanPhoneBackup(const std::string& folder, ScanContext& ctx);

// The source's name, as outcomes give it.
inline constexpr std::string_view kIphoneBackupSourceName = "iPhone backup";

class IphoneBackupSource : public ScanSource {
 public:
  std::string_view name() const override { return kIphoneBackupSourceName; }
  bool probe(const std::string& path) const override { return looksLikePhoneBackup(path); }
  ScanOutcome scan(const std::string& path, ScanContext& ctx) override {
    return scanPhoneBackup(path, ctx);
  }
};

}  // namespace tamsel
