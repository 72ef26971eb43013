#include "ios/deleted_rows.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "carve/schema_carver.h"
#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/call_history_store.h"
#include "ios/deleted_steps.h"
#include "ios/note_store.h"
#include "ios/phone_db.h"
#include "util/date.h"
#include "util/format.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The rows carved from one table, with its shape.
struct CarvedTable {
  const TableShape* shape = nullptr;
  std::vector<CarvedRow> rows;

  int column(std::string_view name) const {
    if (!shape) return -1;
    for (size_t i = 0; i < shape->columns.size(); ++i) {
      if (sameName(shape->columns[i], name)) return static_cast<int>(i);
    }
    return -1;
  }
};

const CarvedValue* cell(const CarvedRow& row, int column) {
  if (column < 0 || static_cast<size_t>(column) >= row.values.size()) return nullptr;
  return &row.values[column];
}

// True when `text` reads as text: valid UTF-8 without control characters but tab and line
// ends. A carved cell that fits a text column by its type but holds anything else is stray
// bytes taken for a row.
bool readable(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t n = 0;
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      if (c == 0x7f) return false;
      ++i;
      continue;
    }
    if (c >= 0xc2 && c <= 0xdf) {
      n = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
      n = 2;
    } else if (c >= 0xf0 && c <= 0xf4) {
      n = 3;
    } else {
      return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
        return false;
      }
    }
    i += n + 1;
  }
  return true;
}

// A text cell as the live steps read one (bytes up to the first zero byte); none for NULL,
// blobs, empty texts and texts that do not read as text. A number is taken as its digits only
// for columns that hold numbers as often as texts (addresses and values).
std::optional<std::string> textOf(const CarvedRow& row, int column, bool numberToo = false) {
  const CarvedValue* v = cell(row, column);
  if (!v) return std::nullopt;
  std::string text;
  if (const auto* s = std::get_if<std::string>(v)) {
    std::string_view upToZero(*s);
    if (size_t zero = upToZero.find('\0'); zero != std::string_view::npos) {
      upToZero = upToZero.substr(0, zero);
    }
    if (!readable(upToZero)) return std::nullopt;
    text = std::string(upToZero);
  } else if (const auto* i = std::get_if<int64_t>(v); i && numberToo) {
    text = std::to_string(*i);
  }
  if (text.empty()) return std::nullopt;
  return text;
}

// A number cell; a text is read up to its first character that is not part of a number.
std::optional<int64_t> integerOf(const CarvedRow& row, int column) {
  const CarvedValue* v = cell(row, column);
  if (!v) return std::nullopt;
  if (const auto* i = std::get_if<int64_t>(v)) return *i;
  if (const auto* d = std::get_if<double>(v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18) return std::nullopt;
    return static_cast<int64_t>(*d);
  }
  if (const auto* s = std::get_if<std::string>(v)) {
    size_t at = 0;
    bool negative = false;
    if (at < s->size() && ((*s)[at] == '-' || (*s)[at] == '+')) negative = (*s)[at++] == '-';
    int64_t value = 0;
    size_t digits = 0;
    for (; at < s->size() && (*s)[at] >= '0' && (*s)[at] <= '9' && digits < 18; ++at, ++digits) {
      value = value * 10 + ((*s)[at] - '0');
    }
    if (digits == 0) return std::nullopt;
    return negative ? -value : value;
  }
  return std::nullopt;
}

std::string dateOf(const CarvedRow& row, int column, int kind) {
  std::optional<int64_t> t = integerOf(row, column);
  if (!t) return {};
  return GetDateTime(*t, kind).value_or(std::string());
}

std::optional<int64_t> rowidOf(const CarvedTable& t, const CarvedRow& row) {
  if (row.rowid) return row.rowid;
  if (t.shape && t.shape->rowidAlias >= 0) return integerOf(row, t.shape->rowidAlias);
  return std::nullopt;
}

