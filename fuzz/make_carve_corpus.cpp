// Writes a seed corpus for the carver fuzz target into the folder named on the command line:
// the phone's databases (messages of two layouts, address book, calls, notes, bookmarks,
// calendar) with a third of their rows deleted, alone and followed by their write-ahead log,
// and cut-short and mutated copies of them. Deterministic apart from what SQLite itself
// writes (salts of the log).
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/corpus_writer.h"
#include "tests/fixtures/ios_people_db_writer.h"
#include "tests/fixtures/ios_records_db_writer.h"

namespace fs = std::filesystem;
using tamsel::fuzzing::CorpusWriter;
using tamsel::fuzzing::nextRandom;
using tamsel::fuzzing::runCorpusGenerator;

namespace {

std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Deletes every third row of `table`, leaving the freed bytes in place; in a database in log
// mode the deletion stays in the log.
void deleteSome(const fs::path& db, const std::string& table) {
  sqlite3* h = nullptr;
  if (sqlite3_open(db.c_str(), &h) != SQLITE_OK)
    throw std::runtime_error("cannot open " + db.string());
  sqlite3_wal_autocheckpoint(h, 0);
  sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  const std::string sql =
      "PRAGMA secure_delete=OFF; DELETE FROM \"" + table + "\" WHERE rowid % 3 = 0;";
  const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(h);
  std::error_code ec;
  fs::remove(db.string() + "-shm", ec);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot delete from " + table);
}

// Each database kind once with every row in the main file and once with the last third in
// the log: the database's bytes, the database followed by its log, cut-short and mutated
// copies.
void fill(CorpusWriter& out) {
  namespace fx = tamsel::fixtures;
  namespace tt = tamsel::testing;
  const fs::path dir = out.folder().parent_path() / (out.folder().filename().string() + ".work");
  fs::create_directories(dir);
  const fs::path db = dir / "db.sqlite";
  const std::string n[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  uint32_t seed = 0x2545f491;

  for (int kind = 0; kind < 8; ++kind) {
    for (size_t inLog : {size_t{0}, size_t{10}}) {
      std::string table;
      if (kind <= 1) {
        std::vector<tt::MessageRow> rows;
        for (int i = 1; i <= 30; ++i) {
          tt::MessageRow m;
          m.rowid = i;
          m.text = "message " + n[i % 10] + std::string(static_cast<size_t>(i * 7), 'm');
          m.date = 400000000 + i;
          m.address = "+1555000" + n[i % 5];
          m.isFromMe = i % 2;
          rows.push_back(m);
        }
        tt::writeMessageDatabase(
            db, kind == 0 ? tt::MessageSchema::kIOS6 : tt::MessageSchema::kIOS5, rows, inLog);
        table = "message";
      } else if (kind == 2) {
        tt::AddressBook book;
        for (int i = 1; i <= 30; ++i) {
          book.people.push_back({i, "First" + n[i % 10], std::nullopt, "Last" + n[i % 7]});
          book.values.push_back({i, 3, "_$!<Mobile>!$_", "+1555123" + n[i % 10]});
        }
        book.peopleInLog = inLog;
        tt::writeAddressBook(db, book);
        table = "ABPerson";
      } else if (kind == 3) {
        std::vector<fx::CallRow> calls;
        for (int i = 1; i <= 30; ++i) {
          calls.push_back({"+1555777" + n[i % 10], 1300000000 + i, i * 11, i % 2 ? 4 : 5});
        }
        fx::writeCallHistoryDb(db, calls, inLog);
        table = "call";
      } else if (kind <= 5) {
        std::vector<fx::NoteRow> notes;
        for (int i = 1; i <= 30; ++i) {
          notes.push_back({"Note " + n[i % 10],
                           "Body " + std::string(static_cast<size_t>(i * 9), 'n'), 400000000 + i,
                           400000000 + i, "Summary"});
        }
        fx::writeNotesDb(db, kind == 4 ? fx::NotesLayout::kOld : fx::NotesLayout::kCoreData, notes,
                         inLog);
        table = kind == 4 ? "Note" : "ZNOTE";
      } else if (kind == 6) {
        std::vector<fx::BookmarkRow> marks = fx::standardBookmarkFolders();
        for (int i = 1; i <= 30; ++i) {
          marks.push_back({"Site " + n[i % 10], "http://example.org/" + n[i % 10], 1});
        }
        fx::writeBookmarksDb(db, marks, inLog);
        table = "bookmarks";
      } else {
        std::vector<fx::CalendarEventRow> events;
        for (int i = 1; i <= 30; ++i) {
          fx::CalendarEventRow e;
          e.summary = "Event " + n[i % 10];
          e.location = "Room " + n[i % 3];
          e.startDate = 400000000.0 + i * 3600;
          e.endDate = 400003600.0 + i * 3600;
          events.push_back(e);
        }
        fx::writeCalendarDb(db, fx::CalendarLayout::kIos6, {fx::CalendarDef{}}, events, inLog);
        table = "CalendarItem";
      }
      deleteSome(db, table);
      std::vector<uint8_t> bytes = readFile(db);
      const std::vector<uint8_t> log = readFile(db.string() + "-wal");
      out.write(bytes);
      std::vector<uint8_t> joined = bytes;
      joined.insert(joined.end(), log.begin(), log.end());
      if (!log.empty()) out.write(joined);
      // Cut short inside a page, and with bytes changed here and there.
      out.write(std::vector<uint8_t>(joined.begin(), joined.begin() + joined.size() * 2 / 3 + 77));
      for (int round = 0; round < 2; ++round) {
        std::vector<uint8_t> mutated = joined;
        for (int k = 0; k < 64; ++k) {
          mutated[nextRandom(seed) % mutated.size()] = static_cast<uint8_t>(nextRandom(seed));
        }
        out.write(mutated);
      }
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
  return runCorpusGenerator(argc, argv, "carve", fill);
}
