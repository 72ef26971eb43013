// tamsel-cli carve on databases whose structure is damaged: a b-tree that points back into
// itself, a freelist that loops (over pages of its own or over the table's), and a log that
// names a page far past the database. The run warns, exits with 3 and never lists a row as
// deleted that may be a live row the damaged walk did not reach; what it needs stays in
// proportion to the input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "carve/schema_carver.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/fixture_db.h"
#include "tests/fixtures/temp_folder.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::readWholeFile;
using testing::writeWholeFile;

constexpr size_t kPage = 1024;
constexpr uint32_t kRoot = 2;  // the table's root, an interior page over a dozen leaves

void put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
uint16_t get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) |
                               static_cast<uint8_t>(b[at + 1]));
}
size_t pageAt(uint32_t pgno) {
  return (pgno - 1) * kPage;
}

// Rows 1-200 of note, rows 3-7 (on the first leaf) deleted and left in its free space.
std::string noteDatabase(const fs::path& path) {
  {
    fixtures::FixtureDb db(path, "PRAGMA page_size=1024; PRAGMA secure_delete=OFF;");
    db.exec("CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT, body TEXT)");
    db.rows(200, 0, [&](size_t i) {
      db.insert("INSERT INTO note VALUES (?, ?, ?)",
                {static_cast<int64_t>(i + 1), "title" + std::to_string(i + 1),
                 "body of note " + std::to_string(i + 1) + std::string(30, 'x')});
    });
    db.exec("DELETE FROM note WHERE id BETWEEN 3 AND 7");
  }
  return readWholeFile(path);
}

// The n-th cell of the root page: its child page number sits at the cell's start.
size_t rootCell(const std::string& b, size_t n) {
  return pageAt(kRoot) + get16(b, pageAt(kRoot) + 12 + 2 * n);
}

// Makes pages `a` and `b` the freelist's two trunks, each leading to the other.
void freelistCycle(std::string& bytes, uint32_t a, uint32_t b) {
  put32(bytes, 32, a);
  put32(bytes, 36, 2);
  put32(bytes, pageAt(a), b);
  put32(bytes, pageAt(a) + 4, 0);
  put32(bytes, pageAt(b), a);
  put32(bytes, pageAt(b) + 4, 0);
}

struct DamageCase {
  const char* what;
  std::function<void(std::string&)> damage;
  const char* warning;           // a part of the warning it gives ("" for none)
  std::set<std::string> listed;  // the titles listed as deleted
};

TEST(CarveDamaged, WarnsAndNeverCallsARowThatMayBeLiveDeleted) {
  testing::TempFolder t;
  const std::string intact = noteDatabase(t.path() / "intact.sqlite");
  const std::set<std::string> deleted = {"title3", "title4", "title5", "title6", "title7"};
  const DamageCase cases[] = {
      {"intact", [](std::string&) {}, "", deleted},
      {"the root's last child is the root",
       [](std::string& b) { put32(b, pageAt(kRoot) + 8, kRoot); }, "page 2 is reached twice",
       deleted},
      {"the root's first child is the root",
       [](std::string& b) { put32(b, rootCell(b, 0), kRoot); },
       "page 2 is reached twice",
       {}},
      {"a freelist cycle over the root and a leaf",
       [](std::string& b) { freelistCycle(b, kRoot, 3); },
       "page 2 is no table b-tree page",
       {}},
      {"a freelist cycle over two pages of its own",
       [](std::string& b) {
         const uint32_t pages = static_cast<uint32_t>(b.size() / kPage);
         b.resize(b.size() + 2 * kPage, '\0');
         put32(b, 28, pages + 2);
         freelistCycle(b, pages + 1, pages + 2);
       },
       "the freelist comes back to page", deleted},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = intact;
    c.damage(bytes);
    const fs::path db = t.path() / "damaged.sqlite";
    writeWholeFile(db, bytes);
    const testing::CliRun r =
        testing::runCli(TAMSEL_CLI_PATH,
                        "-q --work-dir " + testing::shellQuote((t.path() / "work").string()) +
                            " carve " + testing::shellQuote(db.string()),
                        t.path() / "stderr.txt");
    const bool damaged = *c.warning != '\0';
    EXPECT_EQ(r.status, damaged ? 3 : 0) << r.err;
    if (damaged) {
      EXPECT_NE(r.err.find("tamsel-cli: warning: "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err, "");
    }
    std::set<std::string> listed;
    for (int id = 1; id <= 200; ++id) {
      const std::string title = "title" + std::to_string(id);
      if (r.out.find("'" + title + "'") != std::string::npos) listed.insert(title);
    }
    EXPECT_EQ(listed, c.listed) << r.out;
    EXPECT_EQ(readWholeFile(db), bytes);
  }
}

// A log of one frame that names page 16,777,215 of a database of a few pages: the pass keeps
// its tables by the pages present, so it needs memory for those, not for 16 million.
TEST(CarveDamaged, ALogThatNamesAFarPageCostsWhatTheInputHolds) {
  testing::TempFolder t;
  std::string db = noteDatabase(t.path() / "notes.sqlite");
  std::string log(32 + 24 + kPage, '\0');
  put32(log, 0, 0x377f0682);
  put32(log, 4, 3007000);
  put32(log, 8, kPage);
  put32(log, 16, 0x11111111);  // the salts, which the frame repeats
  put32(log, 20, 0x22222222);
  put32(log, 32, 16777215);
  put32(log, 36, 1);
  put32(log, 40, 0x11111111);
  put32(log, 44, 0x22222222);
  log[32 + 24] = 0x0d;
  const std::vector<TableShape> shapes = {
      {"note", {"id", "title", "body"}, {"INTEGER", "TEXT", "TEXT"}, 0, kRoot}};
  // Measured in a child process, whose peak memory is its own.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto input = CarveInput::fromBytes(std::vector<uint8_t>(db.begin(), db.end()),
                                       std::vector<uint8_t>(log.begin(), log.end()));
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    size_t rows = 0;
    carveBySchema(*input, shapes, {}, [&rows](const CarvedRow&) { return ++rows > 0; });
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    const long grewKiB = after.ru_maxrss - before.ru_maxrss;
    ::_exit(rows == 5 && grewKiB < 64 * 1024 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the pass found other rows or grew by 64 MiB or more";
}

}  // namespace
}  // namespace tamsel
