// The folder a recovery writes into, held open for the whole run. Every category folder and
// every file is created relative to the open descriptor (mkdirat, openat with O_NOFOLLOW and
// O_EXCL), so a symbolic link planted in the tree while a run goes on is never followed and
// a file already there is never replaced: a name in use gets " (2)", " (3)" ... and the
// creation itself decides, so two runs into one folder never share a file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "util/fd_io.h"

namespace tamsel {

class OutputFolder {
 public:
  // A file created by createFile: open for writing, not yet complete.
  class NewFile {
   public:
    NewFile() = default;
    NewFile(NewFile&& o) noexcept;
    NewFile& operator=(NewFile&& o) noexcept;
    ~NewFile();  // an unfinished file is removed
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    // Closes the file and keeps it; false (errno set) when the close reports an error, and
    // the file is then removed.
    bool finish();
    // Closes and removes the file.
    void discard();

   private:
    friend class OutputFolder;
    int fd_ = -1;
    int dirFd_ = -1;  // a duplicate of the folder's descriptor, for removing the file
    std::string name_;
    std::filesystem::path path_;
  };

  OutputFolder() = default;
  OutputFolder(OutputFolder&& o) noexcept;
  OutputFolder& operator=(OutputFolder&& o) noexcept;
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Creates `path` and its parents when missing and opens it. The folder itself must not be
  // a symbolic link. None, with `error` set, when it cannot be made or opened.
  static std::optional<OutputFolder> open(const std::filesystem::path& path, std::string* error);
  // The same for a folder that must exist already.
  static std::optional<OutputFolder> openExisting(const std::filesystem::path& path,
                                                  std::string* error);

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

  // Creates (when missing) and opens the folder `name` (one component) inside this one,
  // never through a link. None, with `error` set, when that fails or a link or file is in
  // its place.
  std::optional<OutputFolder> subfolder(std::string_view name, std::string* error) const;

  // True while a folder opened by subfolder() is still the one its parent lists under its
  // name (not renamed away, replaced or removed). Always true for a folder from open().
  bool stillInPlace() const;

  // Creates a new file named `name` (sanitised here) or the first free numbered variant,
  // with O_CREAT | O_EXCL | O_NOFOLLOW and `mode` (0644 for what the user recovers, 0600 for
  // a run's private copies). None, with `error` set, when no name can be taken.
  std::optional<NewFile> createFile(std::string_view name, std::string* error,
                                    mode_t mode = 0644) const;

  // createFile, then all of `bytes`, then finish. Returns the path written.
  std::optional<std::filesystem::path> writeFile(std::string_view name, std::string_view bytes,
                                                 std::string* error) const;

  // Copies the regular file `source` (opened read-only, never blocking on a FIFO, never
  // through a link in its place) into a new file of this folder the same way. Its mode bits
  // are not carried over.
  std::optional<std::filesystem::path> copyFile(const std::filesystem::path& source,
                                                std::string_view name, std::string* error,
                                                mode_t mode = 0644) const;
  // The same from the open descriptor `in` of a regular file (taken over and closed), shown
  // in messages as `shownSource`.
  std::optional<std::filesystem::path> copyFrom(int in, const std::string& shownSource,
                                                std::string_view name, std::string* error,
                                                mode_t mode = 0644) const;

 private:
  void close();

  int fd_ = -1;
  std::filesystem::path path_;
  // For a subfolder: the parent's descriptor (a duplicate), the name and the identity of the
  // folder when it was opened.
  int parentFd_ = -1;
  std::string name_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Writes `bytes` as a new file in the existing folder `dir` under `name` (sanitised) or a free
// numbered variant, through OutputFolder: never replacing anything, never through a link, and
// leaving no partial file when a write fails. Returns the path written, or none after logging
// why.
std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& dir,
                                                  std::string_view name, std::string_view bytes);

// Copies the regular file `source` byte for byte into `dir` the same way. The source is only
// read; its mode bits are not copied. Returns the path written.
std::optional<std::filesystem::path> copyToNewFile(const std::filesystem::path& source,
                                                   const std::filesystem::path& dir,
                                                   std::string_view name);

}  // namespace tamsel