void append(std::string& field, const std::optional<std::string>& value) {
  if (value) field += " " + *value;
}

// One database of the pass: its private copy, opened for SQL (the live rows the records are
// joined with) and for carving.
class CarvedDatabase {
 public:
  CarvedDatabase(const fs::path& backup, const StoredDatabase* first, const StoredDatabase* second,
                 ScanContext& ctx) {
    const StoredDatabase* db = nullptr;
    if (findStoredFile(backup, first->name)) {
      db = first;
    } else if (second && findStoredFile(backup, second->name)) {
      db = second;
    }
    if (!db) return;
    input_ = openCarveInput(backup, *db, ctx, &copy_);
    if (!input_) return;
    std::optional<std::vector<TableShape>> shapes = readTableShapes(copy_.string());
    if (!shapes) {
      logLine("no tables read from " + copy_.string() + ": its deleted rows are not looked for");
      input_.reset();
      return;
    }
    shapes_ = std::move(*shapes);
  }

  bool usable() const { return input_ != nullptr; }
  const fs::path& path() const { return copy_; }

  // The shape of `name` (any case), or null.
  const TableShape* shape(std::string_view name) const {
    for (const TableShape& s : shapes_) {
      if (sameName(s.name, name)) return &s;
    }
    return nullptr;
  }

  // The deleted rows of the tables named, by table (in the order of `names`); a table the
  // database lacks gets no rows.
  std::vector<CarvedTable> carve(const std::vector<std::string>& names, ScanContext& ctx) const {
    std::vector<CarvedTable> tables(names.size());
    std::vector<std::string> present;
    for (size_t i = 0; i < names.size(); ++i) {
      tables[i].shape = shape(names[i]);
      if (tables[i].shape) present.push_back(tables[i].shape->name);
    }
    if (!input_ || present.empty()) return tables;
    carveBySchema(*input_, shapes_, present, [&](const CarvedRow& row) {
      for (CarvedTable& t : tables) {
        if (t.shape && sameName(t.shape->name, row.table)) {
          t.rows.push_back(row);
          break;
        }
      }
      return !ctx.stopped();
    });
    return tables;
  }

 private:
  fs::path copy_;
  std::vector<TableShape> shapes_;
  std::unique_ptr<CarveInput> input_;
};

// Posts `record` under `name` unless it is empty or listed already.
template <class T>
void postIfNew(ScanContext& ctx, DeletedRecordKeys& seen, std::string_view name,
               std::shared_ptr<T> record) {
  if (seen.admitDeleted(*record) != DeletedRecordKeys::Verdict::listed) return;
  ctx.nc.post(name, std::shared_ptr<PRNode>(std::move(record)));
}

std::optional<std::string> nameFor(const ScanContext& ctx, const std::string& phone) {
  if (phone.empty()) return std::nullopt;
  return ctx.nameForPhone(phone);
}

// ---------------------------------------------------------------- messages

