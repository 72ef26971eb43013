// A large phone backup for the speed and memory runs: many contacts, each with two numbers
// and an e-mail address, and many messages from their numbers (and from numbers no contact
// has), in the layout of today's backups (Manifest.db, stored files in subfolders) or the
// older one (Manifest.mbdb, flat).
#pragma once

#include <cstddef>
#include <filesystem>

namespace tamsel::bench {

struct IphoneBenchSize {
  size_t contacts = 10000;
  size_t messages = 200000;
  bool modernLayout = true;
};

// Writes the backup into `folder` (created; it must not hold a backup already).
void writeBenchIphoneBackup(const std::filesystem::path& folder, const IphoneBenchSize& size);

}  // namespace tamsel::bench
