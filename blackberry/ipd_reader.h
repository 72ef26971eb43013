// Reads BlackBerry desktop backups: an IPD file (one container holding many databases) or
// the Windows layout (a folder with one single-database IPD file per database), and hands
// every record of the seven known databases to its decoder, which posts a result record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blackberry/ipd_format.h"
#include "events/records.h"
#include "events/scan_context.h"
#include "util/byte_source.h"

namespace tamsel {

// What one read found; errors are also written to the log with their offsets.
struct IpdScanStats {
  uint64_t recordsRead = 0;     // record headers walked
  uint64_t recordsPosted = 0;   // result records posted
  uint64_t recordsSkipped = 0;  // records of databases we do not decode
  uint64_t bytesRead = 0;       // position reached, summed over files
  bool truncated = false;       // the walk ended on a corrupt or cut-short record
  bool noHeader = false;        // a file did not begin with the IPD header text (not read)
  std::string readError;        // the file could not be read to its end (it shrank, I/O error)
};

class IpdReader {
 public:
  explicit IpdReader(ScanContext& ctx);

  // Reads one IPD file. Returns false, with `lastError` set, when the file cannot be
  // opened; a file without the IPD header text is not read at all (stats.noHeader).
  bool scanBlackBerryBackUpThread(const std::string& path);
  // Reads every non-hidden file of a Windows-layout folder.
  bool scanBlackBerryWinBackUpThread(const std::string& folder);
  // Reads one Windows-layout database file.
  bool AnalyWinbackupfilePath(const std::string& path);

  // The same two reads over bytes already in memory or mapped (archive members, fuzzing).
  // Both always return true: there is nothing to open.
  bool scanBlackBerryBackUp(const ByteSource& src);
  bool AnalyWinbackup(const ByteSource& src);

  std::optional<std::string> GetDataBaseNameByDatabaseIndex(int32_t index) const;

  // True when `path` begins with the IPD header text (read without blocking on a FIFO).
  static bool hasIpdHeader(const std::string& path);

  uint64_t bbOffSet = 0;
  std::vector<std::shared_ptr<PRBlackBerryDataBaseNode>> blackberryDatabaseArray;
  IpdScanStats stats;
  std::string lastError;
  // Damaged parts met by the last read, one line each with its offset (and, in the Windows
  // layout, the database file's name).
  std::vector<std::string> warnings;

 private:
  // Reads the name table and walks the records; true when the walk reached the end of the
  // file (not stopped, not cut short).
  bool readIpd(const ByteSource& src);
  bool readWinFile(const ByteSource& src);
  // Walks the records from bbOffSet to the end of `src`; `kindOf` maps a record's database
  // index to its decoder. True when the end of the file was reached.
  template <class KindOf>
  bool walkRecords(const ByteSource& src, KindOf&& kindOf);
  // Logs a damaged part and adds it to `warnings`.
  void damaged(const std::string& line);
  // True when `src` begins with the IPD header text; otherwise marks the read as not an IPD
  // file, adds a warning and leaves bbOffSet at the end.
  bool headerAtStart(const ByteSource& src);
  // Records a read error of `src` (once) and marks the walk as cut short.
  void readFailed(const ByteSource& src);
  // Opens `path` for one of the reads below; on failure sets lastError and logs `what`.
  ByteSource openForRead(const std::string& path, const char* what);

  // Progress: the read position as a percentage of all the bytes this read covers, posted
  // only when the whole percentage grows.
  void startProgress(uint64_t totalBytes);
  void postProgress(uint64_t positionInFile);
  void finishProgress();

  ScanContext& ctx_;
  std::string member_;                    // "<file name>: " while a Windows-layout folder is read
  std::vector<ipd::DatabaseKind> kinds_;  // decoder of each database index
  uint64_t progressTotal_ = 0;
  uint64_t progressBase_ = 0;  // bytes of the files already read (Windows layout)
  int64_t lastProgress_ = 0;
};

}  // namespace tamsel
