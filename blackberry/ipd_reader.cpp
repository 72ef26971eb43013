#include "blackberry/ipd_reader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "blackberry/record_decoders.h"
#include "events/notification_names.h"
#include "events/scan_source.h"
#include "util/log.h"
#include "util/text.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

std::string hexOffset(uint64_t offset) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, offset);
  return buf;
}

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

IpdReader::IpdReader(ScanContext& ctx) : ctx_(ctx) {}

// ---------------------------------------------------------------- IPD file

ByteSource IpdReader::openForRead(const std::string& path, const char* what) {
  stats = {};
  warnings.clear();
  lastError.clear();
  ByteSource src = ByteSource::open(path, &lastError);
  if (!src.valid()) {
    std::string line = "cannot open ";
    line.append(what).append(" ").append(lastError);
    logLine(line);
  }
  return src;
}

bool IpdReader::scanBlackBerryBackUpThread(const std::string& path) {
  ByteSource src = openForRead(path, "IPD file");
  return src.valid() && scanBlackBerryBackUp(src);
}

bool IpdReader::scanBlackBerryBackUp(const ByteSource& src) {
  stats = {};
  warnings.clear();
  startProgress(src.size());
  if (readIpd(src)) finishProgress();
  return true;
}

bool IpdReader::readIpd(const ByteSource& src) {
  blackberryDatabaseArray.clear();
  kinds_.clear();
  const uint64_t size = src.size();
  bbOffSet = ipd::kNameTableOffset;
  if (size < ipd::kNameTableOffset) {
    damaged("IPD file too short for its header: " + std::to_string(size) + " bytes");
    stats.truncated = true;
    stats.bytesRead += size;
    return false;
  }
  // Nothing is decoded, and so nothing posted, from a file that is not an IPD file.
  if (!headerAtStart(src)) return false;
  const auto count = static_cast<uint32_t>(src.readBE(ipd::kDatabaseCountOffset, 2));
  kinds_.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (size - bbOffSet < 2) {
      damaged("IPD name table cut short at " + hexOffset(bbOffSet));
      stats.truncated = true;
      stats.bytesRead += size;
      return false;
    }
    const uint64_t length = src.readLE(bbOffSet, 2);
    bbOffSet += 2;
    if (length > size - bbOffSet) {
      damaged("IPD database name at " + hexOffset(bbOffSet) + " runs past the end of the file");
      stats.truncated = true;
      stats.bytesRead += size;
      return false;
    }
    auto node = std::make_shared<PRBlackBerryDataBaseNode>();
    node->databaseIndex = static_cast<int32_t>(i);
    node->databaseName = GetStringFormChar(src.view(bbOffSet, length));
    bbOffSet += length;
    logDebug("databaseName======" + node->databaseName + "\xEF\xBC\x8Ci===" + std::to_string(i));
    kinds_.push_back(ipd::databaseKindOf(node->databaseName));
    blackberryDatabaseArray.push_back(std::move(node));
  }
  if (src.failed()) {
    readFailed(src);
    stats.bytesRead += bbOffSet;
    return false;
  }
  return walkRecords(src, [this](uint16_t index) {
    return index < kinds_.size() ? kinds_[index] : ipd::DatabaseKind::kUnknown;
  });
}

void IpdReader::readFailed(const ByteSource& src) {
  if (stats.readError.empty()) {
    stats.readError = src.failed() ? src.error() : "read error";
    logLine("IPD read error at " + hexOffset(bbOffSet) + ": " + stats.readError +
            "; reading stops");
  }
  stats.truncated = true;
}

template <class KindOf>
bool IpdReader::walkRecords(const ByteSource& src, KindOf&& kindOf) {
  const uint64_t size = src.size();
  bool reachedEnd = true;
  while (bbOffSet < size) {
    if (ctx_.stopped()) {
      reachedEnd = false;
      break;
    }
    if (size - bbOffSet < ipd::kRecordHeaderSize) {
      damaged("IPD record header cut short at " + hexOffset(bbOffSet));
      stats.truncated = true;
      reachedEnd = false;
      break;
    }
    const auto h = src.view(bbOffSet, ipd::kRecordHeaderSize);
    if (h.size() < ipd::kRecordHeaderSize) {
      readFailed(src);
      reachedEnd = false;
      break;
    }
    const auto index = static_cast<uint16_t>(h[0] | (h[1] << 8));
    const uint32_t length = le32(h.data() + 2);
    if (length < ipd::kRecordLengthOverhead) {
      damaged("IPD record at " + hexOffset(bbOffSet) + " has length " + std::to_string(length) +
              ", below 7; reading stops");
      stats.truncated = true;
      reachedEnd = false;
      break;
    }
    const uint64_t fieldBytes = length - ipd::kRecordLengthOverhead;
    if (fieldBytes > size - bbOffSet - ipd::kRecordHeaderSize) {
      damaged("IPD record at " + hexOffset(bbOffSet) + " (length " + std::to_string(length) +
              ") runs past the end of the file; reading stops");
      stats.truncated = true;
      reachedEnd = false;
      break;
    }
    bbOffSet += ipd::kRecordHeaderSize;
    ++stats.recordsRead;
    const ipd::DatabaseKind kind = kindOf(index);
    if (kind == ipd::DatabaseKind::kUnknown) {
      bbOffSet += fieldBytes;
      ++stats.recordsSkipped;
    } else if (ScanBlackBerryRecordwith(kind, ctx_, src, bbOffSet, length)) {
      ++stats.recordsPosted;
    }
    if (src.failed()) {
      readFailed(src);
      reachedEnd = false;
      break;
    }
    postProgress(bbOffSet);
  }
  stats.bytesRead += std::min(bbOffSet, size);
  return reachedEnd;
}

