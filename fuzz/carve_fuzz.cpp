// Fuzzes the deleted-record carvers: the input is read as a database file and, where a
// write-ahead-log header follows inside it, as a database and its log; every carver and the
// schema-aware pass (with the phone tables' shapes) walk the pages. Nothing may read outside
// the input, loop without end or report a row of another width than its table's.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/deleted_bookmarks.h"
#include "carve/deleted_calendar.h"
#include "carve/deleted_calls.h"
#include "carve/deleted_contacts.h"
#include "carve/deleted_messages.h"
#include "carve/deleted_notes.h"
#include "carve/schema_carver.h"
#include "events/scan_context.h"
#include "util/log.h"

namespace {

using namespace tamsel;

volatile size_t g_sink = 0;

TableShape shape(const char* name, std::vector<std::string> columns,
                 std::vector<std::string> affinity, int alias, uint32_t root) {
  return TableShape{name, std::move(columns), std::move(affinity), alias, root};
}

// Tables of the phone's databases (root pages as a small database would have them).
const std::vector<TableShape>& phoneShapes() {
  static const std::vector<TableShape> k = {
      shape(
          "message",
          {"ROWID",      "guid",    "text",           "replace",   "service_center", "handle_id",
           "subject",    "country", "attributedBody", "version",   "type",           "service",
           "account",    "error",   "date",           "date_read", "date_delivered", "is_delivered",
           "is_from_me", "is_read", "is_sent"},
          {"INTEGER", "TEXT",    "TEXT",    "INTEGER", "TEXT",    "INTEGER", "TEXT",
           "TEXT",    "BLOB",    "INTEGER", "INTEGER", "TEXT",    "TEXT",    "INTEGER",
           "INTEGER", "INTEGER", "INTEGER", "INTEGER", "INTEGER", "INTEGER", "INTEGER"},
          0, 2),
      shape("handle", {"ROWID", "id", "country", "service", "uncanonicalized_id"},
            {"INTEGER", "TEXT", "TEXT", "TEXT", "TEXT"}, 0, 3),
      shape("call", {"ROWID", "address", "date", "duration", "flags", "id"},
            {"INTEGER", "TEXT", "INTEGER", "INTEGER", "INTEGER", "INTEGER"}, 0, 2),
      shape("ABPerson", {"ROWID", "First", "Last", "Middle", "Organization", "Note", "Kind"},
            {"INTEGER", "TEXT", "TEXT", "TEXT", "TEXT", "TEXT", "INTEGER"}, 0, 2),
      shape("note", {"ROWID", "creation_date", "title", "summary", "contains_cjk"},
            {"INTEGER", "INTEGER", "TEXT", "TEXT", "INTEGER"}, 0, 4),
      shape("bookmarks", {"id", "special_id", "parent", "type", "title", "url"},
            {"INTEGER", "INTEGER", "INTEGER", "INTEGER", "TEXT", "TEXT"}, 0, 2),
  };
  return k;
}

void carveAll(std::vector<uint8_t> database, std::vector<uint8_t> log) {
  auto input = CarveInput::fromBytes(std::move(database), std::move(log));
  NotificationCenter nc;  // no observers: posts are dropped
  ScanContext ctx(nc);
  ctx.currentNodeIsiOS6Version = true;
  ctx.iosMajorVersion = 6;
  carveDeletedMessages(*input, ctx);
  carveDeletedContacts(*input, ctx);
  carveDeletedNotes(*input, ctx);
  carveDeletedCallHistory(*input, ctx);
  carveDeletedCalendar(*input, ctx);
  carveDeletedBookmarks(*input, ctx);
  ctx.currentNodeIsiOS6Version = false;
  ctx.iosMajorVersion = 4;
  carveDeletedMessages(*input, ctx);
  size_t rows = 0;
  carveBySchema(*input, phoneShapes(), {}, [&rows](const CarvedRow& r) {
    for (const TableShape& s : phoneShapes()) {
      if (s.name == r.table && s.columns.size() != r.values.size()) __builtin_trap();
    }
    ++rows;
    return true;
  });
  g_sink = g_sink + rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (tamsel::setLogSink({}), true);
  (void)quiet;
  carveAll(std::vector<uint8_t>(data, data + size), {});
  // A log header inside the input splits it into a database and its log.
  for (size_t at = 1; at + 4 <= size; ++at) {
    if (data[at] == 0x37 && data[at + 1] == 0x7f && data[at + 2] == 0x06 &&
        (data[at + 3] & 0xfe) == 0x82) {
      carveAll(std::vector<uint8_t>(data, data + at), std::vector<uint8_t>(data + at, data + size));
      break;
    }
  }
  return 0;
}
