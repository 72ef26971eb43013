// The receipt of a recovery (report.html, manifest.csv): every written file by category with
// its size, the SHA-256 of the file on disk and its origin, failures with their reason,
// hostile names escaped for HTML and spreadsheets, no clash with files already there, and
// the command line printing both paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "results/recovery_receipt.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/tiny_png.h"
#include "util/sha256.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

// RFC 4180 reader: rows of cells.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      cell += text[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || text.compare(i, 2, "\r\n") == 0)) {
      row.push_back(std::move(cell));
      cell.clear();
      if (c == '\r') rows.push_back(std::move(row)), row.clear(), ++i;
    } else {
      cell += c;
    }
  }
  if (!cell.empty() || !row.empty()) rows.push_back(std::move(row)), rows.back().push_back(cell);
  return rows;
}

std::string fileSha(const fs::path& p) {
  const std::string bytes = readWholeFile(p);
  return sha256Hex(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// The manifest's rows by file name (failures under "" in order).
struct Manifest {
  std::vector<std::string> header;
  std::map<std::string, std::vector<std::string>> files;
  std::vector<std::string> failures;
};

Manifest readManifest(const fs::path& p) {
  Manifest m;
  auto rows = parseCsv(readWholeFile(p));
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return m;
  m.header = rows[0];
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].size(), 8u) << i;
    if (rows[i].size() != 8) continue;
    if (rows[i][1].empty()) {
      m.failures.push_back(rows[i][7]);
    } else {
      m.files[rows[i][1]] = rows[i];
    }
  }
  return m;
}

// Every written file is in the manifest once, with its real size and digest.
void expectManifestMatchesFolder(const RecoveryReport& r) {
  ASSERT_FALSE(r.manifestCsv.empty());
  const Manifest m = readManifest(r.manifestCsv);
  EXPECT_EQ(m.header, (std::vector<std::string>{"category", "file", "kind", "deleted", "size",
                                                "sha256", "source", "status"}));
  EXPECT_EQ(m.files.size(), r.written.size());
  for (const auto& p : r.written) {
    const std::string rel = p.lexically_relative(r.recoverPath).generic_string();
    auto it = m.files.find(rel);
    ASSERT_NE(it, m.files.end()) << rel;
    EXPECT_EQ(it->second[4], std::to_string(fs::file_size(p))) << rel;
    EXPECT_EQ(it->second[5], fileSha(p)) << rel;
  }
  EXPECT_EQ(m.failures, r.failures);
}

// Cells of a manifest row; an empty one is not checked.
struct Want {
  std::string file, category, kind, deleted, source, status;
};

void expectRows(const Manifest& m, const std::vector<Want>& wants) {
  for (const Want& w : wants) {
    auto it = m.files.find(w.file);
    ASSERT_NE(it, m.files.end()) << w.file;
    const std::pair<size_t, const std::string*> cells[] = {
        {0, &w.category}, {2, &w.kind}, {3, &w.deleted}, {6, &w.source}, {7, &w.status}};
    for (const auto& [column, want] : cells) {
      if (!want->empty()) {
        EXPECT_EQ(it->second[column], *want) << w.file << " column " << column;
      }
    }
  }
}

TEST(ReceiptText, EscapesForHtmlAndSpreadsheets) {
  struct Case {
    std::string in, html, csv;
  };
  const Case cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;",
       "<script>alert(1)</script>"},
      {"a\"b'c&d", "a&quot;b&#39;c&amp;d", "\"a\"\"b'c&d\""},
      {"=HYPERLINK(\"http://x\")", "=HYPERLINK(&quot;http://x&quot;)",
       "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1 555", "+1 555", "'+1 555"},
      {"-2+3", "-2+3", "'-2+3"},
      {"@SUM(A1)", "@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "\xEF\xBF\xBDx", "\xEF\xBF\xBDx"},  // a control never reaches either file
      {"a,b", "a,b", "\"a,b\""},
      {"line\nbreak",
       "line\xEF\xBF\xBD"
       "break",
       "line\xEF\xBF\xBD"
       "break"},
      {"bad \xFF utf8", "bad \xEF\xBF\xBD utf8", "bad \xEF\xBF\xBD utf8"},
      {"rtl \xE2\x80\xAE gpj.exe", "rtl \xEF\xBF\xBD gpj.exe", "rtl \xEF\xBF\xBD gpj.exe"},
      {"caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(htmlEscape(c.in), c.html) << c.in;
    EXPECT_EQ(csvCell(c.in), c.csv) << c.in;
  }
}

