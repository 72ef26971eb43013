// The carver of deleted messages: rows of databases written by SQLite (rollback journal,
// write-ahead log, the iOS 6 message and handle tables) and hand-built pages for the byte-level
// rules (page 0, reads held to the page, chat rows just after a text message, stop).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "carve/deleted_messages.h"
#include "events/notification_names.h"
#include "tests/fixtures/temp_folder.h"
#include "util/date.h"

namespace tamsel {
namespace {

using Bytes = std::vector<uint8_t>;
using Found = std::vector<std::shared_ptr<PRMessageNode>>;
const std::string kLongText(70, 'w');  // a text whose serial-type code takes two bytes

// What carving `input` as a scan of the given generation posts; one contact, Alice.
Found carve(const CarveInput& input, bool ios6, bool stopped = false) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  ctx.currentNodeIsiOS6Version = ios6;
  ctx.stopRequested = stopped;
  ctx.contactArray.push_back(std::make_shared<PRContactNode>());
  ctx.contactArray[0]->contactName = "Alice";
  ctx.contactArray[0]->contactPhone = "+1 555 0100";
  Found out;
  nc.addObserver(notify::kScanDelMessageInfo,
                 [&](const Notification& n) { out.push_back(n.record<PRMessageNode>()); });
  carveDeletedMessages(input, ctx);
  return out;
}

// A database written through SQLite; its files are read while it is open, so that a
// write-ahead log is not checkpointed away.
struct Db {
  testing::TempFolder dir;
  std::string path = (dir.path() / "sms.db").string();
  sqlite3* db = nullptr;
  Db() {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    exec("PRAGMA secure_delete=OFF; PRAGMA wal_autocheckpoint=0;");
  }
  ~Db() { sqlite3_close(db); }
  void exec(const std::string& sql) {
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  Bytes file(const char* suffix = "") const {
    std::string s = testing::readWholeFile(path + suffix);
    return Bytes(s.begin(), s.end());
  }
};

const std::shared_ptr<PRMessageNode>* withContent(const Found& found, const std::string& text) {
  for (const auto& m : found) {
    if (m->messageContent == text) return &m;
  }
  return nullptr;
}

std::string date(int64_t t) {
  return GetDateTime(t, 0).value_or("?");
}

// "CREATE TABLE message (...)" of `n` columns: the integer primary key, then column p as
// `named` gives it, or "cP" without a type.
std::string table(int n, const std::map<int, std::string>& named) {
  std::string sql = "CREATE TABLE message (ROWID INTEGER PRIMARY KEY";
  for (int p = 1; p < n; ++p)
    sql += ", " + (named.count(p) ? named.at(p) : "c" + std::to_string(p));
  return sql + ");";
}

// The phone's message table (38 columns). The attributedBody blob is NULL, short (a one-byte
// code) or long (a two-byte code), and the codes of every later column move with it; rows are
// read alike from freed and from live cells. A row whose identifier is not 36 characters long
// does not fit the layout and is not reported, rather than reported garbled.
TEST(CarveMessagesIos6, RowsJoinedWithHandleRowsFoundLaterInTheLog) {
  struct Row {
    int handle;
    std::string text;
    int fromMe;
    std::string service;
    bool reported;
    std::string phone, name, type;
  };
  const std::vector<Row> rows = {
      {5, "Hello there friend", 1, "iMessage", true, "+15550100", "Alice", "Send"},
      {6, kLongText, 0, "SMS", true, "friend@example.com", "", "Received"},
      {9, "no handle row", 0, "SMS", true, "", "", "Received"},
      {5, "x", 0, "SMS", false, "", "", ""},
      {5, "  y  ", 0, "SMS", false, "", "", ""},
      {5, "short identifier", 0, "SMS", false, "", "", ""},
  };
  const struct {
    const char* attributedBody;
    bool deleted;
  } cases[] = {{"NULL", true}, {"zeroblob(20)", true}, {"zeroblob(100)", true}, {"NULL", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.attributedBody) + (c.deleted ? ", deleted" : ", live"));
    Db db;
    db.exec(
        "PRAGMA journal_mode=WAL; CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT, "
        "country TEXT, service TEXT, uncanonicalized_id TEXT);" +
        table(38, {{1, "guid TEXT UNIQUE"},
                   {2, "text"},
                   {3, "replace INTEGER DEFAULT 0"},
                   {5, "handle_id"},
                   {8, "attributedBody"},
                   {9, "version"},
                   {11, "service"},
                   {15, "date"},
                   {21, "is_from_me"}}));
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::string guid = rows[i].text == "short identifier"
                                   ? "'guid-9'"
                                   : "printf('%036d', " + std::to_string(i) + ")";
      db.exec(
          "INSERT INTO message (guid, text, handle_id, attributedBody, version, service, date, "
          "is_from_me) VALUES (" +
          guid + ", '" + rows[i].text + "', " + std::to_string(rows[i].handle) + ", " +
          c.attributedBody + ", 10, '" + rows[i].service + "', " + std::to_string(400000000 + i) +
          ", " + std::to_string(rows[i].fromMe) + ");");
    }
    if (c.deleted) db.exec("DELETE FROM message WHERE ROWID > 0;");
    db.exec("PRAGMA wal_checkpoint(TRUNCATE);");
    db.exec(
        "INSERT INTO handle VALUES (5, '+1 555 0100', 'us', 'SMS', NULL), "
        "(6, 'friend@example.com', 'us', 'iMessage', NULL);");  // only in the log
    for (bool withLog : {false, true}) {
      auto found =
          carve(*CarveInput::fromBytes(db.file(), withLog ? db.file("-wal") : Bytes{}), true);
      size_t expected = 0;
      for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].text);
        auto m = withContent(found, rows[i].text);
        ASSERT_EQ(m != nullptr, rows[i].reported);
        if (!m) continue;
        ++expected;
        EXPECT_EQ((*m)->messagePhone, withLog ? rows[i].phone : "");
        EXPECT_EQ((*m)->messageName, withLog ? rows[i].name : "");
        EXPECT_EQ((*m)->messageType, rows[i].type);
        EXPECT_EQ((*m)->bImessage, rows[i].service != "SMS");
        EXPECT_EQ((*m)->messageDate, date(400000000 + int64_t(i)));
      }
      EXPECT_EQ(found.size(), expected);
    }
  }
}

