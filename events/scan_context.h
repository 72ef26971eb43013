// What one scan step needs from the controller that started it: where to post, the
// contact list for name lookup, the phone's system generation, the work folder and the
// scan's own run folder, and the stop flag that scan loops check between records.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/name_lookup.h"
#include "events/notification_center.h"
#include "events/records.h"

namespace tamsel {

struct ScanContext {
  explicit ScanContext(NotificationCenter& center) : nc(center) {}

  NotificationCenter& nc;
  std::filesystem::path workDir;
  // The scan's private folder inside the work folder: unpacked archives, database copies
  // and write-ahead logs of this scan, and nothing else. Empty when it could not be made.
  std::filesystem::path runDir;
  bool currentNodeIsiOS6Version = false;
  // The first number of the phone's system version (0 when not known).
  int iosMajorVersion = 0;
  std::vector<std::shared_ptr<PRContactNode>> contactArray;
  std::vector<std::shared_ptr<PRContactImageNode>> contactImageArray;
  // The contacts' numbers prepared for name lookup, made once when the contact step ends.
  std::shared_ptr<const PhoneNameIndex> nameIndex;
  // Private copies of the phone's databases made in runDir, by hashed name: every step of
  // the scan reads the same copy.
  std::map<std::string, std::filesystem::path, std::less<>> databaseCopies;
  // The database table of the BlackBerry backup read last (name and index of each).
  std::vector<std::shared_ptr<PRBlackBerryDataBaseNode>> blackberryDatabaseArray;
  std::atomic<bool> stopRequested{false};
  // Damaged parts a step met and went past (one line each), for the scan's outcome.
  std::vector<std::string> warnings;
  // The password of an encrypted phone backup, for this run only; the phone source wipes it
  // as soon as the backup's keys are derived from it (or the backup needs none).
  std::string backupPassword;
  // Told how far the work before a phone backup's steps has come (deriving its key,
  // decrypting its files): what is being done, and the work done of the whole. May be empty.
  std::function<void(std::string_view stage, uint64_t done, uint64_t total)> preparationProgress;
  // While an encrypted phone backup is read from its clear copy: the copy's folder (in
  // runDir) and the user's backup folder it mirrors. Both empty otherwise.
  std::filesystem::path clearBackupFolder;
  std::filesystem::path backupFolder;

  bool stopped() const { return stopRequested.load(std::memory_order_relaxed); }

  // Adds `line` to warnings unless it is there already (several steps look at one file).
  void warnOnce(std::string line) {
    for (const std::string& w : warnings) {
      if (w == line) return;
    }
    warnings.push_back(std::move(line));
  }

  // The contact name for a phone number: through the prepared index once the contact step
  // has made it, otherwise by going over contactArray (the same answers either way).
  std::optional<std::string> nameForPhone(std::string_view phone) const {
    return nameIndex ? nameIndex->find(phone) : getNameByPhoneNumber(contactArray, phone);
  }
};

}  // namespace tamsel
