#include "ios/note_store.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/phone_db.h"
#include "util/date.h"
#include "util/gzip.h"
#include "util/log.h"
#include "util/protobuf_wire.h"

namespace tamsel {
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kNoteTextField = 2;
constexpr uint32_t kAttributeRunField = 5;
// How deep the look for a note-shaped message goes when the usual path is absent.
constexpr int kNoteSearchDepth = 8;

std::string textOf(std::span<const uint8_t> bytes) {
  return phoneText(bytes);
}

// Follows `path` through a message whose end was cut off: a length that runs past the end
// takes what is left. None at a malformed key or when a field of the path is absent.
std::optional<std::span<const uint8_t>> followCutMessage(std::span<const uint8_t> bytes,
                                                         std::span<const uint32_t> path) {
  for (const uint32_t wanted : path) {
    size_t at = 0;
    bool found = false;
    while (!found && at < bytes.size()) {
      const std::optional<uint64_t> key = readVarint(bytes, &at);
      if (!key) return std::nullopt;
      switch (*key & 7) {
        case 0:
          if (!readVarint(bytes, &at)) return std::nullopt;
          break;
        case 1:
        case 5: {
          const size_t width = (*key & 7) == 1 ? 8 : 4;
          if (bytes.size() - at < width) return std::nullopt;
          at += width;
          break;
        }
        case 2: {
          const std::optional<uint64_t> length = readVarint(bytes, &at);
          if (!length) return std::nullopt;
          const size_t n = static_cast<size_t>(std::min<uint64_t>(*length, bytes.size() - at));
          if ((*key >> 3) == wanted) {
            bytes = bytes.subspan(at, n);
            found = true;
          }
          at += n;
          break;
        }
        default:
          return std::nullopt;
      }
    }
    if (!found) return std::nullopt;
  }
  return bytes;
}

// The text of the first message (depth first) that holds a field 2 beside a field 5 that
// are both length-delimited: the shape of a note.
std::optional<std::span<const uint8_t>> noteShapedText(std::span<const uint8_t> message) {
  std::optional<std::span<const uint8_t>> found;
  // Each message met is checked once for both fields.
  auto check = [&found](std::span<const uint8_t> candidate) {
    ProtoReader reader(candidate);
    ProtoField f;
    std::optional<std::span<const uint8_t>> text;
    bool runs = false;
    while (reader.next(&f)) {
      if (f.type != WireType::lengthDelimited) continue;
      if (f.number == kNoteTextField && !text) text = f.bytes;
      if (f.number == kAttributeRunField) runs = true;
    }
    if (text && runs && !reader.failed()) found = text;
    return !found;
  };
  if (!check(message)) return found;
  walkFields(
      message,
      [&](const ProtoField& f, int) {
        if (f.type != WireType::lengthDelimited || f.bytes.empty()) return true;
        if (!isWellFormedMessage(f.bytes)) return true;
        return check(f.bytes);
      },
      kNoteSearchDepth);
  return found;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The column names of `table` (empty when it does not exist).
std::vector<std::string> columnsOf(SqliteDatabase& db, std::string_view table) {
  std::vector<std::string> names;
  std::optional<SqliteStatement> st = db.prepare("PRAGMA table_info(" + std::string(table) + ")");
  if (!st) return names;
  while (st->step()) {
    if (std::optional<std::string> name = st->text(1)) names.push_back(*name);
  }
  return names;
}

// The first of `choices` that `columns` holds, as an expression over `alias`; "NULL" when
// none, COALESCE of them when several.
std::string columnExpression(const std::vector<std::string>& columns, std::string_view alias,
                             std::initializer_list<std::string_view> choices) {
  std::vector<std::string> present;
  for (std::string_view c : choices) {
    if (std::any_of(columns.begin(), columns.end(),
                    [c](const std::string& have) { return sameName(have, c); })) {
      present.push_back(std::string(alias) + "." + std::string(c));
    }
  }
  if (present.empty()) return "NULL";
  if (present.size() == 1) return present[0];
  std::string joined = "COALESCE(";
  for (size_t i = 0; i < present.size(); ++i) joined += (i ? ", " : "") + present[i];
  return joined + ")";
}

bool hasColumn(const std::vector<std::string>& columns, std::string_view name) {
  return std::any_of(columns.begin(), columns.end(),
                     [name](const std::string& have) { return sameName(have, name); });
}

void warn(ScanContext& ctx, std::string line) {
  logLine(line);
  ctx.warnings.push_back(std::move(line));
}

}  // namespace

std::optional<std::string> noteBodyText(std::span<const uint8_t> body, std::string* error) {
  auto fail = [error](std::string why) -> std::optional<std::string> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (body.empty()) return fail("no body");
  InflateResult inflated = inflateBytes(body);
  if (inflated.status == InflateResult::Status::truncated) {
    // What was inflated before the cut may still hold the beginning of the text.
    std::optional<std::span<const uint8_t>> text = followCutMessage(inflated.bytes, kNoteTextPath);
    if (!text) return fail("the body is cut short before its text");
    return textOf(*text);
  }
  if (!inflated.ok()) return fail("the body does not inflate: " + inflated.error);
  std::string why;
  std::optional<std::span<const uint8_t>> text = findField(inflated.bytes, kNoteTextPath, &why);
  if (!text) text = noteShapedText(inflated.bytes);
  if (!text) return fail("no note text in the body (" + why + ")");
  return textOf(*text);
}

std::shared_ptr<PRNoteNode> noteStoreNode(const NoteStoreCells& cells, std::string* bodyError) {
  auto node = std::make_shared<PRNoteNode>();
  if (cells.title) node->noteTitle = *cells.title;
  if (cells.modified) {
    if (std::optional<std::string> date = GetDateTime(*cells.modified, 1)) node->noteDate = *date;
  }
  if (cells.key) {
    node->uid = static_cast<int32_t>(std::clamp<int64_t>(*cells.key, INT32_MIN, INT32_MAX));
  }
  node->bLocked = cells.locked;
  if (!cells.locked && !cells.body.empty()) {
    std::string why;
    if (std::optional<std::string> text = noteBodyText(cells.body, &why)) {
      node->noteContent = *text;
    } else if (bodyError) {
      *bodyError = why;
    }
  }
  return node;
}

std::optional<std::string> noteStoreStatement(SqliteDatabase& db) {
  // Views in place of the tables are not read (the database reports them).
  if (!db.hasTable("ZICCLOUDSYNCINGOBJECT")) return std::nullopt;
  const std::vector<std::string> objects = columnsOf(db, "ZICCLOUDSYNCINGOBJECT");
  if (!hasColumn(objects, "Z_PK") || !hasColumn(objects, "ZNOTEDATA")) return std::nullopt;
  const std::vector<std::string> bodies =
      db.hasTable("ZICNOTEDATA") ? columnsOf(db, "ZICNOTEDATA") : std::vector<std::string>();
  const bool haveBodies = hasColumn(bodies, "Z_PK") && hasColumn(bodies, "ZDATA");
  std::string sql = "SELECT o.Z_PK, " + columnExpression(objects, "o", {"ZTITLE1", "ZTITLE"}) +
                    ", " +
                    columnExpression(objects, "o", {"ZMODIFICATIONDATE1", "ZMODIFICATIONDATE"}) +
                    ", " + columnExpression(objects, "o", {"ZISPASSWORDPROTECTED"}) + ", " +
                    columnExpression(objects, "o", {"ZMARKEDFORDELETION"}) + ", " +
                    (haveBodies ? "d.ZDATA" : "NULL") + " FROM ZICCLOUDSYNCINGOBJECT o";
  if (haveBodies) sql += " LEFT JOIN ZICNOTEDATA d ON d.Z_PK = o.ZNOTEDATA";
  return sql + " WHERE o.ZNOTEDATA IS NOT NULL ORDER BY o.Z_PK";
}

bool scanNoteStore(const fs::path& backup, ScanContext& ctx) {
  if (!findStoredFile(backup, stored::kNoteStore.name)) return true;
  const std::string what =
      "the notes database NoteStore.sqlite (" + std::string(stored::kNoteStore.name) + ")";
  std::optional<fs::path> copy = privateDatabaseCopy(backup, stored::kNoteStore, ctx);
  if (!copy) {
    warn(ctx, what + " could not be copied for reading");
    return !ctx.stopped();
  }
  SqliteDatabase db(*copy, ctx, what);
  if (!db.isOpen()) {
    warn(ctx, what + " does not open as a database");
    return !ctx.stopped();
  }
  std::optional<std::string> sql = noteStoreStatement(db);
  if (!sql) {
    warn(ctx, what + " has no notes table (ZICCLOUDSYNCINGOBJECT with ZNOTEDATA)");
    return !ctx.stopped();
  }
  std::optional<SqliteStatement> st = db.prepare(*sql);
  if (!st) {
    warn(ctx, what + ": its notes could not be read");
    return !ctx.stopped();
  }
  size_t unreadable = 0;
  while (st->step()) {
    if (ctx.stopped()) break;
    NoteStoreCells cells;
    cells.key = st->integer(0);
    cells.title = st->text(1);
    if (st->text(2)) cells.modified = st->integer(2);
    cells.locked = st->integer(3) == 1;
    const bool marked = st->integer(4) == 1;
    cells.body = st->blob(5);
    std::string why;
    std::shared_ptr<PRNoteNode> node = noteStoreNode(cells, &why);
    if (!why.empty()) {
      ++unreadable;
      logDebug(what + ": the body of note " + std::to_string(*cells.key) + " not read: " + why);
    }
    if (marked) {
      // Deleted on the phone and kept until the store is tidied: listed as a deleted note when
      // something of it is left.
      if (node->noteTitle.empty() && node->noteContent.empty()) continue;
      node->bDeleted = true;
      ctx.nc.post(notify::kScanDelNoteInfo, std::shared_ptr<PRNode>(std::move(node)));
    } else {
      ctx.nc.post(notify::kScanNoteInfo, std::shared_ptr<PRNode>(std::move(node)));
    }
  }
  if (ctx.stopped()) return false;
  if (unreadable > 0) {
    warn(ctx, what + ": the text of " + std::to_string(unreadable) +
                  (unreadable == 1 ? " note" : " notes") + " could not be read");
  }
  return true;
}

}  // namespace tamsel
