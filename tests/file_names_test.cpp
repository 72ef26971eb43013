#include "util/file_names.h"
#include "util/output_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/fixtures/temp_folder.h"
#include "util/text.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readWholeFile;
using testing::TempFolder;
using testing::writeWholeFile;

bool validUtf8(const std::string& s) {
  return isValidUtf8({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

TEST(SanitizeFileName, HostileNamesBecomeOneHarmlessComponent) {
  EXPECT_EQ(sanitizeFileName("../x"), ".._x");
  EXPECT_EQ(sanitizeFileName("a/b"), "a_b");
  EXPECT_EQ(sanitizeFileName("/etc/passwd"), "_etc_passwd");
  EXPECT_EQ(sanitizeFileName(".."), "__");
  EXPECT_EQ(sanitizeFileName("."), "_");
  EXPECT_EQ(sanitizeFileName(""), "_");
  EXPECT_EQ(sanitizeFileName(std::string("a\0b.txt", 7)), "a_b.txt");
  EXPECT_EQ(sanitizeFileName("..."), "...");
  EXPECT_EQ(sanitizeFileName("Ann Lee.vcf"), "Ann Lee.vcf");
}

// Characters that act on a terminal or reorder text when shown never reach a file name.
TEST(SanitizeFileName, ControlBidiAndNonTextBytesBecomeUnderscores) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x1b[2Jclear.txt", "_[2Jclear.txt"},          // ESC (C0)
      {"tab\there\nnew\rline", "tab_here_new_line"},  // C0 layout controls
      {"del\x7f.txt", "del_.txt"},                    // DEL
      {"csi\xc2\x9b"
       "31m.jpg",
       "csi_31m.jpg"},                         // C1 CSI as UTF-8
      {"c1\xc2\x80\xc2\x9f.txt", "c1__.txt"},  // C1 range ends
      {"invoice\xe2\x80\xae"
       "fdp.exe",
       "invoice_fdp.exe"},                              // RIGHT-TO-LEFT OVERRIDE
      {"\xe2\x80\x8e\xe2\x80\x8f", "__"},               // LRM, RLM
      {"\xe2\x80\xaa\xe2\x80\xac\xe2\x80\xad", "___"},  // LRE, PDF, LRO
      {"\xe2\x81\xa6x\xe2\x81\xa9", "_x_"},             // LRI ... PDI
      {"arabic\xd8\x9cmark", "arabic_mark"},            // ARABIC LETTER MARK
      {"latin1 caf\xe9.jpg", "latin1 caf_.jpg"},        // not UTF-8
      {"lone\x9b.jpg", "lone_.jpg"},                    // 8-bit CSI byte
      {"Zo\xc3\xab \xe2\x80\x94 \xe6\x97\xa5.jpg", "Zo\xc3\xab \xe2\x80\x94 \xe6\x97\xa5.jpg"},
  };
  for (const auto& [raw, clean] : cases) {
    EXPECT_EQ(sanitizeFileName(raw), clean) << escapeForTerminal(raw);
    EXPECT_EQ(sanitizeFileName(clean), clean);
  }
}

TEST(EscapeForTerminal, ControlsBidiAndBadBytesArePrintedAsEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.jpg", "plain name.jpg"},
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
      {"a\\b", "a\\\\b"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"csi\xc2\x9b", "csi\\u009b"},
      {"rlo\xe2\x80\xae"
       "abc",
       "rlo\\u202eabc"},
      {"\xd8\x9c", "\\u061c"},
      {"bad\xff", "bad\\xff"},
      {"Zo\xc3\xab", "Zo\xc3\xab"},
  };
  for (const auto& [raw, printed] : cases) EXPECT_EQ(escapeForTerminal(raw), printed);
}

TEST(SanitizeFileName, LongNamesAreCutOnCharacterBoundariesKeepingTheSuffix) {
  std::string longAscii = std::string(300, 'a') + ".jpg";
  std::string cut = sanitizeFileName(longAscii);
  EXPECT_EQ(cut, std::string(251, 'a') + ".jpg");

  std::string twoByte;
  for (int i = 0; i < 150; ++i) twoByte += "\xC3\xA9";  // 300 bytes of e-acute
  std::string cut2 = sanitizeFileName(twoByte);
  EXPECT_EQ(cut2.size(), 254u);  // 255 would split a character
  EXPECT_TRUE(validUtf8(cut2));

  std::string threeByte;
  for (int i = 0; i < 100; ++i) threeByte += "\xE6\x97\xA5";  // 300 bytes
  std::string cut3 = sanitizeFileName(threeByte + ".txt");
  EXPECT_LE(cut3.size(), kMaxFileNameBytes);
  EXPECT_TRUE(validUtf8(cut3));
  EXPECT_EQ(cut3.substr(cut3.size() - 4), ".txt");

  // Not text at all: still cut to the limit.
  EXPECT_EQ(sanitizeFileName(std::string(300, '\x80')).size(), kMaxFileNameBytes);

  for (const std::string& s : {cut, cut2, cut3}) EXPECT_EQ(sanitizeFileName(s), s);
}

TEST(FileNames, LastPathComponentAndNumberedVariants) {
  EXPECT_EQ(lastPathComponent("/store/home/user/IMG001.jpg"), "IMG001.jpg");
  EXPECT_EQ(lastPathComponent("a/b/"), "b");
  EXPECT_EQ(lastPathComponent("plain"), "plain");
  EXPECT_EQ(lastPathComponent("/"), "");
  EXPECT_EQ(lastPathComponent("x/.."), "..");

  EXPECT_EQ(numberedFileName("Contacts.txt", 1), "Contacts.txt");
  EXPECT_EQ(numberedFileName("Contacts.txt", 2), "Contacts (2).txt");
  EXPECT_EQ(numberedFileName("archive.tar.gz", 3), "archive.tar (3).gz");
  EXPECT_EQ(numberedFileName(".bashrc", 2), ".bashrc (2)");
  EXPECT_EQ(numberedFileName("noext", 12), "noext (12)");
  std::string full = std::string(251, 'b') + ".vcf";
  std::string numbered = numberedFileName(full, 2);
  EXPECT_EQ(numbered, std::string(247, 'b') + " (2).vcf");
  EXPECT_EQ(numbered.size(), kMaxFileNameBytes);
}

TEST(FileNames, UniquePathSkipsFilesFoldersAndDanglingLinks) {
  TempFolder t;
  EXPECT_EQ(uniquePath(t.path(), "a.txt"), t.path() / "a.txt");
  writeWholeFile(t.path() / "a.txt", "1");
  fs::create_directory(t.path() / "a (2).txt");
  fs::create_symlink(t.path() / "nowhere", t.path() / "a (3).txt");
  EXPECT_EQ(uniquePath(t.path(), "a.txt"), t.path() / "a (4).txt");
}

TEST(FileNames, FreeNumbersAreFoundInLogarithmicallyManyLooks) {
  int looks = 0;
  auto upTo = [&looks](int k) {
    return [&looks, k](int n) {
      ++looks;
      return n <= k;
    };
  };
  EXPECT_EQ(firstFreeNumber(upTo(0)), 1);
  EXPECT_EQ(firstFreeNumber(upTo(1)), 2);
  EXPECT_EQ(firstFreeNumber(upTo(2)), 3);
  EXPECT_EQ(firstFreeNumber(upTo(5)), 6);
  looks = 0;
  EXPECT_EQ(firstFreeNumber(upTo(100000)), 100001);  // more than a linear search ever tried
  EXPECT_LE(looks, 40);
  looks = 0;
  EXPECT_EQ(firstFreeNumber(upTo(1 << 29)), (1 << 29) + 1);
  EXPECT_LE(looks, 62);
  looks = 0;
  EXPECT_EQ(firstFreeNumber([&looks](int) { return ++looks, true; }), std::nullopt);
  EXPECT_LE(looks, 32);
  // With gaps, any free number will do.
  auto gaps = [](int n) { return n != 3 && n < 100; };
  std::optional<int> g = firstFreeNumber(gaps);
  ASSERT_TRUE(g);
  EXPECT_FALSE(gaps(*g));
}

TEST(FileNames, ARunOfEqualNamesContinuesAfterItsHighestNumber) {
  TempFolder t;
  writeWholeFile(t.path() / "a.txt", "1");
  for (int n = 2; n <= 300; ++n) {
    ASSERT_EQ(::symlink("nowhere", (t.path() / numberedFileName("a.txt", n)).c_str()), 0);
  }
  EXPECT_EQ(uniquePath(t.path(), "a.txt"), t.path() / "a (301).txt");
  auto p = writeNewFile(t.path(), "a.txt", "x");
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, t.path() / "a (301).txt");
  EXPECT_EQ(readWholeFile(*p), "x");
  EXPECT_EQ(readWholeFile(t.path() / "a.txt"), "1");
  // A gap below the highest number may be filled; what is chosen is always free.
  fs::remove(t.path() / "a (7).txt");
  auto q = writeNewFile(t.path(), "a.txt", "y");
  ASSERT_TRUE(q);
  EXPECT_EQ(readWholeFile(*q), "y");
  EXPECT_EQ(readWholeFile(*p), "x");
  EXPECT_EQ(listTree(t.path()).size(), 301u);
}

TEST(FileNames, WriteNewFileNeverReplacesAndLeavesNoTemporaryFiles) {
  TempFolder t;
  writeWholeFile(t.path() / "note.txt", "the user's own file");
  auto first = writeNewFile(t.path(), "note.txt", "first");
  auto second = writeNewFile(t.path(), "note.txt", std::string("sec\0nd", 6));
  auto empty = writeNewFile(t.path(), "empty.txt", "");
  ASSERT_TRUE(first && second && empty);
  EXPECT_EQ(*first, t.path() / "note (2).txt");
  EXPECT_EQ(*second, t.path() / "note (3).txt");
  EXPECT_EQ(readWholeFile(t.path() / "note.txt"), "the user's own file");
  EXPECT_EQ(readWholeFile(*first), "first");
  EXPECT_EQ(readWholeFile(*second), std::string("sec\0nd", 6));
  EXPECT_EQ(readWholeFile(*empty), "");
  EXPECT_EQ(listTree(t.path()),
            (std::set<std::string>{"note.txt", "note (2).txt", "note (3).txt", "empty.txt"}));
}

TEST(FileNames, WriteNewFileStaysInsideTheFolder) {
  TempFolder t;
  fs::path inner = t.path() / "inner";
  fs::create_directory(inner);
  auto a = writeNewFile(inner, "../escape", "x");
  auto b = writeNewFile(inner, "..", "y");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->parent_path(), inner);
  EXPECT_EQ(b->parent_path(), inner);
  EXPECT_EQ(listTree(t.path()), (std::set<std::string>{"inner", "inner/.._escape", "inner/__"}));
  EXPECT_FALSE(writeNewFile(t.path() / "missing", "a", "b"));
}

