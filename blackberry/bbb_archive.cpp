#include "blackberry/bbb_archive.h"

#include <zip.h>

#include <fstream>
#include <memory>
#include <vector>

#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

// Copies `from` to `to` through a temporary file in the same folder, then renames it, so
// `to` is either the old file or the complete new one.
bool copyAtomically(const fs::path& from, const fs::path& to, std::string* error) {
  fs::path tmp = to;
  tmp += ".partial";
  std::error_code ec;
  fs::remove(tmp, ec);
  if (!fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec)) {
    *error = "cannot copy " + from.string() + ": " + ec.message();
    return false;
  }
  fs::rename(tmp, to, ec);
  if (ec) {
    *error = "cannot write " + to.string() + ": " + ec.message();
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

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

}  // namespace

bool unpackArchive(const fs::path& zipPath, const fs::path& destDir, std::string* error,
                   int* refusedEntries) {
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
  zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  // Refuse an archive that says it unpacks to more than the work folder's disk holds,
  // rather than filling the disk. (libzip fails an entry that runs past its stated size.)
  uint64_t unpacked = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 &&
        (st.valid & ZIP_STAT_SIZE)) {
      unpacked += st.size;
    }
  }
  std::error_code spaceError;
  fs::space_info space = fs::space(destDir, spaceError);
  if (!spaceError && unpacked > space.available) {
    *error = "the archive unpacks to " + std::to_string(unpacked) +
             " bytes, more than the work folder's disk has free";
    return false;
  }
  std::vector<char> buf(1 << 20);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* rawName = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    std::string name = rawName ? rawName : "";
    auto rel = safeRelativePath(name);
    if (!rel) {
      logLine("refused archive entry \"" + name + "\": its path leaves the work folder");
      if (refusedEntries) ++*refusedEntries;
      continue;
    }
    fs::path target = destDir / *rel;
    std::error_code ec;
    if (name.back() == '/' || name.back() == '\\') {
      fs::create_directories(target, ec);
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    if (fs::exists(fs::symlink_status(target, ec))) continue;  // never overwrite
    std::unique_ptr<zip_file_t, ZipFileCloser> in(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
    if (!in) {
      logLine("cannot read archive entry \"" + name + "\": " + zip_strerror(archive.get()));
      continue;
    }
    fs::path tmp = target;
    tmp += ".partial";
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    bool ok = static_cast<bool>(out);
    zip_int64_t n = 0;
    while (ok && (n = zip_fread(in.get(), buf.data(), buf.size())) > 0) {
      ok = static_cast<bool>(out.write(buf.data(), static_cast<std::streamsize>(n)));
    }
    if (n < 0) ok = false;
    out.close();
    if (!ok || !out) {
      logLine("cannot unpack archive entry \"" + name + "\"");
      fs::remove(tmp, ec);
      continue;
    }
    fs::rename(tmp, target, ec);
  }
  return true;
}

BbbPreparation checkTheBackUpFile(const std::string& path, const fs::path& workDir) {
  BbbPreparation prep;
  if (fs::path(path).extension() != ".bbb") return prep;
  std::error_code ec;
  fs::create_directories(workDir, ec);
  if (ec) {
    prep.error = "cannot create work folder " + workDir.string() + ": " + ec.message();
    return prep;
  }
  fs::path zipCopy = workDir / "BlackBerry.zip";
  fs::path databases = workDir / "Databases";
  prep.ipdPath = (databases / "Databases.ipd").string();
  if (!copyAtomically(path, zipCopy, &prep.error)) return prep;
  fs::remove_all(databases, ec);
  if (ec) {
    prep.error = "cannot empty " + databases.string() + ": " + ec.message();
    return prep;
  }
  if (!unpackArchive(zipCopy, workDir, &prep.error, &prep.refusedEntries)) return prep;
  prep.windowsLayout =
      !fs::exists(databases / "Databases.ipd", ec) && fs::exists(databases / "1.dat", ec);
  return prep;
}

}  // namespace tamsel
