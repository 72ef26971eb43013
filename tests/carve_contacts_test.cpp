// The carver of deleted address-book rows: databases made by SQLite (rows deleted without
// secure delete, rows left only in the write-ahead log) and hand-built pages for the
// byte-level cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "carve/deleted_contacts.h"
#include "events/notification_names.h"
#include "tests/fixtures/carve_db_contacts.h"
#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

using Bytes = std::vector<uint8_t>;
using Contacts = std::vector<std::shared_ptr<PRContactNode>>;

using fixtures::carvePersonDelete;
using fixtures::carvePersonInsert;
using fixtures::carveValueInsert;

Contacts carve(const CarveInput& input, bool stop = false) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  ctx.stopRequested = stop;
  Contacts found;
  nc.addObserver(notify::kScanDelContactInfo, [&](const Notification& n) {
    found.push_back(n.record<PRContactNode>());
    ASSERT_NE(found.back(), nullptr);
  });
  carveDeletedContacts(input, ctx);
  return found;
}

struct Expected {
  int rowid;
  std::string name, phone, email = "", homepage = "", company = "", note = "", jobTitle = "";
};

void expectContact(const PRContactNode& c, const Expected& e) {
  SCOPED_TRACE("person " + std::to_string(e.rowid) + " \"" + e.name + "\"");
  EXPECT_EQ(c.rowid, e.rowid);
  EXPECT_EQ(c.contactName, e.name);
  EXPECT_EQ(c.contactPhone, e.phone);
  EXPECT_EQ(c.contactEmail, e.email);
  EXPECT_EQ(c.contactHomepage, e.homepage);
  EXPECT_EQ(c.contactCompany, e.company);
  EXPECT_EQ(c.contactNote, e.note);
  EXPECT_EQ(c.contactJobtitle, e.jobTitle);
}

void expectContacts(const Contacts& found, const std::vector<Expected>& expected) {
  ASSERT_EQ(found.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) expectContact(*found[i], expected[i]);
}

std::unique_ptr<CarveInput> sqliteInput(const testing::TempFolder& folder, const std::string& sql,
                                        const std::string& walSql = "", bool withLog = false) {
  const auto db = folder.path() / "AddressBook.sqlitedb";
  std::string error;
  EXPECT_TRUE(testing::writeSqliteFile(db, fixtures::kCarveKeepDeletedBytes + sql, walSql, &error))
      << error;
  auto input = CarveInput::open(db.string(), withLog ? db.string() + "-wal" : "", &error);
  EXPECT_NE(input, nullptr) << error;
  return input;
}

TEST(CarveContactsDb, LiveAndDeletedPersonsWithTheirValues) {
  const std::string longNote(80, 'n');  // its serial-type code takes two bytes
  std::string sql = fixtures::kCarveAddressBookSchema;
  sql += carvePersonInsert(1, {{"First", "Ann"},
                               {"Last", "Lee"},
                               {"Organization", "Acme"},
                               {"Department", "Sales"},
                               {"Note", "short note"},
                               {"JobTitle", "Clerk"},
                               {"Nickname", "Annie"}}) +
         carvePersonInsert(2, {{"First", "Bob"}}) +
         carvePersonInsert(
             3, {{"Last", "Cruz"}, {"Note", longNote}, {"JobTitle", "Eng"}, {"Nickname", "C"}}) +
         carvePersonInsert(4, {{"First", "Dee"}, {"Last", "Ng"}, {"Middle", "M"}}) +
         carvePersonInsert(5, {{"First", "Eve"}}) +
         carvePersonInsert(133, {{"First", "Gus"}, {"Organization", "Fab"}}) +
         carvePersonInsert(134, {{"First", "Hal"}});
  sql += carveValueInsert(1, 1, 3, "555-0101") + carveValueInsert(2, 1, 4, "ann@example.com") +
         carveValueInsert(3, 2, 3, "555-0201") + carveValueInsert(4, 2, 3, "555-0202") +
         carveValueInsert(5, 2, 22, "http://bob.example") + carveValueInsert(6, 3, 3, "555-0301") +
         carveValueInsert(7, 4, 3, "555-0401") + carveValueInsert(8, 4, 5, "an address") +
         carveValueInsert(9, 5, 4, "eve@example.com") + carveValueInsert(10, 133, 3, "555-1330") +
         carveValueInsert(11, 134, 3, "555-1340");
  // The last page: the run after the first "Eve" is longer than 20 characters.
  sql +=
      "CREATE TABLE Keys (k TEXT);"
      "INSERT INTO Keys VALUES ('Eve123456789012345678901234 Eve5550500 end');";
  // Deleting overwrites a cell's first four bytes (payload length, rowid, header length, the
  // key's code): person 3 follows the identifier of the row found before it; person 134, the
  // last one added and so the first found on its page, is numbered after the largest
  // identifier (133, from the cell head 0x81 0x05) when the page is done.
  sql += carvePersonDelete(3) + carvePersonDelete(134);
  testing::TempFolder folder;
  const Contacts found = carve(*sqliteInput(folder, sql));
  expectContacts(found, {
                            {133, "Gus", " 555-1330", "", "", "Fab"},
                            {5, "Eve", "5550500 ", " eve@example.com"},
                            {4, "Dee Ng M", " 555-0401"},
                            {3, " Cruz", " 555-0301", "", "", "", longNote, "Eng"},
                            {2, "Bob", " 555-0201 555-0202", "", " http://bob.example"},
                            {1, "Ann Lee", " 555-0101", " ann@example.com", "", "Acme Sales",
                             "short note", "Clerk"},
                            {134, "Hal", " 555-1340"},
                        });
  ASSERT_EQ(found.size(), 7u);
  EXPECT_EQ(found[4]->phoneNumbers, (std::vector<std::string>{"555-0201", "555-0202"}));
  EXPECT_TRUE(found[1]->phoneNumbers.empty());  // the number from the last page is no value
}

