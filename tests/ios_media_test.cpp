#include "ios/media_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "events/notification_names.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "util/format.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::IosBackupWriter;
using testing::TempFolder;

// Every post of the media steps, in order, as text.
struct Posts {
  explicit Posts(NotificationCenter& nc) {
    nc.addObserver(notify::kScanPhotoAndVideo, [this](const Notification& n) {
      auto r = n.record<PRPhotoAndVideoNode>();
      lines.push_back(std::string(r->bmov ? "movie " : "picture ") + r->fileNodeName + " " +
                      r->fileNodeSize + " " + r->filePath);
    });
    nc.addObserver(notify::kScanFaceTwitterInfo, [this](const Notification& n) {
      auto r = n.record<PRFaceTwitterNode>();
      lines.push_back("app " + r->faceTwitterFileName + " " + r->fileSize + " " +
                      r->faceTwitterFilePath);
    });
    nc.addObserver(notify::kScanProgressInfo, [this](const Notification& n) {
      lines.push_back("progress " + std::to_string(n.number(-1)));
    });
    nc.addObserver(notify::kScanPhotoAndVideoInfo, [this](const Notification& n) {
      lines.push_back("file " + std::get<std::string>(n.object));
    });
  }
  std::vector<std::string> lines;
};

TEST(IosMediaFiles, EntriesByExtensionAndDomain) {
  struct Case {
    const char* domain;
    const char* path;
    int storedBytes;  // -1: no stored file
    std::vector<std::string> kinds;
  };
  const std::vector<Case> cases = {
      {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", 1500, {"picture"}},
      {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.jpg", -1, {"picture"}},
      {"MediaDomain", "Media/Recordings/memo.m4a", 10, {"movie"}},
      {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_0003.MOV", 10, {"movie"}},
      {"HomeDomain", "Library/Preferences/x.weird", 10, {}},
      {"HomeDomain", "Library/noextension", 10, {}},
      {"AppDomain-com.atebits.Tweetie2", "Library/Caches/a.plist", -1, {}},
      {"AppDomain-com.atebits.Tweetie2", "Library/Caches/a.plist", 20, {"app"}},
      {"AppDomain-com.facebook.Facebook", "Documents/p.png", 30, {"picture", "app"}},
      {"AppDomain-com.facebook.Other", "Documents/q.png", 30, {"picture"}},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    IosBackupWriter w(tmp.path(), IosBackupWriter::Layout::subfolders);
    fs::path stored = w.pathFor(c.domain, c.path);
    if (c.storedBytes >= 0) testing::writeWholeFile(stored, std::string(c.storedBytes, 'b'));
    PRTreeDirNode entry;
    entry.fileDomain = c.domain;
    entry.filePath = c.path;
    entry.fileKey = stored.string();
    NotificationCenter nc;
    ScanContext ctx(nc);
    Posts posts(nc);
    GetMediaFileByNode(entry, ctx);

    const std::string name = fs::path(c.path).filename().string();
    const std::string size = size_to_unit(c.storedBytes < 0 ? 0 : c.storedBytes);
    std::vector<std::string> expected;
    for (const std::string& kind : c.kinds) {
      expected.push_back(kind + " " + name + " " + size + " " + stored.string());
    }
    EXPECT_EQ(posts.lines, expected) << c.domain << " " << c.path;
  }
}

std::vector<size_t> positions(size_t first, size_t step, size_t count) {
  std::vector<size_t> out;
  for (size_t i = 0; i < count; ++i) out.push_back(first + i * step);
  return out;
}

// The progress counter is posted once at each checkpoint position (1, 2, ... in turn), just
// before that position's file; in the subfolder layout the subfolders' files are the names.
TEST(IosFolderListing, ProgressCheckpoints) {
  struct Case {
    size_t names;
    bool subfolders;
    std::vector<size_t> checkpoints;
  };
  const std::vector<Case> cases = {
      {10, false, positions(0, 1, 10)},
      {300, false, positions(10, 10, 29)},
      {10, true, positions(0, 1, 10)},
      {300, true, positions(10, 10, 29)},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    for (size_t i = 0; i < c.names; ++i) {
      // Every file large enough to be listed (sparse), named so that they sort in order.
      char name[64];
      std::snprintf(name, sizeof name, "%s%05zu", i < c.names / 2 ? "0a" : "f3", i);
      fs::path dir = c.subfolders ? tmp.path() / std::string(name, 2) : tmp.path();
      fs::create_directories(dir);
      testing::writeWholeFile(dir / name, "");
      fs::resize_file(dir / name, 50000 + i);
    }
    NotificationCenter nc;
    ScanContext ctx(nc);
    Posts posts(nc);
    scanPhotoAndVideoThread(tmp.path().string(), ctx);
    std::vector<std::string> files, progress;
    std::vector<size_t> at;
    for (const std::string& l : posts.lines) {
      if (l.rfind("progress ", 0) == 0) {
        progress.push_back(l);
        at.push_back(files.size());
      } else {
        files.push_back(l);
      }
    }
    EXPECT_EQ(at, c.checkpoints) << c.names << (c.subfolders ? " in subfolders" : "");
    for (size_t j = 0; j < progress.size(); ++j) {
      EXPECT_EQ(progress[j], "progress " + std::to_string(j + 1));
    }
    ASSERT_EQ(files.size(), c.names);
    fs::path first = c.subfolders ? tmp.path() / "0a" / "0a00000" : tmp.path() / "0a00000";
    EXPECT_EQ(files[0], "file " + first.string());
  }
}

TEST(IosFolderListing, SizeLimitAndEmptyFolders) {
  TempFolder tmp;
  for (auto [name, size] : {std::pair{"small", 49999}, std::pair{"large", 50000}}) {
    testing::writeWholeFile(tmp.path() / name, std::string(size, 'x'));
  }
  ::symlink((tmp.path() / "large").c_str(), (tmp.path() / "link").c_str());
  fs::create_directory(tmp.path() / "empty");
  NotificationCenter nc;
  ScanContext ctx(nc);
  Posts posts(nc);
  scanPhotoAndVideoThread(tmp.path().string(), ctx);
  std::vector<std::string> files;
  for (const auto& l : posts.lines) {
    if (l.rfind("file ", 0) == 0) files.push_back(l);
  }
  EXPECT_EQ(files, std::vector<std::string>{"file " + (tmp.path() / "large").string()});

  posts.lines.clear();
  scanPhotoAndVideoThread((tmp.path() / "empty").string(), ctx);
  scanPhotoAndVideoThread((tmp.path() / "missing").string(), ctx);
  EXPECT_TRUE(posts.lines.empty());
}

}  // namespace
}  // namespace tamsel
