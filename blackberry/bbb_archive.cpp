#include "blackberry/bbb_archive.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "util/fd_io.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

// The entry name as a relative path inside the destination, or none when it is absolute,
// empty, or climbs out with "..".
std::optional<fs::path> safeRelativePath(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return std::nullopt;
  if (name.find('\0') != std::string::npos) return std::nullopt;
  fs::path rel;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find_first_of("/\\", start);
    std::string part =
        name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") rel /= part;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (rel.empty()) return std::nullopt;
  return rel;
}

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

struct Entry {
  zip_uint64_t index;
  std::string name;
  fs::path rel;
  uint64_t declared;
};

}  // namespace

bool isBackupEntry(const fs::path& relative) {
  auto it = relative.begin();
  if (it == relative.end()) return false;
  const fs::path first = *it;
  if (++it == relative.end()) return first == "BlackBerry_Backup.xml";
  return first == "Databases" && std::next(it) == relative.end();
}

bool unpackArchive(const fs::path& zipPath, const fs::path& destDir,
                   const std::function<bool(const fs::path&)>& wanted, std::string* error,
                   UnpackReport* report, const std::atomic<bool>* stop) {
  UnpackReport local;
  UnpackReport& r = report != nullptr ? *report : local;
  auto refuse = [&r](std::string line) {
    logLine(line);
    r.warnings.push_back(std::move(line));
    ++r.refusedEntries;
  };
  int err = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(zipPath.c_str(), ZIP_RDONLY, &err));
  if (!archive) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, err);
    *error = (err == ZIP_ER_NOZIP) ? "not a ZIP archive"
                                   : std::string("cannot read archive: ") + zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return false;
  }

  // The entries to unpack, and what their directory says they unpack to.
  std::vector<Entry> entries;
  uint64_t claimed = 0;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* rawName = zip_get_name(archive.get(), index, 0);
    std::string name = rawName ? rawName : "";
    auto rel = safeRelativePath(name);
    if (!rel) {
      refuse("refused archive entry \"" + name + "\": its path leaves the work folder");
      continue;
    }
    const bool folder = name.back() == '/' || name.back() == '\\';
    if (folder || !wanted(*rel)) continue;
    zip_stat_t st;
    uint64_t declared = 0;
    if (zip_stat_index(archive.get(), index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
      declared = st.size;
    }
    claimed = declared > UINT64_MAX - claimed ? UINT64_MAX : claimed + declared;
    entries.push_back({index, std::move(name), std::move(*rel), declared});
  }

  // Refuse an archive that says it unpacks to more than the disk holds or than any real
  // compression gives, rather than filling the disk.
  std::error_code ec;
  const uint64_t archiveSize = fs::file_size(zipPath, ec);
  if (!ec && claimed / kMaxUnpackRatio > archiveSize) {
    *error = "the archive claims " + std::to_string(claimed) + " unpacked bytes from " +
             std::to_string(archiveSize) + ", more than " + std::to_string(kMaxUnpackRatio) +
             " times its size; it is refused";
    return false;
  }
  const fs::space_info space = fs::space(destDir, ec);
  if (!ec && claimed > space.available) {
    *error = "the archive unpacks to " + std::to_string(claimed) +
             " bytes, more than the work folder's disk has free";
    return false;
  }

  std::vector<char> buf(1 << 20);
  for (const Entry& e : entries) {
    if (stop != nullptr && stop->load()) break;
    const fs::path target = destDir / e.rel;
    fs::create_directories(target.parent_path(), ec);
    std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(archive.get(), e.index, 0));
    if (!in) {
      refuse("cannot read archive entry \"" + e.name + "\": " + zip_strerror(archive.get()));
      continue;
    }
    // O_EXCL: a file already there (an entry named twice) is never replaced.
    const int fd =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      refuse("archive entry \"" + e.name + "\" not unpacked: " + std::strerror(errno));
      continue;
    }
    // Ask for one byte more than is left of the declared size, so an entry that inflates
    // past it is caught without writing more than that.
    uint64_t written = 0;
    bool ok = true, tooLong = false, writeFailed = false;
    while (!(stop != nullptr && stop->load())) {
      const uint64_t left = e.declared - written + 1;
      const auto want = static_cast<zip_uint64_t>(std::min<uint64_t>(buf.size(), left));
      const zip_int64_t n = zip_fread(in.get(), buf.data(), want);
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      if (written + static_cast<uint64_t>(n) > e.declared) {
        tooLong = true;
        break;
      }
      if (!writeAll(fd, buf.data(), static_cast<size_t>(n))) {
        ok = false;
        writeFailed = true;
        break;
      }
      written += static_cast<uint64_t>(n);
      r.bytesWritten += static_cast<uint64_t>(n);
    }
    if (::close(fd) != 0 && ok) {
      ok = false;
      writeFailed = true;
    }
    if (tooLong || !ok) {
      fs::remove(target, ec);
      r.bytesWritten -= written;
      refuse(tooLong ? "archive entry \"" + e.name + "\" inflates past its declared size of " +
                           std::to_string(e.declared) + " bytes; it is refused"
             : writeFailed
                 ? "archive entry \"" + e.name + "\" could not be written: " + std::strerror(errno)
                 : "archive entry \"" + e.name + "\" is damaged: " + zip_file_strerror(in.get()));
    }
  }
  return true;
}

BbbPreparation checkTheBackUpFile(const std::string& path, const fs::path& runDir,
                                  const std::atomic<bool>* stop) {
  BbbPreparation prep;
  if (runDir.empty()) {
    prep.error = "there is no run folder to unpack the archive into";
    return prep;
  }
  const fs::path databases = runDir / "Databases";
  prep.databasesFolder = databases.string();
  UnpackReport report;
  const bool read = unpackArchive(path, runDir, isBackupEntry, &prep.error, &report, stop);
  prep.refusedEntries = report.refusedEntries;
  prep.warnings = std::move(report.warnings);
  if (!read) return prep;
  std::error_code ec;
  if (fs::is_regular_file(databases / "Databases.ipd", ec)) {
    prep.ipdPath = (databases / "Databases.ipd").string();
  } else if (fs::is_regular_file(databases / "1.dat", ec)) {
    prep.windowsLayout = true;
  } else if (stop == nullptr || !stop->load()) {
    prep.error = "the archive holds no BlackBerry databases";
  }
  return prep;
}

}  // namespace tamsel
