// The notes of newer phones (NoteStore.sqlite): the body reader, the live notes step over
// generated stores of two layouts and over the real sample, and the deleted notes the
// schema-aware pass finds in a generated store.
#include "ios/note_store.h"

#include <gtest/gtest.h>

#include "events/deleted_keys.h"
#include "ios/backup_files.h"
#include "ios/backup_index.h"
#include "ios/deleted_rows.h"
#include "ios/phone_records.h"
#include "tests/fixtures/ios_note_store_writer.h"
#include "tests/fixtures/ios_records_db_writer.h"
#include "tests/fixtures/ios_scan_test.h"
#include "tests/fixtures/temp_folder.h"
#include "tests/fixtures/testdata.h"
#include "util/gzip.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
namespace fx = tamsel::fixtures;

std::span<const uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(NoteStoreFiles, StoredNamesAreTheDigestsOfDomainAndPath) {
  constexpr std::string_view kDomain = "AppDomainGroup-group.com.apple.notes";
  EXPECT_EQ(hashedFileName(kDomain, "NoteStore.sqlite"), stored::kNoteStore.name);
  EXPECT_EQ(hashedFileName(kDomain, "NoteStore.sqlite-wal"), stored::kNoteStore.walName);
}

// ---------------------------------------------------------------- bodies

TEST(NoteBodyText, ReadsTheTextOrSaysWhyNot) {
  const std::string text = "Groceries\nmilk, eggs\nÜnïcode ✓";
  fx::ProtoWriter run;
  run.varint(1, 4);
  fx::ProtoWriter elsewhere;
  elsewhere.varint(1, 1).bytes(2, "placed elsewhere").message(5, run);
  const std::string otherPath =
      fx::ProtoWriter().varint(1, 0).message(4, fx::ProtoWriter().message(1, elsewhere)).data();
  struct Case {
    const char* what;
    std::string body;
    std::optional<std::string> text;
    const char* error;
  };
  const std::vector<Case> cases{
      {"gzip", fx::compressBytes(fx::noteBodyMessage(text)), text, ""},
      {"empty text", fx::compressBytes(fx::noteBodyMessage("")), "", ""},
      {"note at another path", fx::compressBytes(otherPath), "placed elsewhere", ""},
      {"no body", "", std::nullopt, "no body"},
      {"not compressed", fx::noteBodyMessage(text), std::nullopt, "does not inflate"},
      {"no text in the message", fx::compressBytes(fx::ProtoWriter().varint(1, 0).data()),
       std::nullopt, "no note text"},
      {"not a message", fx::compressBytes("plain words, no message"), std::nullopt, "no note text"},
      {"bomb", fx::compressBytes(std::string(kMaxInflatedSize + 1, '\0')), std::nullopt,
       "inflates to more than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    EXPECT_EQ(noteBodyText(bytes(c.body), &why), c.text);
    if (!c.text) {
      EXPECT_NE(why.find(c.error), std::string::npos) << why;
    }
  }
}

TEST(NoteBodyText, ABodyCutShortGivesTheTextItStillHolds) {
  std::string text;
  for (int i = 0; text.size() < 6000; ++i)
    text += "line " + std::to_string(i * 7919 % 10007) + "\n";
  const std::string body = fx::compressBytes(fx::noteBodyMessage(text));
  for (size_t keep : {body.size() - 4, body.size() * 2 / 3, body.size() / 3}) {
    SCOPED_TRACE(keep);
    std::optional<std::string> got = noteBodyText(bytes(body.substr(0, keep)));
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->empty());
    EXPECT_EQ(text.substr(0, got->size()), *got);
  }
  // Cut before the text starts: nothing to give.
  std::string why;
  EXPECT_FALSE(noteBodyText(bytes(body.substr(0, 12)), &why));
  EXPECT_NE(why.find("cut short"), std::string::npos) << why;
}

// ---------------------------------------------------------------- the live step

class NoteStoreTest : public tamsel::testing::IosScanTest {
 protected:
  NoteStoreTest() {
    collect(notify::kScanNoteInfo, notes);
    collect(notify::kScanDelNoteInfo, deleted);
  }

  std::vector<std::shared_ptr<PRNoteNode>> notes, deleted;
};

struct Expected {
  std::string title, content, date;
  int32_t uid;
  bool locked;
};

void expectNotes(const std::vector<std::shared_ptr<PRNoteNode>>& got,
                 const std::vector<Expected>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].title);
    EXPECT_EQ(got[i]->noteTitle, want[i].title);
    EXPECT_EQ(got[i]->noteContent, want[i].content);
    EXPECT_EQ(got[i]->noteDate, want[i].date);
    EXPECT_EQ(got[i]->uid, want[i].uid);
    EXPECT_EQ(got[i]->bLocked.get(), want[i].locked);
  }
}