void deletedMessages(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kMessages, nullptr, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"message", "handle"}, ctx);
  const CarvedTable& messages = t[0];
  const CarvedTable& handles = t[1];
  if (!messages.shape) return;

  // The addresses by handle row id: the live rows, then carved ones for the ids no live row
  // has (a deleted conversation's handle goes with it).
  std::unordered_map<int64_t, std::string> address;
  const bool handleLayout = handles.shape != nullptr;
  if (handleLayout) {
    SqliteDatabase live(db.path(), ctx, databaseLabel("messages", stored::kMessages));
    if (std::optional<SqliteStatement> st =
            live.isOpen() ? live.prepare("select ROWID, id from handle") : std::nullopt) {
      while (st->step()) {
        if (std::optional<std::string> id = st->text(1)) address.emplace(st->integer(0), *id);
      }
    }
    const int id = handles.column("id");
    for (const CarvedRow& row : handles.rows) {
      std::optional<int64_t> rowid = rowidOf(handles, row);
      std::optional<std::string> value = textOf(row, id, true);
      if (rowid && value) address.emplace(*rowid, *value);
    }
  }

  const int text = messages.column("text");
  const int date = messages.column("date");
  const int handleId = messages.column("handle_id");
  const int fromMe = messages.column("is_from_me");
  const int addressColumn = messages.column("address");
  const int flags = messages.column("flags");
  const int isMadrid = messages.column("is_madrid");
  const int madridHandle = messages.column("madrid_handle");
  const int madridFlags = messages.column("madrid_flags");
  for (const CarvedRow& row : messages.rows) {
    if (ctx.stopped()) return;
    auto m = std::make_shared<PRMessageNode>();
    if (std::optional<std::string> body = textOf(row, text)) m->messageContent = *body;
    m->messageDate = dateOf(row, date, 0);
    if (handleLayout) {
      if (std::optional<int64_t> h = integerOf(row, handleId)) {
        m->handle_id = static_cast<int32_t>(std::clamp<int64_t>(*h, INT32_MIN, INT32_MAX));
        if (auto a = address.find(*h); a != address.end()) m->messagePhone = a->second;
      }
      switch (integerOf(row, fromMe).value_or(0)) {
        case 0:
          m->messageType = "Received";
          break;
        case 1:
          m->messageType = "Send";
          break;
        default:
          m->messageType = "unknown";
          break;
      }
    } else {
      if (std::optional<std::string> a = textOf(row, addressColumn, true)) m->messagePhone = *a;
      m->messageType = messageTypeOfFlags(integerOf(row, flags).value_or(0));
      if (integerOf(row, isMadrid).value_or(0) == 1) {
        m->bImessage = true;
        if (std::optional<std::string> a = textOf(row, madridHandle, true)) m->messagePhone = *a;
        m->messageType = messageTypeOfFlags(integerOf(row, madridFlags).value_or(0));
      }
    }
    if (std::optional<std::string> name = nameFor(ctx, m->messagePhone)) m->messageName = *name;
    postIfNew(ctx, seen, notify::kScanDelMessageInfo, std::move(m));
  }
}

// ---------------------------------------------------------------- contacts

constexpr int64_t kPropertyPhone = 3;
constexpr int64_t kPropertyEmail = 4;
constexpr int64_t kPropertyAddress = 5;
constexpr int64_t kPropertyHomepage = 22;

void deletedContacts(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kAddressBook, nullptr, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"ABPerson", "ABMultiValue"}, ctx);
  const CarvedTable& people = t[0];
  const CarvedTable& values = t[1];
  if (!people.shape) return;

  // The carved values by person, each once (a row can survive in the file and in the log).
  struct Value {
    int64_t property;
    std::string value;
  };
  std::unordered_map<int64_t, std::vector<Value>> byPerson;
  std::set<std::tuple<std::optional<int64_t>, int64_t, int64_t, std::string>> known;
  const int recordId = values.column("record_id");
  const int property = values.column("property");
  const int valueColumn = values.column("value");
  for (const CarvedRow& row : values.rows) {
    std::optional<int64_t> person = integerOf(row, recordId);
    std::optional<int64_t> kind = integerOf(row, property);
    std::optional<std::string> value = textOf(row, valueColumn, true);
    if (!person || !kind || !value) continue;
    if (!known.emplace(rowidOf(values, row), *person, *kind, *value).second) continue;
    byPerson[*person].push_back({*kind, *value});
  }

  const int first = people.column("First");
  const int middle = people.column("Middle");
  const int last = people.column("Last");
  const int department = people.column("Department");
  const int jobTitle = people.column("JobTitle");
  const int organization = people.column("Organization");
  const int note = people.column("Note");
  const int birthday = people.column("Birthday");
  for (const CarvedRow& row : people.rows) {
    if (ctx.stopped()) return;
    auto c = std::make_shared<PRContactNode>();
    const std::optional<int64_t> rowid = rowidOf(people, row);
    if (rowid && *rowid >= INT32_MIN && *rowid <= INT32_MAX)
      c->rowid = static_cast<int32_t>(*rowid);
    c->contactName = textOf(row, first).value_or(std::string());
    append(c->contactName, textOf(row, middle));
    append(c->contactName, textOf(row, last));
    c->contactCompany = textOf(row, department).value_or(std::string());
    append(c->contactCompany, textOf(row, jobTitle));
    append(c->contactCompany, textOf(row, organization));
    c->contactNote = textOf(row, note).value_or(std::string());
    c->contactBirthday = textOf(row, birthday).value_or(std::string());
    if (rowid) {
      if (auto v = byPerson.find(*rowid); v != byPerson.end()) {
        for (const Value& value : v->second) {
          switch (value.property) {
            case kPropertyPhone:
              append(c->contactPhone, value.value);
              c->phoneNumbers.push_back(value.value);
              break;
            case kPropertyEmail:
              append(c->contactEmail, value.value);
              break;
            case kPropertyAddress:
              append(c->contactAdress, value.value);
              break;
            case kPropertyHomepage:
              append(c->contactHomepage, value.value);
              break;
            default:
              break;
          }
        }
      }
    }
    if (c->contactName.empty() && c->contactCompany.empty() && c->contactPhone.empty()) continue;
    postIfNew(ctx, seen, notify::kScanDelContactInfo, std::move(c));
  }
}

