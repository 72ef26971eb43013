// The deleted-record steps of the phone scan over generated backups whose databases hold
// deleted rows (some only in the stored write-ahead log): what share of the rows whose bytes
// survive is listed, with the right fields, by the carvers alone and with the schema-aware pass;
// no invented record; the progress values; missing databases and a stop; the duplicate rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "events/deleted_keys.h"
#include "events/notification_names.h"
#include "ios/contacts_messages.h"
#include "ios/deleted_rows.h"
#include "ios/deleted_steps.h"
#include "ios/iphone_source.h"
#include "ios/phone_records.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"
#include "tests/fixtures/ios_deleted_truth.h"
#include "tests/fixtures/temp_folder.h"
#include "util/date.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::DeletedTruth;
using testing::PhoneGeneration;
using testing::TempFolder;
using testing::TruthRow;

constexpr int kRowsPerDatabase = 48;

std::string date(int64_t t, int kind) {
  return GetDateTime(t, kind).value_or("");
}

// Which database a deleted record belongs to, and whether it is the record of `row` with the
// fields the row was written with.
bool recordOf(const PRNode& rec, const TruthRow& row) {
  if (const auto* c = dynamic_cast<const PRContactNode*>(&rec)) {
    // A person whose row id went with its cell cannot be joined with its numbers: no number
    // then, but never another person's.
    return row.database == "contacts" && c->contactName.rfind(row.text + " Lindqvist", 0) == 0 &&
           (c->contactPhone.empty() || c->contactPhone == " " + row.phone);
  }
  if (const auto* m = dynamic_cast<const PRMessageNode*>(&rec)) {
    return row.database == "messages" && m->messageContent == row.text &&
           m->messagePhone == row.phone && m->messageDate == date(row.date, 0);
  }
  if (const auto* call = dynamic_cast<const PRCallHistoryNode*>(&rec)) {
    return row.database == "calls" && call->callPhone == row.text &&
           call->callDate == date(row.date, 0);
  }
  if (const auto* n = dynamic_cast<const PRNoteNode*>(&rec)) {
    return row.database == "notes" && n->noteContent == row.text;
  }
  if (const auto* b = dynamic_cast<const PRBookMarkNode*>(&rec)) {
    return row.database == "bookmarks" && b->bookMarkTitle == row.text &&
           b->bookMarkURL == row.title;
  }
  if (const auto* e = dynamic_cast<const PRCalenderNode*>(&rec)) {
    return row.database == "calendar" && e->calTitle == row.text && e->calNote == row.title &&
           e->startDate == date(row.date, 1);
  }
  return false;
}

// The distinctive text of a deleted record: what must name one of the written rows.
std::string textOf(const PRNode& rec) {
  if (const auto* c = dynamic_cast<const PRContactNode*>(&rec)) {
    return c->contactName.substr(0, c->contactName.find(' '));
  }
  if (const auto* m = dynamic_cast<const PRMessageNode*>(&rec)) return m->messageContent;
  if (const auto* call = dynamic_cast<const PRCallHistoryNode*>(&rec)) return call->callPhone;
  if (const auto* n = dynamic_cast<const PRNoteNode*>(&rec)) return n->noteContent;
  if (const auto* b = dynamic_cast<const PRBookMarkNode*>(&rec)) return b->bookMarkTitle;
  if (const auto* e = dynamic_cast<const PRCalenderNode*>(&rec)) return e->calTitle;
  return {};
}

// The deleted records a scan lists, by the presenter's rule, and its progress values.
struct Listed {
  explicit Listed(NotificationCenter& nc) : nc_(nc) {
    for (std::string_view name :
         {notify::kScanContactInfo, notify::kScanMessageInfo, notify::kScanCallHistoryInfo,
          notify::kScanNoteInfo, notify::kScanBookMarkInfo, notify::kScanCalenderInfo}) {
      nc_.addObserver(this, name, [this](const Notification& n) {
        if (auto r = n.record<PRNode>()) keys.noteLive(*r);
      });
    }
    for (std::string_view name : {notify::kScanDelContactInfo, notify::kScanDelMessageInfo,
                                  notify::kScanDelNoteInfo, notify::kScanDelCallHistoryInfo,
                                  notify::kScanDelBookMarkInfo, notify::kScanDelCalenderInfo}) {
      nc_.addObserver(this, name, [this](const Notification& n) {
        auto r = n.record<PRNode>();
        if (r && keys.admitDeleted(*r) == DeletedRecordKeys::Verdict::listed) {
          deleted.push_back(r);
        }
      });
    }
    nc_.addObserver(this, notify::kScanProgressInfo,
                    [this](const Notification& n) { progress.push_back(n.number(-1)); });
  }
  ~Listed() { nc_.removeObserver(this); }