// Rows added and deleted again before a checkpoint exist only in the log's frames; the live
// row seen in both files gets its number once.
TEST(CarveContactsDb, RowsOnlyInTheLogAreFoundThroughIt) {
  const std::string sql = fixtures::kCarveAddressBookSchema +
                          carvePersonInsert(1, {{"First", "Ida"}}) +
                          carveValueInsert(1, 1, 3, "555-0001");
  const std::string walSql = carvePersonInsert(2, {{"First", "Jon"}}) +
                             carveValueInsert(2, 2, 3, "555-0002") +
                             carvePersonInsert(3, {{"First", "Kim"}}) +
                             carveValueInsert(3, 3, 4, "kim@example.com") + carvePersonDelete(3);
  for (bool withLog : {false, true}) {
    SCOPED_TRACE(withLog ? "with the log" : "database only");
    testing::TempFolder folder;
    const Contacts found = carve(*sqliteInput(folder, sql, walSql, withLog));
    if (!withLog) {
      expectContacts(found, {{1, "Ida", " 555-0001"}});
    } else {
      expectContacts(found, {{1, "Ida", " 555-0001"},
                             {2, "Jon", " 555-0002"},
                             {1, "Ida", " 555-0001"},
                             {3, "Kim", "", " kim@example.com"}});
    }
  }
}

// ---------------------------------------------------------------- hand-built pages

constexpr uint32_t kPage = 1024;

// A person cell of the 34-column layout (rowid, texts and records below 128 bytes): key
// NULL, first and last name, language indexes 2147483647, person link -1, preferred name 1.
Bytes personCell(uint8_t rowid, const std::string& first, const std::string& last) {
  Bytes codes(34, 0), body(first.begin(), first.end());
  body.insert(body.end(), last.begin(), last.end());
  codes[1] = first.empty() ? 0 : static_cast<uint8_t>(13 + 2 * first.size());
  codes[2] = last.empty() ? 0 : static_cast<uint8_t>(13 + 2 * last.size());
  codes[29] = codes[30] = 4;
  codes[31] = 1;
  codes[33] = 9;
  for (uint8_t b : {0x7f, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff, 0xff}) body.push_back(b);
  Bytes cell = {static_cast<uint8_t>(1 + codes.size() + body.size()), rowid, 35};
  cell.insert(cell.end(), codes.begin(), codes.end());
  cell.insert(cell.end(), body.begin(), body.end());
  return cell;
}

// A value cell: owner and property as one-byte integers, identifier 0 and label 1 as
// constants, the text.
Bytes valueCell(uint8_t uid, uint8_t owner, uint8_t property, const std::string& text) {
  Bytes cell = {static_cast<uint8_t>(9 + text.size()),      uid,   7,       0, 1, 1, 8, 9,
                static_cast<uint8_t>(13 + 2 * text.size()), owner, property};
  cell.insert(cell.end(), text.begin(), text.end());
  return cell;
}

