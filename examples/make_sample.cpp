// Writes the bundled sample backups: one realistic BlackBerry backup with a few dozen
// records of all seven databases, as a plain IPD file, a Mac-layout .bbb and a
// Windows-layout .bbb; and a sample iPhone backup folder.
//
//   make_sample OUTDIR   ->  OUTDIR/sample.ipd, OUTDIR/sample.bbb, OUTDIR/sample-windows.bbb,
//                            OUTDIR/sample-iphone/
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "examples/iphone_sample.h"
#include "examples/modern_sample.h"
#include "tests/fixtures/ipd_writer.h"
#include "tests/fixtures/png_writer.h"
#include "tests/fixtures/zip_writer.h"

namespace fx = tamsel::fixtures;
using tamsel::fixtures::makePng;
using tamsel::fixtures::Rgb;

namespace {

// 2013-04-02 09:15 UTC, and later times step from there.
constexpr int64_t kBaseMillis = 1364894100000;

struct Person {
  const char* first;
  const char* last;
  const char* company;
  const char* title;
  const char* mobile;
  const char* email;
  const char* city;
  const char* country;
};

const std::vector<Person> kPeople = {
    {"José", "Álvarez", "Ferretería Álvarez", "Owner", "+34 612 345 678", "jose@ferreteria.example",
     "Sevilla", "España"},
    {"Zoë", "Müller", "Bäckerei Müller", "Baker", "+49 151 2345 6789", "zoe@baeckerei.example",
     "München", "Deutschland"},
    {"Łukasz", "Wiśniewski", "", "", "+48 601 234 567", "lukasz@poczta.example", "Kraków",
     "Polska"},
    {"Søren", "Kierkegaard", "Københavns Bogcafé", "Manager", "+45 20 12 34 56",
     "soren@bogcafe.example", "København", "Danmark"},
    {"美咲", "田中", "田中商店", "店長", "+81 90 1234 5678", "misaki@tanaka.example", "東京",
     "日本"},
    {"Ann", "Lee", "Lee & Partners", "Lawyer", "+1 (415) 555-0142", "ann@leepartners.example",
     "San Francisco", "USA"},
    {"Bob", "O'Neill", "", "", "+1 617-555-0199", "bob.oneill@mail.example", "Boston", "USA"},
    {"Chloé", "Dubois", "Café de Flore", "Sommelière", "+33 6 12 34 56 78", "chloe@cafe.example",
     "Paris", "France"},
};

fx::IpdField text(uint8_t type, const std::string& s) {
  return fx::textField(type, s);
}

std::vector<uint8_t> portrait(int seed) {
  return makePng(24, 24, [seed](int x, int y) {
    return Rgb{static_cast<uint8_t>(40 * seed + 8 * x), static_cast<uint8_t>(200 - 6 * y),
               static_cast<uint8_t>(90 + 5 * (x ^ y))};
  });
}

void addContacts(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Address Book - All");
  int n = 0;
  for (const Person& p : kPeople) {
    std::vector<fx::IpdField> f = {text(32, p.first), text(32, p.last)};
    if (*p.company) f.push_back(text(33, p.company));
    if (*p.title) f.push_back(text(55, p.title));
    f.push_back(text(1, p.email));
    f.push_back(text(8, p.mobile));
    if (n % 2 == 0) f.push_back(text(6, "+1 800 555 01" + std::to_string(10 + n)));
    if (n % 3 == 0) f.push_back(text(7, "+1 212 555 02" + std::to_string(10 + n)));
    f.push_back(text(10, "2A" + std::to_string(3000 + 17 * n) + "F"));
    f.push_back(text(35, std::to_string(10 + n) + " Main Street"));
    f.push_back(text(38, p.city));
    f.push_back(text(41, p.country));
    f.push_back(text(40, std::to_string(10000 + 731 * n)));
    f.push_back(text(54, "http://www.example.com/~" + std::to_string(n)));
    f.push_back(text(82, "0" + std::to_string(1 + n % 9) + "/1" + std::to_string(n % 9) + "/1980"));
    if (n % 2 == 1) f.push_back(text(64, "Met at the conference; call back, please."));
    if (n < 3) f.push_back(fx::bytesField(77, portrait(n)));
    w.addRecord(db, f, 0x10000 + static_cast<uint32_t>(n));
    ++n;
  }
}

void addCallLogs(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Phone Call Logs");
  for (int i = 0; i < 10; ++i) {
    const Person& p = kPeople[static_cast<size_t>(i) % kPeople.size()];
    std::vector<fx::IpdField> f = {
        fx::byteField(2, static_cast<uint8_t>(i % 4 == 2 ? 3 : i % 2)),
        fx::leField(3, static_cast<uint64_t>(i % 4 == 2 ? 0 : 20 + 97 * i), 4),
        fx::leField(4, static_cast<uint64_t>(kBaseMillis + 3600000LL * 7 * i), 8),
        text(12, p.mobile),
        text(31, std::string(p.first) + " " + p.last),
    };
    w.addRecord(db, f, 0x20000 + static_cast<uint32_t>(i));
  }
}

void addSms(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("SMS Messages");
  const char* bodies[] = {
      "Running 10 minutes late, sorry!",    "¿Quedamos mañana a las 9?",
      "Grüße aus München 🥨",          "Can you send me the contract draft?",
      "Thanks for dinner — it was lovely.", "Dziękuję! Do zobaczenia w piątek.",
      "The parcel arrived, all good.",      "Ring me when you land.",
  };
  int i = 0;
  for (const char* body : bodies) {
    const Person& p = kPeople[static_cast<size_t>(i) % kPeople.size()];
    uint8_t dir = (i % 3 == 0) ? fx::kSmsOutgoing : fx::kSmsIncoming;
    w.addRecord(db,
                {fx::smsMetaField(dir, kBaseMillis + 86400000LL * i + 60000LL * 17 * i),
                 fx::smsNumberField(p.mobile), fx::textField(4, body, false)},
                0x30000 + static_cast<uint32_t>(i));
    ++i;
  }
  // Bodies the phone stored as UCS-2 (big-endian, no byte-order mark).
  w.addRecord(db,
              {fx::smsMetaField(fx::kSmsIncoming, kBaseMillis + 86400000LL * 9, 2),
               fx::smsNumberField(kPeople[4].mobile),
               fx::utf16Field(4, u"明日の会議は10時からです。", true, false)},
              0x30100);
  w.addRecord(db,
              {fx::smsMetaField(fx::kSmsIncoming, kBaseMillis + 86400000LL * 10, 2),
               fx::smsNumberField(kPeople[3].mobile),
               fx::utf16Field(4, u"Vi ses på søndag ☺", true, false)},
              0x30101);
}

void addMms(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("MMS Messages");
  std::vector<uint8_t> picture = makePng(64, 48, [](int x, int y) {
    bool sky = y < 30;
    return sky ? Rgb{static_cast<uint8_t>(90 + y), static_cast<uint8_t>(150 + y), 235}
               : Rgb{static_cast<uint8_t>(40 + x), 140, static_cast<uint8_t>(50 + (x % 8) * 4)};
  });
  w.addRecord(
      db,
      {text(111, kPeople[1].mobile), text(103, "beach-holiday.png"), fx::bytesField(104, picture)},
      0x40000);
  std::string note =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nSUMMARY:Dinner at eight\r\nEND:VCALENDAR\r\n";
  w.addRecord(db,
              {text(111, kPeople[5].mobile), text(114, "Ann Lee"), text(103, "dinner.txt"),
               fx::bytesField(104, {note.begin(), note.end()})},
              0x40001);
  w.addRecord(db, {text(111, kPeople[0].mobile), text(103, "voice-note.amr")}, 0x40002);
}

void addMemos(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Memos");
  const std::pair<const char*, const char*> memos[] = {
      {"Shopping", "Milk, eggs, bread, 2 kg apples, café molido"},
      {"Wi-Fi at the cabin", "Network: Hytte-5G  Password: fjord-2013"},
      {"Ideas", "1. Repaint the fence\n2. Ask Søren about the boat\n3. Book flights"},
      {"Gift list", "Zoë – book; Ann – scarf; Bob – tickets"},
      {"Parking", "Level 3, bay C-42"},
  };
  uint32_t uid = 0x50000;
  for (const auto& [title, body] : memos) w.addRecord(db, {text(1, title), text(2, body)}, uid++);
}

// An appointment time: minutes since 1900-01-01 00:00 UTC, 4 bytes little-endian.
fx::IpdField appointmentTime(uint8_t type, int64_t unixSeconds) {
  const auto m = static_cast<uint32_t>(unixSeconds / 60 + int64_t{25567} * 24 * 60);
  return fx::bytesField(type, {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8),
                               static_cast<uint8_t>(m >> 16), static_cast<uint8_t>(m >> 24)});
}

