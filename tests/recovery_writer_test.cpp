// Recovery runs after a BlackBerry backup scan: the folder tree, every text file and card
// byte for byte, collisions, hostile names and a second run into the same folder.
#include "results/recovery_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "results/vcf_controller.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

template <class T>
std::shared_ptr<T> tick(std::shared_ptr<T> r, bool ticked = true) {
  r->bSelected = ticked;
  return r;
}

Bytes bytesOf(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

std::shared_ptr<PRBlackBerryContactNode> contact(std::string name, std::string company = "") {
  auto c = std::make_shared<PRBlackBerryContactNode>();
  c->contactName = std::move(name);
  c->companyName = std::move(company);
  return c;
}

std::shared_ptr<PRBlackBerryContentNode> content(std::string path, std::string data) {
  auto c = std::make_shared<PRBlackBerryContentNode>();
  c->filePathName = std::move(path);
  c->contentData = ByteRef::fromBytes(bytesOf(data));
  c->fileSize = c->contentData.size();
  return c;
}

std::shared_ptr<PRBlackBerryMMSMessageNode> mms(std::string name, std::string data) {
  auto m = std::make_shared<PRBlackBerryMMSMessageNode>();
  m->numberName = "5551111 ";
  m->contentDataName = std::move(name);
  m->contentType = "Image";
  m->contentData = ByteRef::fromBytes(bytesOf(data));
  return m;
}

const std::set<std::string> kBackupFolders = {"Content_Store", "Contact",           "Message",
                                              "Note",          "Calendar&Reminder", "CallHistory",
                                              "MMSMessgae"};

std::set<std::string> withFolders(std::set<std::string> files) {
  files.insert(kBackupFolders.begin(), kBackupFolders.end());
  files.insert({"report.html", "manifest.csv"});  // the run's receipt
  return files;
}

const char kEmptyContactEntry[] =
    "Name:   Home Phone:  Work Phone:  Mobile Phone:  Email:  Address:    Websit:  "
    "Pin Number:  Birthday:  Note:  \n\n";

TEST(RecoveryWriterBackup, WritesEveryTickedRecordExactlyAsSpecified) {
  TempFolder t;
  fs::path root = t.path() / "Tamsel 2014-05-12 - 10.20.30";
  ResultLists l;
  l.bbContentStoreArray = {tick(content("/store/home/user/pictures/IMG001.jpg", "JPEGDATA")),
                           tick(content("/store/skip.jpg", "no"), false)};
  auto ann = contact("Lee Ann ", "ACME");
  ann->titleName = "Boss";
  ann->homeCall = "555-1 ";
  ann->email = "a@b.c";
  ann->city = "Springfield";
  ann->note = "hi";
  ann->contactImageData = ByteRef::fromBytes(bytesOf("abc"));
  l.bbContactArray = {tick(ann), tick(contact("")), tick(contact("", "ACME Corp")),
                      tick(contact("Unticked"), false)};
  auto sms = std::make_shared<PRBlackBerrySMSMessageNode>();
  sms->numberString = "+15551234";
  sms->type = "Incoming";
  sms->contentText = "Hello, world";
  l.bbSMSArray = {tick(sms)};
  auto memo = std::make_shared<PRBlackBerryNoteNode>();
  memo->noteTittle = "Shopping";
  memo->noteContent = "milk";
  l.bbNoteArray = {tick(memo)};
  auto cal = std::make_shared<PRBlackBerryCalenderNode>();
  cal->bbCalSubject = " Dentist";
  cal->bbCalInformation = " 3pm";
  cal->bbCalStartDate = "04-10-2013 15:00";  // no location or end: those are left out
  l.bbCalderArray = {tick(cal)};
  auto call = std::make_shared<PRBlackBerryCallNode>();
  call->CallName = " Bob";
  call->CallNumber = "5550000";
  call->CallType = "Recived";
  call->callDuration = "1 minute";
  l.bbCallArray = {tick(call)};
  l.bbMMSArray = {tick(mms("photo.JPG", "PIXELS")), tick(mms("other.png", "X"), false)};

  RecoveryWriter w(l, false, root);
  EXPECT_EQ(w.selectedFilesNum(), 9);
  RecoveryReport r = w.run();

  EXPECT_EQ(listTree(root),
            withFolders({"Content_Store/IMG001.jpg", "Contact/Contacts.txt", "Contact/Lee Ann .vcf",
                         "Contact/ACME Corp.vcf", "Message/Messages.txt", "Note/Notes.txt",
                         "Calendar&Reminder/Calendar&Reminder.txt", "CallHistory/CallHistory.txt",
                         "MMSMessgae/Messages.txt", "MMSMessgae/photo.JPG"}));
  EXPECT_EQ(readWholeFile(root / "Content_Store/IMG001.jpg"), "JPEGDATA");
  EXPECT_EQ(readWholeFile(root / "Contact/Contacts.txt"),
            "Name:Lee Ann  Boss ACME Home Phone:555-1   Work Phone:  Mobile Phone:  "
            "Email:a@b.c  Address: Springfield   Websit:  Pin Number:  Birthday:  Note:hi  \n\n" +
                std::string(kEmptyContactEntry) +
                "Name:  ACME Corp Home Phone:  Work Phone:  Mobile Phone:  Email:  Address:    "
                "Websit:  Pin Number:  Birthday:  Note:  \n\n");
  PRVCFController vcf;
  EXPECT_EQ(readWholeFile(root / "Contact/Lee Ann .vcf"), vcf.buildCard(*ann));
  EXPECT_NE(vcf.content().find("\r\nPHOTO;ENCODING=b;TYPE=JPEG:YWJj\r\nEND:VCARD"),
            std::string::npos);
  EXPECT_EQ(readWholeFile(root / "Contact/ACME Corp.vcf"), vcf.buildCard(*l.bbContactArray[2]));
  EXPECT_EQ(readWholeFile(root / "Message/Messages.txt"),
            "Phone:+15551234  type:Incoming  Content:Hello, world  \n\n");
  EXPECT_EQ(readWholeFile(root / "Note/Notes.txt"), "Title:Shopping  Note:milk  \n\n");
  EXPECT_EQ(readWholeFile(root / "Calendar&Reminder/Calendar&Reminder.txt"),
            "Subject: Dentist  Information: 3pm  Start:04-10-2013 15:00  \n\n");
  EXPECT_EQ(readWholeFile(root / "CallHistory/CallHistory.txt"),
            "Name: Bob  Phone:5550000  Type:Recived  Duration:1 minute  \n\n");
  EXPECT_EQ(readWholeFile(root / "MMSMessgae/Messages.txt"),
            "Number:5551111   ContentDataName:photo.JPG  contentType:Image  \n\n");
  EXPECT_EQ(readWholeFile(root / "MMSMessgae/photo.JPG"), "PIXELS");

  EXPECT_EQ(r.recovered, 9);
  EXPECT_EQ(r.total, 9);
  EXPECT_EQ(r.written.size(), 10u);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(w.recovredFilesNum(), 0);  // back to 0 at the end of a run
}

TEST(RecoveryWriterBackup, OneTickedSmsStillCreatesEveryFolderAndEmptyReport) {
  TempFolder t;
  ResultLists l;
  auto sms = std::make_shared<PRBlackBerrySMSMessageNode>();
  sms->contentText = "only";
  l.bbSMSArray = {tick(sms)};
  l.bbContactArray = {tick(contact("Nobody"), false)};
  RecoveryReport r = RecoveryWriter(l, false, t.path() / "a" / "b").run();
  fs::path root = t.path() / "a" / "b";
  EXPECT_EQ(listTree(root),
            withFolders({"Contact/Contacts.txt", "Message/Messages.txt", "Note/Notes.txt",
                         "Calendar&Reminder/Calendar&Reminder.txt", "CallHistory/CallHistory.txt",
                         "MMSMessgae/Messages.txt"}));
  for (const char* empty :
       {"Contact/Contacts.txt", "Note/Notes.txt", "Calendar&Reminder/Calendar&Reminder.txt",
        "CallHistory/CallHistory.txt", "MMSMessgae/Messages.txt"}) {
    EXPECT_EQ(readWholeFile(root / empty), "") << empty;
  }
  EXPECT_EQ(readWholeFile(root / "Message/Messages.txt"), "Phone:  type:  Content:only  \n\n");
  EXPECT_EQ(r.recovered, 1);
}

TEST(RecoveryWriterBackup, CountsEachTickedRecordOnceEvenWithoutData) {
  TempFolder t;
  ResultLists l;
  l.bbMMSArray = {tick(mms("a.jpg", "")), tick(mms("b.jpg", "B"))};
  l.bbContentStoreArray = {tick(content("c.txt", ""))};
  RecoveryWriter w(l, false, t.path());
  RecoveryReport r = w.run();
  EXPECT_EQ(r.recovered, 3);
  EXPECT_EQ(r.total, 3);
  EXPECT_FALSE(fs::exists(t.path() / "MMSMessgae/a.jpg"));
  EXPECT_FALSE(fs::exists(t.path() / "Content_Store/c.txt"));
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/b.jpg"), "B");
  // Both MMS entries are in the report, each counted once with its attachment.
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/Messages.txt"),
            "Number:5551111   ContentDataName:a.jpg  contentType:Image  \n\n"
            "Number:5551111   ContentDataName:b.jpg  contentType:Image  \n\n");
}