TEST(CarveMessagesIos5, TextMessagesOfBothJournalModes) {
  struct Row {
    std::string address, text;
    int flags;
    std::string type, name;
  };
  const std::vector<Row> rows = {
      {"+1 555 0100", "Dinner at eight", 2, "Received", "Alice"},
      {"555-0199", kLongText, 3, "Send", ""},
      {"555-0100", "later", 22, "Received", "Alice"},
      {"555-0100", "ok then", 16387, "Send", "Alice"},
      {"555-0100", "hmm", 0, "unknown", "Alice"},
  };
  for (bool wal : {false, true}) {
    SCOPED_TRACE(wal ? "write-ahead log" : "rollback journal");
    Db db;
    db.exec(wal ? "PRAGMA journal_mode=WAL;" : "");
    db.exec(table(wal ? 33 : 17, {{1, "address"},
                                  {2, "date"},
                                  {3, "text"},
                                  {4, "flags"},
                                  {13, "country"},
                                  {18, "madrid_handle"},
                                  {25, "madrid_flags"}}));
    for (size_t i = 0; i < rows.size(); ++i) {
      db.exec("INSERT INTO message (address, date, text, flags, country) VALUES ('" +
              rows[i].address + "', " + std::to_string(400000000 + i) + ", '" + rows[i].text +
              "', " + std::to_string(rows[i].flags) + ", 'us');");
    }
    if (wal) {  // a chat message: no address, its number in madrid_handle
      db.exec(
          "INSERT INTO message (date, text, flags, c5, c7, c8, c9, c10, c11, c17, "
          "madrid_handle, madrid_flags) VALUES (400000009, 'from chat', 0, 0, 0, 0, 0, 0, "
          "0, zeroblob(100), 'friend@example.com', 16387);");
    }
    db.exec("DELETE FROM message WHERE ROWID > 1; PRAGMA wal_checkpoint(TRUNCATE);");
    auto found = carve(*CarveInput::fromBytes(db.file()), false);
    ASSERT_EQ(found.size(), rows.size() + (wal ? 1 : 0));
    for (size_t i = 0; i < rows.size(); ++i) {
      auto m = withContent(found, rows[i].text);
      ASSERT_TRUE(m) << rows[i].text;
      EXPECT_EQ((*m)->messagePhone, rows[i].address);
      EXPECT_EQ((*m)->messageType, rows[i].type);
      EXPECT_EQ((*m)->messageName, rows[i].name);
      EXPECT_EQ((*m)->messageDate, date(400000000 + int64_t(i)));
      EXPECT_FALSE((*m)->bImessage);
    }
    if (auto chat = withContent(found, "from chat"); wal) {
      ASSERT_TRUE(chat);
      EXPECT_EQ((*chat)->messagePhone, "friend@example.com");
      EXPECT_EQ((*chat)->messageType, "Send");
      EXPECT_EQ((*chat)->messageDate, date(400000009));
      EXPECT_TRUE((*chat)->bImessage);
    }
  }
}

