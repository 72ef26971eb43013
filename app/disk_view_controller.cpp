#include "app/disk_view_controller.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "app/orlisk_app_delegate.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {

std::string defaultImageListFile() {
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    config = fs::path(home) / ".config";
  } else {
    return {};
  }
  return (config / "tamsel" / "disk-images").string();
}

std::vector<std::string> readImageList(const std::string& file) {
  std::vector<std::string> paths;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && std::find(paths.begin(), paths.end(), line) == paths.end()) {
      paths.push_back(line);
    }
  }
  return paths;
}

bool writeImageList(const std::string& file, const std::vector<std::string>& paths) {
  std::error_code ec;
  const fs::path target(file);
  fs::create_directories(target.parent_path(), ec);
  const fs::path temp = target.string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const std::string& p : paths) out << p << '\n';
    out.flush();
    if (!out) {
      logLine("Cannot write the list of image files to " + temp.string());
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    logLine("Cannot write the list of image files to " + file + ": " + ec.message());
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

namespace {

// A file the library can list as a disk: a regular file or a block device.
bool diskLike(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

bool blockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// A chosen file's path as listed: absolute, without "." and ".." steps.
std::string chosenPath(const std::string& chosen) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(chosen, ec);
  return ec ? chosen : absolute.lexically_normal().string();
}

// Whether the library lists `path` because TAMSEL_DISKLIB_IMAGES (":"-separated) names it.
bool offeredByEnvironment(const std::string& path) {
  const char* env = std::getenv("TAMSEL_DISKLIB_IMAGES");
  if (env == nullptr || path.empty()) return false;
  const std::string_view list(env);
  for (size_t from = 0; from <= list.size();) {
    size_t colon = list.find(':', from);
    if (colon == std::string_view::npos) colon = list.size();
    if (list.substr(from, colon - from) == path) return true;
    from = colon + 1;
  }
  return false;
}

// The same file under either name (a link, another spelling); false when either is gone.
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return a == b || (fs::equivalent(a, b, ec) && !ec);
}

// The library lists an added image for as long as it stays loaded and cannot be told to
// forget one, so the images taken off the list are left out of every listing of this
// process instead, until they are added again. Used from the UI thread only.
std::vector<std::string>& withdrawnImages() {
  static std::vector<std::string> paths;
  return paths;
}

bool withdrawn(const std::string& path) {
  const auto& w = withdrawnImages();
  return std::find(w.begin(), w.end(), path) != w.end();
}

void setWithdrawn(const std::string& path, bool on) {
  auto& w = withdrawnImages();
  std::erase(w, path);
  if (on) w.push_back(path);
}

}  // namespace

PRDiskViewController::PRDiskViewController(OrliskAppDelegate& app, DiskView* view,
                                           PRDiskFileController::VolumeNameReader reader,
                                           std::string imageListFile)
    : app_(app),
      view_(view != nullptr ? view : &nullView_),
      diskFileController_(app.diskTable(), std::move(reader)),
      imageListFile_(std::move(imageListFile)) {}

void PRDiskViewController::loadAddedImages() {
  const export_function_table* table = app_.diskTable();
  if (imagesLoaded_ || table == nullptr || table->addDiskImage == nullptr) return;
  imagesLoaded_ = true;
  if (imageListFile_.empty()) return;
  const std::vector<std::string> kept = readImageList(imageListFile_);
  for (const std::string& path : kept) {
    if (!diskLike(path)) {
      logLine("The added image file " + path + " is gone; it is no longer listed");
      continue;
    }
    if (table->addDiskImage(path.c_str()) != 0) {
      addedImages_.push_back(path);
      setWithdrawn(path, false);
    }
  }
  if (addedImages_.size() != kept.size()) writeImageList(imageListFile_, addedImages_);
}