TEST(RecoveryWriterBackup, EqualNamesGetNumberedInsteadOfReplacingEachOther) {
  TempFolder t;
  ResultLists l;
  auto bob1 = contact("Bob");
  bob1->email = "one@example.com";
  auto bob2 = contact("Bob");
  bob2->email = "two@example.com";
  l.bbContactArray = {tick(bob1), tick(bob2), tick(contact("", "Bob"))};
  l.bbMMSArray = {tick(mms("a/pic.jpg", "first")), tick(mms("b/pic.jpg", "second"))};
  l.bbContentStoreArray = {tick(content("/x/doc.txt", "X")), tick(content("/y/doc.txt", "Y"))};
  RecoveryReport r = RecoveryWriter(l, false, t.path()).run();
  EXPECT_EQ(
      listTree(t.path()),
      withFolders({"Content_Store/doc.txt", "Content_Store/doc (2).txt", "Contact/Contacts.txt",
                   "Contact/Bob.vcf", "Contact/Bob (2).vcf", "Contact/Bob (3).vcf",
                   "Message/Messages.txt", "Note/Notes.txt",
                   "Calendar&Reminder/Calendar&Reminder.txt", "CallHistory/CallHistory.txt",
                   "MMSMessgae/Messages.txt", "MMSMessgae/pic.jpg", "MMSMessgae/pic (2).jpg"}));
  PRVCFController vcf;
  EXPECT_EQ(readWholeFile(t.path() / "Contact/Bob.vcf"), vcf.buildCard(*bob1));
  EXPECT_EQ(readWholeFile(t.path() / "Contact/Bob (2).vcf"), vcf.buildCard(*bob2));
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/pic.jpg"), "first");
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/pic (2).jpg"), "second");
  EXPECT_EQ(readWholeFile(t.path() / "Content_Store/doc.txt"), "X");
  EXPECT_EQ(readWholeFile(t.path() / "Content_Store/doc (2).txt"), "Y");
  EXPECT_EQ(r.recovered, 7);
}

