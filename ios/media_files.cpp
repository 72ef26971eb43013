#include "ios/media_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "util/format.h"
#include "util/log.h"
#include "util/suffix_types.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kAppDomains = {
    "AppDomain-com.facebook.Facebook",
    "AppDomain-com.atebits.Tweetie2",
    "AppDomain-com.facebook.Messenger",
};

// Files of this size or more are listed by the folder listing step.
constexpr uint64_t kListedFileSize = 50000;
// The folder listing step posts its progress at 29 checkpoints (n * k / 30, k = 1..29).
constexpr uint64_t kCheckpoints = 30;

bool isAppDomain(std::string_view domain) {
  return std::find(kAppDomains.begin(), kAppDomains.end(), domain) != kAppDomains.end();
}

std::string_view lastComponent(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view extensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

// The size of the regular file at `path` (never through a link below the backup folder);
// none when there is no such file. Anything else in its place is refused: `refused` gets
// what it is.
std::optional<uint64_t> storedFileSize(const std::string& path, EntryKind* refused) {
  *refused = EntryKind::missing;
  if (path.empty()) return std::nullopt;
  uint64_t size = 0;
  const EntryKind kind = storedEntryKind(path, &size);
  if (kind == EntryKind::regular) return size;
  if (kind != EntryKind::missing) *refused = kind;
  return std::nullopt;
}

std::string sizeText(uint64_t bytes) {
  return size_to_unit(static_cast<uint32_t>(bytes));
}

bool isTwoHexDigits(std::string_view name) {
  auto hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  return name.size() == 2 && hex(name[0]) && hex(name[1]);
}

// The names of `folder` as "folder/name", in name order; the files of its two-hex-digit
// subfolders take the place of the subfolders themselves.
std::vector<std::string> listFolder(const fs::path& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeEc;
    if (isTwoHexDigits(name) && it->is_directory(typeEc) && !it->is_symlink(typeEc)) {
      std::error_code subEc;
      for (fs::directory_iterator sub(it->path(), subEc), subEnd; !subEc && sub != subEnd;
           sub.increment(subEc)) {
        out.push_back(sub->path().string());
      }
      continue;
    }
    out.push_back(it->path().string());
  }
  if (ec) logDebug("folder listing stopped: " + folder.string() + ": " + ec.message());
  std::sort(out.begin(), out.end());
  return out;
}

// The backup's own stored file for `readPath` when the backup is read from its clear copy.
// The copy keeps each file under "ab/abcdef..."; the backup keeps it there or flat, and the
// copy was made from the one its hashed name finds. Empty when the backup is read directly
// or `readPath` is not in the copy.
std::string originOf(const std::string& readPath, const ScanContext& ctx) {
  if (ctx.clearBackupFolder.empty() || ctx.backupFolder.empty()) return {};
  const std::string prefix = ctx.clearBackupFolder.string() + "/";
  if (readPath.size() <= prefix.size() || readPath.compare(0, prefix.size(), prefix) != 0) {
    return {};
  }
  const std::string_view name = lastComponent(readPath);
  if (auto stored = findStoredFile(ctx.backupFolder, name)) return stored->string();
  // Listed but not stored: the same place in the backup as in the copy.
  return (ctx.backupFolder / readPath.substr(prefix.size())).string();
}

}  // namespace

void GetMediaFileByNode(const PRTreeDirNode& entry, ScanContext& ctx) {
  const std::string_view name = lastComponent(entry.filePath);
  const std::string_view extension = extensionOf(name);
  const bool picture = GetImageType(extension) >= 0;
  const bool movie = !picture && (GetAudioType(extension) >= 0 || GetViedoType(extension) >= 0);
  const bool app = isAppDomain(entry.fileDomain);
  if (!picture && !movie && !app) return;

  // One size query serves both records; a missing stored file counts as 0 bytes. A link,
  // FIFO, device or folder in its place is no file of the phone's: no record, a warning.
  EntryKind refused = EntryKind::missing;
  const std::optional<uint64_t> size = storedFileSize(entry.fileKey, &refused);
  if (refused != EntryKind::missing) {
    ctx.warnOnce(refusedEntryText("the stored file " + std::string(lastComponent(entry.fileKey)) +
                                      " of " + entry.fileDomain + "-" + entry.filePath,
                                  refused));
    return;
  }
  const std::string origin = originOf(entry.fileKey, ctx);
  if (picture || movie) {
    auto node = std::make_shared<PRPhotoAndVideoNode>();
    node->filePath = entry.fileKey;
    node->originPath = origin;
    node->fileNodeName = std::string(name);
    node->fileNodeSize = sizeText(size.value_or(0));
    node->bmov = movie;
    ctx.nc.post(notify::kScanPhotoAndVideo, std::shared_ptr<PRNode>(std::move(node)));
  }
  if (app && size) {
    auto node = std::make_shared<PRFaceTwitterNode>();
    node->fileSize = sizeText(*size);
    node->faceTwitterFileName = std::string(name);
    node->faceTwitterFilePath = entry.fileKey;
    node->originPath = origin;
    ctx.nc.post(notify::kScanFaceTwitterInfo, std::shared_ptr<PRNode>(std::move(node)));
  }
}

void scanPhotoAndVideoThread(const std::string& folder, ScanContext& ctx) {
  const std::vector<std::string> paths = listFolder(folder);
  const uint64_t n = paths.size();
  if (n == 0) return;
  int64_t counter = 0;
  uint64_t k = 1;  // the next checkpoint not yet passed
  for (uint64_t i = 0; i < n; ++i) {
    if (ctx.stopped()) return;
    // One post however many checkpoints fall on this position.
    bool checkpoint = false;
    while (k < kCheckpoints && n * k / kCheckpoints <= i) {
      checkpoint = checkpoint || n * k / kCheckpoints == i;
      ++k;
    }
    if (checkpoint) ctx.nc.post(notify::kScanProgressInfo, ++counter);

    struct stat st {};
    // A backup holds no links: one that is there is not followed.
    if (::lstat(paths[i].c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) >= kListedFileSize) {
      ctx.nc.post(notify::kScanPhotoAndVideoInfo, paths[i]);
    }
  }
}

}  // namespace tamsel