  NotificationCenter& nc_;
  DeletedRecordKeys keys;
  std::vector<std::shared_ptr<PRNode>> deleted;
  std::vector<int64_t> progress;
};

struct Figures {
  int surviving = 0;
  int found = 0;
};

// Per database: the surviving deleted rows and how many of them `records` holds.
std::map<std::string, Figures> figures(const DeletedTruth& truth,
                                       const std::vector<std::shared_ptr<PRNode>>& records) {
  std::map<std::string, Figures> f;
  for (const TruthRow& row : truth.rows) {
    if (!row.survives) continue;
    Figures& fig = f[row.database];
    ++fig.surviving;
    fig.found += std::any_of(records.begin(), records.end(),
                             [&](const auto& rec) { return recordOf(*rec, row); });
  }
  return f;
}

class DeletedStepsTest : public ::testing::TestWithParam<PhoneGeneration> {
 protected:
  void SetUp() override {
    previous_ = setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    backup_ = t_.path() / "backup";
    truth_ = testing::writeDeletedTruthBackup(backup_, GetParam(), kRowsPerDatabase);
  }
  void TearDown() override { setLogSink(previous_); }

  ScanContext& context(NotificationCenter& nc) {
    ctx_ = std::make_unique<ScanContext>(nc);
    ctx_->runDir = t_.path() / ("run" + std::to_string(++runs_));
    fs::create_directories(ctx_->runDir);
    ctx_->currentNodeIsiOS6Version = GetParam() == PhoneGeneration::kIos6;
    ctx_->iosMajorVersion = GetParam() == PhoneGeneration::kIos6 ? 6 : 5;
    return *ctx_;
  }
  // True when the deleted record's distinctive text is that of a written row.
  bool namesARow(const PRNode& rec) const {
    const std::string text = textOf(rec);
    return std::any_of(truth_.rows.begin(), truth_.rows.end(),
                       [&](const TruthRow& row) { return row.text == text; });
  }
  const char* generation() const { return GetParam() == PhoneGeneration::kIos6 ? "6" : "5"; }

  TempFolder t_;
  fs::path backup_;
  DeletedTruth truth_;
  std::unique_ptr<ScanContext> ctx_;
  int runs_ = 0;
  std::vector<std::string> log_;
  LogSink previous_;
};

TEST_P(DeletedStepsTest, TheTruthHasDeletedRowsInTheFileAndInTheLogOnly) {
  std::map<std::string, std::pair<int, int>> survivingInFileAndLog;
  for (const TruthRow& r : truth_.rows) {
    if (r.survives)
      (r.inLog ? survivingInFileAndLog[r.database].second
               : survivingInFileAndLog[r.database].first)++;
  }
  for (const char* db : testing::kTruthDatabases) {
    EXPECT_GT(survivingInFileAndLog[db].first, 0) << db;
    EXPECT_GT(survivingInFileAndLog[db].second, 0) << db;
  }
}