// ---------------------------------------------------------------- call history

void deletedCalls(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kCallHistory, &stored::kCallHistoryOld, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"call"}, ctx);
  const CarvedTable& calls = t[0];
  const int addressColumn = calls.column("address");
  const int date = calls.column("date");
  const int duration = calls.column("duration");
  const int flags = calls.column("flags");
  for (const CarvedRow& row : calls.rows) {
    if (ctx.stopped()) return;
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callPhone = textOf(row, addressColumn, true).value_or(std::string());
    c->callDate = dateOf(row, date, 0);
    if (std::optional<int64_t> seconds = integerOf(row, duration)) {
      c->callTime = static_cast<int32_t>(std::clamp<int64_t>(*seconds, INT32_MIN, INT32_MAX));
    }
    c->callType = integerOf(row, flags).value_or(0) == 5 ? "Outgoing" : "Incoming";
    if (c->callTime != 0) {
      c->callDuration = getCallHistoryDuration(c->callTime);
    } else {
      c->callDuration = c->callType == "Outgoing" ? "Cancelled" : "Missed";
    }
    if (std::optional<std::string> name = nameFor(ctx, c->callPhone)) c->callName = *name;
    postIfNew(ctx, seen, notify::kScanDelCallHistoryInfo, std::move(c));
  }
}

// ---------------------------------------------------------------- call history store

// A number cell as a real number.
std::optional<double> realOf(const CarvedRow& row, int column) {
  const CarvedValue* v = cell(row, column);
  if (!v) return std::nullopt;
  if (const auto* d = std::get_if<double>(v)) return *d;
  if (const auto* i = std::get_if<int64_t>(v)) return static_cast<double>(*i);
  return std::nullopt;
}

// The address of a call row: a text, or bytes read as one (up to their first zero byte).
std::optional<std::string> addressOf(const CarvedRow& row, int column) {
  const CarvedValue* v = cell(row, column);
  if (const auto* bytes = v ? std::get_if<std::vector<uint8_t>>(v) : nullptr) {
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    text = text.substr(0, text.find('\0'));
    if (text.empty() || !readable(text)) return std::nullopt;
    return std::string(text);
  }
  return textOf(row, column, true);
}

