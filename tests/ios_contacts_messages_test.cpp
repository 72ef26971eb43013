// The live contacts and messages of a phone backup, read from private copies of its
// databases: fields and their appended values, pictures, the three message layouts, rows
// left in the write-ahead log, damaged databases and a real message database.
#include "ios/contacts_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/date.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::AddressBook;
using testing::MessageRow;
using testing::MessageSchema;
using testing::readWholeFile;
using testing::TempFolder;

std::string bytesOf(const ByteRef& ref) {
  std::optional<std::vector<uint8_t>> all = ref.readAll(1 << 20);
  return all ? std::string(all->begin(), all->end()) : "<unreadable>";
}

class PeopleScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backup_ = tmp_.path() / "backup";
    ctx_.runDir = tmp_.path() / "run";
    fs::create_directories(backup_);
    fs::create_directories(ctx_.runDir);
    nc_.addObserver(notify::kScanContactInfo, [this](const Notification& n) {
      contacts_.push_back(n.record<PRContactNode>());
      events_.push_back("contact");
    });
    nc_.addObserver(notify::kScanMessageInfo, [this](const Notification& n) {
      messages_.push_back(n.record<PRMessageNode>());
      events_.push_back("message");
    });
    nc_.addObserver(notify::kScanProgressInfo, [this](const Notification& n) {
      events_.push_back("progress " + std::to_string(n.number()));
    });
    previousSink_ = setLogSink([this](std::string_view line) { log_.emplace_back(line); });
  }
  void TearDown() override { setLogSink(previousSink_); }

  fs::path stored(const StoredDatabase& db) const { return backup_ / std::string(db.name); }

  // Moves the log the fixture left beside `db` to the log's own stored name.
  void storeLog(const StoredDatabase& db) {
    fs::rename(stored(db).string() + "-wal", backup_ / std::string(db.walName));
  }

  void writeBook(const AddressBook& book) {
    std::string error;
    ASSERT_TRUE(testing::writeAddressBook(stored(stored::kAddressBook), book, &error)) << error;
    if (book.peopleInLog > 0) storeLog(stored::kAddressBook);
  }

  void writeMessages(MessageSchema schema, const std::vector<MessageRow>& rows,
                     size_t rowsInLog = 0) {
    std::string error;
    ASSERT_TRUE(
        testing::writeMessageDatabase(stored(stored::kMessages), schema, rows, rowsInLog, &error))
        << error;
    if (rowsInLog > 0) storeLog(stored::kMessages);
  }

  void scanContacts() { scanContactThread(backup_.string(), ctx_); }
  void scanMessages() { scanMessageThread(backup_.string(), ctx_); }

  TempFolder tmp_;
  NotificationCenter nc_;
  ScanContext ctx_{nc_};
  fs::path backup_;
  std::vector<std::shared_ptr<PRContactNode>> contacts_;
  std::vector<std::shared_ptr<PRMessageNode>> messages_;
  std::vector<std::string> events_;
  std::vector<std::string> log_;
  LogSink previousSink_;
};

// ---------------------------------------------------------------- contacts

