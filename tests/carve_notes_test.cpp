// The carver of deleted notes: databases written by SQLite (rollback journal and write-ahead-log
// mode, rows only in the log) and hand-built pages for the join, the anchors of each mode and
// reads held to the page.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "carve/deleted_notes.h"
#include "events/notification_names.h"
#include "tests/fixtures/carve_db_notes_calls.h"
#include "util/date.h"

namespace tamsel {
namespace {

using namespace fixtures;
using Found = std::vector<std::shared_ptr<PRNoteNode>>;

Found carve(const CarveBytes& db, const CarveBytes& log = {}, bool stop = false) {
  NotificationCenter nc;
  ScanContext ctx(nc);
  ctx.stopRequested = stop;
  Found out;
  nc.addObserver(notify::kScanDelNoteInfo,
                 [&](const Notification& n) { out.push_back(n.record<PRNoteNode>()); });
  carveDeletedNotes(*CarveInput::fromBytes(db, log), ctx);
  return out;
}

const PRNoteNode* withContent(const Found& found, const std::string& text) {
  for (const auto& n : found) {
    if (n->noteContent == text) return n.get();
  }
  return nullptr;
}

struct NoteCase {
  int pk;
  std::string title, body, content;
  bool deleted, titleInLogMode;  // a two-byte title code is misread in log mode
};
const std::vector<NoteCase> kNotes = {
    {11, "Shopping", "<div>milk</div><div>eggs&nbsp;and<br></div>", "milk\neggs and\n\n", false,
     true},
    {12, std::string(60, 't'), std::string(300, 'b'), std::string(300, 'b'), true, false},
    {13, "Gone", "deleted text", "deleted text", true, true},
    {50, "Logged", "only in the log", "only in the log", true, true},  // log mode only
};

class CarveNotesSqlite : public ::testing::TestWithParam<bool> {};

TEST_P(CarveNotesSqlite, LiveAndDeletedBodiesWithTheirNotesAndLines) {
  const bool wal = GetParam();
  testing::TempFolder dir;
  CarveDb db(dir.path() / "notes.sqlite");
  if (wal) db.exec("PRAGMA journal_mode=WAL;");
  db.exec(kCarveNotesSchema);
  db.exec(carveNoteBodyInsert(40, "no note row"));
  for (const NoteCase& c : kNotes) {
    if (c.pk == 50 && !wal) continue;
    if (c.pk == 50) {
      db.exec("PRAGMA wal_checkpoint(TRUNCATE);");
      db.startLog();
    }
    db.exec(carveNoteInsert(c.pk, 400000000 + c.pk, 500000000 + c.pk, c.title));
    db.exec(carveNoteBodyInsert(c.pk, c.body));
  }
  for (const NoteCase& c : kNotes) {
    const std::string pk = std::to_string(c.pk);
    if (c.deleted)
      db.exec("DELETE FROM ZNOTE WHERE Z_PK=" + pk + ";DELETE FROM ZNOTEBODY WHERE Z_PK=" + pk);
  }
  Found found = carve(db.file(), db.file("-wal"));
  for (const NoteCase& c : kNotes) {
    if (c.pk == 50 && !wal) continue;
    SCOPED_TRACE(c.content);
    const PRNoteNode* n = withContent(found, c.content);
    ASSERT_NE(n, nullptr);
    // Before the log mode the date is the creation date; in it, the modification date.
    EXPECT_EQ(n->noteDate, *GetDateTime((wal ? 500000000 : 400000000) + c.pk, 1));
    if (!wal || c.titleInLogMode) {
      EXPECT_EQ(n->noteTitle, c.title);
    }
  }
  const PRNoteNode* orphan = withContent(found, "no note row");
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->noteTitle + orphan->noteDate, "");
}

INSTANTIATE_TEST_SUITE_P(Modes, CarveNotesSqlite, ::testing::Values(false, true));

CarveBytes noteRow(int64_t uid, const std::string& title, int64_t fifth = 2) {
  return carveCell({std::monostate{}, int64_t{3}, int64_t{2}, int64_t{2}, int64_t{2}, fifth,
                    int64_t{2}, int64_t{1} << 40, int64_t{2}, int64_t{2}, uid, int64_t{2},
                    int64_t{400000000}, int64_t{500000000}, std::monostate{}, std::string("g"),
                    std::monostate{}, std::string("s"), title});
}
CarveBytes bodyRow(int64_t owner, const std::string& text) {
  return carveCell(
      {std::monostate{}, int64_t{2}, int64_t{2}, owner, text, std::monostate{}, std::monostate{}});
}

TEST(CarveNotesJoin, RepeatedIdentifiersMoveOnAndLaterNotesWin) {
  // Note identifiers in page order 2 2 3 5 6 5 become 2 3 4 5 6 5.
  const int64_t uids[] = {2, 2, 3, 5, 6, 5};
  std::vector<CarvePart> parts;
  for (int64_t body : {2, 3, 4, 5, 6, 9}) {
    parts.push_back(
        {1, 900 + 20 * static_cast<size_t>(body), bodyRow(body, "b" + std::to_string(body))});
  }
  for (size_t i = 0; i < 6; ++i)
    parts.push_back({1, 100 + 60 * i, noteRow(uids[i], "t" + std::to_string(i + 1))});
  Found found = carve(carveImage(2048, false, {0x0d}, parts));
  const std::vector<std::string> titles = {"t1", "t2", "t3", "t6", "t5", ""};
  ASSERT_EQ(found.size(), titles.size());
  for (size_t i = 0; i < titles.size(); ++i) {
    EXPECT_EQ(found[i]->noteTitle, titles[i]) << found[i]->noteContent;  // in body order
  }
}

TEST(CarveNotesRows, AnchorsPageEndAndNothingToCarve) {
  // A 2-byte fifth code makes a note row only before the log mode.
  for (bool wal : {false, true}) {
    Found found = carve(carveImage(
        1024, wal, {0x0d}, {{1, 100, noteRow(7, "Wide", 300)}, {1, 400, bodyRow(7, "xy")}}));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->noteTitle, wal ? "" : "Wide");
  }
  // A body cut by the page end is not continued by the next page's bytes.
  CarveBytes cut = bodyRow(7, "abcdefghij");
  cut.resize(cut.size() - 4);
  CarveBytes image = carveImage(1024, false, {0x0d, 0x05},
                                {{1, 1024 - cut.size(), cut}, {2, 1, CarveBytes(40, 'X')}});
  Found found = carve(image);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->noteContent, "abcdef");
  EXPECT_TRUE(carve(image, {}, true).empty());  // stopped
  image[16] = 0x03;                             // 1000: no pages
  image[17] = 0xe8;
  EXPECT_TRUE(carve(image).empty());
}

}  // namespace
}  // namespace tamsel
