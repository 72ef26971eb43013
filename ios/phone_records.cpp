#include "ios/phone_records.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/call_history_store.h"
#include "ios/note_store.h"
#include "ios/phone_db.h"
#include "ios/property_list.h"
#include "util/date.h"
#include "util/format.h"
#include "util/log.h"
#include "util/small_file.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSqlCalls = "select address,date,duration,flags from call";
constexpr std::string_view kSqlNotesOld =
    "select TITLE,SUMMARY,MODIFICATION_DATE,CREATION_DATE,DATA from note LEFT JOIN NOTE_BODIES "
    "ON NOTE.ROWID = NOTE_BODIES.NOTE_ID";
constexpr std::string_view kSqlNotesNew =
    "select ZTITLE,ZSUMMARY,ZMODIFICATIONDATE,ZCREATIONDATE,ZCONTENT from znote LEFT JOIN "
    "ZNOTEBODY ON ZNOTE.Z_PK = ZNOTEBODY.Z_PK";
constexpr std::string_view kSqlBookmarks = "select TITLE,URL,id, parent,type from bookmarks";
constexpr std::string_view kSqlCalendar6 =
    "select summary,location_id,description,start_date,end_date,start_tz,all_day,calendar_id "
    "from CalendarItem";
constexpr std::string_view kSqlCalendar5 =
    "select summary,location.title as location,description,start_date,end_date,start_tz,all_day,"
    "calendar_id,supported_entity_types from calendaritem left join location on "
    "calendaritem.[location_id]=location.rowid left join Calendar on "
    "calendaritem.[calendar_id]=calendar.rowid where supported_entity_types !=8";
constexpr std::string_view kSqlCalendar4 =
    "select summary,location,description,start_date,end_date,start_tz,all_day,calendar_id from "
    "event";

constexpr int kCallHistoryProgress = 60;
constexpr int kNotesProgress = 70;

// A browser history list larger than this is not a real one and is not read.
constexpr uint64_t kMaxHistoryPlistSize = 64ull << 20;

struct DefaultBookmark {
  std::string_view title;
  std::string_view url;
};
// The bookmarks the phone's browser comes with.
constexpr std::array<DefaultBookmark, 5> kDefaultBookmarks{{
    {"Apple", "http://www.apple.com/"},
    {"Yahoo", "http://www.yahoo.com/"},
    {"Google", "http://www.google.com/"},
    {"iPhone User Guide", "http://help.apple.com/iphone/"},
    {"iPhone Web Applications", "http://www.apple.com/webapps/"},
}};

// The number at the start of a stored text, read as the phone's own text-to-number call does:
// leading blanks, an optional sign, then decimal digits up to the first other character
// ("400000000.5" gives 400000000); 0 when there is none; held at the 64-bit limits.
int64_t leadingInteger(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const unsigned digit = static_cast<unsigned>(text[at] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (negative) return value == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(value);
  return static_cast<int64_t>(value);
}

int32_t leadingInteger32(std::string_view text) {
  const int64_t v = leadingInteger(text);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void setText(std::string& field, const std::optional<std::string>& cell) {
  if (cell) field = *cell;
}

void setDate(std::string& field, const std::optional<std::string>& cell, int kind) {
  if (!cell) return;
  if (std::optional<std::string> date = GetDateTime(leadingInteger(*cell), kind)) field = *date;
}

// Which of the step's stored files is read: the first when the backup holds it, else the
// second; none when it holds neither.
const StoredDatabase* chooseStored(const fs::path& backup, const StoredDatabase& first,
                                   const StoredDatabase* second) {
  if (findStoredFile(backup, first.name)) return &first;
  if (second && findStoredFile(backup, second->name)) return second;
  return nullptr;
}

// Opens the private copy of `db` (the `what` database to the scan's warnings); none when no
// copy could be made or it does not open.
std::unique_ptr<SqliteDatabase> openCopy(const fs::path& backup, const StoredDatabase& db,
                                         ScanContext& ctx, std::string_view what) {
  std::optional<fs::path> copy = privateDatabaseCopy(backup, db, ctx);
  if (!copy) return nullptr;
  auto database = std::make_unique<SqliteDatabase>(*copy, ctx, databaseLabel(what, db));
  if (!database->isOpen()) return nullptr;
  return database;
}

void postBookmark(ScanContext& ctx, std::string_view title, std::string_view url) {
  auto node = std::make_shared<PRBookMarkNode>();
  node->bookMarkTitle = std::string(title);
  node->bookMarkURL = std::string(url);
  ctx.nc.post(notify::kScanBookMarkInfo, std::shared_ptr<PRNode>(node));
}

// The text of a string node, as the records keep texts; none for any other node or "".
std::optional<std::string> plistText(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr || length == 0) return std::nullopt;
  std::string value =
      phoneText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text), length));
  if (value.empty()) return std::nullopt;
  return value;
}

