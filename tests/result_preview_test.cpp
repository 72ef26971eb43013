#include <gtest/gtest.h>

#include <algorithm>

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

TEST_F(Preview, MessageCallNoteAndBookmarkTexts) {
  auto s = std::make_shared<PRBlackBerrySMSMessageNode>();
  s->numberString = "+1 555";
  s->type = "Received";
  s->contentText = "hello";
  post(notify::kBlackBerrySMSMessageInfo, s);
  pr.actMessage();
  EXPECT_EQ(view.text(ResultField::messagePhone), "Phone: +1 555");
  EXPECT_EQ(view.text(ResultField::messageType), "Type: Received");
  EXPECT_EQ(view.text(ResultField::messageContent), "hello");

  auto c = std::make_shared<PRBlackBerryCallNode>();
  c->CallName = "Ann";
  c->CallNumber = "1";
  c->CallType = "Missed";
  c->callDuration = "2 minutes";
  c->CallTime = "05-12-2014 10:20";
  post(notify::kBlacBerryCallLogInfo, c);
  pr.actCallHistory();
  EXPECT_TRUE(view.fieldVisible(ResultField::callName));
  EXPECT_EQ(view.text(ResultField::callName), "Name: Ann");
  EXPECT_EQ(view.text(ResultField::callType), "Type: Missed");
  EXPECT_EQ(view.text(ResultField::callTime), "Duration: 2 minutes");
  EXPECT_EQ(view.text(ResultField::callDate), "Date: 05-12-2014 10:20");

  auto n = std::make_shared<PRBlackBerryNoteNode>();
  n->noteTittle = "T";
  n->noteContent = "body";
  post(notify::kBlackBerryNoteInfo, n);
  pr.actNote();
  EXPECT_EQ(view.text(ResultField::noteTitle), "Title: T");
  EXPECT_EQ(view.text(ResultField::noteContent), "body");
  EXPECT_EQ(view.text(ResultField::noteNote), "");  // the text is shown once, in the area

  auto b = std::make_shared<PRBookMarkNode>();
  b->bookMarkTitle = "Home";
  b->bookMarkURL = "http://h";
  post(notify::kScanBookMarkInfo, b);
  pr.actBookMark();
  EXPECT_EQ(view.text(ResultField::bookMarkTitle), "Title: \nHome");
  EXPECT_EQ(view.text(ResultField::bookMarkURL), "URL: \nhttp://h");

  // A BlackBerry calendar entry without a place or times leaves those lines empty.
  auto cal = std::make_shared<PRBlackBerryCalenderNode>();
  cal->bbCalSubject = " Yoga";
  cal->bbCalInformation = " Every Thursday";
  post(notify::kBlackBerryCalenderInfo, cal);
  pr.actCalender();
  EXPECT_EQ(view.text(ResultField::calTitle), "Title:  Yoga");
  EXPECT_EQ(view.text(ResultField::calNote), "Note:  Every Thursday");
  EXPECT_EQ(view.text(ResultField::calStartDate), "");
  EXPECT_EQ(view.text(ResultField::calEndDate), "");
  // One with a place and times shows them.
  auto dentist = std::make_shared<PRBlackBerryCalenderNode>();
  dentist->bbCalSubject = " Dentist";
  dentist->bbCalLocation = "Clinic";
  dentist->bbCalStartDate = "04-03-2013 09:15";
  dentist->bbCalEndDate = "04-03-2013 10:00";
  post(notify::kBlackBerryCalenderInfo, dentist);
  pr.actCalender();
  pr.tableViewSelectionDidChange({1});
  EXPECT_EQ(view.text(ResultField::calLocation), "Location: Clinic");
  EXPECT_EQ(view.text(ResultField::calStartDate), "Start: 04-03-2013 09:15");
  EXPECT_EQ(view.text(ResultField::calEndDate), "End: 04-03-2013 10:00");
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

// Each category's details text follows the selected record (FaceTime calls, locked notes,
// the found files of a card scan).
TEST(PreviewDetails, EachCategoryShowsTheRecordsOtherFields) {
  auto facetime = std::make_shared<PRCallHistoryNode>();
  facetime->callService = "FaceTime";
  auto locked = std::make_shared<PRNoteNode>();
  locked->bLocked = true;
  auto found = [](const char* kind) {
    auto f = std::make_shared<PRScanListNode>();
    f->fileType = kind;
    return f;
  };
  const std::tuple<Category, std::string_view, std::shared_ptr<PRNode>, std::string> cases[] = {
      {Category::CallHistory, notify::kScanCallHistoryInfo, facetime, "Service: FaceTime"},
      {Category::Note, notify::kScanNoteInfo, locked, "Locked: Yes"},
      {Category::RawAudio, notify::kBlackBerryRawRecoveryFileInfo, found("Audio"), "Kind: Audio"},
      {Category::RawVideo, notify::kBlackBerryRawRecoveryFileInfo, found("Video"), "Kind: Video"},
      {Category::RawDocument, notify::kBlackBerryRawRecoveryFileInfo, found("Document"),
       "Kind: Document"},
      {Category::RawArchive, notify::kBlackBerryRawRecoveryFileInfo, found("Archive"),
       "Kind: Archive"},
  };
  for (const auto& [category, notification, record, expected] : cases) {
    SCOPED_TRACE(static_cast<int>(category));
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    host.raw = isRawCategory(category);
    PRResultViewController pr{nc, view, host};
    nc.post(notification, record);
    pr.showCategory(category);
    EXPECT_EQ(view.text(detailsField(category)), expected);
  }
}

// A found picture shows both its picture and its details.
TEST_F(Preview, RawImageShowsItsDetailsWithThePicture) {
  auto s = std::make_shared<PRScanListNode>();
  s->nodeName = "a.jpg";
  s->fileType = "Image";
  s->fileSizeNumber = 4;
  std::string name = "a.jpg";
  _rec_file_ele ele{0x1000, 4, static_cast<uint32_t>(name.size()), name.data(), nullptr};
  s->setfile(ele);
  post(notify::kBlackBerryRawRecoveryFileInfo, s);
  host.fileBytes = {9, 8, 7, 6};
  pr.ClickBBImage();
  EXPECT_EQ(view.images[ResultImage::rawImage], (Bytes{9, 8, 7, 6}));
  EXPECT_EQ(view.text(ResultField::rawImageDetails), "Name: a.jpg\nSize: 4.00B\nKind: Image");
}

TEST_F(Preview, ContentStoreShowsOnlyImages) {
  auto audio = std::make_shared<PRBlackBerryContentNode>();
  audio->ContentFileType = "Audio";
  audio->contentData = ByteRef::fromBytes({1});
  auto image = std::make_shared<PRBlackBerryContentNode>();
  image->ContentFileType = "Image";
  image->contentData = ByteRef::fromBytes({2, 3});
  post(notify::kBlackBerryContentStoreInfo, audio);
  post(notify::kBlackBerryContentStoreInfo, image);
  pr.actPhoto();
  EXPECT_TRUE(view.images[ResultImage::photo].empty());  // nothing to show
  pr.tableViewSelectionDidChange({1});
  EXPECT_EQ(view.images[ResultImage::photo], (Bytes{2, 3}));
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
  post(notify::kBlackBerryRawRecoveryFileInfo, s);
  host.fileBytes = {9, 8, 7, 6};
  pr.ClickBBImage();
  EXPECT_EQ(host.readCalls, 1);
  EXPECT_EQ(view.images[ResultImage::rawImage], (Bytes{9, 8, 7, 6}));

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

// Every phone record class fills the fields of its panel when its row is shown.
TEST(PhonePreview, EachClassShowsItsFields) {
  auto contact = std::make_shared<PRContactNode>();
  contact->contactName = "Ann Lee";
  contact->contactPhone = "555 556";
  contact->contactJobtitle = "Boss";
  contact->contactAdress = "1 Main Town";
  auto message = std::make_shared<PRMessageNode>();
  message->messageName = "Ann";
  message->messageDate = "05-12-2014 10:20";
  message->messageContent = "hello";
  auto call = std::make_shared<PRCallHistoryNode>();
  call->callDuration = "00:01:05";
  call->callDate = "05-13-2014 08:00";
  auto note = std::make_shared<PRNoteNode>();
  note->noteContent = "body";
  note->noteDate = "05-14-2014 09:00";
  auto cal = std::make_shared<PRCalenderNode>();
  cal->location = "Town";
  cal->startDate = "05-15-2014 15:00";
  cal->endDate = "05-15-2014 16:00";
  auto app = std::make_shared<PRFaceTwitterNode>();
  app->fileSize = "1.50K";
  app->faceTwitterFilePath = "/backup/ab/abcdef";
  const std::tuple<Category, std::string_view, std::shared_ptr<PRNode>,
                   std::vector<std::pair<ResultField, std::string>>>
      cases[] = {
          {Category::Contact,
           notify::kScanContactInfo,
           contact,
           {{ResultField::contactName, "Ann Lee"},
            {ResultField::contactTitle, "Boss"},
            {ResultField::contactMobile, "Phone: 555 556"},
            {ResultField::contactAddress, "Adress: 1 Main Town"},
            {ResultField::contactPinNumber, ""}}},
          {Category::Message,
           notify::kScanMessageInfo,
           message,
           {{ResultField::messageName, "Name: Ann"},
            {ResultField::messageDate, "Date: 05-12-2014 10:20"},
            {ResultField::messageContent, "hello"}}},
          {Category::CallHistory,
           notify::kScanCallHistoryInfo,
           call,
           {{ResultField::callTime, "Duration: 00:01:05"},
            {ResultField::callDate, "Date: 05-13-2014 08:00"}}},
          {Category::Note,
           notify::kScanNoteInfo,
           note,
           {{ResultField::noteDate, "Date: 05-14-2014 09:00"}, {ResultField::noteContent, "body"}}},
          {Category::Calender,
           notify::kScanCalenderInfo,
           cal,
           {{ResultField::calLocation, "Location: Town"},
            {ResultField::calStartDate, "Start: 05-15-2014 15:00"},
            {ResultField::calEndDate, "End: 05-15-2014 16:00"}}},
          {Category::FaceTwitter,
           notify::kScanFaceTwitterInfo,
           app,
           {{ResultField::faceTwitterFileSize, "Size: 1.50K"},
            {ResultField::faceTwitterFilePath, "Path: /backup/ab/abcdef"}}},
      };
  for (const auto& [category, notification, record, expected] : cases) {
    SCOPED_TRACE(static_cast<int>(category));
    NotificationCenter nc;
    FakeResultView view;
    FakeResultHost host;
    PRResultViewController pr{nc, view, host};
    nc.post(notification, record);
    pr.showCategory(category);
    for (const auto& [field, text] : expected) EXPECT_EQ(view.text(field), text);
  }
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