TEST(FileNames, CopyToNewFileCopiesEveryByte) {
  TempFolder t;
  std::string bytes;
  for (uint32_t i = 0; i < 1234567; ++i) bytes += static_cast<char>((i * 7919u) >> 3);
  writeWholeFile(t.path() / "source.bin", bytes);
  fs::create_directory(t.path() / "out");
  writeWholeFile(t.path() / "out" / "copy.bin", "older");
  auto p = copyToNewFile(t.path() / "source.bin", t.path() / "out", "copy.bin");
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, t.path() / "out" / "copy (2).bin");
  EXPECT_EQ(readWholeFile(*p), bytes);
  EXPECT_EQ(readWholeFile(t.path() / "out" / "copy.bin"), "older");
  EXPECT_EQ(readWholeFile(t.path() / "source.bin"), bytes);
  EXPECT_FALSE(copyToNewFile(t.path() / "absent.bin", t.path() / "out", "x"));
  EXPECT_EQ(listTree(t.path() / "out"), (std::set<std::string>{"copy.bin", "copy (2).bin"}));
}

TEST(FileNames, CopiesTakeTheBytesButNotTheModeOfTheSource) {
  TempFolder t;
  writeWholeFile(t.path() / "tool", "#!/bin/sh\n");
  // A backup may carry any mode bits; a recovered file is plain data.
  fs::permissions(t.path() / "tool", static_cast<fs::perms>(04755));
  ASSERT_EQ(fs::status(t.path() / "tool").permissions() & fs::perms::set_uid, fs::perms::set_uid);
  auto p = copyToNewFile(t.path() / "tool", t.path(), "copy");
  ASSERT_TRUE(p);
  EXPECT_EQ(readWholeFile(*p), "#!/bin/sh\n");
  EXPECT_EQ(fs::status(*p).permissions(),
            fs::status(*writeNewFile(t.path(), "w", "")).permissions());
  EXPECT_EQ(fs::status(*p).permissions() & (fs::perms::set_uid | fs::perms::owner_exec),
            fs::perms::none);
  EXPECT_FALSE(copyToNewFile(t.path(), t.path(), "a folder is not copied"));
  ASSERT_EQ(::mkfifo((t.path() / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(copyToNewFile(t.path() / "pipe", t.path(), "a pipe is not waited on"));
}

}  // namespace
}  // namespace tamsel
