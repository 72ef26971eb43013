// Encrypted phone backups: key unwrap and PBKDF2 against reference vectors, the keybag reader,
// the clear copy against the backup before encryption, damaged keys and files, and the
// command line's scan and recovery with the password.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ios/backup_crypto.h"
#include "ios/backup_files.h"
#include "ios/encrypted_backup.h"
#include "tests/fixtures/cli_run.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::EncryptionOptions;
using testing::readWholeFile;
using testing::TempFolder;
using Json = nlohmann::json;

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::span<const uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Every file below `root` with its bytes, and every folder.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    out[fs::relative(e.path(), root).string()] =
        e.is_regular_file() ? readWholeFile(e.path()) : "folder";
  }
  return out;
}

TEST(BackupCrypto, AesKeyUnwrapGivesTheRfc3394Vectors) {
  const struct {
    const char* kek;
    const char* key;
    const char* wrapped;
  } cases[] = {
      // RFC 3394 4.1, 4.2, 4.3 and 4.6.
      {"000102030405060708090A0B0C0D0E0F", "00112233445566778899AABBCCDDEEFF",
       "1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5"},
      {"000102030405060708090A0B0C0D0E0F1011121314151617", "00112233445566778899AABBCCDDEEFF",
       "96778B25AE6CA435F92B5B97C050AED2468AB8A17AD84E5D"},
      {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
       "00112233445566778899AABBCCDDEEFF", "64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7"},
      {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
       "00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F",
       "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wrapped);
    const Bytes kek = fromHex(c.kek);
    Bytes wrapped = fromHex(c.wrapped);
    std::optional<Bytes> key = aesUnwrap(kek, wrapped);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(*key, fromHex(c.key));
    // Any changed byte fails the integrity check, as does another key.
    wrapped[wrapped.size() / 2] ^= 1;
    EXPECT_FALSE(aesUnwrap(kek, wrapped).has_value());
    wrapped[wrapped.size() / 2] ^= 1;
    Bytes otherKek = kek;
    otherKek[0] ^= 0x80;
    EXPECT_FALSE(aesUnwrap(otherKek, wrapped).has_value());
    // Cut short, not whole 8-byte blocks, a key-encryption key of no AES size.
    EXPECT_FALSE(aesUnwrap(kek, std::span(wrapped).first(16)).has_value());
    EXPECT_FALSE(aesUnwrap(kek, std::span(wrapped).first(wrapped.size() - 3)).has_value());
    EXPECT_FALSE(aesUnwrap(std::span(kek).first(15), wrapped).has_value());
  }
}

TEST(BackupCrypto, Pbkdf2GivesTheRfcVectorsAndTheLibrarysOwnResults) {
  const struct {
    DigestKind digest;
    uint64_t iterations;
    const char* hex;
  } vectors[] = {
      // RFC 6070 (SHA-1) and the common SHA-256 vectors, "password" / "salt".
      {DigestKind::sha1, 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {DigestKind::sha1, 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {DigestKind::sha256, 4096,
       "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
  };
  for (const auto& v : vectors) {
    const Bytes expected = fromHex(v.hex);
    EXPECT_EQ(pbkdf2(v.digest, bytesOf("password"), bytesOf("salt"), v.iterations, expected.size()),
              expected)
        << v.hex;
  }
  // Two output blocks (32 bytes of SHA-1), counts on both sides of a progress chunk, and an
  // empty password, against PKCS5_PBKDF2_HMAC.
  const std::string salt = "\x01\x02\x03salt with a zero\0byte";
  for (DigestKind digest : {DigestKind::sha1, DigestKind::sha256}) {
    for (std::string password : {std::string(), std::string("pass\0word", 9)}) {
      for (uint64_t iterations : {3u, 4096u, 4097u, 9000u}) {
        Bytes expected(32);
        ASSERT_EQ(PKCS5_PBKDF2_HMAC(
                      password.data(), static_cast<int>(password.size()), bytesOf(salt).data(),
                      static_cast<int>(salt.size()), static_cast<int>(iterations),
                      digest == DigestKind::sha1 ? EVP_sha1() : EVP_sha256(), 32, expected.data()),
                  1);
        EXPECT_EQ(pbkdf2(digest, bytesOf(password), bytesOf(salt), iterations, 32), expected)
            << iterations;
      }
    }
  }
  EXPECT_FALSE(pbkdf2(DigestKind::sha1, bytesOf("p"), bytesOf("s"), 0, 32).has_value());
}

TEST(BackupCrypto, DerivationReportsProgressAndStopsWhenAsked) {
  Keybag bag;
  bag.salt = Bytes(20, 7);
  bag.iterations = 10000;
  bag.dpsl = Bytes(20, 9);
  bag.dpic = 20000;
  std::vector<uint64_t> seen;
  auto key = derivePasscodeKey(bag, "pw", [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, 30000u);
    seen.push_back(done);
    return true;
  });
  ASSERT_TRUE(key.has_value());
  ASSERT_GT(seen.size(), 5u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 30000u);
  int calls = 0;
  EXPECT_FALSE(derivePasscodeKey(bag, "pw", [&](uint64_t, uint64_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2) << "stopped at the second chunk";
}

TEST(BackupCrypto, DamagedKeybagsAreRefusedWithTheReason) {
  using testing::keybagItem;
  using testing::keybagNumber;
  const std::string header = keybagNumber("VERS", 3) + keybagNumber("TYPE", 1) +
                             keybagItem("UUID", std::string(16, 'u')) +
                             keybagItem("SALT", std::string(20, 's')) + keybagNumber("ITER", 10);
  const std::string classKey = keybagItem("UUID", std::string(16, 'k')) + keybagNumber("CLAS", 3) +
                               keybagNumber("WRAP", 3) + keybagItem("WPKY", std::string(40, 'w'));
  ASSERT_TRUE(parseKeybag(bytesOf(header + classKey), nullptr).has_value());
  const std::string mostRounds = header + keybagNumber("ITER", 100000) + keybagItem("DPSL", "x") +
                                 keybagNumber("DPIC", 20000000) + classKey;
  ASSERT_TRUE(parseKeybag(bytesOf(mostRounds), nullptr).has_value());
  const struct {
    std::string bytes;
    const char* why;
  } cases[] = {
      {"", "no items"},
      {(header + classKey).substr(0, 13), "cut short"},
      {header + classKey.substr(0, classKey.size() - 1), "runs past the end"},
      {header + "ITER" + std::string("\x00\x00\x00\x03", 4) + "abc" + classKey, "not a number"},
      {keybagNumber("VERS", 3) + keybagItem("UUID", "u") + keybagNumber("ITER", 10) + classKey,
       "salt"},
      {header, "no class keys"},
      {header + keybagItem("DPSL", "x") + classKey, "first iteration count"},
      {header + keybagItem("UUID", "k") + keybagItem("CLAS", "\x01\x02"), "not a number"},
      // Past the rounds backups use (ten million, then ten thousand), with a margin.
      {header + keybagItem("DPSL", "x") + keybagNumber("DPIC", 0xFFFFFFFFu) + classKey,
       "first derivation step (DPIC) asks for 4294967295 rounds, which exceeds"},
      {header + keybagItem("DPSL", "x") + keybagNumber("DPIC", 20000001) + classKey,
       "20000001 rounds, which exceeds"},
      {header + keybagNumber("ITER", 100001) + classKey,
       "second derivation step (ITER) asks for 100001 rounds, which exceeds"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parseKeybag(bytesOf(c.bytes), &error).has_value()) << c.why;
    EXPECT_NE(error.find("keybag is damaged"), std::string::npos) << error;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
}

constexpr std::pair<const char*, const char*> kOtherFiles[] = {
    {"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"},
    {"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite-wal"},
    {"HomeDomain", "Library/Preferences/com.example.settings.plist"},
};

void addIndexRow(const fs::path& db, const std::string& id, const std::string& domain,
                 const std::string& path) {
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  const std::string sql = "INSERT INTO Files (fileID, domain, relativePath, flags) VALUES ('" + id +
                          "', '" + domain + "', '" + path + "', 1)";
  EXPECT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(h);
}

class EncryptedBackupTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = setLogSink({}); }
  void TearDown() override { setLogSink(previous_); }

  // The sample backup in the layout of an index in Manifest.db, with one large picture that
  // spans several read blocks, and its encrypted form.
  testing::EncryptedBackup make(const EncryptionOptions& options = {}) {
    testing::SampleBackupOptions sample;
    sample.layout = testing::IosBackupWriter::Layout::subfolders;
    sample.index = testing::IosBackupWriter::Index::manifestDb;
    sample.version = "10.3.1";
    const fs::path clear = t_.path() / "clear";
    if (!fs::exists(clear)) {
      testing::writeSampleBackup(clear, sample);
      std::string big((size_t{5} << 19) + 7, '\0');
      for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 3);
      bigName_ = testing::IosBackupWriter::hashedName("CameraRollDomain",
                                                      "Media/DCIM/100APPLE/IMG_0100.JPG");
      fs::create_directories(clear / bigName_.substr(0, 2));
      testing::writeWholeFile(clear / bigName_.substr(0, 2) / bigName_, big);
      addIndexRow(clear / "Manifest.db", bigName_, "CameraRollDomain",
                  "Media/DCIM/100APPLE/IMG_0100.JPG");
      // The notes store of newer systems with its log (read by the scan), and a settings list
      // that no step reads.
      for (const auto& [domain, path] : kOtherFiles) {
        const std::string name = testing::IosBackupWriter::hashedName(domain, path);
        fs::create_directories(clear / name.substr(0, 2));
        testing::writeWholeFile(clear / name.substr(0, 2) / name, std::string(path) + " bytes");
        addIndexRow(clear / "Manifest.db", name, domain, path);
      }
    }
    const fs::path out = t_.path() / ("encrypted" + std::to_string(++backups_));
    return testing::encryptBackup(clear, out, options);
  }

  fs::path runDir() {
    const fs::path p = t_.path() / ("run" + std::to_string(++runs_));
    fs::create_directories(p);
    return p;
  }

  TempFolder t_;
  std::string bigName_;
  int backups_ = 0;
  int runs_ = 0;
  LogSink previous_;
};

TEST_F(EncryptedBackupTest, ClearCopyMatchesTheBackupBeforeEncryption) {
  for (uint32_t dpIterations : {32u, 0u}) {  // with the SHA-256 step, and an older keybag
    SCOPED_TRACE(dpIterations);
    EncryptionOptions options;
    options.dpIterations = dpIterations;
    const testing::EncryptedBackup enc = make(options);
    const auto before = snapshot(enc.folder);
    std::string password = options.password;
    std::map<std::string, uint64_t> lastOfStage;
    const fs::path run = runDir();
    ClearBackup clear = openEncryptedBackup(
        enc.folder, password, run, [&](std::string_view stage, uint64_t done, uint64_t total) {
          EXPECT_LE(done, total);
          lastOfStage[std::string(stage)] = done;
          return true;
        });
    ASSERT_TRUE(clear.opened) << clear.error;
    EXPECT_TRUE(password.empty()) << "the password is wiped once used";
    EXPECT_TRUE(clear.warnings.empty()) << clear.warnings.front();
    EXPECT_EQ(clear.folder.parent_path(), run);
    EXPECT_EQ(lastOfStage[std::string(kDerivingStage)], options.iterations + dpIterations);
    EXPECT_GT(lastOfStage[std::string(kDecryptingStage)], size_t{5} << 19);

    EXPECT_EQ(readWholeFile(clear.folder / "Manifest.db"), enc.clearManifestDb);
    EXPECT_EQ(readWholeFile(clear.folder / "Info.plist"), readWholeFile(enc.folder / "Info.plist"));
    // Every stored file the scan reads is there in clear, byte for byte; no other one is.
    size_t compared = 0;
    for (const auto& [name, bytes] : enc.clearFiles) {
      const fs::path p = clear.folder / name.substr(0, 2) / name;
      if (!fs::exists(p)) continue;
      EXPECT_EQ(readWholeFile(p), bytes) << name;
      ++compared;
    }
    EXPECT_EQ(compared, clear.files);
    EXPECT_GE(compared, 10u);
    for (std::string_view db :
         {stored::kAddressBook.name, stored::kMessages.name, std::string_view(bigName_)}) {
      EXPECT_TRUE(fs::exists(clear.folder / db.substr(0, 2) / db)) << db;
    }
    for (const auto& [domain, path] : kOtherFiles) {
      const std::string name = testing::IosBackupWriter::hashedName(domain, path);
      EXPECT_EQ(fs::exists(clear.folder / name.substr(0, 2) / name),
                std::string_view(path).find("NoteStore") != std::string_view::npos)
          << path;
    }
    EXPECT_EQ(snapshot(enc.folder), before) << "the backup changed";
  }
}

TEST_F(EncryptedBackupTest, WrongPasswordAndDamagedKeysAreClearErrors) {
  const testing::EncryptedBackup enc = make();
  const auto before = snapshot(enc.folder);
  {
    std::string password = "not the password";
    const fs::path run = runDir();
    ClearBackup clear = openEncryptedBackup(enc.folder, password, run);
    EXPECT_FALSE(clear.opened);
    EXPECT_TRUE(clear.wrongPassword);
    EXPECT_NE(clear.error.find("wrong password"), std::string::npos) << clear.error;
    EXPECT_TRUE(fs::is_empty(run));
  }
  // A damaged keybag (each damage is checked by the keybag reader), none, a cut Manifest.db.
  const fs::path copy = t_.path() / "damaged";
  const struct {
    std::function<void()> damage;
    const char* says;
  } damaged[] = {
      {[&] { testing::replaceKeybag(copy, enc.keybag.substr(0, enc.keybag.size() - 5)); },
       "runs past the end"},
      {[&] { testing::replaceKeybag(copy, ""); }, "no keybag"},
      {[&] { fs::resize_file(copy / "Manifest.db", fs::file_size(copy / "Manifest.db") - 9); },
       "Manifest.db is cut short"},
  };
  for (const auto& d : damaged) {
    fs::remove_all(copy);
    fs::copy(enc.folder, copy, fs::copy_options::recursive);
    d.damage();
    std::string password = EncryptionOptions().password;
    const fs::path run = runDir();
    ClearBackup clear = openEncryptedBackup(copy, password, run);
    EXPECT_FALSE(clear.opened);
    EXPECT_FALSE(clear.wrongPassword);
    EXPECT_NE(clear.error.find(d.says), std::string::npos) << clear.error;
    EXPECT_TRUE(fs::is_empty(run));
  }
  EXPECT_EQ(snapshot(enc.folder), before);
}

TEST_F(EncryptedBackupTest, DamagedStoredFilesAreLeftOutWithAWarning) {
  const std::string messages(stored::kMessages.name);
  const std::string notes(stored::kNotes.name);
  const std::string calls(stored::kCallHistory.name);
  EncryptionOptions options;
  options.damagedKeys = {notes};
  // The call database's recorded size is past its end; the picture's far short of it.
  testing::EncryptedBackup enc = make();
  options.recordedSizes = {{calls, enc.clearFiles.at(calls).size() + 100},
                           {bigName_, enc.clearFiles.at(bigName_).size() - 4096}};
  enc = make(options);
  // The message database cut short of a whole block.
  const fs::path storedMessages = enc.folder / messages.substr(0, 2) / messages;
  fs::resize_file(storedMessages, fs::file_size(storedMessages) - 3);

  std::string password = options.password;
  ClearBackup clear = openEncryptedBackup(enc.folder, password, runDir());
  ASSERT_TRUE(clear.opened) << clear.error;
  const std::map<std::string, std::string> expected = {
      {messages, "is cut short"},
      {notes, "does not unwrap"},
      {calls, "shorter"},
      {bigName_, "does not match its recorded size"},
  };
  ASSERT_EQ(clear.warnings.size(), expected.size());
  for (const auto& [name, says] : expected) {
    EXPECT_FALSE(fs::exists(clear.folder / name.substr(0, 2) / name)) << name;
    const bool named = std::any_of(clear.warnings.begin(), clear.warnings.end(), [&](auto& w) {
      return w.find(name) != std::string::npos && w.find(says) != std::string::npos;
    });
    EXPECT_TRUE(named) << name << ": " << says;
  }
  const std::string book(stored::kAddressBook.name);
  EXPECT_EQ(readWholeFile(clear.folder / book.substr(0, 2) / book), enc.clearFiles.at(book));
}

// The command line gives the clear backup's records, refuses a wrong or no password, and
// leaves the backup as it was and nothing decrypted in the work folder.
TEST_F(EncryptedBackupTest, CommandLineScansWithThePasswordFile) {
  const testing::EncryptedBackup enc = make();
  const fs::path clear = t_.path() / "clear";
  const auto before = snapshot(enc.folder);
  const fs::path work = t_.path() / "work";
  auto run = [&](const std::string& args) {
    return testing::runCli(TAMSEL_CLI_PATH,
                           "-q --work-dir " + testing::shellQuote(work.string()) + " " + args,
                           t_.path() / "stderr.txt");
  };
  const fs::path right = t_.path() / "right.txt";
  const fs::path wrong = t_.path() / "wrong.txt";
  testing::writeWholeFile(right, EncryptionOptions().password + "\n");
  testing::writeWholeFile(wrong, "open sesame!\n");
  const fs::path longLine = t_.path() / "long.txt";
  testing::writeWholeFile(longLine, std::string(4097, 'x') + "\n");
  const std::string backup = testing::shellQuote(enc.folder.string());

  testing::CliRun plain = run("scan --json - " + testing::shellQuote(clear.string()));
  testing::CliRun opened =
      run("scan --json - --password-file " + testing::shellQuote(right.string()) + " " + backup);
  // The same outcome and warnings (the stored notes store is no database), naming each folder.
  ASSERT_TRUE(plain.status == 0 || plain.status == 3) << plain.err;
  ASSERT_EQ(opened.status, plain.status) << opened.err;
  auto withoutFolder = [](std::string text, const std::string& folder) {
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
    return text;
  };
  EXPECT_EQ(withoutFolder(opened.err, enc.folder.string()),
            withoutFolder(plain.err, clear.string()));
  Json a = Json::parse(plain.out)["records"];
  Json b = Json::parse(opened.out)["records"];
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.size(), b.size());
  // The same records but for where stored files were read from, whose origin is the backup's
  // own stored file (none for the clear backup).
  std::map<std::string, size_t> withOrigin;
  for (auto& [cls, list] : a.items()) {
    ASSERT_TRUE(b.contains(cls)) << cls;
    ASSERT_EQ(list.size(), b[cls].size()) << cls;
    for (size_t i = 0; i < list.size(); ++i) {
      for (const char* path : {"filePath", "faceTwitterFilePath"}) {
        if (!list[i].contains(path)) continue;
        const fs::path read = b[cls][i][path].get<std::string>();
        const fs::path origin = b[cls][i]["originPath"].get<std::string>();
        EXPECT_EQ(fs::path(list[i][path].get<std::string>()).filename(), read.filename());
        EXPECT_EQ(list[i]["originPath"], "") << cls << " " << i;
        EXPECT_EQ(origin, enc.folder / read.parent_path().filename() / read.filename());
        EXPECT_TRUE(fs::is_regular_file(origin)) << origin;
        ++withOrigin[cls];
        for (Json* r : {&list[i], &b[cls][i]}) r->erase(path), r->erase("originPath");
      }
      EXPECT_EQ(list[i], b[cls][i]) << cls << " " << i;
    }
  }
  EXPECT_GT(withOrigin["PRPhotoAndVideoNode"], 1u);
  EXPECT_GT(withOrigin["PRFaceTwitterNode"], 0u);

  const struct {
    std::string options;
    const char* says;
  } refused[] = {
      {"--password-file " + testing::shellQuote(wrong.string()), "wrong password"},
      {"", "encrypted"},
      {"--password-file " + testing::shellQuote((t_.path() / "nope").string()), "password file"},
      // One line of at most 4 KB is read, from a file, a pipe or a terminal only.
      {"--password-file /dev/zero", "not a regular file, a pipe or a terminal"},
      {"--password-file " + testing::shellQuote(t_.path().string()), "it is a folder"},
      {"--password-file " + testing::shellQuote(longLine.string()), "longer than 4096 bytes"},
  };
  for (const auto& r : refused) {
    testing::CliRun c = run("scan " + r.options + " " + backup);
    EXPECT_EQ(c.status, 2) << r.says;
    EXPECT_NE(c.err.find(r.says), std::string::npos) << c.err;
  }
  // A pipe is read up to its first line (written at once: the rest is never read), and a
  // line of exactly 4096 bytes is a password.
  const fs::path pipe = t_.path() / "password.fifo";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::thread writer([&] {
    std::ofstream(pipe) << EncryptionOptions().password << "\n" << std::string(1000, 'z');
  });
  testing::CliRun piped =
      run("scan --password-file " + testing::shellQuote(pipe.string()) + " " + backup);
  writer.join();
  EXPECT_EQ(piped.status, plain.status) << piped.err;
  testing::writeWholeFile(longLine, std::string(4096, 'x') + "\r\n");
  EXPECT_NE(run("scan --password-file " + testing::shellQuote(longLine.string()) + " " + backup)
                .err.find("wrong password"),
            std::string::npos);

  // Recovery writes the clear photos; its receipt names the backup's own files as their
  // origin, never the clear copy of the run.
  const std::string files = " --category PRPhotoAndVideoNode --category PRFaceTwitterNode";
  const fs::path out = t_.path() / "out";
  testing::CliRun rec = run("recover --password-file " + testing::shellQuote(right.string()) + " " +
                            backup + " " + testing::shellQuote(out.string()) + files);
  EXPECT_EQ(rec.status, plain.status) << rec.err;
  EXPECT_EQ(readWholeFile(out / "Photo&Video" / "IMG_0100.JPG"), enc.clearFiles.at(bigName_));
  const fs::path clearOut = t_.path() / "clear-out";
  testing::CliRun recPlain = run("recover " + testing::shellQuote(clear.string()) + " " +
                                 testing::shellQuote(clearOut.string()) + files);
  EXPECT_EQ(recPlain.status, plain.status) << recPlain.err;
  const struct {
    fs::path out, backup;
    std::string says;
  } receipts[] = {{out, enc.folder, "encrypted backup file "}, {clearOut, clear, "backup file "}};
  for (const auto& r : receipts) {
    const std::string csv = readWholeFile(r.out / "manifest.csv");
    size_t named = 0;
    for (size_t at = 0; (at = csv.find("," + r.says, at)) != std::string::npos; ++named) {
      at += r.says.size() + 1;
      const fs::path origin = csv.substr(at, csv.find(',', at) - at);
      EXPECT_EQ(origin.parent_path().parent_path(), r.backup) << origin;
      EXPECT_TRUE(fs::is_regular_file(origin)) << origin;
    }
    EXPECT_EQ(named, withOrigin["PRPhotoAndVideoNode"] + withOrigin["PRFaceTwitterNode"]) << csv;
    EXPECT_EQ(csv.find(work.string()), std::string::npos) << csv;
    EXPECT_EQ(readWholeFile(r.out / "report.html").find(work.string()), std::string::npos);
  }

  EXPECT_EQ(snapshot(enc.folder), before) << "the backup changed";
  for (const auto& e : fs::recursive_directory_iterator(work)) {
    ADD_FAILURE() << "left in the work folder: " << e.path();
  }
}

}  // namespace
}  // namespace tamsel
