// The BlackBerry sources: an IPD file read in place, and a .bbb archive (Mac or Windows
// layout) unpacked into the scan's run folder and read from there. Both are recognised by
// their content (the IPD header text; the ZIP local-header signature), not by their name.
#pragma once

#include <string>

#include "blackberry/bbb_archive.h"
#include "events/scan_source.h"

namespace tamsel {

// Reads the IPD file at `path`. `shownAs` names it in messages (default: the path). A file
// without the IPD header text posts nothing and is not readable. Fills
// ctx.blackberryDatabaseArray with the file's database table.
ScanOutcome scanIpdFile(const std::string& path, ScanContext& ctx, const std::string& shownAs = {});
// Reads every database file of a Windows-layout folder; damaged or unreadable files are
// warnings, named with `shownAs` (default: the folder).
ScanOutcome scanWindowsFolder(const std::string& folder, ScanContext& ctx,
                              const std::string& shownAs = {});
// Unpacks the .bbb at `path` into ctx.runDir (see checkTheBackUpFile) and reads the layout
// found there.
ScanOutcome scanBbbArchive(const std::string& path, ScanContext& ctx);

class IpdFileSource : public ScanSource {
 public:
  std::string_view name() const override { return "BlackBerry IPD file"; }
  bool probe(const std::string& path) const override;
  ScanOutcome scan(const std::string& path, ScanContext& ctx) override {
    return scanIpdFile(path, ctx);
  }
};

class BbbArchiveSource : public ScanSource {
 public:
  std::string_view name() const override { return "BlackBerry .bbb archive"; }
  bool probe(const std::string& path) const override;
  ScanOutcome scan(const std::string& path, ScanContext& ctx) override {
    return scanBbbArchive(path, ctx);
  }
};

}  // namespace tamsel