void addCalendar(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Calendar - All");
  struct Event {
    const char* subject;
    const char* info;
    const char* location;
    int startHours;  // after the base time
    int lengthMinutes;
  };
  const Event events[] = {
      {"Dentist", "Dr. Navarro, bring the insurance card", "Clínica Dental Sur", 24, 45},
      {"Quarterly review", "Room 4.12 — slides due Monday", "Room 4.12", 72, 90},
      {"Zoë's birthday", "Dinner at Bäckerei Müller, 19:00", "Bäckerei Müller", 130, 180},
      {"Flight to Kraków", "LO 282, gate opens 06:10", "", 200, 120},
      {"Yoga", "Every Thursday", "", 0, 0},
  };
  uint32_t uid = 0x60000;
  for (const Event& e : events) {
    std::vector<fx::IpdField> f = {text(2, e.subject), text(3, e.info)};
    if (*e.location) f.push_back(text(4, e.location));
    if (e.lengthMinutes > 0) {
      const int64_t start = kBaseMillis / 1000 + int64_t{e.startHours} * 3600;
      // A reminder a quarter of an hour before, then the start and the end.
      f.push_back(appointmentTime(5, start - 15 * 60));
      f.push_back(appointmentTime(6, start));
      f.push_back(appointmentTime(7, start + int64_t{e.lengthMinutes} * 60));
    }
    w.addRecord(db, f, uid++);
  }
}

