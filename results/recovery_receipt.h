// The receipt of a recovery: "report.html" and "manifest.csv" in the chosen folder, listing
// every file the run created by category (its path in the folder, what it is, whether it
// came from a deleted record, its size, the SHA-256 of the written file and where it came
// from) and every failure with its reason.
//
// The size and digest are those of the file as it lies in the folder: each file is read back
// through the folder's open descriptor, never through a link. report.html is one
// self-contained page (inline style, no script, nothing fetched): each name links to the
// recovered file by its relative path, and pictures of at most kThumbnailMaxBytes are shown
// as thumbnails embedded as data: URIs (larger ones only by their link). Every text taken from
// the evidence is escaped; the CSV follows RFC 4180 and a cell that a spreadsheet would take
// for a formula gets a leading quote. Neither file replaces anything: a name in use gets a
// number as every recovered file does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "results/recovery_writer.h"
#include "util/output_folder.h"

namespace tamsel {

inline constexpr uint64_t kThumbnailMaxBytes = 256 * 1024;

// One row of the receipt: a written file, or a failure (`failure` set, the rest empty).
struct ReceiptRow {
  std::string category;
  std::string name;  // relative path in the output folder, '/' separated
  std::string kind;
  std::string deleted;
  uint64_t size = 0;
  std::string sha256;  // empty when the file could not be read back
  std::string source;
  std::string status;     // "written", "written incomplete: ...", or why it could not be read
  std::string failure;    // for a failure row: the failure line
  std::string thumbnail;  // a data: URI, or empty
};

// Reads every written file of `report` back from `root` (its size, digest and, for a small
// picture, a thumbnail) and adds a row for every failure line.
std::vector<ReceiptRow> receiptRows(const OutputFolder& root, const RecoveryReport& report);

std::string receiptHtml(const RecoveryReport& report, const std::vector<ReceiptRow>& rows);
std::string receiptCsv(const std::vector<ReceiptRow>& rows);

// Writes both files into `root` and stores their paths in `report`; false, with `error` set,
// when one could not be written.
bool writeRecoveryReceipt(const OutputFolder& root, RecoveryReport& report, std::string* error);

// Text made safe for the receipt: invalid UTF-8 and control or bidirectional characters
// become U+FFFD.
std::string receiptText(std::string_view text);
// HTML text and attribute escaping (& < > " ') of receiptText(text).
std::string htmlEscape(std::string_view text);
// One CSV cell: receiptText(text), a leading quote when it begins with = + - @ (or a tab or
// carriage return), quoted when it holds a comma, quote or line break.
std::string csvCell(std::string_view text);

}  // namespace tamsel