TEST(RecoveryWriterBackup, HostileNamesStayInsideTheChosenFolder) {
  TempFolder t;
  fs::path root = t.path() / "out";
  ResultLists l;
  std::string longName(300, 'n');
  l.bbContactArray = {tick(contact("../x")),
                      tick(contact("a/b")),
                      tick(contact("..")),
                      tick(contact("", "/")),
                      tick(contact(std::string("nu\0l", 4))),
                      tick(contact(longName))};
  l.bbContentStoreArray = {tick(content("../../evil.txt", "1")), tick(content("/x/..", "2")),
                           tick(content(std::string("a\0b.txt", 7), "3")),
                           tick(content("/" + longName + ".dat", "4")), tick(content("", "5"))};
  l.bbMMSArray = {tick(mms(".", "6")), tick(mms("dir/", "7"))};
  RecoveryReport r = RecoveryWriter(l, false, root).run();

  EXPECT_EQ(listTree(t.path()).count("evil.txt"), 0u);
  std::set<std::string> expected = withFolders(
      {"Contact/Contacts.txt", "Contact/.._x.vcf", "Contact/a_b.vcf", "Contact/...vcf",
       "Contact/_.vcf", "Contact/nu_l.vcf", "Contact/" + std::string(251, 'n') + ".vcf",
       "Content_Store/evil.txt", "Content_Store/__", "Content_Store/a_b.txt",
       "Content_Store/" + std::string(251, 'n') + ".dat", "Content_Store/_", "Message/Messages.txt",
       "Note/Notes.txt", "Calendar&Reminder/Calendar&Reminder.txt", "CallHistory/CallHistory.txt",
       "MMSMessgae/Messages.txt", "MMSMessgae/_", "MMSMessgae/dir"});
  std::set<std::string> inTemp;
  for (const auto& e : expected) inTemp.insert("out/" + e);
  inTemp.insert("out");
  EXPECT_EQ(listTree(t.path()), inTemp);
  EXPECT_EQ(readWholeFile(root / "Content_Store/evil.txt"), "1");
  EXPECT_EQ(readWholeFile(root / "Content_Store/__"), "2");
  EXPECT_EQ(readWholeFile(root / "MMSMessgae/dir"), "7");
  EXPECT_TRUE(r.failures.empty());
}

