#include "results/recovery_receipt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "util/base64.h"
#include "util/fd_io.h"
#include "util/sha256.h"
#include "util/text.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

constexpr size_t kReadBlock = size_t{1} << 20;

// The picture type of `head` for a data: URI, or none for anything else (SVG included: it
// may carry script).
const char* pictureMime(std::string_view head) {
  auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
  if (starts("\xFF\xD8\xFF")) return "image/jpeg";
  if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
  if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
  if (starts("BM")) return "image/bmp";
  if (starts("RIFF") && head.size() >= 12 && head.substr(8, 4) == "WEBP") return "image/webp";
  return nullptr;
}

struct ReadBack {
  bool ok = false;
  std::string error;
  uint64_t size = 0;
  std::string sha256;
  std::string small;  // the bytes of a file of at most kThumbnailMaxBytes
};

// Reads `relative` (components below `root`) without following a link anywhere.
ReadBack readBack(const OutputFolder& root, const fs::path& relative) {
  ReadBack r;
  std::vector<std::string> parts;
  for (const auto& part : relative) {
    const std::string s = part.string();
    if (s.empty() || s == "." || s == "..") {
      r.error = "not inside the output folder";
      return r;
    }
    parts.push_back(s);
  }
  if (parts.empty()) {
    r.error = "no file name";
    return r;
  }
  std::vector<std::unique_ptr<UniqueFd>> dirs;
  int dir = root.fd();
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    dirs.push_back(std::make_unique<UniqueFd>(
        ::openat(dir, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (dirs.back()->get() < 0) {
      r.error = std::string("cannot open its folder: ") + std::strerror(errno);
      return r;
    }
    dir = dirs.back()->get();
  }
  UniqueFd file(
      ::openat(dir, parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0) {
    r.error = std::string("cannot be read back: ") + std::strerror(errno);
    return r;
  }
  if (!S_ISREG(st.st_mode)) {
    r.error = "no longer a regular file";
    return r;
  }
  std::vector<uint8_t> buffer(kReadBlock);
  Sha256 hash;
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      r.error = std::string("cannot be read back: ") + std::strerror(errno);
      return r;
    }
    if (n == 0) break;
    hash.update(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
    if (r.size + static_cast<uint64_t>(n) <= kThumbnailMaxBytes) {
      r.small.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    } else {
      r.small.clear();
    }
    r.size += static_cast<uint64_t>(n);
  }
  if (r.size > kThumbnailMaxBytes) r.small.clear();
  r.sha256 = hash.finishHex();
  r.ok = true;
  return r;
}

// A relative path as a URL: every byte outside the unreserved set (and '/') percent-encoded.
std::string urlPath(std::string_view path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string receiptText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t n = decodeUtf8At(text, i, &cp);
    if (n == 0) {
      appendUtf8(out, 0xFFFD);
      ++i;
      continue;
    }
    if (isControlOrBidi(cp)) {
      appendUtf8(out, 0xFFFD);
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  for (char c : receiptText(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string csvCell(std::string_view text) {
  std::string cell = receiptText(text);
  // A spreadsheet runs a cell that begins with one of these as a formula.
  if (!cell.empty() && std::strchr("=+-@\t\r", cell.front()) != nullptr) cell.insert(0, "'");
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::vector<ReceiptRow> receiptRows(const OutputFolder& root, const RecoveryReport& report) {
  // The incomplete files' lines end with the file's path.
  std::map<std::string, std::string> incomplete;
  if (report.incomplete > 0) {
    for (const auto& line : report.failures) {
      if (line.find(" written incomplete: ") == std::string::npos) continue;
      const size_t colon = line.rfind(": ");
      if (colon != std::string::npos) incomplete[line.substr(colon + 2)] = line;
    }
  }
  std::vector<ReceiptRow> rows;
  rows.reserve(report.items.size() + report.failures.size());
  for (const auto& item : report.items) {
    ReceiptRow row;
    row.category = item.category;
    row.kind = item.kind;
    row.deleted = item.deleted;
    row.source = item.source;
    const fs::path relative = item.path.lexically_relative(report.recoverPath);
    row.name = relative.generic_string();
    ReadBack back = readBack(root, relative);
    if (back.ok) {
      row.size = back.size;
      row.sha256 = back.sha256;
      row.status = "written";
      if (const char* mime = pictureMime(back.small); mime != nullptr && !back.small.empty()) {
        row.thumbnail =
            std::string("data:") + mime + ";base64," +
            base64Encode(std::span<const uint8_t>(
                reinterpret_cast<const uint8_t*>(back.small.data()), back.small.size()));
      }
    } else {
      row.status = back.error;
    }
    if (auto it = incomplete.find(item.path.string()); it != incomplete.end()) {
      row.status = "written incomplete";
    }
    rows.push_back(std::move(row));
  }
  for (const auto& line : report.failures) {
    ReceiptRow row;
    row.failure = line;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string receiptHtml(const RecoveryReport& report, const std::vector<ReceiptRow>& rows) {
  size_t written = 0;
  for (const auto& r : rows) written += r.failure.empty() ? 1 : 0;
  const size_t failures = rows.size() - written;
  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  // Nothing is fetched and nothing runs, whatever a name holds.
  h += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src "
       "data:; style-src 'unsafe-inline'\">\n";
  h += "<title>Recovery report</title>\n<style>\n"
       "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
       "table{border-collapse:collapse;width:100%;margin-bottom:1.5em}\n"
       "th,td{border:1px solid #ccc;padding:4px 6px;text-align:left;vertical-align:top;"
       "font-size:13px}\n"
       "th{background:#eee}\ntd.num{text-align:right}\n"
       "td.hash{font-family:monospace;font-size:11px;word-break:break-all}\n"
       "img{max-width:96px;max-height:96px}\n.failed{color:#a00}\n"
       "</style>\n</head>\n<body>\n<h1>Recovery report</h1>\n<p>";
  if (!report.source.empty()) h += "Source: " + htmlEscape(report.source) + "<br>\n";
  h += "Output folder: " + htmlEscape(report.recoverPath.string()) + "<br>\n";
  h += std::to_string(written) + (written == 1 ? " file" : " files") + " written, " +
       std::to_string(failures) + (failures == 1 ? " failure" : " failures");
  if (report.cancelled) h += " (the recovery was stopped)";
  h += "</p>\n";
  // Grouped by category in the order the run wrote them.
  std::vector<std::string> order;
  std::set<std::string> seen;
  for (const auto& r : rows) {
    if (r.failure.empty() && seen.insert(r.category).second) order.push_back(r.category);
  }
  for (const auto& category : order) {
    h += "<h2>" + htmlEscape(category) +
         "</h2>\n<table>\n<tr><th>Picture</th><th>File</th>"
         "<th>Kind</th><th>Deleted</th><th>Size (bytes)</th><th>SHA-256</th><th>Source</th>"
         "<th>Status</th></tr>\n";
    for (const auto& r : rows) {
      if (!r.failure.empty() || r.category != category) continue;
      h += "<tr><td>";
      if (!r.thumbnail.empty()) h += "<img alt=\"\" src=\"" + r.thumbnail + "\">";
      h += "</td><td><a href=\"" + htmlEscape(urlPath(r.name)) + "\">" + htmlEscape(r.name) +
           "</a></td><td>" + htmlEscape(r.kind) + "</td><td>" + htmlEscape(r.deleted) +
           "</td><td class=\"num\">" + std::to_string(r.size) + "</td><td class=\"hash\">" +
           r.sha256 + "</td><td>" + htmlEscape(r.source) + "</td><td" +
           (r.status == "written" ? "" : " class=\"failed\"") + ">" + htmlEscape(r.status) +
           "</td></tr>\n";
    }
    h += "</table>\n";
  }
  if (failures > 0) {
    h += "<h2>Not written</h2>\n<ul class=\"failed\">\n";
    for (const auto& r : rows) {
      if (!r.failure.empty()) h += "<li>" + htmlEscape(r.failure) + "</li>\n";
    }
    h += "</ul>\n";
  }
  h += "</body>\n</html>\n";
  return h;
}

std::string receiptCsv(const std::vector<ReceiptRow>& rows) {
  std::string c = "category,file,kind,deleted,size,sha256,source,status\r\n";
  for (const auto& r : rows) {
    if (!r.failure.empty()) {
      c += ",,,,,,," + csvCell(r.failure) + "\r\n";
      continue;
    }
    c += csvCell(r.category) + "," + csvCell(r.name) + "," + csvCell(r.kind) + "," +
         csvCell(r.deleted) + "," + std::to_string(r.size) + "," + r.sha256 + "," +
         csvCell(r.source) + "," + csvCell(r.status) + "\r\n";
  }
  return c;
}

bool writeRecoveryReceipt(const OutputFolder& root, RecoveryReport& report, std::string* error) {
  const std::vector<ReceiptRow> rows = receiptRows(root, report);
  std::string why;
  auto html = root.writeFile("report.html", receiptHtml(report, rows), &why);
  if (!html) {
    if (error) *error = "report.html not written: " + why;
    return false;
  }
  report.reportHtml = *html;
  auto csv = root.writeFile("manifest.csv", receiptCsv(rows), &why);
  if (!csv) {
    if (error) *error = "manifest.csv not written: " + why;
    return false;
  }
  report.manifestCsv = *csv;
  return true;
}

}  // namespace tamsel
