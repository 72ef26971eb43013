#include "bench/iphone_bench_backup.h"

#include <stdexcept>
#include <string>

#include "ios/backup_files.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_people_db_writer.h"

namespace tamsel::bench {
namespace {

using testing::IosBackupWriter;

std::string number(size_t i, bool formatted) {
  const std::string digits = std::to_string(1000000 + i % 9000000);
  const std::string area = std::to_string(200 + i % 700);
  // The address book keeps numbers as the user typed them; the message database as the
  // network delivered them.
  return formatted ? "+1 (" + area + ") " + digits.substr(0, 3) + "-" + digits.substr(3)
                   : "+1" + area + digits;
}

std::string split(std::string_view domainPath, bool wantDomain) {
  const size_t dash = domainPath.find('-');
  return std::string(wantDomain ? domainPath.substr(0, dash) : domainPath.substr(dash + 1));
}

}  // namespace

void writeBenchIphoneBackup(const std::filesystem::path& folder, const IphoneBenchSize& size) {
  IosBackupWriter backup(
      folder,
      size.modernLayout ? IosBackupWriter::Layout::subfolders : IosBackupWriter::Layout::flat,
      size.modernLayout ? IosBackupWriter::Index::manifestDb : IosBackupWriter::Index::mbdb);
  backup.writeInfoPlist({{"Device Name", "Benchmark iPhone"},
                         {"Serial Number", "C39BENCH0001"},
                         {"Product Type", "iPhone5,2"},
                         {"Product Version", size.modernLayout ? "16.4.1" : "6.1.3"},
                         {"iTunes Version", "12.12.4"}});

  testing::AddressBook book;
  book.people.reserve(size.contacts);
  for (size_t i = 0; i < size.contacts; ++i) {
    testing::PersonRow p;
    p.rowid = static_cast<int64_t>(i + 1);
    p.first = "First" + std::to_string(i);
    p.last = "Last" + std::to_string(i);
    p.organization = "Company " + std::to_string(i % 97);
    book.people.push_back(p);
    book.values.push_back({p.rowid, 3, "_$!<Mobile>!$_", number(2 * i, true)});
    book.values.push_back({p.rowid, 3, "_$!<Home>!$_", number(2 * i + 1, true)});
    book.values.push_back(
        {p.rowid, 4, "_$!<Home>!$_", "person" + std::to_string(i) + "@mail.example"});
  }
  std::string error;
  const StoredDatabase& ab = stored::kAddressBook;
  if (!testing::writeAddressBook(
          backup.pathFor(split(ab.domainPath, true), split(ab.domainPath, false)), book, &error)) {
    throw std::runtime_error("address book: " + error);
  }

  std::vector<testing::MessageRow> messages;
  messages.reserve(size.messages);
  for (size_t i = 0; i < size.messages; ++i) {
    testing::MessageRow m;
    m.rowid = static_cast<int64_t>(i + 1);
    m.text = "Message " + std::to_string(i) + ": see you at " + std::to_string(i % 24) + ":00?";
    m.date = 400000000 + static_cast<int64_t>(i) * 37;  // seconds since 2001
    // Nine in ten from a contact's number, the rest from numbers no contact has.
    const size_t who = (i * 7919) % (size.contacts * 2 + 1);
    m.address = i % 10 == 9 || size.contacts == 0 ? "+44" + std::to_string(7000000000ull + i)
                                                  : number(who, false);
    m.isFromMe = static_cast<int>(i % 2);
    messages.push_back(std::move(m));
  }
  const StoredDatabase& sms = stored::kMessages;
  if (!testing::writeMessageDatabase(
          backup.pathFor(split(sms.domainPath, true), split(sms.domainPath, false)),
          testing::MessageSchema::kIOS6, messages, 0, &error)) {
    throw std::runtime_error("messages: " + error);
  }
  // A few camera-roll entries, so that the index step has media to list.
  for (int i = 1; i <= 20; ++i) {
    backup.addFile("CameraRollDomain",
                   "Media/DCIM/100APPLE/IMG_" + std::to_string(1000 + i) + ".JPG",
                   std::string(4096, static_cast<char>(i)));
  }
  backup.finish();
}

}  // namespace tamsel::bench