std::optional<std::string> IpdReader::GetDataBaseNameByDatabaseIndex(int32_t index) const {
  for (const auto& node : blackberryDatabaseArray) {
    if (node->databaseIndex == index) return node->databaseName;
  }
  return std::nullopt;
}

void IpdReader::damaged(const std::string& line) {
  logLine(member_ + line);
  warnings.push_back(member_ + line);
}

bool IpdReader::headerAtStart(const ByteSource& src) {
  auto head = src.view(0, ipd::kHeaderText.size());
  if (head.size() == ipd::kHeaderText.size() &&
      std::memcmp(head.data(), ipd::kHeaderText.data(), head.size()) == 0) {
    return true;
  }
  stats.noHeader = true;
  stats.truncated = true;
  stats.bytesRead += src.size();
  bbOffSet = src.size();
  damaged("no IPD header at 0x0; the file is not read");
  return false;
}

bool IpdReader::hasIpdHeader(const std::string& path) {
  return readFileHead(path, ipd::kHeaderText.size()) == ipd::kHeaderText;
}

// ---------------------------------------------------------------- Windows layout

bool IpdReader::scanBlackBerryWinBackUpThread(const std::string& folder) {
  stats = {};
  warnings.clear();
  lastError.clear();
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    lastError = folder + ": " + ec.message();
    logLine("cannot list backup folder " + lastError);
    return false;
  }
  // Entries in name order, so that every run reads them alike; hidden entries skipped.
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.') names.push_back(std::move(name));
  }
  if (ec) logLine("listing backup folder " + folder + " stopped: " + ec.message());
  std::sort(names.begin(), names.end());

  uint64_t total = 0;
  std::vector<uint64_t> sizes;
  sizes.reserve(names.size());
  for (const auto& name : names) {
    std::error_code sizeError;
    const fs::path p = fs::path(folder) / name;
    uint64_t s = fs::is_regular_file(p, sizeError) ? fs::file_size(p, sizeError) : 0;
    if (sizeError) s = 0;
    sizes.push_back(s);
    total += s;
  }
  startProgress(total);
  for (size_t i = 0; i < names.size(); ++i) {
    if (ctx_.stopped()) return true;
    const std::string path = folder + "/" + names[i];
    member_ = names[i] + ": ";
    std::string error;
    ByteSource src = ByteSource::open(path, &error);
    if (src.valid()) {
      readWinFile(src);
    } else {
      damaged("cannot open backup database file " + error);
    }
    progressBase_ += sizes[i];
  }
  member_.clear();
  if (!ctx_.stopped()) finishProgress();
  return true;
}

bool IpdReader::AnalyWinbackupfilePath(const std::string& path) {
  ByteSource src = openForRead(path, "backup database file");
  return src.valid() && AnalyWinbackup(src);
}

bool IpdReader::AnalyWinbackup(const ByteSource& src) {
  stats = {};
  warnings.clear();
  startProgress(src.size());
  if (readWinFile(src)) finishProgress();
  return true;
}

bool IpdReader::readWinFile(const ByteSource& src) {
  const uint64_t size = src.size();
  bbOffSet = ipd::kNameTableOffset;
  if (size < ipd::kNameTableOffset + 2) {
    damaged("backup database file too short for its name: " + std::to_string(size) + " bytes");
    stats.bytesRead += size;
    return true;
  }
  if (!headerAtStart(src)) return false;
  const uint64_t length = src.readLE(bbOffSet, 2);
  bbOffSet += 2;
  if (length > size - bbOffSet) {
    damaged("backup database name at " + hexOffset(bbOffSet) + " runs past the end of the file");
    stats.truncated = true;
    stats.bytesRead += size;
    return false;
  }
  const std::string name = GetStringFormChar(src.view(bbOffSet, length));
  bbOffSet += length;
  logDebug("databaseName===" + name);
  if (src.failed()) {
    readFailed(src);
    stats.bytesRead += bbOffSet;
    return false;
  }
  const ipd::DatabaseKind kind = ipd::databaseKindOf(name);
  if (kind == ipd::DatabaseKind::kUnknown) {
    // Not one of ours: the file's records are not read.
    stats.bytesRead += bbOffSet;
    return true;
  }
  return walkRecords(src, [kind](uint16_t) { return kind; });
}

// ---------------------------------------------------------------- progress

void IpdReader::startProgress(uint64_t totalBytes) {
  progressTotal_ = totalBytes;
  progressBase_ = 0;
  lastProgress_ = 0;
}

void IpdReader::postProgress(uint64_t positionInFile) {
  if (progressTotal_ == 0) return;
  const uint64_t done = std::min(progressBase_ + positionInFile, progressTotal_);
  const auto percent = static_cast<int64_t>(done * 100 / progressTotal_);
  if (percent <= lastProgress_) return;
  lastProgress_ = percent;
  ctx_.nc.post(notify::kBlackBerryRawRecoveryProgress, percent);
}

void IpdReader::finishProgress() {
  if (lastProgress_ >= 100) return;
  lastProgress_ = 100;
  ctx_.nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{100});
}

}  // namespace tamsel