// Each contact's values are read either through the phone's index on the values (one query
// per contact) or, without one, in one pass over the table: both give the same fields.
TEST_F(PeopleScanTest, ContactFieldsAndAppendedValues) {
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "values indexed by contact" : "values not indexed");
    TempFolder run;
    ctx_.runDir = run.path();
    ctx_.databaseCopies.clear();
    ctx_.contactArray.clear();
    contacts_.clear();
    AddressBook book;
    book.indexValues = indexed;
    book.people = {
        {.rowid = 1,
         .first = "Ann",
         .last = "Lee",
         .department = "Sales",
         .jobTitle = "Head",
         .organization = "Acme",
         .note = "met in Oslo",
         .birthday = "1980-01-02"},
        {.rowid = 2, .first = "Bo", .middle = "M", .last = "Ray"},
        {.rowid = 3, .last = "Solo"},
        {.rowid = 4, .first = "Cy", .jobTitle = "Dev"},
        {.rowid = 5, .first = "Ren\xe9"},  // 8-bit code page, not UTF-8
    };
    book.values = {
        {1, 3, "mobile", "555-0100"},
        {1, 3, "home", "(555) 0199"},
        {1, 4, "work", "ann@acme.test"},
        {1, 5, "home", "Main St"},
        {1, 22, "home", "http://ann.test"},
        {1, 16, "x", "ignored"},
        {1, 3, "empty", std::nullopt},
        {2, 4, "home", "bo@ray.test"},
        {9, 3, "orphan", "000"},
    };
    writeBook(book);
    scanContacts();

    struct Expected {
      int32_t rowid;
      std::string name, company, phone, email, address, homepage, note, birthday;
    } expected[] = {
        {1, "Ann Lee", "Sales Head Acme", " 555-0100 (555) 0199", " ann@acme.test", " Main St",
         " http://ann.test", "met in Oslo", "1980-01-02"},
        {2, "Bo M Ray", "", "", " bo@ray.test", "", "", "", ""},
        {3, " Solo", "", "", "", "", "", "", ""},
        {4, "Cy", " Dev", "", "", "", "", "", ""},
        {5, "Ren\xef\xbf\xbd", "", "", "", "", "", "", ""},
    };
    ASSERT_EQ(contacts_.size(), std::size(expected));
    // Each number is kept as stored too, blanks and all, for the vCard.
    EXPECT_EQ(contacts_[0]->phoneNumbers, (std::vector<std::string>{"555-0100", "(555) 0199"}));
    EXPECT_TRUE(contacts_[1]->phoneNumbers.empty());
    for (size_t i = 0; i < contacts_.size(); ++i) {
      const PRContactNode& c = *contacts_[i];
      const Expected& e = expected[i];
      SCOPED_TRACE(e.name);
      EXPECT_EQ(c.rowid, e.rowid);
      EXPECT_EQ(c.contactName, e.name);
      EXPECT_EQ(c.contactCompany, e.company);
      EXPECT_EQ(c.contactPhone, e.phone);
      EXPECT_EQ(c.contactEmail, e.email);
      EXPECT_EQ(c.contactAdress, e.address);
      EXPECT_EQ(c.contactHomepage, e.homepage);
      EXPECT_EQ(c.contactNote, e.note);
      EXPECT_EQ(c.contactBirthday, e.birthday);
      EXPECT_TRUE(c.imageData.empty());
    }
    EXPECT_EQ(ctx_.contactArray, contacts_);
    EXPECT_EQ(events_.back(), "progress 40");
    ASSERT_TRUE(ctx_.nameIndex);
    EXPECT_EQ(ctx_.nameIndex->find("5550199"), "Ann Lee");
  }
}

TEST_F(PeopleScanTest, ManyContactsWithoutAValueIndexTakeLinearTime) {
  AddressBook book;
  constexpr int kPeople = 20000;
  for (int i = 1; i <= kPeople; ++i) {
    book.people.push_back({.rowid = i, .first = "p" + std::to_string(i)});
    book.values.push_back({i, 3, "mobile", "+1 415 " + std::to_string(5000000 + i)});
    book.values.push_back({i, 4, "home", "p" + std::to_string(i) + "@mail.test"});
    book.values.push_back({i, 16, "x", "skipped"});
  }
  writeBook(book);
  const auto start = std::chrono::steady_clock::now();
  scanContacts();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(contacts_.size(), static_cast<size_t>(kPeople));
  EXPECT_EQ(contacts_.back()->contactPhone, " +1 415 " + std::to_string(5000000 + kPeople));
  EXPECT_EQ(contacts_.back()->contactEmail, " p20000@mail.test");
  // One query per contact over the whole table would read 1.2 * 10^9 rows here (minutes).
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST_F(PeopleScanTest, PicturesFromEitherPictureDatabaseLastOneWins) {
  for (bool olderName : {false, true}) {
    SCOPED_TRACE(olderName ? "ABImage under the .mddata name" : "ABFullSizeImage");
    fs::remove_all(backup_);
    fs::create_directories(backup_);
    TempFolder run;
    ctx_.runDir = run.path();
    ctx_.databaseCopies.clear();
    ctx_.contactArray.clear();
    ctx_.contactImageArray.clear();
    contacts_.clear();

    AddressBook book;
    book.people = {{.rowid = 1, .first = "Ann"}, {.rowid = 2, .first = "Bo"}};
    writeBook(book);
    const fs::path pictures =
        stored(olderName ? stored::kAddressBookImagesOld : stored::kAddressBookImages);
    ASSERT_TRUE(testing::writePictureDatabase(
        pictures, {{1, {'o', 'l', 'd'}}, {1, {'n', 'e', 'w'}}, {7, {'x'}}}, olderName));
    scanContacts();

    ASSERT_EQ(contacts_.size(), 2u);
    EXPECT_EQ(bytesOf(contacts_[0]->imageData), "new");
    EXPECT_TRUE(contacts_[1]->imageData.empty());
    ASSERT_EQ(ctx_.contactImageArray.size(), 3u);
    EXPECT_EQ(ctx_.contactImageArray[2]->rowid, 7);
  }
}

TEST_F(PeopleScanTest, MissingOrDamagedAddressBook) {
  scanContacts();
  EXPECT_TRUE(events_.empty());
  EXPECT_NE(std::find(log_.begin(), log_.end(), "contactDB is not exist"), log_.end());

  testing::writeWholeFile(stored(stored::kAddressBook), std::string(8192, '\x5a'));
  scanContacts();
  EXPECT_EQ(events_, std::vector<std::string>{"progress 40"});
  EXPECT_TRUE(ctx_.contactArray.empty());
}

// ---------------------------------------------------------------- messages

class MessageScanTest : public PeopleScanTest {
 protected:
  void SetUp() override {
    PeopleScanTest::SetUp();
    auto ann = std::make_shared<PRContactNode>();
    ann->contactName = "Ann";
    ann->contactPhone = " 4155550100";
    ctx_.contactArray.push_back(ann);
  }
};

constexpr int64_t kDate = 400000000;  // seconds since 2001

struct MessageExpectation {
  std::string content, phone, name, type;
  bool chat = false;
};

void expectMessages(const std::vector<std::shared_ptr<PRMessageNode>>& got,
                    const std::vector<MessageExpectation>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(expected[i].content);
    EXPECT_EQ(got[i]->messageContent, expected[i].content);
    EXPECT_EQ(got[i]->messagePhone, expected[i].phone);
    EXPECT_EQ(got[i]->messageName, expected[i].name);
    EXPECT_EQ(got[i]->messageType, expected[i].type);
    EXPECT_EQ(static_cast<bool>(got[i]->bImessage), expected[i].chat);
    EXPECT_EQ(got[i]->messageDate, formatUnixTime(kDate + kSecondsFrom1970To2001));
  }
}