TEST(RecoveryWriterBackup, SecondRunIntoTheSameFolderLosesNothing) {
  TempFolder t;
  ResultLists l;
  auto bob = contact("Bob");
  bob->note = "n";
  l.bbContactArray = {tick(bob)};
  l.bbMMSArray = {tick(mms("pic.jpg", "P"))};
  l.bbContentStoreArray = {tick(content("f.bin", "F"))};
  RecoveryWriter(l, false, t.path()).run();
  std::set<std::string> first = listTree(t.path());
  writeWholeFile(t.path() / "Contact/Contacts.txt", "edited by the user");
  RecoveryReport r = RecoveryWriter(l, false, t.path()).run();

  std::string entry =
      "Name:Bob   Home Phone:  Work Phone:  Mobile Phone:  Email:  Address:    Websit:  "
      "Pin Number:  Birthday:  Note:n  \n\n";
  EXPECT_EQ(readWholeFile(t.path() / "Contact/Contacts.txt"), "edited by the user");
  EXPECT_EQ(readWholeFile(t.path() / "Contact/Contacts (2).txt"), entry);
  EXPECT_EQ(readWholeFile(t.path() / "Contact/Bob.vcf"),
            readWholeFile(t.path() / "Contact/Bob (2).vcf"));
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/pic (2).jpg"), "P");
  EXPECT_EQ(readWholeFile(t.path() / "MMSMessgae/Messages (2).txt"),
            readWholeFile(t.path() / "MMSMessgae/Messages.txt"));
  EXPECT_EQ(readWholeFile(t.path() / "Content_Store/f (2).bin"), "F");
  std::set<std::string> second = listTree(t.path());
  for (const auto& f : first) EXPECT_EQ(second.count(f), 1u) << f;
  // six reports, one card, two files, and the second receipt
  EXPECT_EQ(second.size(), first.size() + 11);
  EXPECT_FALSE(fs::exists(t.path() / "Contact/TXT.txt"));
  EXPECT_EQ(r.recovered, 3);
}

TEST(RecoveryWriterBackup, FolderThatIsALinkElsewhereIsNotWrittenThrough) {
  TempFolder t;
  fs::path root = t.path() / "out";
  fs::create_directories(root);
  fs::create_directories(t.path() / "elsewhere");
  fs::create_directory_symlink(t.path() / "elsewhere", root / "Contact");
  ResultLists l;
  l.bbContactArray = {tick(contact("Bob"))};
  l.bbNoteArray = {tick(std::make_shared<PRBlackBerryNoteNode>())};
  RecoveryReport r = RecoveryWriter(l, false, root).run();
  EXPECT_TRUE(fs::is_empty(t.path() / "elsewhere"));
  EXPECT_FALSE(r.failures.empty());
  EXPECT_EQ(readWholeFile(root / "Note/Notes.txt"), "Title:  Note:  \n\n");
  EXPECT_EQ(r.recovered, 2);
}