template <class T>
std::shared_ptr<T> ticked() {
  auto r = std::make_shared<T>();
  r->bSelected = true;
  return r;
}

std::string pngBytes() {
  const auto png = testing::tinyPng();
  return std::string(png.begin(), png.end());
}

// A phone recovery: photos (one small picture, one past the thumbnail cap, one with a
// hostile name, one whose stored file is gone), contacts live and deleted, notes.
class PhoneReceipt : public ::testing::Test {
 protected:
  void SetUp() override {
    backup_ = t_.path() / "backup";
    out_ = t_.path() / "out";
    fs::create_directories(backup_);
    writeWholeFile(backup_ / "aa11", pngBytes());
    big_ = "\xFF\xD8\xFF" + std::string(kThumbnailMaxBytes, 'j');
    writeWholeFile(backup_ / "bb22", big_);
    writeWholeFile(backup_ / "cc33", "GIF89a hostile");
    auto photo = [&](const std::string& stored, const std::string& name) {
      auto p = ticked<PRPhotoAndVideoNode>();
      p->filePath = (backup_ / stored).string();
      p->fileNodeName = name;
      lists_.photoAndVideoArray.push_back(p);
    };
    photo("aa11", "IMG_0001.PNG");
    photo("bb22", "IMG_0002.JPG");
    photo("cc33", "=cmd|' /C calc'!A0<img src=x onerror=alert(1)>.gif");
    photo("gone", "IMG_0003.JPG");
    auto ann = ticked<PRContactNode>();
    ann->contactName = "Ann";
    ann->rowid = 7;
    auto bob = ticked<PRContactNode>();
    bob->contactName = "Bob";
    bob->rowid = 9;
    bob->bDeleted = true;
    lists_.contactArray = {ann, bob};
    lists_.noteArray = {ticked<PRNoteNode>(), ticked<PRNoteNode>()};
    lists_.noteArray[1]->bDeleted = true;
  }

  RecoveryReport recover() {
    RecoveryWriter w(lists_, false, out_);
    w.setSourceName(backup_.string());
    return w.run();
  }

  TempFolder t_;
  fs::path backup_, out_;
  std::string big_;
  ResultLists lists_;
};

TEST_F(PhoneReceipt, ManifestListsEveryFileWithItsDigestAndTheFailures) {
  const RecoveryReport r = recover();
  EXPECT_EQ(r.reportHtml, out_ / "report.html");
  EXPECT_EQ(r.manifestCsv, out_ / "manifest.csv");
  ASSERT_EQ(r.failures.size(), 1u);  // the photo whose stored file is gone
  ASSERT_NO_FATAL_FAILURE(expectManifestMatchesFolder(r));

  const Manifest m = readManifest(r.manifestCsv);
  const std::string stored = "backup file " + backup_.string() + "/";
  expectRows(
      m, {{"Contact/Ann.vcf", "Contact", "vCard", "no", "address book row 7", "written"},
          {"Contact/Bob.vcf", "Contact", "vCard", "yes", "address book row 9", "written"},
          {"Contact/Contacts.txt", "Contact", "Contact text file", "1 of 2 records",
           "2 records of the scan", "written"},
          {"Note/Notes.txt", "Note", "Note text file", "1 of 2 records", "2 records of the scan",
           "written"},
          {"Message/Messages.txt", "Message", "Message text file", "0 of 0 records",
           "0 records of the scan", "written"},
          {"Photo&Video/IMG_0001.PNG", "Photo&Video", "photo", "no", stored + "aa11", "written"},
          {"Photo&Video/IMG_0002.JPG", "Photo&Video", "photo", "no", stored + "bb22", "written"}});
  // The copy of a stored file has the stored file's digest.
  EXPECT_EQ(m.files.at("Photo&Video/IMG_0002.JPG")[5], fileSha(backup_ / "bb22"));
}