TEST_F(MessageScanTest, HandleLayoutIsReadWhateverTheVersionSays) {
  writeMessages(
      MessageSchema::kIOS6,
      {{.rowid = 1, .text = "out", .date = kDate, .address = "(415) 555-0100", .isFromMe = 1},
       {.rowid = 2, .text = "in", .date = kDate, .address = "+999", .isFromMe = 0},
       {.rowid = 3, .text = "odd", .date = kDate, .isFromMe = 7},
       {.rowid = 4, .text = "caf\xe9", .date = kDate, .address = "555-0100"}});
  ctx_.currentNodeIsiOS6Version = false;  // the backup's information names iOS 5
  scanMessages();
  expectMessages(messages_, {{"out", "(415) 555-0100", "Ann", "Send"},
                             {"in", "+999", "", "Received"},
                             {"odd", "", "", "unknown"},
                             {"caf\xef\xbf\xbd", "555-0100", "Ann", "Received"}});
  EXPECT_EQ(events_.back(), "progress 50");
}

const std::vector<MessageRow> kGroupRows = {
    {.rowid = 1, .text = "a", .date = kDate, .address = "4155550100", .flags = 2},
    {.rowid = 2, .text = "b", .date = kDate, .address = "123", .flags = 3},
    {.rowid = 3, .text = "c", .date = kDate, .address = "123", .flags = 22},
    {.rowid = 4, .text = "d", .date = kDate, .flags = 5},
    {.rowid = 5,
     .text = "e",
     .date = kDate,
     .address = "123",
     .flags = 0,
     .isMadrid = true,
     .madridHandle = "ann@chat.test",
     .madridFlags = 16387},
    {.rowid = 6,
     .text = "f",
     .date = kDate,
     .address = "4155550100",
     .flags = 2,
     .isMadrid = true,
     .madridFlags = 12289,
     .madridAttachmentInfo = std::string("p\0i\0c", 5)},
};

TEST_F(MessageScanTest, GroupLayoutsWithAndWithoutChatColumns) {
  // Without the chat columns the chat flags are not read: only the SMS flags count.
  const std::vector<MessageExpectation> smsOnly = {{"a", "4155550100", "Ann", "Received"},
                                                   {"b", "123", "", "Send"},
                                                   {"c", "123", "", "Received"},
                                                   {"d", "", "", "unknown"},
                                                   {"e", "123", "", "unknown"},
                                                   {"f", "4155550100", "Ann", "Received"}};
  std::vector<MessageExpectation> withChat = smsOnly;
  withChat[4] = {"e", "ann@chat.test", "", "Send", true};
  withChat[5] = {"pic", "4155550100", "Ann", "unknown", true};
  struct Case {
    MessageSchema schema;
    bool versionSaysIOS6;
    const std::vector<MessageExpectation>& expected;
  } cases[] = {
      {MessageSchema::kIOS5, false, withChat},
      {MessageSchema::kIOS4, false, smsOnly},
      // A version that names iOS 6 over a database without a handle table: the older
      // statement runs and its columns are read as such.
      {MessageSchema::kIOS4, true, smsOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.schema) * 10 + c.versionSaysIOS6);
    TempFolder run;
    ctx_.runDir = run.path();
    ctx_.databaseCopies.clear();
    messages_.clear();
    writeMessages(c.schema, kGroupRows);
    ctx_.currentNodeIsiOS6Version = c.versionSaysIOS6;
    scanMessages();
    expectMessages(messages_, c.expected);
  }
}

