// The JSON export written record by record: the layout of a whole two-space indented
// document, text that is not UTF-8, byte fields hashed from the input (and ones that can no
// longer be read), and a writer that fails part way.
#include "cli/record_json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/json_export.h"
#include "tests/fixtures/temp_folder.h"
#include "util/sha256.h"

namespace tamsel::cli {
namespace {

using Json = nlohmann::ordered_json;

struct Export {
  std::string text;
  std::vector<std::string> warnings;
  bool ok = false;
};

Export exportOf(const ResultLists& lists, std::string_view source = "/b.ipd",
                std::string_view kind = "blackberry") {
  Export e;
  e.ok = writeRecordsJson(
      source, kind, lists,
      [&e](std::string_view piece) {
        e.text.append(piece);
        return true;
      },
      [&e](const std::string& line) { e.warnings.push_back(line); });
  return e;
}

std::shared_ptr<PRScanListNode> found(std::string name) {
  auto n = std::make_shared<PRScanListNode>();
  n->nodeName = std::move(name);
  _rec_file_ele ele{0x200, 10, 3, const_cast<char*>("a.b"), nullptr};
  n->setfile(ele);
  return n;
}

TEST(RecordJson, LayoutIsThatOfTheWholeIndentedDocument) {
  ResultLists l;
  auto memo = std::make_shared<PRBlackBerryNoteNode>();
  memo->noteTittle = "Shopping";
  memo->noteContent = "milk\n\"eggs\"";
  l.bbNoteArray = {memo, std::make_shared<PRBlackBerryNoteNode>()};
  auto content = std::make_shared<PRBlackBerryContentNode>();
  content->contentData = ByteRef::fromBytes({1, 2, 3});
  content->fileSize = 3;
  l.bbContentStoreArray = {content};
  // The raw kinds share one class: their lists follow each other in one array.
  l.bbImageArray = {found("a.jpg")};
  l.bbAudioArray = {found("b.mp3"), found("c.mp3")};

  Export e = exportOf(l);
  ASSERT_TRUE(e.ok);
  Json doc = Json::parse(e.text);
  EXPECT_EQ(doc.dump(2) + "\n", e.text);
  EXPECT_EQ(doc["records"].size(), 3u);
  EXPECT_EQ(doc["records"]["PRBlackBerryNoteNode"][0]["noteContent"], "milk\n\"eggs\"");
  EXPECT_EQ(doc["records"]["PRScanListNode"].size(), 3u);
  EXPECT_EQ(doc["records"]["PRScanListNode"][2]["nodeName"], "c.mp3");
  EXPECT_EQ(doc["records"]["PRBlackBerryContentNode"][0]["contentData"]["sha256"],
            sha256Hex(std::vector<uint8_t>{1, 2, 3}));

  Export empty = exportOf(ResultLists{}, "/x", "raw");
  EXPECT_EQ(empty.text, "{\n  \"source\": \"/x\",\n  \"kind\": \"raw\",\n  \"records\": {}\n}\n");
}

// The scan command serialises records as they are posted, in whatever order the backup
// holds them, and keeps none: its document is byte for byte the one written from lists.
TEST(RecordJson, SpooledWhileScanningIsTheDocumentOfTheLists) {
  ResultLists l;
  std::vector<std::shared_ptr<PRNode>> posted;
  for (int i = 0; i < 3; ++i) {
    auto memo = std::make_shared<PRBlackBerryNoteNode>();
    memo->noteTittle = "memo " + std::to_string(i);
    auto call = std::make_shared<PRBlackBerryCallNode>();
    call->CallNumber = "+1555010" + std::to_string(i);
    auto sms = std::make_shared<PRBlackBerrySMSMessageNode>();
    sms->contentData = ByteRef::fromBytes({uint8_t(i), 7});
    l.bbNoteArray.push_back(memo);
    l.bbCallArray.push_back(call);
    l.bbSMSArray.push_back(sms);
    posted.insert(posted.end(), {sms, memo, call, found("ignored.jpg")});
  }
  testing::TempFolder t;
  for (bool withFolder : {true, false}) {
    RecordJsonSpool spool([&] { return withFolder ? t.path() : std::filesystem::path(); }, nullptr,
                          true);
    for (const auto& r : posted) spool.add(*r);
    EXPECT_EQ(spool.count(1), 3u);
    EXPECT_EQ(spool.count(0), 0u);
    std::string text;
    ASSERT_TRUE(spool.finish("/b.ipd", "blackberry", [&text](std::string_view piece) {
      text.append(piece);
      return true;
    })) << spool.error();
    EXPECT_EQ(text, exportOf(l).text);
  }
  // The spool files have no names: nothing is left in the run folder.
  EXPECT_TRUE(std::filesystem::is_empty(t.path()));

  RecordJsonSpool countsOnly({}, nullptr, false);
  for (const auto& r : posted) countsOnly.add(*r);
  EXPECT_EQ(countsOnly.count(4), 3u);
  std::string empty;
  ASSERT_TRUE(countsOnly.finish("/x", "blackberry", [&empty](std::string_view piece) {
    empty.append(piece);
    return true;
  }));
  EXPECT_EQ(empty, exportOf(ResultLists{}, "/x").text);
}

// A phone backup's records go into the same document, spooled in the phone classes' order,
// after the "device" member; every field by its name, the picture as size and digest.
TEST(RecordJson, PhoneRecordsAndDeviceAreWritten) {
  ResultLists l;
  auto contact = std::make_shared<PRContactNode>();
  contact->rowid = 7;
  contact->contactName = "Anna Smith";
  contact->imageData = ByteRef::fromBytes({9, 8, 7});
  contact->phoneNumbers = {"+46 70 123", "555"};
  auto photo = std::make_shared<PRPhotoAndVideoNode>();
  photo->fileNodeName = "IMG_0001.JPG";
  photo->filePath = "/backup/ab/abcdef";
  photo->bmov = false;
  auto app = std::make_shared<PRFaceTwitterNode>();
  app->faceTwitterFileName = "feed.json";
  auto call = std::make_shared<PRCallHistoryNode>();
  call->callPhone = "+15550100";
  call->callTime = 125;
  call->bDeleted = true;
  l.contactArray = {contact};
  l.photoAndVideoArray = {photo};
  l.faceTwitterArray = {app};
  l.callHistoryArray = {call};

  PRIOSDeviceNode device;
  device.strDeviceName = "Anna's phone";
  device.strIOSVersion = "6.1.3";
  device.encrypted = false;
  RecordJsonSpool spool({}, nullptr, true);
  // Posted out of the document's order.
  for (const std::shared_ptr<PRNode>& r :
       std::vector<std::shared_ptr<PRNode>>{app, photo, call, contact}) {
    spool.add(*r);
  }
  EXPECT_EQ(spool.count(RecordJsonSpool::kFirstPhoneClass), 1u);
  std::string text;
  ASSERT_TRUE(spool.finish(
      "/backup", "iphone",
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      deviceMember(device)));
  Json doc = Json::parse(text);
  EXPECT_EQ(doc.dump(2) + "\n", text) << "laid out as the whole document";
  EXPECT_EQ(doc["kind"], "iphone");
  EXPECT_EQ(doc["device"]["strDeviceName"], "Anna's phone");
  EXPECT_EQ(doc["device"]["encrypted"], false);
  EXPECT_EQ(doc["device"].size(), 11u);
  std::vector<std::string> classes;
  for (const auto& [cls, list] : doc["records"].items()) classes.push_back(cls);
  EXPECT_EQ(classes, (std::vector<std::string>{"PRContactNode", "PRCallHistoryNode",
                                               "PRPhotoAndVideoNode", "PRFaceTwitterNode"}));
  const Json& c = doc["records"]["PRContactNode"][0];
  EXPECT_EQ(c["rowid"], 7);
  EXPECT_EQ(c["imageData"]["sha256"], sha256Hex(std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(c["phoneNumbers"], Json::array({"+46 70 123", "555"}));
  EXPECT_EQ(doc["records"]["PRCallHistoryNode"][0]["bDeleted"], true);
  EXPECT_EQ(doc["records"]["PRPhotoAndVideoNode"][0]["filePath"], "/backup/ab/abcdef");

  // The lists' document holds the same records (without the device).
  Json fromLists = Json::parse(exportOf(l, "/backup", "iphone").text);
  doc.erase("device");
  EXPECT_EQ(fromLists, doc);
}

TEST(RecordJson, TextThatIsNotUtf8IsReplacedNotFatal) {
  ResultLists l;
  auto memo = std::make_shared<PRBlackBerryNoteNode>();
  memo->noteTittle = "bad \xFF\xC3 end";
  l.bbNoteArray = {memo};
  l.bbImageArray = {found("caf\xE9.jpg")};
  Export e = exportOf(l, "/backups/\xFE.ipd");
  ASSERT_TRUE(e.ok);
  Json doc = Json::parse(e.text);
  EXPECT_EQ(doc["source"], "/backups/\xEF\xBF\xBD.ipd");
  EXPECT_EQ(doc["records"]["PRBlackBerryNoteNode"][0]["noteTittle"],
            "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
  EXPECT_EQ(doc["records"]["PRScanListNode"][0]["nodeName"], "caf\xEF\xBF\xBD.jpg");
}

TEST(RecordJson, ByteFieldsAreHashedFromTheInputOrSayWhyNot) {
  testing::TempFolder t;
  const auto path = t.path() / "in.ipd";
  testing::writeWholeFile(path, std::string(5000, 'z'));
  std::string error;
  auto file = InputFile::open(path.string(), &error);
  ASSERT_TRUE(file) << error;

  ResultLists l;
  auto mms = std::make_shared<PRBlackBerryMMSMessageNode>();
  mms->contentData = ByteRef::fromFile(file, {{0, 100}, {1000, 50}});
  auto lost = std::make_shared<PRBlackBerryMMSMessageNode>();
  lost->contentData = ByteRef::fromFile(file, {{4000, 1000}});
  l.bbMMSArray = {mms, lost};
  std::filesystem::resize_file(path, 4500);

  Export e = exportOf(l);
  ASSERT_TRUE(e.ok);
  Json doc = Json::parse(e.text);
  const Json& first = doc["records"]["PRBlackBerryMMSMessageNode"][0]["contentData"];
  EXPECT_EQ(first["size"], 150);
  EXPECT_EQ(first["sha256"], sha256Hex(std::vector<uint8_t>(150, 'z')));
  const Json& second = doc["records"]["PRBlackBerryMMSMessageNode"][1]["contentData"];
  EXPECT_EQ(second["size"], 1000);
  EXPECT_TRUE(second["sha256"].is_null());
  EXPECT_NE(second["readError"].get<std::string>().find("shorter than when it was scanned"),
            std::string::npos);
  ASSERT_EQ(e.warnings.size(), 1u);
}

// An input that shrank after the scan (a card pulled out) still gives a whole document, but
// the export says it is partial (exit status 3) rather than succeeding.
TEST(RecordJson, ExportWithUnreadableBytesIsPartial) {
  testing::TempFolder t;
  const auto path = t.path() / "in.ipd";
  testing::writeWholeFile(path, std::string(5000, 'z'));
  auto file = InputFile::open(path.string());
  ASSERT_TRUE(file);
  ResultLists l;
  for (int i = 0; i < 30; ++i) {
    auto c = std::make_shared<PRBlackBerryContentNode>();
    c->contentData = ByteRef::fromFile(file, {{uint64_t(i) * 100, 100}});
    l.bbContentStoreArray.push_back(c);
  }
  const std::string out = (t.path() / "out.json").string();
  EXPECT_EQ(writeJsonExport(out, false, path.string(), "blackberry", l), 0);
  std::filesystem::resize_file(path, 1000);
  EXPECT_EQ(writeJsonExport(out, true, path.string(), "blackberry", l), 3);
  Json doc = Json::parse(testing::readWholeFile(out));
  const Json& records = doc["records"]["PRBlackBerryContentNode"];
  ASSERT_EQ(records.size(), 30u);
  EXPECT_FALSE(records[9]["contentData"]["sha256"].is_null());
  EXPECT_TRUE(records[10]["contentData"]["sha256"].is_null());
}

TEST(RecordJson, AFailedWriteStopsTheExport) {
  ResultLists l;
  for (int i = 0; i < 10; ++i) l.bbNoteArray.push_back(std::make_shared<PRBlackBerryNoteNode>());
  for (int failAt : {0, 1, 3, 9}) {
    int writes = 0;
    const bool ok = writeRecordsJson(
        "/b", "blackberry", l, [&](std::string_view) { return writes++ < failAt; },
        [](const std::string&) {});
    EXPECT_FALSE(ok) << failAt;
    EXPECT_EQ(writes, failAt + 1) << "no write after the failed one";
  }
}

}  // namespace
}  // namespace tamsel::cli