void deletedCallRecords(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kCallHistoryStore, nullptr, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"ZCALLRECORD"}, ctx);
  const CarvedTable& calls = t[0];
  if (!calls.shape) return;
  const int address = calls.column("ZADDRESS");
  const int date = calls.column("ZDATE");
  const int duration = calls.column("ZDURATION");
  const int originated = calls.column("ZORIGINATED");
  const int callType = calls.column("ZCALLTYPE");
  for (const CarvedRow& row : calls.rows) {
    if (ctx.stopped()) return;
    CallRecordCells cells;
    cells.address = addressOf(row, address);
    cells.date = realOf(row, date);
    cells.duration = realOf(row, duration);
    cells.originated = integerOf(row, originated);
    cells.callType = integerOf(row, callType);
    std::shared_ptr<PRCallHistoryNode> c = callRecordNode(cells, ctx);
    c->bDeleted = true;
    postIfNew(ctx, seen, notify::kScanDelCallHistoryInfo, std::move(c));
  }
}

// ---------------------------------------------------------------- notes

void deletedNotes(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kNotes, &stored::kNotesOld, ctx);
  if (!db.usable()) return;
  // The newer layout joins body and note on Z_PK, the old one on the body's note_id.
  const bool coreData = db.shape("ZNOTE") != nullptr;
  std::vector<CarvedTable> t =
      coreData ? db.carve({"ZNOTE", "ZNOTEBODY"}, ctx) : db.carve({"Note", "note_bodies"}, ctx);
  const CarvedTable& notes = t[0];
  const CarvedTable& bodies = t[1];
  if (!notes.shape && !bodies.shape) return;

  const int title = notes.column(coreData ? "ZTITLE" : "title");
  const int summary = notes.column(coreData ? "ZSUMMARY" : "summary");
  const int modified = notes.column(coreData ? "ZMODIFICATIONDATE" : "modification_date");
  const int content = bodies.column(coreData ? "ZCONTENT" : "data");
  const int owner = coreData ? -1 : bodies.column("note_id");
  auto bodyOwner = [&](const CarvedRow& row) {
    return coreData ? rowidOf(bodies, row) : integerOf(row, owner);
  };

  const int bodyColumn = coreData ? notes.column("ZBODY") : -1;

  // A note row, by its id and (newer layout) by its body's id; a row whose cell lost its id
  // (a freeblock's first bytes) is found by neither.
  struct NoteRow {
    std::string title, date, summary;
    bool joined = false;
  };
  std::vector<NoteRow> noteRows;
  std::unordered_map<int64_t, size_t> byId, byBody;
  for (const CarvedRow& row : notes.rows) {
    noteRows.push_back({textOf(row, title).value_or(std::string()), dateOf(row, modified, 1),
                        textOf(row, summary).value_or(std::string())});
    if (std::optional<int64_t> id = rowidOf(notes, row)) byId.emplace(*id, noteRows.size() - 1);
    if (std::optional<int64_t> body = integerOf(row, bodyColumn)) {
      byBody.emplace(*body, noteRows.size() - 1);
    }
  }
  // One record per carved body, with the title and date of its note row when it is known.
  for (const CarvedRow& row : bodies.rows) {
    if (ctx.stopped()) return;
    auto n = std::make_shared<PRNoteNode>();
    n->noteContent = textOf(row, content).value_or(std::string());
    if (n->noteContent.empty()) continue;
    std::optional<size_t> note;
    if (std::optional<int64_t> id = bodyOwner(row)) {
      if (auto at = byId.find(*id); at != byId.end()) note = at->second;
    }
    if (std::optional<int64_t> id = rowidOf(bodies, row); !note && id && coreData) {
      if (auto at = byBody.find(*id); at != byBody.end()) note = at->second;
    }
    if (note) {
      noteRows[*note].joined = true;
      n->noteTitle = noteRows[*note].title;
      n->noteDate = noteRows[*note].date;
    }
    postIfNew(ctx, seen, notify::kScanDelNoteInfo, std::move(n));
  }
  // Note rows of known id that no body joined: their summary stands for the body.
  for (const auto& [id, at] : byId) {
    if (ctx.stopped()) return;
    const NoteRow& r = noteRows[at];
    if (r.joined || (r.title.empty() && r.summary.empty())) continue;
    auto n = std::make_shared<PRNoteNode>();
    n->noteTitle = r.title;
    n->noteContent = r.summary;
    n->noteDate = r.date;
    postIfNew(ctx, seen, notify::kScanDelNoteInfo, std::move(n));
  }
}

