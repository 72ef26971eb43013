// Encrypted phone backups: opening a generated encrypted backup of about 1 GB (the sample
// backup's records plus 64 pictures and videos of 16 MB; key derivation of a few iterations,
// so that it is not what is measured) into its clear copy, and the whole scan of it; the key
// derivation alone at the counts of real backups (10,000,000 rounds of SHA-256, 10,000 of
// SHA-1), and the chunked PBKDF2 against the library's own in one call.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "events/scan_context.h"
#include "ios/backup_crypto.h"
#include "ios/encrypted_backup.h"
#include "ios/iphone_source.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using tamsel::testing::IosBackupWriter;

constexpr size_t kMediaFiles = 64;
constexpr size_t kMediaSize = size_t{16} << 20;
const tamsel::testing::EncryptionOptions kOptions;

struct BenchBackup {
  fs::path folder;
  uint64_t bytes = 0;  // stored bytes of the files the scan reads
};

const BenchBackup& benchBackup() {
  tamsel::setLogSink({});  // the readers' diagnostics are not what is measured
  static tamsel::testing::TempFolder folder;
  static const BenchBackup backup = [] {
    const fs::path clear = folder.path() / "clear";
    tamsel::testing::SampleBackupOptions sample;
    sample.layout = IosBackupWriter::Layout::subfolders;
    sample.index = IosBackupWriter::Index::manifestDb;
    sample.version = "10.3.1";
    tamsel::testing::writeSampleBackup(clear, sample);
    sqlite3* db = nullptr;
    sqlite3_open((clear / "Manifest.db").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::string bytes(kMediaSize, '\0');
    for (size_t i = 0; i < kMediaFiles; ++i) {
      const std::string path =
          "Media/DCIM/100APPLE/IMG_" + std::to_string(1000 + i) + (i % 4 == 0 ? ".MOV" : ".JPG");
      const std::string name = IosBackupWriter::hashedName("CameraRollDomain", path);
      for (size_t j = 0; j < bytes.size(); j += 4096) bytes[j] = static_cast<char>(i + j);
      fs::create_directories(clear / name.substr(0, 2));
      tamsel::testing::writeWholeFile(clear / name.substr(0, 2) / name, bytes);
      const std::string sql = "INSERT INTO Files (fileID, domain, relativePath, flags) VALUES ('" +
                              name + "', 'CameraRollDomain', '" + path + "', 1)";
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    tamsel::testing::EncryptionOptions options = kOptions;
    options.keepClearFiles = false;
    BenchBackup b;
    b.folder = folder.path() / "encrypted";
    tamsel::testing::encryptBackup(clear, b.folder, options);
    fs::remove_all(clear);
    for (const auto& e : fs::recursive_directory_iterator(b.folder)) {
      if (e.is_regular_file()) b.bytes += e.file_size();
    }
    return b;
  }();
  return backup;
}

// Decrypting what the scan reads into the clear copy.
void BM_OpenEncryptedBackup(benchmark::State& state) {
  const BenchBackup& backup = benchBackup();
  tamsel::testing::TempFolder work;
  uint64_t decrypted = 0;
  for (auto _ : state) {
    const fs::path run = work.path() / ("run" + std::to_string(state.iterations()));
    fs::create_directories(run);
    std::string password = kOptions.password;
    tamsel::ClearBackup clear = tamsel::openEncryptedBackup(backup.folder, password, run);
    if (!clear.opened) state.SkipWithError(clear.error.c_str());
    decrypted = clear.bytes;
    state.PauseTiming();
    fs::remove_all(run);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(decrypted * state.iterations()));
  state.counters["MB"] = static_cast<double>(decrypted) / 1e6;
}
BENCHMARK(BM_OpenEncryptedBackup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The whole scan: opening, then every step over the clear copy.
void BM_ScanEncryptedBackup(benchmark::State& state) {
  const BenchBackup& backup = benchBackup();
  tamsel::testing::TempFolder work;
  uint64_t records = 0;
  for (auto _ : state) {
    tamsel::NotificationCenter nc;
    tamsel::ScanContext ctx(nc);
    ctx.runDir = work.path() / ("run" + std::to_string(state.iterations()));
    fs::create_directories(ctx.runDir);
    ctx.backupPassword = kOptions.password;
    tamsel::ScanOutcome o = tamsel::scanPhoneBackup(backup.folder.string(), ctx);
    if (!o.readable) state.SkipWithError(o.error.c_str());
    records = o.recordsPosted;
    state.PauseTiming();
    fs::remove_all(ctx.runDir);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(backup.bytes * state.iterations()));
  state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_ScanEncryptedBackup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The key derivation of a real backup's keybag.
void BM_DeriveRealisticKey(benchmark::State& state) {
  tamsel::Keybag bag;
  bag.salt = tamsel::Bytes(20, 1);
  bag.iterations = 10000;
  bag.dpsl = tamsel::Bytes(20, 2);
  bag.dpic = 10000000;
  for (auto _ : state) {
    auto key = tamsel::derivePasscodeKey(bag, "a password");
    benchmark::DoNotOptimize(key);
  }
  state.counters["iterations"] = static_cast<double>(bag.dpic + bag.iterations);
}
BENCHMARK(BM_DeriveRealisticKey)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// One million rounds of PBKDF2-HMAC-SHA256: chunked (argument 0) and the library's own call.
void BM_Pbkdf2Million(benchmark::State& state) {
  const std::string password = "a password";
  const std::string salt(20, 3);
  for (auto _ : state) {
    tamsel::Bytes out(32);
    if (state.range(0) == 0) {
      auto key =
          tamsel::pbkdf2(tamsel::DigestKind::sha256,
                         {reinterpret_cast<const uint8_t*>(password.data()), password.size()},
                         {reinterpret_cast<const uint8_t*>(salt.data()), salt.size()}, 1000000, 32);
      benchmark::DoNotOptimize(key);
    } else {
      PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()),
                        static_cast<int>(salt.size()), 1000000, EVP_sha256(), 32, out.data());
      benchmark::DoNotOptimize(out);
    }
  }
}
BENCHMARK(BM_Pbkdf2Million)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