TEST(RecoveryWriterBackup, LinksPlantedInTheTreeAreNeverWrittenThrough) {
  TempFolder t;
  fs::path root = t.path() / "out";
  fs::path outside = t.path() / "outside";
  fs::create_directories(outside);
  writeWholeFile(outside / "victim", "untouched");
  for (const char* folder : {"Contact", "MMSMessgae", "Content_Store", "Note"}) {
    fs::create_directories(root / folder);
  }
  // Every name the run would use first is a link to a file outside the chosen folder, or a
  // dangling link into it.
  for (const char* name : {"Contact/Bob.vcf", "Contact/Contacts.txt", "MMSMessgae/pic.jpg",
                           "MMSMessgae/Messages.txt", "Content_Store/doc.txt"}) {
    fs::create_symlink(outside / "victim", root / name);
  }
  fs::create_symlink(outside / "new-file", root / "Note/Notes.txt");
  ResultLists l;
  l.bbContactArray = {tick(contact("Bob"))};
  l.bbMMSArray = {tick(mms("pic.jpg", "P"))};
  l.bbContentStoreArray = {tick(content("doc.txt", "D"))};
  l.bbNoteArray = {tick(std::make_shared<PRBlackBerryNoteNode>())};
  RecoveryReport r = RecoveryWriter(l, false, root).run();
  EXPECT_EQ(readWholeFile(outside / "victim"), "untouched");
  EXPECT_EQ(listTree(outside), (std::set<std::string>{"victim"}));
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(readWholeFile(root / "Contact/Bob (2).vcf"),
            PRVCFController().buildCard(*contact("Bob")));
  EXPECT_EQ(readWholeFile(root / "MMSMessgae/pic (2).jpg"), "P");
  EXPECT_EQ(readWholeFile(root / "Content_Store/doc (2).txt"), "D");
  EXPECT_EQ(readWholeFile(root / "Note/Notes (2).txt"), "Title:  Note:  \n\n");
  EXPECT_TRUE(fs::is_symlink(root / "Note/Notes.txt"));
  EXPECT_TRUE(fs::is_symlink(root / "Contact/Contacts.txt"));
  EXPECT_EQ(r.recovered, 4);
}

// A category folder replaced by a link between two record writes: the second write is
// refused with a failure line and nothing reaches the place the link points to.
TEST(RecoveryWriterBackup, AFolderSwappedForALinkMidRunIsNotWrittenThrough) {
  TempFolder t;
  fs::path root = t.path() / "out";
  fs::path outside = t.path() / "outside";
  fs::create_directories(root / "Content_Store");
  fs::create_directories(outside);
  RecoveryWriter w(ResultLists{}, false, root);
  w.setRecoverFilePath(root / "Content_Store");
  w.recoverContentStore(*content("a.txt", "A"));
  fs::rename(root / "Content_Store", root / "moved");
  fs::create_directory_symlink(outside, root / "Content_Store");
  w.recoverContentStore(*content("b.txt", "B"));
  PRRtfController rtf;
  w.recoverContactNode(*contact("Bob"), rtf);

  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(readWholeFile(root / "moved/a.txt"), "A");
  EXPECT_EQ(w.report().written, std::vector<fs::path>{root / "Content_Store/a.txt"});
  ASSERT_EQ(w.report().failures.size(), 2u);
  for (const auto& line : w.report().failures) {
    EXPECT_NE(line.find("moved or replaced"), std::string::npos) << line;
  }
  EXPECT_EQ(w.recovredFilesNum(), 3);
}

// Names taken from records lose their control and bidirectional characters before they
// become file names.
TEST(RecoveryWriterBackup, ControlAndBidiCharactersNeverReachFileNames) {
  TempFolder t;
  fs::path root = t.path() / "out";
  ResultLists l;
  l.bbContentStoreArray = {tick(content("/store/\x1b[31mred\xe2\x80\xaegpj.exe", "C"))};
  l.bbMMSArray = {
      tick(mms("\xc2\x9b"
               "2Jpic\x07.jpg",
               "M"))};
  l.bbContactArray = {tick(contact("Bob\r\nEvil\xd8\x9c"))};
  RecoveryReport r = RecoveryWriter(l, false, root).run();
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(readWholeFile(root / "Content_Store/_[31mred_gpj.exe"), "C");
  EXPECT_EQ(readWholeFile(root / "MMSMessgae/_2Jpic_.jpg"), "M");
  EXPECT_TRUE(fs::exists(root / "Contact/Bob__Evil_.vcf"));
}

TEST(RecoveryWriterBackup, NoFolderChosenWritesNothing) {
  ResultLists l;
  l.bbSMSArray = {tick(std::make_shared<PRBlackBerrySMSMessageNode>())};
  RecoveryReport r = RecoveryWriter(l, false, fs::path()).run();
  EXPECT_TRUE(r.written.empty());
  EXPECT_EQ(r.failures.size(), 1u);
}

}  // namespace
}  // namespace tamsel