// ---------------------------------------------------------------- notes of newer phones

// The bytes of a blob cell (a text cell's bytes too); empty for anything else.
std::span<const uint8_t> bytesOf(const CarvedRow& row, int column) {
  const CarvedValue* v = cell(row, column);
  if (!v) return {};
  if (const auto* b = std::get_if<std::vector<uint8_t>>(v)) return *b;
  if (const auto* s = std::get_if<std::string>(v)) {
    return {reinterpret_cast<const uint8_t*>(s->data()), s->size()};
  }
  return {};
}

// The first line of a note's text, which the phone takes for its title.
std::string_view firstLine(std::string_view text) {
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The live rows of the store that carved rows are joined with: the notes by key (without
// their bodies), and a look-up of one body by its key.
class LiveNoteStore {
 public:
  // Named as the notes step names it, so that a warning about it is given once.
  LiveNoteStore(const fs::path& copy, ScanContext& ctx)
      : db_(copy, ctx,
            "the notes database NoteStore.sqlite (" + std::string(stored::kNoteStore.name) + ")") {
    if (!db_.isOpen()) return;
    if (std::optional<std::string> sql = noteStoreStatement(db_)) {
      if (std::optional<SqliteStatement> st = db_.prepare(*sql)) {
        while (st->step()) {
          NoteStoreCells c;
          c.key = st->integer(0);
          c.title = st->text(1);
          if (st->text(2)) c.modified = st->integer(2);
          c.locked = st->integer(3) == 1;
          notes_.emplace(*c.key, std::move(c));
        }
      }
    }
    body_ = db_.prepare("SELECT ZNOTE, ZDATA FROM ZICNOTEDATA WHERE Z_PK = ?1");
  }

  const NoteStoreCells* note(std::optional<int64_t> key) const {
    if (!key) return nullptr;
    auto at = notes_.find(*key);
    return at == notes_.end() ? nullptr : &at->second;
  }

  // The live body of key `key`: its note's key and its bytes (valid until the next call).
  std::optional<std::pair<std::optional<int64_t>, std::span<const uint8_t>>> body(int64_t key) {
    if (!body_) return std::nullopt;
    body_->reset();
    if (!body_->bindInt(1, key) || !body_->step()) return std::nullopt;
    std::optional<int64_t> owner;
    if (body_->text(0)) owner = body_->integer(0);
    return std::make_pair(owner, body_->blob(1));
  }

 private:
  SqliteDatabase db_;
  std::unordered_map<int64_t, NoteStoreCells> notes_;
  std::optional<SqliteStatement> body_;
};

// NoteStore.sqlite: carved note rows of ZICCLOUDSYNCINGOBJECT (those with a ZNOTEDATA key;
// the table holds folders, attachments and accounts too) and carved bodies of ZICNOTEDATA.
// A freed cell loses its first bytes and with them, mostly, its own key, so a body is joined
// with its note by whichever key is left: the body's key (the note's ZNOTEDATA), the body's
// ZNOTE (the note's key) with a carved or a live note (an older text of a note that lives
// on), else by the note's title being the first line of the text. A body alone is still a
// note when its text reads; a note row alone gets the text of its live body when there is
// one, else it is listed with its title.
void deletedNoteStore(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kNoteStore, nullptr, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"ZICCLOUDSYNCINGOBJECT", "ZICNOTEDATA"}, ctx);
  const CarvedTable& objects = t[0];
  const CarvedTable& bodies = t[1];
  if (objects.rows.empty() && bodies.rows.empty()) return;
  LiveNoteStore live(db.path(), ctx);

  const int title = objects.column("ZTITLE1");
  const int titleOther = objects.column("ZTITLE");
  const int modified = objects.column("ZMODIFICATIONDATE1");
  const int modifiedOther = objects.column("ZMODIFICATIONDATE");
  const int noteData = objects.column("ZNOTEDATA");
  const int locked = objects.column("ZISPASSWORDPROTECTED");
  const int data = bodies.column("ZDATA");
  const int bodyNote = bodies.column("ZNOTE");

  struct NoteRow {
    NoteStoreCells cells;
    int64_t body = 0;  // its ZNOTEDATA
    bool joined = false;
  };
  std::vector<NoteRow> notes;
  std::unordered_map<int64_t, size_t> byKey, byBody;
  for (const CarvedRow& row : objects.rows) {
    const std::optional<int64_t> body = integerOf(row, noteData);
    if (!body) continue;
    NoteRow n;
    n.body = *body;
    n.cells.key = rowidOf(objects, row);
    n.cells.title = textOf(row, title);
    if (!n.cells.title) n.cells.title = textOf(row, titleOther);
    n.cells.modified = integerOf(row, modified);
    if (!n.cells.modified) n.cells.modified = integerOf(row, modifiedOther);
    n.cells.locked = integerOf(row, locked).value_or(0) == 1;
    notes.push_back(std::move(n));
    byBody.emplace(*body, notes.size() - 1);
    if (notes.back().cells.key) byKey.emplace(*notes.back().cells.key, notes.size() - 1);
  }
  auto post = [&](std::shared_ptr<PRNoteNode> n) {
    n->bDeleted = true;
    postIfNew(ctx, seen, notify::kScanDelNoteInfo, std::move(n));
  };

  for (const CarvedRow& row : bodies.rows) {
    if (ctx.stopped()) return;
    const std::span<const uint8_t> body = bytesOf(row, data);
    if (body.empty()) continue;
    const std::optional<int64_t> owner = integerOf(row, bodyNote);
    std::optional<size_t> note;
    if (std::optional<int64_t> id = rowidOf(bodies, row)) {
      if (auto at = byBody.find(*id); at != byBody.end()) note = at->second;
    }
    if (!note && owner) {
      if (auto at = byKey.find(*owner); at != byKey.end()) note = at->second;
    }
    NoteStoreCells cells;
    if (note) {
      cells = notes[*note].cells;
    } else if (const NoteStoreCells* living = live.note(owner)) {
      cells = *living;
    }
    if (!cells.key) cells.key = owner;
    cells.body = body;
    std::string why;
    std::shared_ptr<PRNoteNode> n = noteStoreNode(cells, &why);
    if (!why.empty()) {
      logDebug("deleted note body at offset " + std::to_string(row.offset) + " not read: " + why);
    }
    if (!note && !n->noteContent.empty() && n->noteTitle.empty()) {
      // No key joins it: the note row whose title is the text's first line, if one is left.
      const std::string_view line = firstLine(n->noteContent);
      for (size_t i = 0; i < notes.size() && !line.empty(); ++i) {
        const NoteStoreCells& c = notes[i].cells;
        if (notes[i].joined || c.locked || !c.title || *c.title != line) continue;
        note = i;
        n->noteTitle = *c.title;
        if (c.modified) n->noteDate = GetDateTime(*c.modified, 1).value_or(std::string());
        if (c.key) n->uid = static_cast<int32_t>(std::clamp<int64_t>(*c.key, INT32_MIN, INT32_MAX));
        break;
      }
    }
    // A body alone whose text does not read is nothing to list.
    if (!note && n->noteContent.empty() && n->noteTitle.empty()) continue;
    if (note) notes[*note].joined = true;
    post(std::move(n));
  }
  for (NoteRow& r : notes) {
    if (ctx.stopped()) return;
    if (r.joined) continue;
    if (auto body = live.body(r.body)) {
      if (!r.cells.key) r.cells.key = body->first;
      r.cells.body = body->second;
    }
    std::shared_ptr<PRNoteNode> n = noteStoreNode(r.cells, nullptr);
    r.cells.body = {};
    if (n->noteTitle.empty() && n->noteContent.empty()) continue;
    post(std::move(n));
  }
}