bool PRDiskViewController::addImageFile(const std::string& chosen) {
  const std::string path = chosenPath(chosen);
  const export_function_table* table = app_.diskTable();
  if (table == nullptr || table->addDiskImage == nullptr) {
    logLine("The disk library cannot list image files; " + path + " is not added");
    return false;
  }
  loadAddedImages();
  if (path.empty() || path.find('\n') != std::string::npos || !diskLike(path)) {
    logLine("Not an image file or a disk: " + path);
    return false;
  }
  // Listed already, maybe under another name: listed once, and a disk or an image the
  // environment offers is not put on the user's list.
  const auto same = [&](const std::string& listed) { return sameFile(listed, path); };
  if (std::any_of(addedImages_.begin(), addedImages_.end(), same) || rowOfFile(path)) {
    logLine("The image file " + path + " is listed already");
    showView();
    return true;
  }
  if (table->addDiskImage(path.c_str()) == 0) {
    logLine("The disk library refused the image file " + path);
    return false;
  }
  setWithdrawn(path, false);
  addedImages_.push_back(path);
  if (!imageListFile_.empty()) writeImageList(imageListFile_, addedImages_);
  showView();
  return true;
}

std::shared_ptr<PRDiskInfoNode> PRDiskViewController::rowOfFile(const std::string& file) const {
  const std::string path = chosenPath(file);
  for (const auto& row : rows_) {
    if (row && sameFile(row->diskdev, path)) return row;
  }
  return nullptr;
}

bool PRDiskViewController::canRemoveImage(const PRDiskInfoNode& row) const {
  return row.deviceIndex == 255 &&
         std::find(addedImages_.begin(), addedImages_.end(), row.diskdev) != addedImages_.end() &&
         !offeredByEnvironment(row.diskdev);
}

bool PRDiskViewController::removeImageFile(const std::string& path) {
  loadAddedImages();
  const auto it = std::find(addedImages_.begin(), addedImages_.end(), path);
  if (it == addedImages_.end() || offeredByEnvironment(path)) {
    logLine("The image file " + path + " is not on the list of added images");
    return false;
  }
  addedImages_.erase(it);
  setWithdrawn(path, true);
  // The list is written whole, whatever the file held (missing, unreadable).
  if (!imageListFile_.empty()) writeImageList(imageListFile_, addedImages_);
  logLine("The image file " + path + " is no longer listed");
  if (currentScanNode_ && currentScanNode_->diskdev == path) currentScanNode_.reset();
  showView();
  return true;
}

void PRDiskViewController::showView() {
  view_->showDiskView();
  diskFileController_.setTable(app_.diskTable());
  loadAddedImages();
  if (diskFileController_.initDisk() == 0) logLine("The disk library cannot list the disks");
  diskFileController_.initDiskDetails();
  diskFileController_.initVolumeName();
  diskFileController_.addDeepDeviceList();
  app_.diskHandles = diskFileController_.disks();
  rows_.clear();
  for (const auto& row : diskFileController_.content()) {
    const bool hidden = row && withdrawn(row->diskdev) && !blockDevice(row->diskdev) &&
                        !offeredByEnvironment(row->diskdev);
    if (!hidden) rows_.push_back(row);
  }
  view_->showDiskTree(rows_);
}

void PRDiskViewController::outlineViewSelectionDidChange(
    const std::shared_ptr<PRDiskInfoNode>& row) {
  if (!row) return;
  currentScanNode_ = row;
  app_.currentDiskName = row->diskdev;
}

bool PRDiskViewController::CilckScan() {
  if (!currentScanNode_ || app_.rawScanRunning()) return false;
  if (currentScanNode_->bSystemDisk && !view_->confirmSystemDiskScan(*currentScanNode_)) {
    logLine("The system disk " + currentScanNode_->diskdev + " is not scanned");
    return false;
  }
  view_->fixWindowSize(849, 620);
  // The flag is set and the result screen prepared before the scan thread posts anything.
  app_.brawScan_ = true;
  app_.showResultView();
  if (!app_.QuickScanStart(currentScanNode_)) return false;
  view_->hideDiskView();
  return true;
}

void PRDiskViewController::ClickHome() {
  view_->fixWindowSize(849, 560);
  view_->hideDiskView();
  app_.showMainView();
}

}  // namespace tamsel
