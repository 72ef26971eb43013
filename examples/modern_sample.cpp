// The bundled sample of a recent phone (system 14) as the desktop synchronisation software
// backs it up with encryption on: Manifest.db, files in two-digit subfolders, a keybag whose
// class keys are wrapped with a key derived from the password, every stored file encrypted
// with a key of its own. Besides the records of the older sample (contacts, messages,
// bookmarks, calendar, pictures), it holds the stores newer phones keep their calls and notes
// in: CallHistory.storedata (a phone call, a FaceTime call, a missed call, and one deleted
// row) and NoteStore.sqlite (gzip'd document bodies, one password-protected note, one note
// deleted), and a HEIC photo. The derivation counts are small, so that the sample opens at
// once; real backups ask for ten million rounds.
#include "examples/modern_sample.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fixtures/ios_call_store_writer.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_note_store_writer.h"
#include "tests/fixtures/ios_sample_backup.h"

namespace tamsel::examples {
namespace {

namespace fx = tamsel::fixtures;
namespace tt = tamsel::testing;
namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The start of a HEIC picture (its file-type box and an empty metadata box); enough for the
// picture list, which goes by the name's suffix.
std::string heicPicture() {
  std::string s(
      "\x00\x00\x00\x18"
      "ftypheic\x00\x00\x00\x00"
      "mif1heic",
      24);
  s.append(
      "\x00\x00\x00\x08"
      "meta",
      8);
  s.resize(4096, '\x5a');
  return s;
}

// A call of the store: `date` in seconds since 2001, `originated` 1 when the phone made it.
fx::CallStoreRow callRow(const std::string& address, double date, double duration,
                         int64_t originated) {
  fx::CallStoreRow row;
  row.address = address;
  row.date = date;
  row.duration = duration;
  row.originated = originated;
  return row;
}

void addNewerStores(tt::IosBackupWriter& w, const fs::path& scratch) {
  const fs::path calls = scratch / "CallHistory.storedata";
  std::vector<fx::CallStoreRow> rows{
      callRow("+46 70 123 45 67", 631152000.0, 187.6, 1),
      callRow("bob@mail.example", 631238400.0, 605.0, 0),
      callRow("+1 (415) 555-0142", 631300000.0, 0.0, 0),
      callRow("+33 6 12 34 56 78", 631400000.0, 42.0, 1),
  };
  rows[1].callType = fx::kCallTypeFaceTimeVideo;
  fx::CallStoreOptions callOptions;
  callOptions.deleted = {3};
  fx::writeCallStore(calls, rows, callOptions);
  w.addFile("HomeDomain", "Library/CallHistoryDB/CallHistory.storedata", readAll(calls));

  const fs::path notes = scratch / "NoteStore.sqlite";
  std::vector<fx::NoteStoreNote> list(3);
  list[0].title = "Groceries";
  list[0].text = "Groceries\nmilk\nrye bread\ncoffee";
  list[0].modified = 631152000.0;
  list[1].title = "Bank codes";
  list[1].locked = true;
  list[1].modified = 631238400.0;
  list[2].title = "Gift ideas";
  list[2].text = "Gift ideas\nbook for Anna\nconcert tickets";
  list[2].modified = 631300000.0;
  list[2].deleteNote = true;
  list[2].deleteBody = true;
  fx::writeNoteStore(notes, fx::NoteStoreLayout::kIos15, list);
  w.addFile("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite", readAll(notes));

  w.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0004.HEIC", heicPicture());
}

}  // namespace

void writeModernSample(const fs::path& folder, const fs::path& scratch) {
  const fs::path clear = scratch / "clear";
  fs::create_directories(scratch / "stores");
  tt::SampleBackupOptions options;
  options.layout = tt::IosBackupWriter::Layout::subfolders;
  options.index = tt::IosBackupWriter::Index::manifestDb;
  options.deviceName = "Mia's iPhone";
  options.version = "14.3";
  options.serial = "F2LSAMPLE14";
  options.firstName = "Mia";
  options.addMore = [&](tt::IosBackupWriter& w) { addNewerStores(w, scratch / "stores"); };
  tt::writeSampleBackup(clear, options);

  tt::EncryptionOptions encryption;
  encryption.password = kModernSamplePassword;
  encryption.iterations = 10000;
  encryption.dpIterations = 10000;
  encryption.keepClearFiles = false;
  tt::encryptBackup(clear, folder, encryption);
  std::ofstream(folder.string() + ".password") << kModernSamplePassword << '\n';
}

}  // namespace tamsel::examples