// A table-leaf page with the cells at the given offsets, pointed to in the order given.
Bytes leafPage(const std::vector<std::pair<size_t, Bytes>>& cells) {
  Bytes page(kPage, 0);
  page[0] = 0x0d;
  for (size_t i = 0; i < cells.size(); ++i) {
    const auto& [at, bytes] = cells[i];
    page[8 + 2 * i] = static_cast<uint8_t>(at >> 8);
    page[9 + 2 * i] = static_cast<uint8_t>(at & 0xff);
    std::copy_n(bytes.begin(), std::min(bytes.size(), kPage - at), page.begin() + at);
  }
  return page;
}

// The header page, then `pages`.
Bytes database(const std::vector<Bytes>& pages) {
  Bytes db(kPage, 0);
  db[16] = kPage >> 8;
  for (const Bytes& p : pages) db.insert(db.end(), p.begin(), p.end());
  return db;
}

// A log of `pages` (magic, page size, then a 24-byte header before each page).
Bytes writeAheadLog(const std::vector<Bytes>& pages) {
  Bytes log = {0x37, 0x7f, 0x06, 0x82, 0, 0, 0, 0, 0, 0, kPage >> 8};
  log.resize(32, 0);
  for (const Bytes& page : pages) {
    log.resize(log.size() + 24, 0);
    log.insert(log.end(), page.begin(), page.end());
  }
  return log;
}

TEST(CarveContactsPages, HandBuiltFiles) {
  const Bytes good = database({leafPage({{700, personCell(1, "Ann", "")}})});
  Bytes noSize = good;
  noSize[16] = 0x03;  // 1000: not a power of two
  noSize[17] = 0xe8;
  // The last name's last three bytes and the integers after them (9 bytes) are cut off by
  // the page end; what follows in the file is never read for them.
  const Bytes cut = personCell(2, "Zed", "Abcdef");
  Bytes endPage = leafPage({{kPage - cut.size() + 12, cut}});
  endPage[10] = endPage[11] = 0xff;  // a second cell pointer far past the page end
  // An anchor at byte 20: the row's codes would lie on the page before (3-byte texts there)
  // and its contents at byte 28; they read as zeros, and the row, found first without a
  // cell head, is numbered after the largest identifier.
  Bytes before = leafPage({});
  std::fill(before.end() - 8, before.end(), 0x13);
  Bytes startPage = leafPage({{600, personCell(5, "Ann", "")}});
  const std::string anchorAndText = std::string("\0\0\4\4\1", 5) + "...BadBadBadBad";
  std::copy(anchorAndText.begin(), anchorAndText.end(), startPage.begin() + 20);
  auto named = [](const std::string& stored) {
    return database({leafPage({{500, personCell(1, stored, "")}})});
  };
  const struct {
    const char* what;
    Bytes db, log;
    bool stop;
    std::vector<Expected> expected;
  } cases[] = {
      {"value of owner 0",
       database({leafPage({{700, personCell(1, "Yan", "")}}),
                 leafPage({{900, valueCell(1, 0, 3, "555-7777")}})}),
       {},
       false,
       {{1, "Yan", " 555-7777"}}},
      {"row cut by the page end",
       database({endPage, Bytes(kPage, 'x')}),
       {},
       false,
       {{2, "Zed Abc", ""}}},
      {"anchor near the page start",
       database({before, startPage}),
       {},
       false,
       {{5, "Ann", ""}, {6, "", ""}}},
      // Texts keep what decodes: a stray byte or half a character becomes U+FFFD.
      {"UTF-8 text", named("Zo\xc3\xab"), {}, false, {{1, "Zo\xc3\xab", ""}}},
      {"half a character", named("Jos\xc3"), {}, false, {{1, "Jos\xef\xbf\xbd", ""}}},
      {"stray byte", named("\xff!"), {}, false, {{1, "\xef\xbf\xbd!", ""}}},
      {"zero byte", named(std::string("Al\0x", 4)), {}, false, {{1, "Al", ""}}},
      // No last page to take a number from: the number stays empty, not a placeholder.
      {"log of a database without pages",
       database({}),
       writeAheadLog({leafPage({{700, personCell(4, "Ann", "")}}),
                      leafPage({{900, valueCell(1, 4, 4, "ann@example.com")}})}),
       false,
       {{4, "Ann", "", " ann@example.com"}}},
      {"intact", good, {}, false, {{1, "Ann", ""}}},
      {"stopped", good, {}, true, {}},
      {"page size 1000", noSize, {}, false, {}},
      {"header page only", Bytes(good.begin(), good.begin() + kPage), {}, false, {}},
      {"no whole page with the row", Bytes(good.begin(), good.end() - 200), {}, false, {}},
      {"empty file", {}, {}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectContacts(carve(*CarveInput::fromBytes(c.db, c.log), c.stop), c.expected);
  }
}

}  // namespace
}  // namespace tamsel