TEST_F(PhoneReceipt, ReportIsSelfContainedEscapedAndEmbedsOnlySmallPictures) {
  const RecoveryReport r = recover();
  ASSERT_EQ(r.failures.size(), 1u);
  const std::string html = readWholeFile(r.reportHtml);
  // Escaped, self-contained (nothing runs, nothing is fetched), the small PNG and the hostile
  // GIF embedded as data, the large JPEG only linked, and the failure with its reason.
  for (const std::string& part :
       {std::string("<h2>Photo&amp;Video</h2>"), std::string("<h2>Contact</h2>"),
        "Source: " + htmlEscape(backup_.string()),
        std::string("&lt;img src=x onerror=alert(1)&gt;"),
        std::string("src=\"data:image/png;base64,"), std::string("data:image/gif;base64,"),
        std::string("<a href=\"Photo%26Video/IMG_0002.JPG\">"), std::string("<h2>Not written</h2>"),
        htmlEscape(r.failures[0])}) {
    EXPECT_NE(html.find(part), std::string::npos) << part;
  }
  for (const char* absent : {"<script", "<img src=x", "http://", "https://", "data:image/jpeg"}) {
    EXPECT_EQ(html.find(absent), std::string::npos) << absent;
  }

  // In the manifest the hostile name cannot start a formula: it follows its folder.
  const Manifest m = readManifest(r.manifestCsv);
  EXPECT_EQ(std::count_if(m.files.begin(), m.files.end(),
                          [](const auto& f) {
                            return f.first.rfind("Photo&Video/", 0) == 0 &&
                                   f.first.find("calc") != std::string::npos;
                          }),
            1);
  const std::string csv = readWholeFile(r.manifestCsv);
  EXPECT_EQ(csv.find("\n="), std::string::npos);
  EXPECT_EQ(csv.find(",="), std::string::npos);
}

TEST_F(PhoneReceipt, ReceiptNeverReplacesAFileOfTheSameName) {
  fs::create_directories(out_);
  writeWholeFile(out_ / "report.html", "mine");
  writeWholeFile(out_ / "manifest.csv", "mine too");
  const RecoveryReport first = recover();
  EXPECT_EQ(first.reportHtml, out_ / "report (2).html");
  EXPECT_EQ(first.manifestCsv, out_ / "manifest (2).csv");
  EXPECT_EQ(readWholeFile(out_ / "report.html"), "mine");
  EXPECT_EQ(readWholeFile(out_ / "manifest.csv"), "mine too");
  // A second run lists only its own files.
  const RecoveryReport second = recover();
  EXPECT_EQ(second.manifestCsv, out_ / "manifest (3).csv");
  ASSERT_NO_FATAL_FAILURE(expectManifestMatchesFolder(second));
  EXPECT_EQ(readManifest(second.manifestCsv).files.count("Contact/Ann (2).vcf"), 1u);
  EXPECT_EQ(readManifest(second.manifestCsv).files.count("Contact/Ann.vcf"), 0u);
}

TEST_F(PhoneReceipt, AFileChangedAfterTheRunIsReadBackAsItIsNow) {
  RecoveryWriter w(lists_, false, out_);
  const RecoveryReport r = w.run();
  // Replaced by a link: the receipt never follows it.
  fs::remove(out_ / "Note" / "Notes.txt");
  fs::create_symlink(backup_ / "aa11", out_ / "Note" / "Notes.txt");
  std::string error;
  auto root = OutputFolder::open(out_, &error);
  ASSERT_TRUE(root) << error;
  const auto rows = receiptRows(*root, r);
  auto row = std::find_if(rows.begin(), rows.end(),
                          [](const auto& x) { return x.name == "Note/Notes.txt"; });
  ASSERT_NE(row, rows.end());
  EXPECT_TRUE(row->sha256.empty());
  EXPECT_NE(row->status.find("cannot be read back"), std::string::npos) << row->status;
}

TEST(BlackBerryReceipt, ContentStoreAndAttachmentsNameTheirOrigin) {
  TempFolder t;
  ResultLists l;
  auto content = ticked<PRBlackBerryContentNode>();
  content->filePathName = "/store/home/user/pictures/IMG00042.png";
  content->contentData = ByteRef::fromBytes(testing::tinyPng());
  content->ContentFileType = "png";
  l.bbContentStoreArray = {content};
  auto mms = ticked<PRBlackBerryMMSMessageNode>();
  mms->contentDataName = "beach.png";
  mms->contentType = "image/png";
  mms->contentData = ByteRef::fromBytes(testing::tinyPng());
  l.bbMMSArray = {mms};
  auto contact = ticked<PRBlackBerryContactNode>();
  contact->contactName = "Carl";
  l.bbContactArray = {contact};
  RecoveryWriter w(l, false, t.path() / "out");
  const RecoveryReport r = w.run();
  EXPECT_TRUE(r.failures.empty());
  ASSERT_NO_FATAL_FAILURE(expectManifestMatchesFolder(r));
  const Manifest m = readManifest(r.manifestCsv);
  expectRows(m, {{"Content_Store/IMG00042.png", "", "content-store file (png)", "",
                  "content store /store/home/user/pictures/IMG00042.png", "written"},
                 {"MMSMessgae/beach.png", "", "MMS attachment (image/png)", "",
                  "MMS attachment beach.png", "written"},
                 {"MMSMessgae/Messages.txt", "", "Message text file", "", "1 records of the scan",
                  "written"},
                 {"Contact/Carl.vcf", "", "vCard", "", "contact record of the backup", "written"}});
  EXPECT_EQ(m.files.at("Content_Store/IMG00042.png")[5],
            sha256Hex(std::span<const uint8_t>(testing::tinyPng())));
}

