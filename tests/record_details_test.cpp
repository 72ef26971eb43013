// The details lines of every record class the result screen shows.
#include "results/record_details.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamsel {
namespace {

using Lines = std::vector<DetailLine>;

struct Case {
  std::string name;
  std::shared_ptr<PRNode> record;
  Lines expected;
};

template <class T, class Fill>
std::shared_ptr<PRNode> make(Fill fill) {
  auto r = std::make_shared<T>();
  fill(*r);
  return r;
}

std::vector<Case> cases() {
  auto found = [](const char* kind, bool deleted, bool damaged) {
    return make<PRScanListNode>([&](PRScanListNode& f) {
      f.nodeName = "IMG_0001.JPG";
      f.fileType = kind;
      f.fileSizeNumber = 5'000'000'000ull;  // written as the screen writes sizes
      f.bDeleted = deleted ? "Yes" : "";
      f.createTime = deleted ? "2014-05-12 10:20:00" : "";
      f.modifyTime = "2014-05-13 11:00:00";
      if (damaged) f.validaty = "cluster chain broken";
    });
  };
  return {
      {"PhotoAndVideo",
       make<PRPhotoAndVideoNode>([](auto& p) { p.filePath = "/b/ab/abcd"; }),
       {{"Kind", "Picture"}, {"Path", "/b/ab/abcd"}}},
      {"Video", make<PRPhotoAndVideoNode>([](auto& p) { p.bmov = true; }), {{"Kind", "Video"}}},
      // Read from an encrypted backup's copy: the backup's own file, not the copy.
      {"PhotoOfAnEncryptedBackup",
       make<PRPhotoAndVideoNode>(
           [](auto& p) { p.filePath = "/run/c/ab/abcd", p.originPath = "/b/ab/abcd"; }),
       {{"Kind", "Picture"}, {"Path", "/b/ab/abcd"}}},
      {"Contact",
       make<PRContactNode>(
           [](auto& c) { c.imageData = ByteRef::fromBytes(Bytes(1500, 1)), c.bDeleted = true; }),
       {{"Picture", "1.50K"}, {"Deleted", "Yes"}}},
      {"IMessage",
       make<PRMessageNode>([](auto& m) { m.bImessage = m.bDeleted = true; }),
       {{"Service", "iMessage"}, {"Deleted", "Yes"}}},
      {"FaceTime",
       make<PRCallHistoryNode>([](auto& c) { c.callService = "FaceTime"; }),
       {{"Service", "FaceTime"}}},
      {"LockedNote",
       make<PRNoteNode>([](auto& n) { n.bLocked = n.bDeleted = true; }),
       {{"Locked", "Yes"}, {"Deleted", "Yes"}}},
      {"Bookmark", make<PRBookMarkNode>([](auto& b) { b.bDeleted = true; }), {{"Deleted", "Yes"}}},
      {"Calendar", make<PRCalenderNode>([](auto& e) { e.bDeleted = true; }), {{"Deleted", "Yes"}}},
      {"AppFileOfAnEncryptedBackup",
       make<PRFaceTwitterNode>(
           [](auto& f) { f.faceTwitterFilePath = "/run/c/ab/abcd", f.originPath = "/b/ab/abcd"; }),
       {{"Backup file", "/b/ab/abcd"}}},
      {"BlackBerryContact",
       make<PRBlackBerryContactNode>([](auto& c) {
         c.categories = " Business ", c.contactImageData = ByteRef::fromBytes({1, 2, 3});
       }),
       {{"Categories", "Business"}, {"Picture", "3.00B"}}},
      {"BlackBerrySms",
       make<PRBlackBerrySMSMessageNode>([](auto& s) { s.isUncode = true; }),
       {{"Unicode", "Yes"}}},
      {"MmsInAFolder",
       make<PRBlackBerryMMSMessageNode>([](auto& m) {
         m.contentDataName = "/store/mms/pic.png",
         m.contentData = ByteRef::fromBytes(Bytes(2048, 0));
       }),
       {{"Attachment path", "/store/mms/pic.png"}, {"Attachment size", "2.05K"}}},
      {"MmsWithoutData",
       make<PRBlackBerryMMSMessageNode>([](auto& m) { m.contentDataName = "voice.amr"; }),
       {}},
      {"ContentStore",
       make<PRBlackBerryContentNode>(
           [](auto& c) { c.filePathName = "/store/doc/list.txt", c.ContentFileType = "Document"; }),
       {{"Kind", "Document"}, {"Path", "/store/doc/list.txt"}}},
      {"DeletedDamagedFoundFile",
       found("Image", true, true),
       {{"Name", "IMG_0001.JPG"},
        {"Size", "5.00G"},
        {"Kind", "Image"},
        {"Deleted", "Yes"},
        {"Created", "2014-05-12 10:20:00"},
        {"Modified", "2014-05-13 11:00:00"},
        {"Damage", "cluster chain broken"}}},
      {"LiveFoundFile",
       found("Audio", false, false),
       {{"Name", "IMG_0001.JPG"},
        {"Size", "5.00G"},
        {"Kind", "Audio"},
        {"Modified", "2014-05-13 11:00:00"}}},
      // The size text the scan gave wins over the length.
      {"FoundFileSizeText",
       make<PRScanListNode>([](auto& f) { f.nodeSizeString = "2.00M", f.fileSizeNumber = 7; }),
       {{"Size", "2.00M"}}},
      // Classes whose preview shows every field (BlackBerry calls, memos, calendar entries)
      // give no lines, as do classes no table shows.
      {"BlackBerryCall", make<PRBlackBerryCallNode>([](auto& c) { c.CallName = " Bo"; }), {}},
      {"NoShownClass", std::make_shared<PRTreeDirNode>(), {}},
  };
}

TEST(RecordDetails, LinesOfTheFieldsWithAValueForEveryRecordClass) {
  for (const Case& c : cases()) EXPECT_EQ(recordDetails(*c.record), c.expected) << c.name;
}

// Blank texts give no line; a line break inside a value starts no line of its own.
TEST(RecordDetailsText, BlankFieldsAndLineBreaks) {
  PRScanListNode blank;
  blank.nodeName = "  ";
  blank.createTime = "\t";
  EXPECT_TRUE(recordDetails(blank).empty());
  EXPECT_EQ(recordDetailsText({}), "");
  EXPECT_EQ(recordDetailsText({{"Service", "FaceTime"}, {"Damage", "cut\r\nshort"}}),
            "Service: FaceTime\nDamage: cut  short");
}

}  // namespace
}  // namespace tamsel