// ---------------------------------------------------------------- hand-built pages

// A table-leaf cell (payload length, rowid, header, contents). Values: "" NULL, "#n" an integer
// (0, below 128, or 4 bytes), "*n" a blob of n zero bytes, anything else a text.
Bytes cell(const std::vector<std::string>& values) {
  Bytes codes, body;
  for (const auto& v : values) {
    int64_t n = v.empty() || (v[0] != '#' && v[0] != '*') ? 0 : std::stoll(v.substr(1));
    int64_t code = v.empty() ? 0 : v[0] == '*' ? 12 + 2 * n : 13 + 2 * int64_t(v.size());
    if (!v.empty() && v[0] == '#') code = n == 0 ? 8 : n < 128 ? 1 : 4;
    if (code >= 128) codes.push_back(uint8_t(0x80 | (code >> 7)));
    codes.push_back(uint8_t(code & 0x7f));
    if (code == 1 || code == 4) {
      for (int64_t b = code - 1; b >= 0; --b) body.push_back(uint8_t(n >> (8 * b)));
    } else if (!v.empty() && v[0] == '*') {
      body.insert(body.end(), size_t(n), 0);
    } else if (code > 12) {
      body.insert(body.end(), v.begin(), v.end());
    }
  }
  Bytes out = {uint8_t(1 + codes.size() + body.size()), 1, uint8_t(1 + codes.size())};
  out.insert(out.end(), codes.begin(), codes.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Pages of 1024 bytes, all marked as table leaves; `place` also sets a page's first cell pointer.
Bytes image(size_t pages, bool wal) {
  Bytes b(pages * 1024, 0);
  b[16] = 0x04, b[18] = wal ? 2 : 1;
  for (size_t p = 0; p < pages; ++p) b[p * 1024] = 0x0d;  // page 0 too: it is never read
  return b;
}
void place(Bytes& b, size_t at, const Bytes& c) {
  std::copy(c.begin(), c.end(), b.begin() + long(at));
  if (b[at / 1024 * 1024 + 9] == 0) b[at / 1024 * 1024 + 9] = uint8_t(at % 1024);
}
std::vector<std::string> sms(const std::string& text, size_t columns) {
  std::vector<std::string> v = {"", "555-0100", "#400000000", text, "#2"};
  v.resize(columns);
  v[13] = "us";
  return v;
}

TEST(CarveMessagesPages, PageZeroReadsHeldToThePageAndStop) {
  EXPECT_TRUE(carve(*CarveInput::fromBytes(Bytes(1000, 0)), false).empty());
  Bytes b = image(3, false);
  place(b, 200, cell(sms("in page zero", 17)));
  EXPECT_TRUE(carve(*CarveInput::fromBytes(b), false).empty());
  place(b, 1024 + 100, cell(sms("in page one", 17)));
  // This row's text (at 32 in the cell) starts 4 bytes before the end of page 1.
  place(b, 2048 - 4 - 32, cell(sms("ABCDEFGHIJ", 17)));
  auto found = carve(*CarveInput::fromBytes(b), false);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->messageContent, "in page one");
  EXPECT_EQ(found[1]->messageContent, "ABCD");
  EXPECT_TRUE(carve(*CarveInput::fromBytes(b), false, true).empty());
}

TEST(CarveMessagesPages, ChatRowWithoutNumberJustAfterATextMessageIsDropped) {
  for (size_t gap : {200, 600}) {
    Bytes b = image(2, true);
    place(b, 1024 + 50, cell(sms("a text", 33)));
    std::vector<std::string> chat(33);  // no number, no kind
    for (size_t p : {4, 5, 7, 8, 9, 10, 11}) chat[p] = "#0";
    chat[2] = "#400000000", chat[3] = "chat", chat[17] = "*100";
    place(b, 1024 + 50 + gap, cell(chat));
    EXPECT_EQ(carve(*CarveInput::fromBytes(b), false).size(), gap < 400 ? 1u : 2u) << gap;
  }
}

}  // namespace
}  // namespace tamsel