// ---------------------------------------------------------------- bookmarks

void deletedBookmarks(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kBookmarks, &stored::kBookmarksOther, ctx);
  if (!db.usable()) return;
  std::vector<CarvedTable> t = db.carve({"bookmarks"}, ctx);
  const CarvedTable& bookmarks = t[0];
  const int title = bookmarks.column("title");
  const int url = bookmarks.column("url");
  for (const CarvedRow& row : bookmarks.rows) {
    if (ctx.stopped()) return;
    auto b = std::make_shared<PRBookMarkNode>();
    b->bookMarkTitle = textOf(row, title).value_or(std::string());
    b->bookMarkURL = textOf(row, url).value_or(std::string());
    if (b->bookMarkTitle == "Root" || b->bookMarkTitle == "com.apple.ReadingList") continue;
    postIfNew(ctx, seen, notify::kScanDelBookMarkInfo, std::move(b));
  }
}

// ---------------------------------------------------------------- calendar

void deletedEvents(const fs::path& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  CarvedDatabase db(backup, &stored::kCalendar, nullptr, ctx);
  if (!db.usable()) return;
  const char* table = db.shape("CalendarItem") ? "CalendarItem" : "Event";
  std::vector<CarvedTable> t = db.carve({table}, ctx);
  const CarvedTable& events = t[0];
  if (!events.shape) return;
  const int summary = events.column("summary");
  const int description = events.column("description");
  const int start = events.column("start_date");
  const int end = events.column("end_date");
  const int locationText = events.column("location");
  const int locationId = events.column("location_id");

  // Before system 6 the location is shown by its title, as the live step joins it.
  std::unordered_map<int64_t, std::string> locationTitle;
  if (locationId >= 0 && !ctx.currentNodeIsiOS6Version) {
    SqliteDatabase live(db.path(), ctx, databaseLabel("calendar", stored::kCalendar));
    if (std::optional<SqliteStatement> st = live.isOpen() && live.hasTable("location")
                                                ? live.prepare("select ROWID, title from location")
                                                : std::nullopt) {
      while (st->step()) {
        if (std::optional<std::string> title = st->text(1)) {
          locationTitle.emplace(st->integer(0), *title);
        }
      }
    }
  }
  for (const CarvedRow& row : events.rows) {
    if (ctx.stopped()) return;
    auto e = std::make_shared<PRCalenderNode>();
    e->calTitle = textOf(row, summary).value_or(std::string());
    e->calNote = textOf(row, description).value_or(std::string());
    e->startDate = dateOf(row, start, 1);
    e->endDate = dateOf(row, end, 1);
    if (locationText >= 0) {
      e->location = textOf(row, locationText).value_or(std::string());
    } else if (std::optional<int64_t> id = integerOf(row, locationId); id && *id != 0) {
      if (ctx.currentNodeIsiOS6Version) {
        e->location = std::to_string(*id);
      } else if (auto l = locationTitle.find(*id); l != locationTitle.end()) {
        e->location = l->second;
      }
    }
    postIfNew(ctx, seen, notify::kScanDelCalenderInfo, std::move(e));
  }
}

}  // namespace

void scanDeletedRows(const std::string& backup, ScanContext& ctx, DeletedRecordKeys& seen) {
  if (backup.empty()) return;
  const fs::path folder(backup);
  using Pass = void (*)(const fs::path&, ScanContext&, DeletedRecordKeys&);
  for (Pass pass : {deletedContacts, deletedMessages, deletedNotes, deletedNoteStore, deletedCalls,
                    deletedCallRecords, deletedBookmarks, deletedEvents}) {
    if (ctx.stopped()) return;
    pass(folder, ctx, seen);
  }
}

}  // namespace tamsel
