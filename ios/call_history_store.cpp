#include "ios/call_history_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/phone_db.h"
#include "util/date.h"
#include "util/format.h"
#include "util/log.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCallTable = "ZCALLRECORD";

// The columns read, in the order of CallRecordCells.
enum Column { kAddress, kDate, kDuration, kOriginated, kCallType, kColumns };
constexpr std::array<std::string_view, kColumns> kColumnNames{"ZADDRESS", "ZDATE", "ZDURATION",
                                                              "ZORIGINATED", "ZCALLTYPE"};

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
         });
}

// A cell's text as a number: the whole text must be one (SQLite writes integers and reals
// that way); none otherwise.
std::optional<double> numberOf(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  double value = 0;
  const char* end = text->data() + text->size();
  auto [at, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || at != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int64_t> integerOf(const std::optional<std::string>& text) {
  std::optional<double> value = numberOf(text);
  if (!value || std::fabs(*value) >= 9.2e18) return std::nullopt;
  return static_cast<int64_t>(*value);
}

void warn(ScanContext& ctx, const std::string& line) {
  logLine(line);
  ctx.warnings.push_back(line);
}

std::string storeName() {
  return "the call history store (" + std::string(stored::kCallHistoryStore.name) + ")";
}

// The statement reading the columns of kColumnNames that the table has (NULL for the others);
// none when the table is missing or its columns cannot be read (`damaged` then tells which).
std::optional<std::string> callStatement(SqliteDatabase& db, bool* damaged) {
  *damaged = false;
  // A view in place of the table is not read (the database reports it).
  if (!db.hasTable(kCallTable)) return std::nullopt;
  std::optional<SqliteStatement> info = db.prepare("PRAGMA table_info(ZCALLRECORD)");
  if (!info) {
    *damaged = true;
    return std::nullopt;
  }
  std::array<bool, kColumns> present{};
  bool anyColumn = false;
  while (info->step()) {
    anyColumn = true;
    const std::optional<std::string> name = info->text(1);
    for (size_t i = 0; name && i < kColumnNames.size(); ++i) {
      present[i] = present[i] || sameName(*name, kColumnNames[i]);
    }
  }
  const int rc = sqlite3_errcode(db.handle());
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    *damaged = true;
    return std::nullopt;
  }
  if (!anyColumn) return std::nullopt;
  std::string sql = "select ";
  for (size_t i = 0; i < kColumnNames.size(); ++i) {
    if (i > 0) sql += ",";
    sql += present[i] ? std::string(kColumnNames[i]) : std::string("NULL");
  }
  sql += " from ";
  sql += kCallTable;
  return sql;
}

}  // namespace

std::shared_ptr<PRCallHistoryNode> callRecordNode(const CallRecordCells& cells,
                                                  const ScanContext& ctx) {
  auto node = std::make_shared<PRCallHistoryNode>();
  if (cells.address) node->callPhone = *cells.address;
  if (cells.date && std::isfinite(*cells.date) && std::fabs(*cells.date) < 9.2e18) {
    // Whole seconds since 2001, as the other steps count the phone's own dates.
    if (std::optional<std::string> date = GetDateTime(static_cast<int64_t>(*cells.date), 1)) {
      node->callDate = *date;
    }
  }
  if (cells.duration && !std::isnan(*cells.duration)) {
    const double seconds = std::clamp<double>(std::trunc(*cells.duration), INT32_MIN, INT32_MAX);
    node->callTime = static_cast<int32_t>(seconds);
  }
  node->callType = cells.originated.value_or(0) == 1 ? "Outgoing" : "Incoming";
  if (node->callTime != 0) {
    node->callDuration = getCallHistoryDuration(node->callTime);
  } else {
    node->callDuration = node->callType == "Outgoing" ? "Cancelled" : "Missed";
  }
  if (cells.callType == kCallTypeFaceTimeVideo || cells.callType == kCallTypeFaceTimeAudio) {
    node->callService = "FaceTime";
  }
  if (!node->callPhone.empty()) {
    if (std::optional<std::string> name = ctx.nameForPhone(node->callPhone)) {
      node->callName = *name;
    }
  }
  return node;
}

bool scanCallHistoryStore(const fs::path& backup, ScanContext& ctx) {
  if (!findStoredFile(backup, stored::kCallHistoryStore.name)) return true;
  std::optional<fs::path> copy = privateDatabaseCopy(backup, stored::kCallHistoryStore, ctx);
  if (!copy) {
    // Without a run folder nothing is copied, and the scan says so once for every database.
    if (!ctx.runDir.empty()) warn(ctx, storeName() + " could not be copied for reading");
    return !ctx.stopped();
  }
  SqliteDatabase db(*copy, ctx, storeName());
  if (!db.isOpen()) {
    warn(ctx, storeName() + " does not open as a database");
    return !ctx.stopped();
  }
  bool damaged = false;
  const std::optional<std::string> sql = callStatement(db, &damaged);
  if (!sql) {
    if (damaged) {
      warn(ctx, storeName() + " does not open as a database: " + sqlite3_errmsg(db.handle()));
    } else {
      logLine(copy->string() + ": the call history store has no table ZCALLRECORD");
    }
    return !ctx.stopped();
  }
  std::optional<SqliteStatement> calls = db.prepare(*sql);
  if (!calls) {
    warn(ctx, storeName() + " cannot be read: " + sqlite3_errmsg(db.handle()));
    return !ctx.stopped();
  }
  logDebug(copy->string() + ": reading the calls of the call history store");
  size_t count = 0;
  while (calls->step()) {
    if (ctx.stopped()) return false;
    CallRecordCells cells;
    cells.address = calls->text(kAddress);
    cells.date = numberOf(calls->text(kDate));
    cells.duration = numberOf(calls->text(kDuration));
    cells.originated = integerOf(calls->text(kOriginated));
    cells.callType = integerOf(calls->text(kCallType));
    ctx.nc.post(notify::kScanCallHistoryInfo, std::shared_ptr<PRNode>(callRecordNode(cells, ctx)));
    ++count;
  }
  if (ctx.stopped()) return false;
  const int rc = sqlite3_errcode(db.handle());
  // A read that used up its budget is reported by the database itself.
  if (rc != SQLITE_OK && rc != SQLITE_DONE && !db.budgetSpent()) {
    warn(ctx, storeName() + " was read only up to a damaged part (" + std::to_string(count) +
                  " calls read): " + sqlite3_errmsg(db.handle()));
  }
  return true;
}

}  // namespace tamsel