// A card's files through a library that writes "card:<name>@<start>".
int writeCardFile(list_disk_struct*, _rec_file_ele* ele, int fd, uint64_t* unreadable) {
  const std::string name = ele->pFileName != nullptr ? ele->pFileName : "";
  std::string bytes = "card:" + name + "@" + std::to_string(ele->file_start);
  bytes.resize(ele->file_len);
  if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return errno;
  if (name.rfind("worn", 0) != 0) return 0;
  *unreadable = 512;
  return TAMSEL_DISKLIB_ZERO_FILLED;
}

TEST(RawReceipt, FoundFilesGiveTheirCardOffsetDeletedMarkAndIncompleteState) {
  TempFolder t;
  export_function_table table{};
  table.writeFoundFile = writeCardFile;
  table.abi_version = 2;
  table.table_size = offsetof(export_function_table, writeFoundFile64);
  auto node = [](const std::string& name, uint64_t start, bool deleted) {
    auto n = std::make_shared<PRScanListNode>();
    _rec_file_ele e{};
    e.file_start = start;
    e.file_len = 40;
    std::string copy = name;
    e.file_name_len = static_cast<uint32_t>(copy.size());
    e.pFileName = copy.data();
    n->setfile(e);
    n->nodeName = name;
    n->fileType = "jpg";
    n->bDeleted = deleted ? "Yes" : "";
    n->bSelected = true;
    return n;
  };
  ResultLists l;
  l.bbImageArray = {node("DCIM_1.jpg", 8192, false), node("worn.jpg", 1048576, true)};
  l.bbDocumentArray = {node("+SUM(1).txt", 4096, true)};
  RecoveryWriter w(l, true, t.path() / "out", &table, nullptr);
  const RecoveryReport r = w.run();
  EXPECT_EQ(r.incomplete, 1);
  ASSERT_NO_FATAL_FAILURE(expectManifestMatchesFolder(r));
  const std::string kind = "found file (jpg)";
  expectRows(
      readManifest(r.manifestCsv),
      {{"Image/DCIM_1.jpg", "", kind, "no", "card byte 8192, found as DCIM_1.jpg", "written"},
       {"Image/worn.jpg", "", kind, "yes", "card byte 1048576, found as worn.jpg",
        "written incomplete"},
       {"Document/+SUM(1).txt", "", kind, "yes", "card byte 4096, found as +SUM(1).txt",
        "written"}});
}

TEST(ReceiptCli, RecoverOfASampleBackupPrintsAndWritesBothFiles) {
  TempFolder t;
  const testing::SampleBackup sample = testing::writeSampleBackup(t.path() / "backup");
  const fs::path out = t.path() / "out";
  const testing::CliRun r = testing::runCli(
      TAMSEL_CLI_PATH,
      "-q --work-dir " + testing::shellQuote((t.path() / "work").string()) + " recover " +
          testing::shellQuote(sample.folder.string()) + " " + testing::shellQuote(out.string()),
      t.path() / "err");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Report: " + (out / "report.html").string() + "\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Manifest: " + (out / "manifest.csv").string() + "\n"), std::string::npos)
      << r.out;
  const Manifest m = readManifest(out / "manifest.csv");
  EXPECT_TRUE(m.failures.empty());
  size_t photos = 0;
  for (const auto& [name, row] : m.files) photos += row[0] == "Photo&Video";
  EXPECT_EQ(photos, sample.photos);
  EXPECT_NE(
      readWholeFile(out / "report.html").find("Source: " + htmlEscape(sample.folder.string())),
      std::string::npos);
}

}  // namespace
}  // namespace tamsel
