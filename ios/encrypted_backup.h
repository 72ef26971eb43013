// Opening an encrypted phone backup with the user's password. The keys are derived and
// unwrapped once (ios/backup_crypto.h), then a clear private copy of what the scan reads is
// made inside the scan's run folder, in the layout of a backup indexed by Manifest.db: the
// decrypted index, Info.plist and Manifest.plist, the phone's fixed databases with their
// logs, the browser history list, and the files of the media and app domains that the index
// step lists, each under "ab/abcdef...". The user's backup is only ever read, and the copy
// goes with the run folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

// Stage texts given to the progress callback.
inline constexpr std::string_view kDerivingStage = "deriving the backup's key";
inline constexpr std::string_view kDecryptingStage = "decrypting the backup";

// Told about the work done of each stage; returns false to stop.
using OpenProgress = std::function<bool(std::string_view stage, uint64_t done, uint64_t total)>;

struct ClearBackup {
  bool opened = false;
  bool wrongPassword = false;
  bool stopped = false;
  std::string error;                  // why it could not be opened (when !opened)
  std::filesystem::path folder;       // the clear copy (when opened)
  std::vector<std::string> warnings;  // stored files that could not be decrypted, one line each
  uint64_t files = 0;                 // stored files decrypted
  uint64_t bytes = 0;                 // their stored bytes
};

// Opens the encrypted backup `backup` with `password` (wiped before this returns) into a new
// folder inside `runDir`. A wrong password sets wrongPassword and an error holding "wrong
// password"; a damaged keybag, manifest key or index is an error; a stored file that cannot
// be decrypted (cut short, its key damaged, shorter than its size) is a warning and is left
// out of the copy.
ClearBackup openEncryptedBackup(const std::filesystem::path& backup, std::string& password,
                                const std::filesystem::path& runDir,
                                const OpenProgress& progress = {});

// What the index of an encrypted backup says of one stored file: the `file` column of its
// row, a keyed archive holding the file's wrapped key (4-byte protection class, then the
// key) and its size. None, with `why` set, when the column is not such an archive.
struct StoredFileDescription {
  std::vector<uint8_t> wrappedKey;
  std::optional<uint64_t> size;
};
std::optional<StoredFileDescription> describeStoredFile(std::span<const uint8_t> column,
                                                        std::string* why);

}  // namespace tamsel