// The carvers alone, then with the schema-aware pass: the figures are printed, and together
// they list nine in ten of the deleted rows whose bytes survive, with the right fields.
TEST_P(DeletedStepsTest, SurvivingDeletedRowsAreListedWithTheirFields) {
  NotificationCenter nc;
  Listed listed(nc);
  ScanContext& ctx = context(nc);
  const std::string path = backup_.string();
  scanContactThread(path, ctx);
  scanMessageThread(path, ctx);
  scanCallHistoryThread(path, ctx);
  scanNoteThread(path, ctx);
  scanBookMarkThread(path, ctx);
  scanCalenderThread(path, ctx);
  scanDelContactThread(path, ctx);
  scanDelMessageThread(path, ctx);
  scanDelNoteThread(path, ctx);
  scanDelCallHistoryThread(path, ctx);
  ScanDelBookMarkThread(path, ctx);
  ScanDelCalenderThread(path, ctx);
  const std::map<std::string, Figures> carvers = figures(truth_, listed.deleted);
  const size_t byCarvers = listed.deleted.size();
  // The pass keeps the keys of what it posts itself, as the scan hands it its own set.
  DeletedRecordKeys seen = listed.keys;
  scanDeletedRows(path, ctx, seen);
  const std::map<std::string, Figures> both = figures(truth_, listed.deleted);

  for (const char* db : testing::kTruthDatabases) {
    const Figures& a = carvers.at(db);
    const Figures& b = both.at(db);
    std::printf(
        "system %s %-9s surviving deleted rows %3d, listed by the carver %3d, with the "
        "schema-aware pass %3d\n",
        generation(), db, b.surviving, a.found, b.found);
    RecordProperty(std::string(db) + "_surviving", b.surviving);
    RecordProperty(std::string(db) + "_carver", a.found);
    RecordProperty(std::string(db) + "_with_schema_pass", b.found);
    EXPECT_GE(b.found * 10, b.surviving * 9) << db;
  }
  // Every record the schema-aware pass adds names a written row: none is made of stray bytes.
  for (size_t i = byCarvers; i < listed.deleted.size(); ++i) {
    EXPECT_TRUE(namesARow(*listed.deleted[i]))
        << "no such row: \"" << textOf(*listed.deleted[i]) << "\"";
  }
}

TEST_P(DeletedStepsTest, TheWholeScanListsDeletedRowsMarkedAndInventsNone) {
  NotificationCenter nc;
  fakes::FakeResultView view;
  fakes::FakeResultHost host;
  PRResultViewController pr(nc, view, host);
  pr.showView();
  Listed listed(nc);
  ScanContext& ctx = context(nc);
  const ScanOutcome o = IphoneBackupSource().scan(backup_.string(), ctx);
  ASSERT_TRUE(o.readable) << o.error;

  std::vector<int64_t> tail;
  for (int64_t v : listed.progress) {
    if (v >= 75) tail.push_back(v);
  }
  EXPECT_EQ(tail, (std::vector<int64_t>{75, 80, 85, 90, 95, 100}));

  const ResultLists lists = pr.snapshot();
  std::vector<std::shared_ptr<PRNode>> deleted;
  auto take = [&](const auto& list) {
    for (const auto& r : list) {
      if (r->bDeleted) deleted.push_back(r);
    }
  };
  take(lists.contactArray);
  take(lists.messageArray);
  take(lists.callHistoryArray);
  take(lists.noteArray);
  take(lists.bookMarkArray);
  take(lists.calenderArray);
  const ScanCounters c = pr.counters();
  EXPECT_EQ(deleted.size(),
            static_cast<size_t>(c.delContactNum + c.delMessageNum + c.delNoteNum + c.delCallNum +
                                c.delBookMarkNum + c.delCalenderNum));
  for (const auto& [db, f] : figures(truth_, deleted)) {
    EXPECT_GE(f.found * 10, f.surviving * 9) << db;
  }
  // No listed record is made of stray bytes: each names a written row (a carver reading a
  // column at the wrong place lists garbled texts).
  const auto stray = std::count_if(deleted.begin(), deleted.end(),
                                   [&](const auto& rec) { return !namesARow(*rec); });
  std::printf("system %s whole scan: %zu deleted records listed, %zd of them match no row\n",
              generation(), deleted.size(), static_cast<ssize_t>(stray));
  RecordProperty("stray_records", static_cast<int>(stray));
  for (const auto& rec : deleted) {
    EXPECT_TRUE(namesARow(*rec)) << "no such row: \"" << textOf(*rec) << "\"";
  }
  // The presenter and the scan's own duplicate rule agree.
  EXPECT_EQ(deleted.size(), listed.deleted.size());
}

TEST_P(DeletedStepsTest, AStopEndsTheStepsWithoutProgress) {
  NotificationCenter nc;
  Listed listed(nc);
  ScanContext& ctx = context(nc);
  ctx.stopRequested = true;
  const std::string path = backup_.string();
  for (auto step : {scanDelContactThread, scanDelMessageThread, scanDelNoteThread,
                    scanDelCallHistoryThread, ScanDelBookMarkThread, ScanDelCalenderThread}) {
    step(path, ctx);
  }
  DeletedRecordKeys seen;
  scanDeletedRows(path, ctx, seen);
  EXPECT_TRUE(listed.progress.empty());
  EXPECT_TRUE(listed.deleted.empty());
}