TEST_F(NoteStoreTest, NotesOfBothLayouts) {
  const std::vector<fx::NoteStoreNote> written{
      {.title = "Groceries", .text = "Groceries\nmilk\neggs", .modified = 600000000.75},
      {.title = "Diary", .modified = 610000000, .locked = true},
      {.title = "Old plan",
       .text = "Old plan\nsteps",
       .modified = 620000000,
       .markedForDeletion = true},
      {.text = "", .markedForDeletion = true},
      {.title = "Title only"},
      {.title = "Ünïcode ✓", .text = "日本語\n✓"},
  };
  struct Case {
    const char* what;
    fx::NoteStoreLayout layout;
    Layout files;
    std::vector<Expected> live;
    std::vector<Expected> gone;
  };
  const std::vector<Case> cases{
      {"system 15 columns",
       fx::NoteStoreLayout::kIos15,
       Layout::flat,
       {{"Groceries", "Groceries\nmilk\neggs", "01-06-2020 10:40", 2, false},
        {"Diary", "", "05-01-2020 04:26", 3, true},
        {"Title only", "", "", 6, false},
        {"Ünïcode ✓", "日本語\n✓", "", 7, false}},
       {{"Old plan", "Old plan\nsteps", "08-24-2020 22:13", 4, false}}},
      // No lock or deletion columns, title and date under their plain names: the locked note's
      // opaque body is tried (and fails), the note marked for deletion is a live one.
      {"older columns, in a subfolder",
       fx::NoteStoreLayout::kIos9,
       Layout::subfolders,
       {{"Groceries", "Groceries\nmilk\neggs", "01-06-2020 10:40", 2, false},
        {"Diary", "", "05-01-2020 04:26", 3, false},
        {"Old plan", "Old plan\nsteps", "08-24-2020 22:13", 4, false},
        {"", "", "", 5, false},
        {"Title only", "", "", 6, false},
        {"Ünïcode ✓", "日本語\n✓", "", 7, false}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    fx::writeNoteStore(stored(stored::kNoteStore, c.files), c.layout, written);
    scanNoteThread(backup.string(), ctx);
    expectNotes(notes, c.live);
    expectNotes(deleted, c.gone);
    for (const auto& d : deleted) EXPECT_TRUE(d->bDeleted.get());
    EXPECT_EQ(progress, std::vector<int64_t>{70});
    EXPECT_EQ(ctx.databaseCopies.count(std::string(stored::kNoteStore.name)), 1u);
    // Only the older layout tries the locked note's body, and says so.
    EXPECT_EQ(warned("the text of 1 note could not be read"),
              c.layout == fx::NoteStoreLayout::kIos9);
  }
}

TEST_F(NoteStoreTest, OldNotesDatabaseAndStoreTogether) {
  fx::writeNotesDb(stored(stored::kNotes), fx::NotesLayout::kCoreData,
                   {{"Old", "old body", 31536000, 5, "old"}});
  fx::writeNoteStore(stored(stored::kNoteStore), fx::NoteStoreLayout::kIos15,
                     {{.title = "New", .text = "New\nbody", .modified = 600000000}});
  scanNoteThread(backup.string(), ctx);
  expectNotes(notes, {{"Old", "old body", "01-01-2002 00:00", -1, false},
                      {"New", "New\nbody", "01-06-2020 10:40", 2, false}});
  EXPECT_EQ(progress, std::vector<int64_t>{70});
}

TEST_F(NoteStoreTest, DamagedStoresAndBodies) {
  const std::string text = fx::noteBodyMessage("Text that is cut");
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> write;
    size_t notes;
    const char* warning;
  };
  const std::vector<Case> cases{
      {"bodies that do not read",
       [&](const fs::path& p) {
         fx::writeNoteStore(p, fx::NoteStoreLayout::kIos15,
                            {{.title = "Damaged", .rawBody = "\x1f\x8b\x08 damaged"},
                             {.title = "Bomb",
                              .rawBody = fx::compressBytes(std::string(kMaxInflatedSize + 1, 'a'))},
                             {.title = "Plain", .rawBody = text}});
       },
       3, "the text of 3 notes could not be read"},
      {"not a database",
       [](const fs::path& p) { tamsel::testing::writeWholeFile(p, "not a database at all"); }, 0,
       "does not open as a database"},
      {"no notes table",
       [](const fs::path& p) {
         fx::writeNotesDb(p, fx::NotesLayout::kOld, {{"Elsewhere", "body", 1, 1, "s"}});
       },
       0, "has no notes table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    c.write(stored(stored::kNoteStore));
    scanNoteThread(backup.string(), ctx);
    ASSERT_EQ(notes.size(), c.notes);
    for (const auto& n : notes) EXPECT_EQ(n->noteContent, "");
    EXPECT_TRUE(warned(c.warning));
    EXPECT_EQ(progress, std::vector<int64_t>{70});
  }
}

TEST_F(NoteStoreTest, AStopEndsTheStepWithoutProgress) {
  std::vector<fx::NoteStoreNote> many(50, {.title = "n", .text = "n\ntext"});
  fx::writeNoteStore(stored(stored::kNoteStore), fx::NoteStoreLayout::kIos15, many);
  nc.addObserver(notify::kScanNoteInfo, [this](const Notification&) {
    if (notes.size() == 3) ctx.stopRequested = true;
  });
  scanNoteThread(backup.string(), ctx);
  EXPECT_EQ(notes.size(), 3u);
  EXPECT_TRUE(progress.empty());
}

TEST_F(NoteStoreTest, RealNoteStore) {
  TAMSEL_REQUIRE_TESTDATA("ios/misc/NoteStore.sqlite");
  fs::copy_file(tamsel::testing::testDataPath("ios/misc/NoteStore.sqlite"),
                stored(stored::kNoteStore, Layout::subfolders));
  scanNoteThread(backup.string(), ctx);
  expectNotes(notes,
              {{"My Secret Note", "", "03-28-2020 00:42", 8, true},
               {"iOS 14 Locked Note", "", "02-15-2021 20:37", 9, true},
               {"My Super Secret Note", "", "03-28-2020 00:49", 10, true},
               {"My First Note", "My First Note\n\nThis is my first note.  Nothing special. \n",
                "03-28-2020 00:37", 11, false},
               {"iOS 14 Note",
                "iOS 14 Note\n\nThis is a note created for iOS 14.  It is created on iPhone. ",
                "02-15-2021 20:22", 12, false},
               {"iOS 15 Note", "iOS 15 Note\n\nHere is the test iOS 15 note. ", "05-10-2023 00:57",
                29, false},
               {"Secure iOS 15 Note", "", "05-10-2023 00:59", 31, true}});
  // Note 30 is marked for deletion and holds nothing: not listed.
  EXPECT_TRUE(deleted.empty());
  EXPECT_TRUE(ctx.warnings.empty());
  EXPECT_EQ(progress, std::vector<int64_t>{70});
}

// ---------------------------------------------------------------- deleted notes

TEST_F(NoteStoreTest, DeletedNotesFromTheSchemaAwarePass) {
  // A freed cell loses its own key, so records are joined by the keys left in other rows and
  // by the title being the text's first line; a note row no body joined has no uid.
  struct Case {
    const char* what;
    std::vector<fx::NoteStoreNote> written;
    std::vector<Expected> found;  // by uid
  };
  const std::vector<Case> cases{
      {"note and body deleted, body alone, locked note",
       {{.title = "Kept", .text = "Kept\nstill here", .modified = 600000000},
        {.title = "Gone",
         .text = "Gone\nthe whole note was deleted",
         .modified = 610000000,
         .deleteNote = true,
         .deleteBody = true},
        {.title = "Body lost", .text = "Body lost\nonly its body went", .deleteBody = true},
        {.title = "Secret",
         .modified = 620000000,
         .locked = true,
         .deleteNote = true,
         .deleteBody = true}},
       {{"Secret", "", "08-24-2020 22:13", -1, true},
        {"Gone", "Gone\nthe whole note was deleted", "05-01-2020 04:26", 3, false},
        // The note lives on: its title and key come from its live row.
        {"Body lost", "Body lost\nonly its body went", "", 4, false}}},
      {"note row alone, its body live",
       {{.title = "Row lost",
         .text = "Row lost\nbody stays",
         .modified = 600000000,
         .deleteNote = true},
        {.title = "Kept", .text = "Kept"}},
       {{"Row lost", "Row lost\nbody stays", "01-06-2020 10:40", 2, false}}},
      {"older text of a live note",
       {{.title = "Edited",
         .text = "Edited\nfirst text",
         .editedText = "Edited\nthe text it has now, longer than the first"},
        {.title = "Other", .text = "Other\nsecond text", .deleteNote = true, .deleteBody = true}},
       {{"Edited", "Edited\nfirst text", "", 2, false},
        {"Other", "Other\nsecond text", "", 3, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    fx::writeNoteStore(stored(stored::kNoteStore), fx::NoteStoreLayout::kIos15, c.written);
    DeletedRecordKeys seen;
    scanDeletedRows(backup.string(), ctx, seen);
    std::sort(deleted.begin(), deleted.end(),
              [](const auto& a, const auto& b) { return a->uid < b->uid; });
    expectNotes(deleted, c.found);
    for (const auto& d : deleted) EXPECT_TRUE(d->bDeleted.get());
    EXPECT_TRUE(notes.empty());
  }
}

}  // namespace
}  // namespace tamsel
