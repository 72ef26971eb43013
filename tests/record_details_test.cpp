// The details lines of every record class the result screen shows: which fields give a line,
// in which order, and how flags, sizes and blank texts are written.
#include "results/record_details.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamsel {
namespace {

using Lines = std::vector<DetailLine>;

struct Case {
  const char* name;
  std::function<std::shared_ptr<PRNode>()> make;
  Lines expected;
};

template <class T>
std::shared_ptr<PRNode> make(const std::function<void(T&)>& fill) {
  auto r = std::make_shared<T>();
  fill(*r);
  return r;
}

std::shared_ptr<PRNode> foundFile(const std::function<void(PRScanListNode&)>& fill) {
  auto r = std::make_shared<PRScanListNode>();
  fill(*r);
  return r;
}

const Case kCases[] = {
    {"photo picture",
     [] {
       return make<PRPhotoAndVideoNode>([](auto& p) {
         p.fileNodeName = "IMG_1.JPG";
         p.fileNodeSize = "1.00K";
         p.filePath = "/b/ab/abcd";
       });
     },
     {{"Kind", "Picture"}, {"Path", "/b/ab/abcd"}}},
    {"photo video",
     [] { return make<PRPhotoAndVideoNode>([](auto& p) { p.bmov = true; }); },
     {{"Kind", "Video"}}},
    {"phone contact",
     [] {
       return make<PRContactNode>([](auto& c) {
         c.contactName = "Ann";
         c.imageData = ByteRef::fromBytes(Bytes(1500, 1));
         c.bDeleted = true;
       });
     },
     {{"Picture", "1.50K"}, {"Deleted", "Yes"}}},
    {"live SMS", [] { return make<PRMessageNode>([](auto& m) { m.messageContent = "hi"; }); }, {}},
    {"deleted iMessage",
     [] {
       return make<PRMessageNode>([](auto& m) {
         m.bImessage = true;
         m.bDeleted = true;
       });
     },
     {{"Service", "iMessage"}, {"Deleted", "Yes"}}},
    {"FaceTime call",
     [] {
       return make<PRCallHistoryNode>([](auto& c) {
         c.callName = "Bob";
         c.callService = "FaceTime";
       });
     },
     {{"Service", "FaceTime"}}},
    {"locked deleted note",
     [] {
       return make<PRNoteNode>([](auto& n) {
         n.noteTitle = "Secret";
         n.bLocked = true;
         n.bDeleted = true;
       });
     },
     {{"Locked", "Yes"}, {"Deleted", "Yes"}}},
    {"deleted bookmark",
     [] { return make<PRBookMarkNode>([](auto& b) { b.bDeleted = true; }); },
     {{"Deleted", "Yes"}}},
    {"phone calendar",
     [] {
       return make<PRCalenderNode>([](auto& e) {
         e.startDate = "05-15-2014 15:00";
         e.bDeleted = true;
       });
     },
     {{"Deleted", "Yes"}}},
    {"app file", [] { return make<PRFaceTwitterNode>([](auto& f) { f.fileSize = "1.00K"; }); }, {}},
    {"BlackBerry contact",
     [] {
       return make<PRBlackBerryContactNode>([](auto& c) {
         c.categories = " Business ";
         c.contactImageData = ByteRef::fromBytes({1, 2, 3});
       });
     },
     {{"Categories", "Business"}, {"Picture", "3.00B"}}},
    {"BlackBerry call",
     [] { return make<PRBlackBerryCallNode>([](auto& c) { c.CallName = " Bo"; }); },
     {}},
    {"BlackBerry SMS",
     [] {
       return make<PRBlackBerrySMSMessageNode>([](auto& s) {
         s.contentText = "x";
         s.isUncode = true;
       });
     },
     {{"Unicode", "Yes"}}},
    {"MMS in a folder",
     [] {
       return make<PRBlackBerryMMSMessageNode>([](auto& m) {
         m.contentDataName = "/store/mms/pic.png";
         m.contentData = ByteRef::fromBytes(Bytes(2048, 0));
       });
     },
     {{"Attachment path", "/store/mms/pic.png"}, {"Attachment size", "2.05K"}}},
    {"MMS without data",
     [] {
       return make<PRBlackBerryMMSMessageNode>([](auto& m) { m.contentDataName = "voice.amr"; });
     },
     {}},
    {"BlackBerry memo",
     [] { return make<PRBlackBerryNoteNode>([](auto& n) { n.noteContent = "b"; }); },
     {}},
    {"BlackBerry calendar",
     [] { return make<PRBlackBerryCalenderNode>([](auto& c) { c.bbCalSubject = "Yoga"; }); },
     {}},
    {"content store document",
     [] {
       return make<PRBlackBerryContentNode>([](auto& c) {
         c.filePathName = "/store/doc/list.txt";
         c.ContentFileType = "Document";
       });
     },
     {{"Kind", "Document"}, {"Path", "/store/doc/list.txt"}}},
    {"deleted damaged found file",
     [] {
       return foundFile([](auto& f) {
         f.nodeName = "IMG_0001.JPG";
         f.nodeSizeString = "2.00M";
         f.fileType = "Image";
         f.bDeleted = "Yes";
         f.createTime = "2014-05-12 10:20:00";
         f.modifyTime = "2014-05-13 11:00:00";
         f.validaty = "cluster chain broken";
       });
     },
     {{"Name", "IMG_0001.JPG"},
      {"Size", "2.00M"},
      {"Kind", "Image"},
      {"Deleted", "Yes"},
      {"Created", "2014-05-12 10:20:00"},
      {"Modified", "2014-05-13 11:00:00"},
      {"Damage", "cluster chain broken"}}},
    // Without a size text the length is written as the screen writes sizes; a live file has
    // no deleted line, unknown times no time lines.
    {"live found file without size text",
     [] {
       return foundFile([](auto& f) {
         f.nodeName = "song.mp3";
         f.fileType = "Audio";
         f.fileSizeNumber = 5'000'000'000ull;
         f.bDeleted = "";
       });
     },
     {{"Name", "song.mp3"}, {"Size", "5.00G"}, {"Kind", "Audio"}}},
    {"record of no shown class", [] { return std::make_shared<PRTreeDirNode>(); }, {}},
};

class RecordDetails : public ::testing::TestWithParam<Case> {};

TEST_P(RecordDetails, LinesOfTheFieldsWithAValue) {
  const Case& c = GetParam();
  EXPECT_EQ(recordDetails(*c.make()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(EveryRecordClass, RecordDetails, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p; ++p) {
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return n;
                         });

// Blank texts give no line; a record with nothing else to say gives an empty text.
TEST(RecordDetailsText, BlankFieldsGiveNoLine) {
  PRScanListNode blank;
  blank.nodeName = "  ";
  blank.createTime = "\t";
  EXPECT_TRUE(recordDetails(blank).empty());
  EXPECT_EQ(recordDetailsText({}), "");
}

// One "Label: value" per line; line breaks inside a value do not start a line of their own.
TEST(RecordDetailsText, OneLinePerDetail) {
  EXPECT_EQ(recordDetailsText({{"Service", "FaceTime"}, {"Damage", "cut\r\nshort"}}),
            "Service: FaceTime\nDamage: cut  short");
  EXPECT_EQ(recordDetailsText({{"Locked", "Yes"}}), "Locked: Yes");
}

}  // namespace
}  // namespace tamsel
