// One headless backup scan: the application controller runs its worker on the chosen
// backup and files the posted records into its result screen, while the command line draws
// progress on stderr. The session keeps the controller, so the results can be ticked and
// recovered afterwards.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/orlisk_app_delegate.h"
#include "app/work_folder.h"
#include "results/result_lists.h"

namespace tamsel::cli {

class ScanSession {
 public:
  // The work folder is `workDir`, or the default one when none. `input` (the backup, card or
  // image the session scans) is guarded from the start-up clean-up of the work folder, which
  // runs here: it may lie in a run folder that an earlier run left behind.
  ScanSession(std::optional<std::filesystem::path> workDir, const std::string& input);

  // The password of the encrypted phone backup `path` for the next scan: the first line of
  // `passwordFile` when given (its newline removed; a regular file, a pipe such as standard
  // input, or a terminal; at most 4096 bytes), else, when `path` is an encrypted phone
  // backup and standard input is a terminal, asked for there with echo off. Without either the
  // scan reports the backup as encrypted. Returns an error line, or "".
  std::string usePassword(const std::string& path, const std::string& passwordFile);
  // Scans `path` to its end; returns how it ended. The scan's run folder (what it unpacked)
  // stays until the session is destroyed, so its records can still be recovered.
  BackupScanOutcome scan(const std::string& path, bool showProgress);
  // Loads the disk library (findDiskLibrary) and scans the device or image file at `device`
  // as a whole disk through the disk view's steps; returns an error line, or "" when the
  // scan ran (raw_scan_session.cpp).
  std::string rawScan(const std::string& device, bool showProgress);
  // Before `scan`: when `path` is a memory card (a block device, or an image that begins
  // with a boot sector), loads the disk library (findDiskLibrary) so that the card source
  // can read it, and sets `*isCard`. Returns an error line when the library cannot be
  // loaded, else "" (raw_scan_session.cpp).
  std::string loadDiskLibraryForCard(const std::string& path, bool* isCard);

  PRResultViewController& results() { return *controller_.resultViewController(); }
  ResultLists lists();
  OrliskAppDelegate& controller() { return controller_; }

 private:
  ScannedInput input_;  // before the controller, whose start-up cleans the work folder
  OrliskAppDelegate controller_;
};

// Puts back the terminal's echo when a signal ends the program while a password is asked for.
void restoreTerminal();

}  // namespace tamsel::cli