INSTANTIATE_TEST_SUITE_P(Generations, DeletedStepsTest,
                         ::testing::Values(PhoneGeneration::kIos5, PhoneGeneration::kIos6),
                         [](const auto& info) {
                           return info.param == PhoneGeneration::kIos6 ? "System6" : "System5";
                         });

// A backup without the step's database: the step's line, and nothing posted.
TEST(DeletedSteps, AMissingDatabaseIsLoggedAndPostsNothing) {
  struct Case {
    void (*step)(const std::string&, ScanContext&);
    const char* line;  // none: nothing logged
  };
  const Case cases[] = {
      {scanDelContactThread, "contactDB is not exist"},
      {scanDelMessageThread, "messageDB is not exist"},
      {scanDelNoteThread, "NoteDB is not exist"},
      {scanDelCallHistoryThread, "messageDB is not exist"},
      {ScanDelBookMarkThread, nullptr},
      {ScanDelCalenderThread, "NoteDB is not exist"},
  };
  TempFolder t;
  std::vector<std::string> log;
  LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
  for (const Case& c : cases) {
    NotificationCenter nc;
    Listed listed(nc);
    ScanContext ctx(nc);
    ctx.runDir = t.path();
    log.clear();
    c.step(t.path().string(), ctx);
    c.step("", ctx);  // no folder: not even the line
    EXPECT_TRUE(listed.progress.empty());
    EXPECT_EQ(log, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
  setLogSink(previous);
}

// The shared duplicate rule, category by category: empty records and records equal in the key
// fields to a listed one (live or deleted) are not listed.
TEST(DeletedRecordKeysTest, EmptyAndListedRecordsAreNotListed) {
  using V = DeletedRecordKeys::Verdict;
  auto message = [](std::string phone, std::string text, std::string when) {
    auto m = std::make_shared<PRMessageNode>();
    m->messagePhone = std::move(phone);
    m->messageContent = std::move(text);
    m->messageDate = std::move(when);
    return m;
  };
  auto event = [](std::string title, std::string note, std::string start) {
    auto e = std::make_shared<PRCalenderNode>();
    e->calTitle = std::move(title);
    e->calNote = std::move(note);
    e->startDate = std::move(start);
    return e;
  };
  auto call = [](std::string name, std::string phone, std::string when) {
    auto c = std::make_shared<PRCallHistoryNode>();
    c->callName = std::move(name);
    c->callPhone = std::move(phone);
    c->callDate = std::move(when);
    return c;
  };
  DeletedRecordKeys keys;
  keys.noteLive(*message("+1", "hello", "01-02-2013 10:00"));
  struct Case {
    std::shared_ptr<PRNode> record;
    V expected;
  };
  const Case cases[] = {
      {message("+1", "hello", "01-02-2013 10:00"), V::duplicate},  // equal to the live one
      {message("+1", "hello", "01-02-2013 10:01"), V::listed},     // another date
      {message("+1", "hello", "01-02-2013 10:01"), V::duplicate},  // equal to the one before
      {message("", "", "01-02-2013 10:01"), V::empty},
      {message("", "only text", ""), V::listed},
      // Field boundaries count: "ab" + "c" is not "a" + "bc".
      {message("ab", "c", ""), V::listed},
      {message("a", "bc", ""), V::listed},
      {event("Regatta", "slipway", "03-04-2013 09:00"), V::listed},
      {event("Regatta", "slipway", "03-05-2013 09:00"), V::listed},
      {event("", "", ""), V::empty},
      {call("", "", "x"), V::empty},
      {call("Anna", "", "x"), V::listed},
      {std::make_shared<PRContactNode>(), V::listed},  // a contact is never empty
      {std::make_shared<PRContactNode>(), V::duplicate},
      {std::make_shared<PRBookMarkNode>(), V::empty},
      {std::make_shared<PRNoteNode>(), V::listed},  // nor is a note
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(keys.verdictFor(*cases[i].record), cases[i].expected) << "case " << i;
    EXPECT_EQ(keys.admitDeleted(*cases[i].record), cases[i].expected) << "case " << i;
  }
  keys.clear();
  EXPECT_EQ(keys.admitDeleted(*message("+1", "hello", "01-02-2013 10:00")), V::listed);
}

}  // namespace
}  // namespace tamsel