void addContentStore(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Content Store");
  std::vector<uint8_t> photo = makePng(80, 60, [](int x, int y) {
    return Rgb{static_cast<uint8_t>(3 * x), static_cast<uint8_t>(4 * y),
               static_cast<uint8_t>(255 - 2 * x)};
  });
  // A picture stored in two pieces, as the phone splits large files.
  size_t half = photo.size() / 2;
  w.addRecord(db,
              {text(1, "/store/home/user/pictures/IMG00042-20130402-0915.png"),
               fx::bytesField(7, {photo.begin(), photo.begin() + static_cast<long>(half)}),
               fx::bytesField(7, {photo.begin() + static_cast<long>(half), photo.end()})},
              0x70000);
  std::string doc = "Packing list\n- passport\n- charger\n- sunscreen\n";
  w.addRecord(db,
              {text(1, "/store/home/user/documents/packing-list.txt"),
               fx::bytesField(7, {doc.begin(), doc.end()})},
              0x70001);
  w.addRecord(db, {text(1, "/store/home/user/music/")}, 0x70002);  // a folder: no content
}

// A database the reader does not decode, as real backups have dozens of them.
void addOther(fx::IpdWriter& w) {
  uint16_t db = w.addDatabase("Options");
  w.addRecord(db, {text(1, "Owner"), text(2, "Sample Owner")}, 0x80000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTDIR\n");
    return 2;
  }
  std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out);

  using Adder = void (*)(fx::IpdWriter&);
  const Adder adders[] = {addContacts, addCallLogs, addSms,          addMms,
                          addMemos,    addCalendar, addContentStore, addOther};
  fx::IpdWriter all;
  for (Adder add : adders) add(all);
  all.writeFile(out / "sample.ipd");
  fx::writeMacBbb(out / "sample.bbb", all.bytes());

  std::vector<std::vector<uint8_t>> files;
  for (Adder add : adders) {
    fx::IpdWriter one;
    add(one);
    files.push_back(one.bytes());
  }
  fx::writeWindowsBbb(out / "sample-windows.bbb", files);
  std::printf("wrote %s/{sample.ipd,sample.bbb,sample-windows.bbb} (%zu records)\n", out.c_str(),
              all.recordCount());

  const std::filesystem::path iphone = out / "sample-iphone";
  std::filesystem::remove_all(iphone);
  tamsel::examples::writeIphoneSample(iphone);
  std::printf("wrote %s/\n", iphone.c_str());

  const std::filesystem::path modern = out / "sample-iphone-modern";
  const std::filesystem::path scratch = out / ".sample-iphone-modern.clear";
  std::filesystem::remove_all(modern);
  std::filesystem::remove_all(scratch);
  tamsel::examples::writeModernSample(modern, scratch);
  std::filesystem::remove_all(scratch);
  std::printf("wrote %s/ (encrypted; password in %s.password)\n", modern.c_str(), modern.c_str());
  return 0;
}
