// Recovery runs after a phone-backup scan: every record class into its folder, contacts as
// vCards with their pictures, stored files copied byte for byte, and phone records joining
// BlackBerry ones in the same text files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "results/recovery_writer.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/tiny_png.h"
#include "util/base64.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

template <class T>
std::shared_ptr<T> ticked(bool deleted = false, bool tick = true) {
  auto r = std::make_shared<T>();
  r->bSelected = tick;
  if constexpr (requires { r->bDeleted; }) r->bDeleted = deleted;
  return r;
}

// Bytes that differ from one position to the next, so a cut or shifted copy shows.
std::string patterned(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + (i >> 11));
  return s;
}

TEST(PhoneRecovery, EveryClassGoesToItsFolderAndFilesAreExactCopies) {
  TempFolder t;
  const fs::path backup = t.path() / "backup";
  const fs::path root = t.path() / "out";
  fs::create_directories(backup);
  // The size texts round: the copies must have the files' own lengths (49,999 bytes and
  // 8 MiB + 4321, both past what the size texts "50.00K" and "8.39M" would give or cut).
  const std::string small = patterned(49999), large = patterned((size_t{8} << 20) + 4321);
  writeWholeFile(backup / "3d0d7e5f", small);
  writeWholeFile(backup / "9a8b7c6d", large);
  writeWholeFile(backup / "0f1e2d3c", "app data");

  ResultLists l;
  auto ann = ticked<PRContactNode>();
  ann->contactName = "Ann Lee";
  ann->contactPhone = "555  556";
  ann->contactEmail = "a@b.c d@e.f";
  ann->contactCompany = "ACME";
  ann->contactJobtitle = "Boss";
  ann->imageData = ByteRef::fromBytes(testing::tinyPng());
  auto firm = ticked<PRContactNode>(true);
  // As the address book appends it, after a blank; numbers with blanks in them.
  firm->contactCompany = " Firm; Ltd";
  firm->contactPhone = " +46 70 123 45 67 +46 8 555";
  firm->phoneNumbers = {"+46 70 123 45 67", "+46 8 555"};
  l.contactArray = {ann, firm, ticked<PRContactNode>(), ticked<PRContactNode>(false, false)};
  auto chat = ticked<PRMessageNode>(true);
  chat->bImessage = true;
  chat->messageDate = "05-12-2014 10:20";
  chat->messageContent = "gone";
  l.messageArray = {chat};
  auto call = ticked<PRCallHistoryNode>(true);
  call->callPhone = "556";
  call->callDuration = "Missed";
  l.callHistoryArray = {call};
  l.noteArray = {ticked<PRNoteNode>()};
  l.noteArray[0]->noteDate = "d";
  l.calenderArray = {ticked<PRCalenderNode>()};
  l.calenderArray[0]->location = "Town";
  auto live = ticked<PRBookMarkNode>();
  live->bookMarkTitle = "Home";
  live->bookMarkURL = "http://h/";
  auto gone = ticked<PRBookMarkNode>(true);
  gone->bookMarkURL = "http://old/";
  l.bookMarkArray = {live, gone};
  auto photo = ticked<PRPhotoAndVideoNode>();
  photo->fileNodeName = "IMG_0001.JPG";
  photo->fileNodeSize = "50.00K";
  photo->filePath = (backup / "3d0d7e5f").string();
  auto video = ticked<PRPhotoAndVideoNode>();
  video->fileNodeName = "VID_0002.MOV";
  video->fileNodeSize = "8.39M";
  video->filePath = (backup / "9a8b7c6d").string();
  l.photoAndVideoArray = {photo, video};
  auto app = ticked<PRFaceTwitterNode>();
  app->faceTwitterFileName = "cache.db";
  app->faceTwitterFilePath = (backup / "0f1e2d3c").string();
  l.faceTwitterArray = {app};

  RecoveryWriter w(l, false, root);
  EXPECT_EQ(w.selectedFilesNum(), 12);
  RecoveryReport r = w.run();

  // No BlackBerry-only folders in a run over phone records alone.
  std::set<std::string> tree = listTree(root);
  EXPECT_EQ(tree.erase("report.html") + tree.erase("manifest.csv"), 2u);  // the receipt
  EXPECT_EQ(
      tree,
      (std::set<std::string>{
          "Contact", "Contact/Contacts.txt", "Contact/Ann Lee.vcf", "Contact/Firm; Ltd.vcf",
          "Message", "Message/Messages.txt", "Note", "Note/Notes.txt", "Calendar&Reminder",
          "Calendar&Reminder/Calendar&Reminder.txt", "CallHistory", "CallHistory/CallHistory.txt",
          "BookMark", "BookMark/BookMark.txt", "Photo&Video", "Photo&Video/IMG_0001.JPG",
          "Photo&Video/VID_0002.MOV", "FaceBook&Twitter", "FaceBook&Twitter/cache.db"}));
  EXPECT_TRUE(readWholeFile(root / "Photo&Video/IMG_0001.JPG") == small);
  EXPECT_TRUE(readWholeFile(root / "Photo&Video/VID_0002.MOV") == large);
  EXPECT_EQ(readWholeFile(root / "FaceBook&Twitter/cache.db"), "app data");

  EXPECT_EQ(readWholeFile(root / "Contact/Contacts.txt"),
            "Name:Ann Lee  Phone:555  556  Email:a@b.c d@e.f  HomePage:  Company:ACME  "
            "Job Title:Boss  Birthday:  Address:  Note:  Picture:Yes  Deleted:No  \n\n"
            "Name:  Phone: +46 70 123 45 67 +46 8 555  Email:  HomePage:  Company: Firm; Ltd  "
            "Job Title:  Birthday:  "
            "Address:  Note:  Picture:No  Deleted:Yes  \n\n"
            "Name:  Phone:  Email:  HomePage:  Company:  Job Title:  Birthday:  Address:  "
            "Note:  Picture:No  Deleted:No  \n\n");
  EXPECT_EQ(readWholeFile(root / "Contact/Ann Lee.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ann Lee\r\nFN:Ann Lee\r\nORG:ACME\r\nTITLE:Boss\r\n"
            "TEL:555\r\nTEL:556\r\nEMAIL;TYPE=INTERNET:a@b.c\r\nEMAIL;TYPE=INTERNET:d@e.f\r\n"
            "PHOTO;ENCODING=b;TYPE=PNG:" +
                base64Encode(testing::tinyPng()) + "\r\nEND:VCARD");
  EXPECT_EQ(readWholeFile(root / "Contact/Firm; Ltd.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:\r\nFN:Firm\\; Ltd\r\nORG:Firm\\; Ltd\r\n"
            "TEL:+46 70 123 45 67\r\nTEL:+46 8 555\r\nEND:VCARD");
  EXPECT_EQ(readWholeFile(root / "Message/Messages.txt"),
            "Name:  Phone:  Date:05-12-2014 10:20  Type:  iMessage:Yes  Content:gone  "
            "Deleted:Yes  \n\n");
  EXPECT_EQ(readWholeFile(root / "CallHistory/CallHistory.txt"),
            "Name:  Phone:556  Date:  Type:  Duration:Missed  Deleted:Yes  \n\n");
  EXPECT_EQ(readWholeFile(root / "Note/Notes.txt"), "Title:  Date:d  Note:  Deleted:No  \n\n");
  EXPECT_EQ(readWholeFile(root / "Calendar&Reminder/Calendar&Reminder.txt"),
            "Title:  Location:Town  Start:  End:  Note:  Deleted:No  \n\n");
  // A live bookmark's entry is exactly title and URL; a deleted one says so after them.
  EXPECT_EQ(readWholeFile(root / "BookMark/BookMark.txt"),
            "Title:Home  URL:http://h/  \n\nTitle:  URL:http://old/  Deleted:Yes  \n\n");
  EXPECT_EQ(r.recovered, 12);
  EXPECT_TRUE(r.failures.empty());
}

// In results that hold both kinds, the phone entries follow the BlackBerry ones in the same
// text file, and every folder of both is made, even with nothing ticked in it.
TEST(PhoneRecovery, PhoneEntriesJoinTheBlackBerryTextFiles) {
  TempFolder t;
  ResultLists l;
  auto bb = ticked<PRBlackBerrySMSMessageNode>();
  bb->contentText = "bb";
  auto phone = ticked<PRMessageNode>();
  phone->messageContent = "phone";
  l.bbSMSArray = {bb};
  l.messageArray = {phone};
  l.photoAndVideoArray = {ticked<PRPhotoAndVideoNode>(false, false)};
  RecoveryReport r = RecoveryWriter(l, false, t.path()).run();
  EXPECT_EQ(readWholeFile(t.path() / "Message/Messages.txt"),
            "Phone:  type:  Content:bb  \n\n"
            "Name:  Phone:  Date:  Type:  iMessage:No  Content:phone  Deleted:No  \n\n");
  for (const char* folder :
       {"Content_Store", "MMSMessgae", "BookMark", "Photo&Video", "FaceBook&Twitter"}) {
    EXPECT_TRUE(fs::is_directory(t.path() / folder)) << folder;
  }
  EXPECT_TRUE(fs::is_empty(t.path() / "Photo&Video"));
  EXPECT_EQ(readWholeFile(t.path() / "BookMark/BookMark.txt"), "");
  EXPECT_EQ(r.recovered, 2);
}

// An encrypted backup is read from a clear copy in the scan's run folder, which goes with
// the run: a file that cannot be copied is named in the failure lines (stderr and receipt)
// by the backup's own stored file, never by the copy.
TEST(PhoneRecovery, FailuresOfAnEncryptedBackupsFilesNameTheBackupsOwnFiles) {
  TempFolder t;
  const fs::path clear = t.path() / "work/run-1/clear";
  const fs::path backup = t.path() / "backup";
  fs::create_directories(clear / "3d");
  fs::create_directories(clear / "0f/0f1e2d3c");  // a folder where the file should be
  ResultLists l;
  auto photo = ticked<PRPhotoAndVideoNode>();
  photo->fileNodeName = "IMG_0001.JPG";
  photo->filePath = (clear / "3d/3d0d7e5f").string();  // not in the copy
  photo->originPath = (backup / "3d/3d0d7e5f").string();
  l.photoAndVideoArray = {photo};
  auto app = ticked<PRFaceTwitterNode>();
  app->faceTwitterFileName = "cache.db";
  app->faceTwitterFilePath = (clear / "0f/0f1e2d3c").string();
  app->originPath = (backup / "0f/0f1e2d3c").string();
  l.faceTwitterArray = {app};

  RecoveryReport r = RecoveryWriter(l, false, t.path() / "out").run();
  ASSERT_EQ(r.failures.size(), 2u);
  EXPECT_EQ(r.failures[0],
            "photo or video IMG_0001.JPG not copied: " + photo->originPath + ": no such file");
  EXPECT_EQ(r.failures[1], "app file cache.db not copied: " + app->originPath +
                               ": is a folder, not a regular file");
  const std::string manifest = readWholeFile(r.manifestCsv);
  EXPECT_NE(manifest.find(photo->originPath + ": no such file"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find(clear.string()), std::string::npos) << manifest;
}

}  // namespace
}  // namespace tamsel
