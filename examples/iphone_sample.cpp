// The bundled sample iPhone backup: a phone of system 6 as the desktop synchronisation
// software backed it up (Info.plist, Manifest.plist, Manifest.mbdb and every file flat under
// its hashed name), with a few records of every kind: contacts with portraits, messages
// (SMS and chat), calls, notes, bookmarks and browser history, calendar events, camera-roll
// pictures and a video, a voice memo and two social-network app files. Each database also
// holds rows the phone deleted (SQLite's secure_delete off, never vacuumed), and the message
// database keeps its latest rows only in its write-ahead log, stored under a hashed name of its
// own ("HomeDomain-Library/SMS/sms.db-wal"), one of them deleted there too.
#include "examples/iphone_sample.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/ios_records_db_writer.h"
#include "tests/fixtures/png_writer.h"

namespace tamsel::examples {
namespace {

namespace fx = tamsel::fixtures;
namespace tt = tamsel::testing;
using tt::IosBackupWriter;

void check(bool ok, const std::string& what, const std::string& error) {
  if (!ok) throw std::runtime_error(what + ": " + error);
}

// Runs `sql` on the database at `path` as the phone would: deleted cells keep their bytes.
// With `inLog` the changes stay in "<path>-wal" (no checkpoint, not even when closing).
void change(const std::filesystem::path& path, const std::string& sql, bool inLog = false) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  std::string mode = inLog ? "PRAGMA journal_mode=WAL;" : "";
  ok = ok && sqlite3_exec(db, ("PRAGMA secure_delete=0;" + mode).c_str(), nullptr, nullptr,
                          nullptr) == SQLITE_OK;
  if (ok && inLog) {
    ok = sqlite3_wal_autocheckpoint(db, 0) == SQLITE_OK &&
         sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr) == SQLITE_OK;
  }
  char* message = nullptr;
  ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
  const std::string error = message ? message : (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_free(message);
  sqlite3_close(db);
  std::error_code ec;
  std::filesystem::remove(path.string() + "-shm", ec);
  check(ok, "changing " + path.string(), error);
}

std::string picture(int w, int h, int seed) {
  std::vector<uint8_t> png = fx::makePng(w, h, [seed](int x, int y) {
    return fx::Rgb{static_cast<uint8_t>(30 * seed + x), static_cast<uint8_t>(120 + y / 2),
                   static_cast<uint8_t>(200 - 20 * seed + ((x * y) & 31))};
  });
  return std::string(png.begin(), png.end());
}

struct SamplePerson {
  const char* first;
  const char* middle;
  const char* last;
  const char* organization;
  const char* jobTitle;
  const char* mobile;
  const char* email;
  const char* address;
};

const std::vector<SamplePerson> kPeople = {
    {"Anna", nullptr, "Lindqvist", "Lindqvist Design", "Designer", "+46 70 123 45 67",
     "anna@lindqvist.example", "Storgatan 1 Stockholm"},
    {"Bob", "J", "Okafor", nullptr, nullptr, "+1 (415) 555-0142", "bob@mail.example", nullptr},
    {"Chloé", nullptr, "Dubois", "Café de Flore", "Sommelière", "+33 6 12 34 56 78",
     "chloe@cafe.example", "172 Boulevard Saint-Germain Paris"},
    {"美咲", nullptr, "田中", "田中商店", nullptr, "+81 90 1234 5678", "misaki@tanaka.example",
     nullptr},
    {"Łukasz", nullptr, "Wiśniewski", nullptr, nullptr, "+48 601 234 567", nullptr, nullptr},
    {nullptr, nullptr, nullptr, "City Dental Clinic", nullptr, "+1 212-555-0199", nullptr,
     "5th Avenue 100 New York"},
};

std::optional<std::string> opt(const char* s) {
  return s ? std::optional<std::string>(s) : std::nullopt;
}

// "+46 70 123 45 67" as the network delivers it: "+46701234567".
std::string delivered(const char* number) {
  std::string out;
  for (const char* p = number; *p; ++p) {
    if (*p != ' ' && *p != '-' && *p != '(' && *p != ')') out.push_back(*p);
  }
  return out;
}

void writePeople(IosBackupWriter& w) {
  tt::AddressBook book;
  std::vector<tt::PictureRow> pictures;
  for (size_t i = 0; i < kPeople.size(); ++i) {
    const SamplePerson& p = kPeople[i];
    const int64_t id = static_cast<int64_t>(i + 1);
    tt::PersonRow row;
    row.rowid = id;
    row.first = opt(p.first);
    row.middle = opt(p.middle);
    row.last = opt(p.last);
    row.organization = opt(p.organization);
    row.jobTitle = opt(p.jobTitle);
    if (i == 0) row.note = "Met at the design fair";
    if (i == 1) row.birthday = "1984-07-12";
    book.people.push_back(row);
    book.values.push_back({id, 3, "_$!<Mobile>!$_", p.mobile});
    if (i == 0) book.values.push_back({id, 3, "_$!<Work>!$_", "+46 8 555 012 34"});
    if (p.email) book.values.push_back({id, 4, "_$!<Home>!$_", p.email});
    if (p.address) book.values.push_back({id, 5, "_$!<Work>!$_", p.address});
    if (i == 0) book.values.push_back({id, 22, "_$!<HomePage>!$_", "https://lindqvist.example"});
    if (i < 3) {
      std::string png = picture(48, 48, static_cast<int>(i));
      pictures.push_back({id, std::vector<uint8_t>(png.begin(), png.end())});
    }
  }
  // Two people the phone's owner deleted.
  book.people.push_back({.rowid = 7, .first = "Erik", .last = "Sandberg"});
  book.values.push_back({7, 3, "_$!<Mobile>!$_", "+46 73 555 01 99"});
  book.people.push_back({.rowid = 8, .first = "Greta", .last = "Holm", .organization = "Holm AB"});
  book.values.push_back({8, 3, "_$!<Work>!$_", "+46 8 555 019 77"});
  std::string error;
  const std::filesystem::path addressBook =
      w.pathFor("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
  check(tt::writeAddressBook(addressBook, book, &error), "address book", error);
  change(addressBook,
         "DELETE FROM ABMultiValue WHERE record_id IN (7, 8);"
         "DELETE FROM ABPerson WHERE ROWID IN (7, 8);");
  check(tt::writePictureDatabase(
            w.pathFor("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb"), pictures,
            false, &error),
        "contact pictures", error);

  // 2013-02-14 onwards, in seconds since 2001.
  const int64_t t0 = 382500000;
  struct Msg {
    const char* text;
    size_t person;  // kPeople index, or npos: a number no contact has
    int fromMe;
  };
  const size_t stranger = static_cast<size_t>(-1);
  const std::vector<Msg> msgs = {
      {"Are we still on for lunch tomorrow?", 0, 0},
      {"Yes! 12:30 at the usual place", 0, 1},
      {"Running 10 minutes late, sorry", 1, 0},
      {"No problem, I'll order coffee", 1, 1},
      {"Merci pour la recommandation du vin 🍷", 2, 0},
      {"明日の会議は10時からです", 3, 0},
      {"了解しました", 3, 1},
      {"Dzięki za pomoc!", 4, 0},
      {"Reminder: your appointment is on Friday at 9:00", 5, 0},
      {"Your parcel is ready for pickup. Code 4471", stranger, 0},
      {"Happy birthday Bob 🎉", 1, 1},
      {"Photos from the trip are uploaded", 0, 0},
      // Deleted by the phone's owner.
      {"The spare key is under the blue flowerpot", 0, 1},
      {"Can you lend me 200 until Friday?", stranger, 0},
      {"Don't tell Bob about the party", 2, 1},
  };
  std::vector<tt::MessageRow> rows;
  for (size_t i = 0; i < msgs.size(); ++i) {
    tt::MessageRow m;
    m.rowid = static_cast<int64_t>(i + 1);
    m.text = msgs[i].text;
    m.date = t0 + static_cast<int64_t>(i) * 5400;
    m.address = msgs[i].person == stranger ? std::string("+447700900123")
                                           : delivered(kPeople[msgs[i].person].mobile);
    m.isFromMe = msgs[i].fromMe;
    rows.push_back(std::move(m));
  }
  const std::filesystem::path sms = w.pathFor("HomeDomain", "Library/SMS/sms.db");
  check(tt::writeMessageDatabase(sms, tt::MessageSchema::kIOS6, rows, 0, &error), "messages",
        error);
  change(sms, "DELETE FROM message WHERE ROWID IN (13, 14, 15);");
  // The latest messages, not yet checkpointed: two kept, one deleted again at once.
  const int64_t t1 = t0 + 20 * 5400;
  change(sms,
         "INSERT INTO handle (ROWID, id, service) VALUES (16, '+46709876543', 'SMS');"
         "INSERT INTO message (ROWID, guid, text, handle_id, date, is_from_me, service) VALUES "
         "(16, 'guid-16', 'Is the boat still for sale?', 16, " +
             std::to_string(t1) +
             ", 0, 'SMS'),"
             "(17, 'guid-17', 'Yes, come and see it on Sunday', 16, " +
             std::to_string(t1 + 600) +
             ", 1, 'SMS'),"
             "(18, 'guid-18', 'Delete this: the safe code is 7391', 1, " +
             std::to_string(t1 + 1200) + ", 0, 'SMS');",
         true);
  change(sms, "DELETE FROM message WHERE ROWID = 18;", true);
  // The log goes under its own hashed name, as the backup stores it.
  std::filesystem::rename(sms.string() + "-wal", w.pathFor("HomeDomain", "Library/SMS/sms.db-wal"));
}

void writeRecords(IosBackupWriter& w) {
  // Calls: seconds since 1970 (2013-02-14 onwards).
  const int64_t c0 = 1360836000;
  const std::filesystem::path calls =
      w.pathFor("WirelessDomain", "Library/CallHistory/call_history.db");
  fx::writeCallHistoryDb(calls,
                         {{delivered(kPeople[0].mobile), c0, 125, fx::kCallOutgoing},
                          {delivered(kPeople[1].mobile), c0 + 3600, 0, fx::kCallIncoming},
                          {delivered(kPeople[2].mobile), c0 + 86400, 1830, fx::kCallIncoming},
                          {delivered(kPeople[5].mobile), c0 + 90000, 0, fx::kCallOutgoing},
                          {"+447700900123", c0 + 172800, 47, fx::kCallIncoming},
                          {delivered(kPeople[3].mobile), c0 + 200000, 3725, fx::kCallOutgoing},
                          {"+46735550199", c0 + 250000, 312, fx::kCallIncoming},
                          {"+4685550197", c0 + 260000, 0, fx::kCallOutgoing}});
  change(calls, "DELETE FROM call WHERE ROWID IN (7, 8);");

  const int64_t n0 = 382600000;  // seconds since 2001
  const std::filesystem::path notes = w.pathFor("HomeDomain", "Library/Notes/notes.sqlite");
  fx::writeNotesDb(notes, fx::NotesLayout::kCoreData,
                   {{"Shopping", "Milk\nBread\nCoffee beans\nTomatoes", n0 + 100, n0, "Milk"},
                    {"Gift ideas", "Bob: a good book\nAnna: ceramics class", n0 + 5000, n0 + 4000,
                     "Bob: a good book"},
                    {"Wi-Fi at the cabin", "Network: Cabin-5G\nPassword on the fridge", n0 + 9000,
                     n0 + 8000, "Network"},
                    {"Letter draft", "Dear landlord,\nthe heating has been off since Monday",
                     n0 + 12000, n0 + 11000, "Dear landlord,"}});
  change(notes, "DELETE FROM ZNOTEBODY WHERE Z_PK = 4; DELETE FROM ZNOTE WHERE Z_PK = 4;");

  std::vector<fx::BookmarkRow> marks = fx::standardBookmarkFolders();
  marks.push_back({"Weather", "https://weather.example.org/stockholm", 1});
  marks.push_back({"Recipes", "https://recipes.example.com/", 1});
  marks.push_back({"Train times", "https://trains.example.net/timetable", 1});
  marks.push_back({"Flat listings", "https://flats.example.com/stockholm?rooms=2", 1});
  const std::filesystem::path bookmarks = w.pathFor("HomeDomain", "Library/Safari/Bookmarks.db");
  fx::writeBookmarksDb(bookmarks, marks);
  change(bookmarks, "DELETE FROM bookmarks WHERE title = 'Flat listings';");
  fx::writeHistoryPlist(w.pathFor("HomeDomain", "Library/Safari/History.plist"),
                        {{"https://news.example.org/today", "Today's news"},
                         {"https://maps.example.com/?q=cafe", "Cafés nearby"}},
                        fx::PlistFormat::kBinary);

  const double k0 = 382700000;
  const std::filesystem::path calendar =
      w.pathFor("HomeDomain", "Library/Calendar/Calendar.sqlitedb");
  fx::writeCalendarDb(
      calendar, fx::CalendarLayout::kIos6, {{"Home", fx::kCalendarEvents}},
      {{"Dentist", "City Dental Clinic", "Check-up", k0, k0 + 3600},
       {"Lunch with Anna", "Café de Flore", std::nullopt, k0 + 86400, k0 + 90000},
       {"Flight to Tokyo", "Terminal 5", "Booking ABC123", k0 + 604800, k0 + 651600},
       {"Bob's birthday", std::nullopt, "Bring the book", k0 + 900000, k0 + 986400, {}, 1},
       {"Job interview", "Kungsgatan 12", "Ask about the notice period", k0 + 1200000,
        k0 + 1203600}});
  change(calendar, "DELETE FROM CalendarItem WHERE summary = 'Job interview';");
}

void writeFiles(IosBackupWriter& w) {
  // Camera roll: two screenshots and a larger picture, a short video; a voice memo.
  w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.PNG", picture(64, 96, 1));
  w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.PNG", picture(96, 64, 2));
  w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0003.PNG", picture(160, 120, 3));
  std::string movie(
      "\0\0\0\x14"
      "ftypqt  \0\0\0\0qt  ",
      20);
  movie.resize(60000, '\x11');
  w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0004.MOV", movie);
  std::string memo(
      "\0\0\0\x18"
      "ftypM4A \0\0\0\0M4A mp42",
      24);
  memo.resize(8000, '\x22');
  w.addFile("MediaDomain", "Media/Recordings/20130214 101500.m4a", memo);
  // Files of the photo library that are neither pictures nor sounds: not listed.
  w.addFile("CameraRollDomain", "Media/PhotoData/Photos.sqlite", std::string(4096, '\0'));
  // Social-network apps: a cached profile picture (listed as a picture too) and settings.
  w.addFile("AppDomain-com.facebook.Facebook", "Library/Caches/profile.png", picture(40, 40, 4));
  w.addFile("AppDomain-com.atebits.Tweetie2", "Library/Preferences/com.atebits.Tweetie2.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>lastUser</key><string>anna_l</string></dict></plist>\n");
}

}  // namespace

void writeIphoneSample(const std::filesystem::path& folder) {
  IosBackupWriter w(folder, IosBackupWriter::Layout::flat, IosBackupWriter::Index::mbdb);
  w.writeInfoPlist({{"Device Name", "Anna's iPhone"},
                    {"Serial Number", "C39SAMPLE0001"},
                    {"Product Type", "iPhone5,2"},
                    {"Product Version", "6.1.3"},
                    {"iTunes Version", "11.0.2"}});
  w.writeManifestPlist({{"DeviceName", "Anna's iPhone"},
                        {"SerialNumber", "C39SAMPLE0001"},
                        {"ProductType", "iPhone5,2"},
                        {"ProductVersion", "6.1.3"},
                        {"BuildVersion", "10B329"}});
  writePeople(w);
  writeRecords(w);
  writeFiles(w);
  w.finish();
}

}  // namespace tamsel::examples