TEST_F(MessageScanTest, NamesComeFromThePreparedIndex) {
  auto other = std::make_shared<PRContactNode>();
  other->contactName = "From the index";
  other->contactPhone = " 4155550100";
  ctx_.nameIndex = std::make_shared<PhoneNameIndex>(std::vector{other});
  writeMessages(MessageSchema::kIOS6,
                {{.rowid = 1, .text = "x", .date = kDate, .address = "4155550100"}});
  scanMessages();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0]->messageName, "From the index");
}

TEST_F(MessageScanTest, MissingDamagedAndStopped) {
  scanMessages();
  EXPECT_TRUE(events_.empty());

  testing::writeWholeFile(stored(stored::kMessages), std::string(8192, '\x5a'));
  scanMessages();
  EXPECT_EQ(events_, std::vector<std::string>{"progress 50"});

  TempFolder run;
  ctx_.runDir = run.path();
  ctx_.databaseCopies.clear();
  writeMessages(MessageSchema::kIOS6, {{.rowid = 1, .text = "x", .date = kDate}});
  ctx_.stopRequested = true;
  scanMessages();
  EXPECT_TRUE(messages_.empty());
}

// A crafted view that runs for minutes before its first row: a stop ends the query itself.
TEST_F(MessageScanTest, StopEndsALongQuery) {
  ASSERT_TRUE(testing::writeSqliteFile(
      stored(stored::kMessages),
      "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);"
      "CREATE VIEW message AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
      "WHERE x < 2000000000) SELECT x AS ROWID, 't' AS text, 0 AS date, 0 AS handle_id, "
      "0 AS is_from_me FROM c WHERE x < 0;"));
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ctx_.stopRequested = true;
  });
  const auto start = std::chrono::steady_clock::now();
  scanMessages();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_TRUE(messages_.empty());
}

// ---------------------------------------------------------------- write-ahead logs

TEST_F(PeopleScanTest, RowsOnlyInTheLogsAreFoundAndTheBackupIsUntouched) {
  AddressBook book;
  book.people = {{.rowid = 1, .first = "Ann"}, {.rowid = 2, .first = "New"}};
  book.values = {{1, 3, "", "111"}, {2, 3, "", "222"}};
  book.peopleInLog = 1;
  writeBook(book);
  writeMessages(MessageSchema::kIOS6,
                {{.rowid = 1, .text = "old", .date = kDate, .address = "111"},
                 {.rowid = 2, .text = "latest", .date = kDate, .address = "222"}},
                1);
  std::vector<std::string> before;
  for (const fs::directory_entry& e : fs::directory_iterator(backup_)) {
    before.push_back(e.path().filename().string() + ":" + readWholeFile(e.path()));
  }
  std::sort(before.begin(), before.end());
  // The main files alone do not hold the latest rows.
  EXPECT_EQ(readWholeFile(stored(stored::kMessages)).find("latest"), std::string::npos);

  scanContacts();
  scanMessages();

  ASSERT_EQ(contacts_.size(), 2u);
  EXPECT_EQ(contacts_[1]->contactName, "New");
  EXPECT_EQ(contacts_[1]->contactPhone, " 222");
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1]->messageContent, "latest");
  EXPECT_EQ(messages_[1]->messageName, "New");

  std::vector<std::string> after;
  for (const fs::directory_entry& e : fs::directory_iterator(backup_)) {
    after.push_back(e.path().filename().string() + ":" + readWholeFile(e.path()));
  }
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, before);
}

// ---------------------------------------------------------------- real sample

TEST_F(PeopleScanTest, RealMessageDatabaseWithNanosecondDates) {
  TAMSEL_REQUIRE_TESTDATA("ios/ios14-backup");
  const fs::path real = testing::testDataPath("ios/ios14-backup");
  const fs::path sms = real / "3d" / std::string(stored::kMessages.name);
  if (!fs::exists(sms)) GTEST_SKIP() << "no message database in " << real;
  const std::string smsBefore = readWholeFile(sms);

  scanMessageThread(real.string(), ctx_);

  ASSERT_EQ(messages_.size(), 1u);
  const PRMessageNode& m = *messages_[0];
  EXPECT_EQ(m.messageContent.rfind("Please click here", 0), 0u) << m.messageContent;
  EXPECT_EQ(m.messagePhone, "apple");
  EXPECT_EQ(m.messageType, "Received");
  // Stored as nanoseconds since 2001.
  EXPECT_EQ(m.messageDate, formatUnixTime(588813210 + kSecondsFrom1970To2001));
  EXPECT_EQ(events_.back(), "progress 50");
  EXPECT_EQ(readWholeFile(sms), smsBefore);
}

}  // namespace
}  // namespace tamsel
