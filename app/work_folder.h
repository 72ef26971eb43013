// The private work folder. Every scan gets a run folder of its own inside it
// ("run-XXXXXX", locked while the scan lives) for what it unpacks or copies; the user's
// files are never written to. Two scans at once, in one program or in two, never share a
// file, and a run folder is removed when its scan's results are dropped.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tamsel {

// $TAMSEL_WORK_DIR when set, otherwise $HOME/Downloads/com.Veltrane.Tamsel.
std::filesystem::path defaultWorkDir();

// Start-up clean-up: removes the run folders of the work folder whose lock is free (left by
// a run that ended without removing its folder, e.g. a crash). Run folders of live runs,
// anything that holds or lies inside the input of a live scan, and every other file of the
// work folder (older versions' "Databases", "BlackBerry.zip", ...) are left alone. Failures
// are logged and ignored. Returns the number of run folders removed.
int cleanWorkFolder(const std::filesystem::path& workDir);

// One scan's run folder: created with mkdtemp as "<workDir>/run-XXXXXX" and locked (flock on
// its descriptor) for the life of this object.
class RunFolder {
 public:
  // Creates the work folder when needed, then the run folder; null with `error` set when
  // either cannot be made.
  static std::unique_ptr<RunFolder> create(const std::filesystem::path& workDir,
                                           std::string* error);
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Removes the folder and everything in it (files still held open elsewhere stay readable
  // through their descriptors), unless it holds the input of a live scan. Idempotent and
  // safe from any thread; the lock is kept until destruction.
  void remove();

 private:
  friend int removeLiveRunFolders();
  RunFolder(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  // Removes the folder (not when it holds the input of a live scan); with mutex_ held.
  // True when it is gone.
  bool erase();
  std::filesystem::path path_;
  int fd_ = -1;
  std::mutex mutex_;
  bool removed_ = false;
};

// For a program about to end on a signal: removes the folder of every RunFolder of this
// program that is still alive, but for those that hold the input of a live scan; what a
// worker still creates inside one meanwhile goes too. The RunFolder objects stay valid (and
// remove their folder again when they go). Safe from any thread; returns the number of
// folders removed.
int removeLiveRunFolders();

// Marks `path` as the input of a live scan for its lifetime: no clean-up of this program
// removes it, a folder that holds it, or anything inside it. When the input lies inside a
// run folder (one left by a crash, say), that folder is also share-locked, so that the
// start-up clean-up of another program, which takes the lock exclusively, passes it by.
class ScannedInput {
 public:
  explicit ScannedInput(const std::string& path);
  ~ScannedInput();
  ScannedInput(const ScannedInput&) = delete;
  ScannedInput& operator=(const ScannedInput&) = delete;

 private:
  std::filesystem::path path_;
  std::vector<int> heldRunFolders_;  // descriptors holding a shared lock
};

// True when `dir` is, holds, or lies inside the input of a live scan (by canonical path,
// by the path as given, and by file-system equivalence, so symbolic links and other names
// of the same folder count).
bool touchesScannedInput(const std::filesystem::path& dir);

}  // namespace tamsel
