#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "events/notification_names.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/tiny_png.h"

namespace tamsel {
namespace {

using fakes::FakeResultHost;
using fakes::FakeResultView;

struct Preview : ::testing::Test {
  NotificationCenter nc;
  FakeResultView view;
  FakeResultHost host;
  PRResultViewController pr{nc, view, host};

  template <class T>
  std::shared_ptr<T> post(std::string_view name, std::shared_ptr<T> rec) {
    nc.post(name, std::shared_ptr<PRNode>(rec));
    return rec;
  }
};

TEST_F(Preview, ContactFieldsAndPictureFallback) {
  auto c = std::make_shared<PRBlackBerryContactNode>();
  c->contactName = "Doe John ";
  c->pinNumber = "2A3B";
  c->address = "1 Main";
  c->city = "Town";
  c->country = "Land";
  c->mobilCall = "555";
  c->note = "n";
  c->contactImageData = ByteRef::fromBytes({0xFF, 0xD8});
  post(notify::kBlacBerryContactInfo, c);
  post(notify::kBlacBerryContactInfo, std::make_shared<PRBlackBerryContactNode>());

  pr.actContact();  // row 0 previewed
  EXPECT_EQ(view.text(ResultField::contactName), "Doe John ");
  EXPECT_TRUE(view.fieldVisible(ResultField::contactName));
  EXPECT_EQ(view.text(ResultField::contactPinNumber), "PinNumber: 2A3B");
  EXPECT_EQ(view.text(ResultField::contactAddress), "Adress: 1 Main Town  Land ");
  EXPECT_EQ(view.text(ResultField::contactMobile), "Phone Mobil: 555");
  EXPECT_EQ(view.text(ResultField::contactWork), "Phone Work: ");
  EXPECT_EQ(view.text(ResultField::contactHomePage), "HomePage: ");
  EXPECT_EQ(view.text(ResultField::contactNote), "Note: n");
  EXPECT_EQ(view.images[ResultImage::contact], (Bytes{0xFF, 0xD8}));

  pr.tableViewSelectionDidChange({0, 1});  // the last selected row is previewed
  EXPECT_FALSE(view.fieldVisible(ResultField::contactName));
  EXPECT_TRUE(view.images[ResultImage::contact].empty());  // the view shows "contact"
  pr.tableViewSelectionDidChange({});                      // nothing selected: unchanged
  EXPECT_EQ(view.text(ResultField::contactPinNumber), "PinNumber: ");
}

template <class T>
std::shared_ptr<PRNode> make(const std::function<void(T&)>& fill) {
  auto r = std::make_shared<T>();
  fill(*r);
  return r;
}

// Every record class fills the fields of its panel (details included) when its row is shown.
TEST(PreviewFields, EachClassShowsItsFields) {
  using F = ResultField;
  const struct {
    Category category;
    std::string_view notice;
    std::shared_ptr<PRNode> record;
    std::vector<std::pair<ResultField, std::string>> fields;
  } cases[] = {
      {Category::Message,
       notify::kBlackBerrySMSMessageInfo,
       make<PRBlackBerrySMSMessageNode>([](auto& r) {
         r.numberString = "+1 555", r.type = "Received", r.contentText = "hello";
       }),
       {{F::messagePhone, "Phone: +1 555"},
        {F::messageType, "Type: Received"},
        {F::messageContent, "hello"}}},
      {Category::CallHistory,
       notify::kBlacBerryCallLogInfo,
       make<PRBlackBerryCallNode>([](auto& r) {
         r.CallName = "Ann", r.CallNumber = "1", r.CallType = "Missed";
         r.callDuration = "2 minutes", r.CallTime = "05-12-2014 10:20";
       }),
       {{F::callName, "Name: Ann"},
        {F::callType, "Type: Missed"},
        {F::callTime, "Duration: 2 minutes"},
        {F::callDate, "Date: 05-12-2014 10:20"}}},
      // The note's text is shown once, in the area.
      {Category::Note,
       notify::kBlackBerryNoteInfo,
       make<PRBlackBerryNoteNode>([](auto& r) { r.noteTittle = "T", r.noteContent = "body"; }),
       {{F::noteTitle, "Title: T"}, {F::noteContent, "body"}, {F::noteNote, ""}}},
      {Category::BookMark,
       notify::kScanBookMarkInfo,
       make<PRBookMarkNode>([](auto& r) { r.bookMarkTitle = "Home", r.bookMarkURL = "http://h"; }),
       {{F::bookMarkTitle, "Title: \nHome"}, {F::bookMarkURL, "URL: \nhttp://h"}}},
      // Without a place or times those lines stay empty.
      {Category::Calender,
       notify::kBlackBerryCalenderInfo,
       make<PRBlackBerryCalenderNode>(
           [](auto& r) { r.bbCalSubject = " Yoga", r.bbCalInformation = " Every Thursday"; }),
       {{F::calTitle, "Title:  Yoga"},
        {F::calNote, "Note:  Every Thursday"},
        {F::calStartDate, ""},
        {F::calEndDate, ""}}},
      {Category::Calender,
       notify::kBlackBerryCalenderInfo,
       make<PRBlackBerryCalenderNode>([](auto& r) {
         r.bbCalLocation = "Clinic", r.bbCalStartDate = "04-03-2013 09:15";
         r.bbCalEndDate = "04-03-2013 10:00";
       }),
       {{F::calLocation, "Location: Clinic"},
        {F::calStartDate, "Start: 04-03-2013 09:15"},
        {F::calEndDate, "End: 04-03-2013 10:00"}}},
      {Category::Contact,
       notify::kScanContactInfo,
       make<PRContactNode>([](auto& r) {
         r.contactName = "Ann Lee", r.contactPhone = "555 556", r.contactJobtitle = "Boss";
         r.contactAdress = "1 Main Town";
       }),
       {{F::contactName, "Ann Lee"},
        {F::contactTitle, "Boss"},
        {F::contactMobile, "Phone: 555 556"},
        {F::contactAddress, "Adress: 1 Main Town"},
        {F::contactPinNumber, ""}}},
      {Category::Message,
       notify::kScanMessageInfo,
       make<PRMessageNode>([](auto& r) {
         r.messageName = "Ann", r.messageDate = "05-12-2014 10:20", r.messageContent = "hello";
       }),
       {{F::messageName, "Name: Ann"},
        {F::messageDate, "Date: 05-12-2014 10:20"},
        {F::messageContent, "hello"}}},
      {Category::CallHistory,
       notify::kScanCallHistoryInfo,
       make<PRCallHistoryNode>([](auto& r) {
         r.callDuration = "00:01:05", r.callDate = "05-13-2014 08:00", r.callService = "FaceTime";
       }),
       {{F::callTime, "Duration: 00:01:05"},
        {F::callDate, "Date: 05-13-2014 08:00"},
        {F::callDetails, "Service: FaceTime"}}},
      {Category::Note,
       notify::kScanNoteInfo,
       make<PRNoteNode>([](auto& r) {
         r.noteContent = "body", r.noteDate = "05-14-2014 09:00", r.bLocked = true;
       }),
       {{F::noteDate, "Date: 05-14-2014 09:00"},
        {F::noteContent, "body"},
        {F::noteDetails, "Locked: Yes"}}},
      {Category::Calender,
       notify::kScanCalenderInfo,
       make<PRCalenderNode>([](auto& r) {
         r.location = "Town", r.startDate = "05-15-2014 15:00", r.endDate = "05-15-2014 16:00";
       }),
       {{F::calLocation, "Location: Town"},
        {F::calStartDate, "Start: 05-15-2014 15:00"},
        {F::calEndDate, "End: 05-15-2014 16:00"}}},
      {Category::FaceTwitter,
       notify::kScanFaceTwitterInfo,
       make<PRFaceTwitterNode>(
           [](auto& r) { r.fileSize = "1.50K", r.faceTwitterFilePath = "/backup/ab/abcdef"; }),
       {{F::faceTwitterFileSize, "Size: 1.50K"},
        {F::faceTwitterFilePath, "Path: /backup/ab/abcdef"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    PRResultViewController pr{nc, view, host};
    nc.post(c.notice, c.record);
    pr.showCategory(c.category);
    for (const auto& [field, text] : c.fields) EXPECT_EQ(view.text(field), text);
  }
  // A card scan's found files name their kind in their category's details.
  const std::pair<Category, std::string> found[] = {{Category::RawAudio, "Audio"},
                                                    {Category::RawVideo, "Video"},
                                                    {Category::RawDocument, "Document"},
                                                    {Category::RawArchive, "Archive"}};
  for (const auto& [c, kind] : found) {
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    host.raw = true;
    PRResultViewController pr{nc, view, host};
    nc.post(notify::kBlackBerryRawRecoveryFileInfo,
            make<PRScanListNode>([&](auto& r) { r.fileType = kind; }));
    pr.showCategory(c);
    EXPECT_EQ(view.text(detailsField(c)), "Kind: " + kind);
  }
}

// An SMS names its sender by the contact with that number (blanks and dashes ignored).
TEST_F(Preview, MessageNameAndDateComeFromTheRecord) {
  auto ann = std::make_shared<PRBlackBerryContactNode>();
  ann->contactName = "Lee Ann ";
  ann->workCall = "+44 20 7946 0000 ";
  ann->mobilCall = "+1 555-0101 ";
  post(notify::kBlacBerryContactInfo, ann);
  auto known = std::make_shared<PRBlackBerrySMSMessageNode>();
  known->numberString = "+15550101";
  known->dateTime = "05-12-2014 10:20";
  auto stranger = std::make_shared<PRBlackBerrySMSMessageNode>();
  stranger->numberString = "+1999";
  post(notify::kBlackBerrySMSMessageInfo, known);
  post(notify::kBlackBerrySMSMessageInfo, stranger);
  pr.actMessage();
  EXPECT_EQ(view.text(ResultField::messageName), "Name: Lee Ann");
  EXPECT_EQ(view.text(ResultField::messageDate), "Date: 05-12-2014 10:20");
  pr.tableViewSelectionDidChange({1});
  EXPECT_EQ(view.text(ResultField::messageName), "Name: +1999");
  EXPECT_EQ(view.text(ResultField::messageDate), "Date: ");

  // A phone message without a contact name shows its number there.
  auto phone = std::make_shared<PRMessageNode>();
  phone->messagePhone = "+1777";
  phone->bImessage = true;
  post(notify::kScanMessageInfo, phone);
  pr.actMessage();
  const ResultRows& rows = pr.displayList(Category::Message);
  const auto at = std::find(rows.begin(), rows.end(), std::shared_ptr<PRNode>(phone));
  ASSERT_NE(at, rows.end());
  pr.tableViewSelectionDidChange({static_cast<int>(at - rows.begin())});
  EXPECT_EQ(view.text(ResultField::messageName), "Name: +1777");
  EXPECT_EQ(view.text(ResultField::messageDetails), "Service: iMessage");
}

// An MMS shows its fields and picture; a row with another attachment clears the picture.
TEST_F(Preview, MmsShowsItsFieldsAndPicture) {
  auto pic = std::make_shared<PRBlackBerryMMSMessageNode>();
  pic->numberName = "Ann Lee +1555 ";
  pic->contentDataName = "/store/mms/beach.png";
  pic->contentType = "Image";
  pic->contentData = ByteRef::fromBytes(testing::tinyPng());
  auto text = std::make_shared<PRBlackBerryMMSMessageNode>();
  text->numberName = "+1666 ";
  text->contentDataName = "dinner.txt";
  text->contentType = "Document";
  text->contentText = "Dinner at eight";
  text->contentData = ByteRef::fromBytes({'D'});
  post(notify::kBlackBerryMMSMessageInfo, pic);
  post(notify::kBlackBerryMMSMessageInfo, text);
  pr.actMMSMessage();
  EXPECT_EQ(view.text(ResultField::mmsNumber), "Number: Ann Lee +1555 ");
  EXPECT_EQ(view.text(ResultField::mmsAttachment), "Attachment: beach.png");
  EXPECT_EQ(view.text(ResultField::mmsType), "Type: Image");
  EXPECT_EQ(view.images[ResultImage::mms], testing::tinyPng());
  EXPECT_EQ(view.text(ResultField::mmsDetails),
            "Attachment path: /store/mms/beach.png\nAttachment size: " +
                std::to_string(testing::tinyPng().size()) + ".00B");
  pr.tableViewSelectionDidChange({1});
  EXPECT_EQ(view.text(ResultField::mmsAttachment), "Attachment: dinner.txt");
  EXPECT_EQ(view.text(ResultField::mmsContent), "Dinner at eight");
  EXPECT_TRUE(view.images[ResultImage::mms].empty());
  EXPECT_EQ(view.text(ResultField::mmsDetails), "Attachment size: 1.00B");
}

// A content-store row without a picture clears the picture of the row shown before; name
// and size lines follow the row.
TEST_F(Preview, ARowWithoutAPictureClearsThePicture) {
  auto image = std::make_shared<PRBlackBerryContentNode>();
  image->filePathName = "/store/pictures/a.png";
  image->ContentFileType = "Image";
  image->contentFileSize = "2.00B";
  image->contentData = ByteRef::fromBytes({2, 3});
  auto other = std::make_shared<PRBlackBerryContentNode>();
  other->filePathName = "/store/other/file";
  other->ContentFileType = "Video";
  other->contentData = ByteRef::fromBytes({7});
  post(notify::kBlackBerryContentStoreInfo, image);
  post(notify::kBlackBerryContentStoreInfo, other);
  pr.actPhoto();
  EXPECT_EQ(view.images[ResultImage::photo], (Bytes{2, 3}));
  EXPECT_EQ(view.text(ResultField::photoFileName), "Name: a.png");
  EXPECT_EQ(view.text(ResultField::photoFileSize), "Size: 2.00B");
  pr.tableViewSelectionDidChange({1});
  EXPECT_TRUE(view.images[ResultImage::photo].empty());
  EXPECT_EQ(view.text(ResultField::photoFileName), "Name: file");
  EXPECT_EQ(view.text(ResultField::photoDetails), "Kind: Video\nPath: /store/other/file");
}

// Pictures are read from the backup when shown: a backup cut short after the scan shows
// no picture (and does not crash); the bytes that are still there still show.
TEST_F(Preview, PicturesOfABackupTruncatedAfterTheScanAreNotShown) {
  testing::TempFolder t;
  const auto path = t.path() / "backup.ipd";
  testing::writeWholeFile(path, std::string(100, 'a') + std::string(100, 'b'));
  std::string error;
  auto file = InputFile::open(path.string(), &error);
  ASSERT_TRUE(file) << error;

  auto image = std::make_shared<PRBlackBerryContentNode>();
  image->ContentFileType = "Image";
  image->contentData = ByteRef::fromFile(file, {{90, 20}, {150, 50}});
  auto contact = std::make_shared<PRBlackBerryContactNode>();
  contact->contactImageData = ByteRef::fromFile(file, {{0, 3}});
  post(notify::kBlackBerryContentStoreInfo, image);
  post(notify::kBlacBerryContactInfo, contact);

  pr.actPhoto();
  Bytes expect(70, 'b');
  std::fill_n(expect.begin(), 10, 'a');
  EXPECT_EQ(view.images[ResultImage::photo], expect);

  std::filesystem::resize_file(path, 160);
  pr.tableViewSelectionDidChange({0});
  EXPECT_TRUE(view.images[ResultImage::photo].empty());
  pr.actContact();
  EXPECT_EQ(view.images[ResultImage::contact], (Bytes{'a', 'a', 'a'}));
}

TEST_F(Preview, RawImageReadsThroughTheLibrary) {
  auto s = std::make_shared<PRScanListNode>();
  s->fileType = "Image";
  s->fileSizeNumber = 4;
  std::string name = "a.jpg";
  _rec_file_ele ele{0x1000, 4, static_cast<uint32_t>(name.size()), name.data(), nullptr};
  s->setfile(ele);
  s->nodeName = "a.jpg";
  post(notify::kBlackBerryRawRecoveryFileInfo, s);
  host.fileBytes = {9, 8, 7, 6};
  pr.ClickBBImage();
  EXPECT_EQ(host.readCalls, 1);
  EXPECT_EQ(view.images[ResultImage::rawImage], (Bytes{9, 8, 7, 6}));
  EXPECT_EQ(view.text(ResultField::rawImageDetails), "Name: a.jpg\nSize: 4.00B\nKind: Image");

  // Without the library the buffer stays zero-filled (the view shows the generic icon).
  host.libraryPresent = false;
  pr.tableViewSelectionDidChange({0});
  EXPECT_EQ(view.images[ResultImage::rawImage], (Bytes{0, 0, 0, 0}));

  // A file too large to hold leaves the previous preview in place.
  auto big = std::make_shared<PRScanListNode>();
  big->fileType = "Image";
  big->fileSizeNumber = uint64_t{1} << 40;
  post(notify::kBlackBerryRawRecoveryFileInfo, big);
  pr.ClickBBImage();
  pr.tableViewSelectionDidChange({1});
  EXPECT_EQ(view.images[ResultImage::rawImage], (Bytes{0, 0, 0, 0}));
}

// A contact's picture comes from its image data; a photo's from its stored file, read only
// for pictures and only up to a cap. An unreadable file clears the picture.
TEST_F(Preview, PhonePicturesComeFromImageDataAndStoredFiles) {
  auto contact = std::make_shared<PRContactNode>();
  contact->imageData = ByteRef::fromBytes(testing::tinyPng());
  post(notify::kScanContactInfo, contact);
  pr.actContact();
  EXPECT_EQ(view.images[ResultImage::contact], testing::tinyPng());

  testing::TempFolder t;
  testing::writeWholeFile(t.path() / "stored-picture", testing::tinyPngText());
  testing::writeWholeFile(t.path() / "stored-video", "not read");
  testing::writeWholeFile(t.path() / "huge-picture", testing::tinyPngText());
  std::filesystem::resize_file(t.path() / "huge-picture", (uint64_t{32} << 20) + 1);
  auto photo = [&](std::string stored, bool video) {
    auto p = std::make_shared<PRPhotoAndVideoNode>();
    p->fileNodeName = "IMG_" + stored;
    p->fileNodeSize = "69.00B";
    p->filePath = (t.path() / stored).string();
    p->bmov = video;
    return post(notify::kScanPhotoAndVideo, p);
  };
  photo("stored-picture", false);
  photo("absent", false);
  photo("stored-video", true);
  photo("huge-picture", false);
  pr.actPhoto();
  EXPECT_EQ(view.images[ResultImage::photo], testing::tinyPng());
  EXPECT_EQ(view.text(ResultField::photoFileName), "Name: IMG_stored-picture");
  EXPECT_EQ(view.text(ResultField::photoFileSize), "Size: 69.00B");
  for (int row : {1, 2, 3}) {
    pr.tableViewSelectionDidChange({0});
    pr.tableViewSelectionDidChange({row});
    EXPECT_TRUE(view.images[ResultImage::photo].empty()) << row;
  }
}

TEST_F(Preview, PreviewButtonOpensOnlyFaceTwitterFiles) {
  auto f = std::make_shared<PRFaceTwitterNode>();
  f->faceTwitterFilePath = "/backup/ab/cdef";
  post(notify::kScanFaceTwitterInfo, f);
  pr.actPreView();  // no current table
  pr.actFaceTwitter();
  EXPECT_TRUE(view.buttonVisible(ResultButton::preview));
  pr.actPreView();
  ASSERT_EQ(view.openedFiles.size(), 1u);
  EXPECT_EQ(view.openedFiles[0], "/backup/ab/cdef");
  pr.actBookMark();
  pr.actPreView();
  EXPECT_EQ(view.openedFiles.size(), 1u);
}

}  // namespace
}  // namespace tamsel