// Posts one bookmark record per entry of the browser history list.
void postBrowserHistory(const fs::path& backup, ScanContext& ctx) {
  std::optional<fs::path> path = findStoredFile(backup, stored::kBrowserHistory.name);
  if (!path) {
    logLine("bookMarkPlistPath not find");
    return;
  }
  std::optional<std::string> bytes = readSmallFile(*path, kMaxHistoryPlistSize);
  if (!bytes || bytes->empty()) return;
  std::string refused;
  PlistPtr root = parsePropertyList(*bytes, &refused);
  if (!root && refused != "not a property list") {
    ctx.warnOnce("the browser history list is refused: " + refused);
    return;
  }
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    logLine(path->string() + ": the browser history is not a property-list dictionary");
    return;
  }
  plist_t dates = plist_dict_get_item(root.get(), "WebHistoryDates");
  if (dates == nullptr || plist_get_node_type(dates) != PLIST_ARRAY) return;
  const uint32_t count = plist_array_get_size(dates);
  for (uint32_t i = 0; i < count; ++i) {
    if (ctx.stopped()) return;
    plist_t entry = plist_array_get_item(dates, i);
    if (entry == nullptr || plist_get_node_type(entry) != PLIST_DICT) {
      logDebug(path->string() + ": history entry " + std::to_string(i) + " is not a dictionary");
      continue;
    }
    auto node = std::make_shared<PRBookMarkNode>();
    setText(node->bookMarkURL, plistText(plist_dict_get_item(entry, "")));
    setText(node->bookMarkTitle, plistText(plist_dict_get_item(entry, "title")));
    ctx.nc.post(notify::kScanBookMarkInfo, std::shared_ptr<PRNode>(node));
  }
}

}  // namespace

void scanCallHistoryThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  const StoredDatabase* db = chooseStored(backup, stored::kCallHistory, &stored::kCallHistoryOld);
  // Phones from system 8 on keep their calls in a store of their own.
  const bool store = findStoredFile(backup, stored::kCallHistoryStore.name).has_value();
  if (!db && !store) return;
  if (std::unique_ptr<SqliteDatabase> database =
          db ? openCopy(backup, *db, ctx, "call history") : nullptr) {
    std::optional<SqliteDatabase::Table> table = database->getTable(kSqlCalls);
    const int rows = table ? table->rows : 0;
    for (int row = 1; row <= rows; ++row) {
      if (ctx.stopped()) return;
      auto node = std::make_shared<PRCallHistoryNode>();
      setText(node->callPhone, table->cell(row, 0));
      setDate(node->callDate, table->cell(row, 1), 0);
      if (const auto& duration = table->cell(row, 2)) node->callTime = leadingInteger32(*duration);
      const auto& flags = table->cell(row, 3);
      node->callType = flags && leadingInteger(*flags) == 5 ? "Outgoing" : "Incoming";
      if (node->callTime != 0) {
        node->callDuration = getCallHistoryDuration(node->callTime);
      } else {
        node->callDuration = node->callType == "Outgoing" ? "Cancelled" : "Missed";
      }
      if (std::optional<std::string> name = ctx.nameForPhone(node->callPhone)) {
        node->callName = *name;
      }
      ctx.nc.post(notify::kScanCallHistoryInfo, std::shared_ptr<PRNode>(node));
    }
  }
  if (store && !scanCallHistoryStore(backup, ctx)) return;
  ctx.nc.post(notify::kScanProgressInfo, int64_t{kCallHistoryProgress});
}

void scanNoteThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  const StoredDatabase* db = chooseStored(backup, stored::kNotes, &stored::kNotesOld);
  // Phones from system 9 on keep their notes in a store of their own.
  const bool store = findStoredFile(backup, stored::kNoteStore.name).has_value();
  if (!db && !store) {
    logLine("messageDB is not exist");
    return;
  }
  if (std::unique_ptr<SqliteDatabase> database =
          db ? openCopy(backup, *db, ctx, "notes") : nullptr) {
    std::optional<SqliteDatabase::Table> table = database->getTable(kSqlNotesOld);
    if (!table) table = database->getTable(kSqlNotesNew);
    const int rows = table ? table->rows : 0;
    for (int row = 1; row <= rows; ++row) {
      if (ctx.stopped()) return;
      auto node = std::make_shared<PRNoteNode>();
      setText(node->noteContent, table->cell(row, 4));
      setText(node->noteTitle, table->cell(row, 0));
      setDate(node->noteDate, table->cell(row, 2), 1);
      ctx.nc.post(notify::kScanNoteInfo, std::shared_ptr<PRNode>(node));
    }
  }
  if (store && !scanNoteStore(backup, ctx)) return;
  ctx.nc.post(notify::kScanProgressInfo, int64_t{kNotesProgress});
}

void scanBookMarkThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  const StoredDatabase* db = chooseStored(backup, stored::kBookmarks, &stored::kBookmarksOther);
  if (!db) {
    logLine("messageDB is not exist");
    return;
  }
  if (std::unique_ptr<SqliteDatabase> database = openCopy(backup, *db, ctx, "bookmarks")) {
    std::optional<SqliteDatabase::Table> table = database->getTable(kSqlBookmarks);
    const int rows = table ? table->rows : 0;
    for (int row = 1; row <= rows; ++row) {
      if (ctx.stopped()) return;
      const auto& title = table->cell(row, 0);
      if (title && (*title == "Root" || *title == "com.apple.ReadingList")) continue;
      auto node = std::make_shared<PRBookMarkNode>();
      setText(node->bookMarkTitle, title);
      setText(node->bookMarkURL, table->cell(row, 1));
      ctx.nc.post(notify::kScanBookMarkInfo, std::shared_ptr<PRNode>(node));
    }
  }
  for (const DefaultBookmark& b : kDefaultBookmarks) postBookmark(ctx, b.title, b.url);
  if (ctx.stopped()) return;
  postBrowserHistory(backup, ctx);
}

void scanCalenderThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  if (!findStoredFile(backup, stored::kCalendar.name)) {
    logLine("CalenderDB is not exist");
    return;
  }
  std::unique_ptr<SqliteDatabase> database = openCopy(backup, stored::kCalendar, ctx, "calendar");
  if (!database) return;
  std::optional<SqliteDatabase::Table> table;
  // Phones from system 7 on keep the tables of system 6 (the older statements find nothing
  // there), so they are read as system 6 ones.
  if (ctx.currentNodeIsiOS6Version || ctx.iosMajorVersion >= 7) {
    table = database->getTable(kSqlCalendar6);
  } else {
    table = database->getTable(kSqlCalendar5);
    if (!table || table->rows == 0) table = database->getTable(kSqlCalendar4);
  }
  const int rows = table ? table->rows : 0;
  for (int row = 1; row <= rows; ++row) {
    if (ctx.stopped()) return;
    auto node = std::make_shared<PRCalenderNode>();
    setText(node->calTitle, table->cell(row, 0));
    setText(node->location, table->cell(row, 1));
    setText(node->calNote, table->cell(row, 2));
    setDate(node->startDate, table->cell(row, 3), 1);
    setDate(node->endDate, table->cell(row, 4), 1);
    ctx.nc.post(notify::kScanCalenderInfo, std::shared_ptr<PRNode>(node));
  }
}

}  // namespace tamsel
