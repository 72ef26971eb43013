#include "blackberry/blackberry_source.h"

#include "blackberry/ipd_reader.h"

namespace tamsel {
namespace {

constexpr std::string_view kZipLocalHeader("PK\x03\x04", 4);

// Adds what one reader saw to `o`.
// `separator` joins `shownAs` and a warning ("/" when the warnings start with a file name of
// the folder `shownAs`).
void addReaderResults(const IpdReader& reader, const std::string& shownAs, ScanOutcome& o,
                      const char* separator = ": ") {
  o.recordsPosted += reader.stats.recordsPosted;
  o.bytesRead += reader.stats.bytesRead;
  o.truncated = o.truncated || reader.stats.truncated;
  for (const std::string& w : reader.warnings) o.warnings.push_back(shownAs + separator + w);
  if (!reader.stats.readError.empty()) {
    o.warnings.push_back(shownAs + ": read error: " + reader.stats.readError);
  } else if (reader.stats.truncated && reader.warnings.empty()) {
    o.warnings.push_back(shownAs + ": the file could not be read to its end");
  }
}

}  // namespace

ScanOutcome scanIpdFile(const std::string& path, ScanContext& ctx, const std::string& shownAs) {
  const std::string shown = shownAs.empty() ? path : shownAs;
  ScanOutcome o;
  IpdReader reader(ctx);
  const bool opened = reader.scanBlackBerryBackUpThread(path);
  ctx.blackberryDatabaseArray = reader.blackberryDatabaseArray;
  if (!opened) {
    o.fail(reader.lastError.empty() ? shown + ": cannot be read" : reader.lastError);
  } else if (reader.stats.noHeader) {
    o.fail(shown + ": not a BlackBerry backup (no IPD header)");
  } else {
    addReaderResults(reader, shown, o);
  }
  return o;
}

ScanOutcome scanWindowsFolder(const std::string& folder, ScanContext& ctx,
                              const std::string& shownAs) {
  const std::string shown = shownAs.empty() ? folder : shownAs;
  ScanOutcome o;
  o.windowsLayout = true;
  IpdReader reader(ctx);
  ctx.blackberryDatabaseArray.clear();
  const bool ok = reader.scanBlackBerryWinBackUpThread(folder);
  if (!ok) {
    o.fail(reader.lastError.empty() ? shown + ": cannot be read" : reader.lastError);
  } else {
    addReaderResults(reader, shown, o, "/");
  }
  return o;
}

ScanOutcome scanBbbArchive(const std::string& path, ScanContext& ctx) {
  ScanOutcome o;
  BbbPreparation prep = checkTheBackUpFile(path, ctx.runDir, &ctx.stopRequested);
  for (std::string& w : prep.warnings) o.warnings.push_back(path + ": " + std::move(w));
  if (!prep.error.empty()) {
    o.fail(path + ": " + prep.error);
    return o;
  }
  if (ctx.stopped()) return o;
  ScanOutcome read = prep.windowsLayout
                         ? scanWindowsFolder(prep.databasesFolder, ctx, path + ": Databases")
                         : scanIpdFile(*prep.ipdPath, ctx, path + ": Databases/Databases.ipd");
  o.warnings.insert(o.warnings.end(), read.warnings.begin(), read.warnings.end());
  read.warnings = std::move(o.warnings);
  return read;
}

bool IpdFileSource::probe(const std::string& path) const {
  return IpdReader::hasIpdHeader(path);
}

bool BbbArchiveSource::probe(const std::string& path) const {
  return readFileHead(path, kZipLocalHeader.size()) == kZipLocalHeader;
}

}  // namespace tamsel
