// tamsel-cli: the recovery engine without a window, for scripts and examiners.
//
//   tamsel-cli backups [--backup-root DIR]      list the phone backups on this computer
//   tamsel-cli scan PATH [--json FILE|-]        count (and export) what a backup holds
//   tamsel-cli recover PATH OUTDIR [options]    write the records into OUTDIR
//   tamsel-cli rawscan DEVICE [--json FILE|-]   list the files found on a memory card
//   tamsel-cli rawrecover DEVICE OUTDIR [--kind K]...  write the found files into OUTDIR
//   tamsel-cli carve DATABASE [--wal FILE] [--json FILE|-]  deleted rows of an SQLite file
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include "app/termination_signals.h"
#include "cli/carve_command.h"
#include "cli/json_export.h"
#include "cli/record_json.h"
#include "cli/scan_session.h"
#include "events/notification_names.h"
#include "ios/device_list.h"
#include "ios/iphone_source.h"
#include "util/log.h"
#include "util/text.h"

namespace {

using tamsel::Category;

struct ClassInfo {
  const char* label;
  const char* cls;
  std::vector<Category> categories;  // the result screen's categories that hold it
  bool phone = false;                // a phone-backup record (deleted-only applies)
};

const std::vector<ClassInfo>& classes() {
  static const std::vector<ClassInfo> k = {
      {"Contacts", "PRBlackBerryContactNode", {Category::Contact}},
      {"Call logs", "PRBlackBerryCallNode", {Category::CallHistory}},
      {"SMS messages", "PRBlackBerrySMSMessageNode", {Category::Message}},
      {"MMS messages", "PRBlackBerryMMSMessageNode", {Category::MMS}},
      {"Memos", "PRBlackBerryNoteNode", {Category::Note}},
      {"Calendar", "PRBlackBerryCalenderNode", {Category::Calender}},
      {"Content store", "PRBlackBerryContentNode", {Category::Photo}},
      {"Found files",
       "PRScanListNode",
       {Category::RawImage, Category::RawAudio, Category::RawVideo, Category::RawDocument,
        Category::RawArchive}},
      {"Phone contacts", "PRContactNode", {Category::Contact}, true},
      {"Phone messages", "PRMessageNode", {Category::Message}, true},
      {"Phone notes", "PRNoteNode", {Category::Note}, true},
      {"Phone calls", "PRCallHistoryNode", {Category::CallHistory}, true},
      {"Phone calendar", "PRCalenderNode", {Category::Calender}, true},
      {"Phone bookmarks", "PRBookMarkNode", {Category::BookMark}, true},
      {"Phone photos", "PRPhotoAndVideoNode", {Category::Photo}, true},
      {"Phone app files", "PRFaceTwitterNode", {Category::FaceTwitter}, true},
  };
  return k;
}

// Every notification that carries a record of a backup.
namespace notify = tamsel::notify;
constexpr std::string_view kRecordNotifications[] = {notify::kBlacBerryContactInfo,
                                                     notify::kBlacBerryCallLogInfo,
                                                     notify::kBlackBerrySMSMessageInfo,
                                                     notify::kBlackBerryMMSMessageInfo,
                                                     notify::kBlackBerryNoteInfo,
                                                     notify::kBlackBerryCalenderInfo,
                                                     notify::kBlackBerryContentStoreInfo,
                                                     notify::kScanPhotoAndVideo,
                                                     notify::kScanFaceTwitterInfo,
                                                     notify::kScanContactInfo,
                                                     notify::kScanMessageInfo,
                                                     notify::kScanCallHistoryInfo,
                                                     notify::kScanNoteInfo,
                                                     notify::kScanBookMarkInfo,
                                                     notify::kScanCalenderInfo,
                                                     notify::kScanDelContactInfo,
                                                     notify::kScanDelMessageInfo,
                                                     notify::kScanDelNoteInfo,
                                                     notify::kScanDelCallHistoryInfo,
                                                     notify::kScanDelBookMarkInfo,
                                                     notify::kScanDelCalenderInfo};

// The records of each class of the scanned kind (BlackBerry or phone) that the spool counted.
void printCounts(const tamsel::cli::RecordJsonSpool& spool, bool phone, std::FILE* out) {
  using tamsel::cli::RecordJsonSpool;
  std::fprintf(out, "%-15s %-28s %8s\n", "category", "record class", "records");
  size_t total = 0;
  const int first = phone ? RecordJsonSpool::kFirstPhoneClass : 0;
  const int last = phone ? RecordJsonSpool::kClassCount : RecordJsonSpool::kFirstPhoneClass;
  for (int i = first; i < last; ++i) {
    const std::string_view cls = RecordJsonSpool::className(i);
    for (const auto& c : classes()) {
      if (cls == c.cls) std::fprintf(out, "%-15s %-28s %8zu\n", c.label, c.cls, spool.count(i));
    }
    total += spool.count(i);
  }
  std::fprintf(out, "%-15s %-28s %8zu\n", "total", "", total);
}

// A --json destination that may not be written ends the run before the scan: exit code 1,
// or -1 to go on.
int refuseJsonDestination(const std::string& dest, const std::string& input, bool force) {
  if (dest.empty()) return -1;
  std::string refused = tamsel::cli::checkJsonDestination(dest, input, force);
  if (refused.empty()) return -1;
  std::fprintf(stderr, "tamsel-cli: %s\n", refused.c_str());
  return 1;
}

// Exit status of a command whose input was read only in part (damaged members, refused
// entries, records cut short); its results are still printed or written.
constexpr int kExitDamaged = 3;

// Runs the scan and reports an unreadable input; returns the exit code to use, or -1 to go on.
// Every damaged or refused part is one warning line on stderr (before the error of an input
// that could not be read); `damaged` says whether there was any, `phone` (when given) whether
// the input was read as a phone backup.
int scanOrFail(tamsel::cli::ScanSession& session, const std::string& path, bool quiet,
               bool* damaged, bool* phone = nullptr) {
  tamsel::BackupScanOutcome o = session.scan(path, !quiet);
  if (phone) *phone = o.source == tamsel::kIphoneBackupSourceName;
  for (const std::string& w : o.warnings) {
    std::fprintf(stderr, "tamsel-cli: warning: %s\n", tamsel::escapeForTerminal(w).c_str());
  }
  if (!o.readable) {
    std::fprintf(stderr, "tamsel-cli: %s\n", tamsel::escapeForTerminal(o.error).c_str());
    return 2;
  }
  *damaged = o.damaged();
  if (*damaged) {
    std::fprintf(stderr,
                 "tamsel-cli: the backup is damaged: partial results (the records before each "
                 "damaged part were read)\n");
  }
  return -1;
}

int writeTicked(tamsel::PRResultViewController& results, const std::string& outDir);

// The "device" member of a phone backup's JSON document: its node, or null when the folder
// has no property list to read it from.
std::string deviceMemberOf(const std::string& folder) {
  if (auto node = tamsel::readDeviceNode(folder)) return tamsel::cli::deviceMember(*node);
  return "null";
}

// `scan` of a backup: each record is counted, and serialised into the JSON spool, as the scan
// posts it, and none is kept, so memory does not grow with the number of records.
int scanBackup(tamsel::cli::ScanSession& session, const std::string& path,
               const std::string& jsonDest, bool force, bool quiet) {
  tamsel::cli::RecordJsonSpool spool([&session] { return session.controller().runFolder(); },
                                     tamsel::cli::reportUnreadableField, !jsonDest.empty());
  tamsel::NotificationCenter& nc = session.controller().nc;
  for (std::string_view name : kRecordNotifications) {
    // Deleted phone records come under names of their own ("ScanDel...", "scanDel...").
    const bool deleted = name.substr(1, 6) == "canDel";
    nc.addObserver(&spool, name, [&spool, deleted](const tamsel::Notification& n) {
      if (auto record = n.record<tamsel::PRNode>()) spool.add(*record, deleted);
    });
  }
  session.controller().setRetainResults(false);
  bool damaged = false;
  bool phone = false;
  const int failed = scanOrFail(session, path, quiet, &damaged, &phone);
  nc.removeObserver(&spool);
  if (failed >= 0) return failed;
  printCounts(spool, phone, jsonDest == "-" ? stderr : stdout);
  if (!jsonDest.empty()) {
    if (!spool.error().empty()) {
      std::fprintf(stderr, "tamsel-cli: cannot write the JSON export to %s: %s\n", jsonDest.c_str(),
                   spool.error().c_str());
      return 1;
    }
    const std::string device = phone ? deviceMemberOf(path) : std::string();
    const int rc = tamsel::cli::writeJsonDocument(
        jsonDest, force, path, [&](const tamsel::cli::Writer& write) {
          return spool.finish(path, phone ? "iphone" : "blackberry", write, device);
        });
    if (rc != 0) return rc;
  }
  return damaged ? kExitDamaged : 0;
}

int runRecover(tamsel::cli::ScanSession& session, const std::string& outDir,
               const std::vector<std::string>& only, bool deletedOnly) {
  std::set<std::string> wanted(only.begin(), only.end());
  for (const auto& w : wanted) {
    bool known = false;
    for (const auto& c : classes()) known = known || w == c.cls;
    if (!known) {
      std::fprintf(stderr, "tamsel-cli: unknown record class %s\n", w.c_str());
      return 2;
    }
  }
  tamsel::PRResultViewController& results = session.results();
  for (const auto& c : classes()) {
    if (!wanted.empty() && !wanted.count(c.cls)) continue;
    for (Category cat : c.categories) {
      if (c.phone) {
        results.selectPhoneRecords(cat, true, deletedOnly);
      } else {
        results.selectAll(cat, true);
      }
    }
  }
  return writeTicked(results, outDir);
}

// The raw-scan kinds and the result screen's categories that hold them.
const std::vector<std::pair<std::string, Category>>& rawKinds() {
  static const std::vector<std::pair<std::string, Category>> k = {
      {"Image", Category::RawImage},     {"Video", Category::RawVideo},
      {"Audio", Category::RawAudio},     {"Document", Category::RawDocument},
      {"Archive", Category::RawArchive},
  };
  return k;
}

void printRawFiles(const tamsel::ResultLists& l, std::FILE* out) {
  const std::pair<const char*, const tamsel::RecordList<tamsel::PRScanListNode>*> lists[] = {
      {"Image", &l.bbImageArray},       {"Video", &l.bbVedioArray},     {"Audio", &l.bbAudioArray},
      {"Document", &l.bbDocumentArray}, {"Archive", &l.bbArchiveArray},
  };
  // One line per file: kind, size, first byte, deleted ("D"), damaged ("!"), name.
  for (const auto& [kind, list] : lists) {
    for (const auto& node : *list) {
      std::fprintf(out, "%-8s %9s  0x%012llx %s%s %s\n", kind, node->nodeSizeString.c_str(),
                   static_cast<unsigned long long>(node->getfile()->file_start),
                   node->bDeleted.empty() ? " " : "D", node->validaty.empty() ? " " : "!",
                   tamsel::escapeForTerminal(node->nodeName).c_str());
    }
  }
  size_t total = 0, totalDeleted = 0;
  std::fprintf(out, "%-15s %8s %8s\n", "kind", "files", "deleted");
  for (const auto& [kind, list] : lists) {
    const size_t deleted = static_cast<size_t>(std::count_if(
        list->begin(), list->end(), [](const auto& n) { return !n->bDeleted.empty(); }));
    std::fprintf(out, "%-15s %8zu %8zu\n", kind, list->size(), deleted);
    total += list->size();
    totalDeleted += deleted;
  }
  std::fprintf(out, "%-15s %8zu %8zu\n", "total", total, totalDeleted);
}

int runRawRecover(tamsel::cli::ScanSession& session, const std::string& outDir,
                  const std::vector<std::string>& kinds) {
  std::vector<Category> wanted;
  for (const auto& k : kinds) {
    auto it = std::find_if(rawKinds().begin(), rawKinds().end(),
                           [&](const auto& p) { return p.first == k; });
    if (it == rawKinds().end()) {
      std::fprintf(stderr,
                   "tamsel-cli: unknown kind %s (Image, Video, Audio, Document or Archive)\n",
                   k.c_str());
      return 2;
    }
    wanted.push_back(it->second);
  }
  if (wanted.empty()) {
    for (const auto& p : rawKinds()) wanted.push_back(p.second);
  }
  tamsel::PRResultViewController& results = session.results();
  for (Category c : wanted) results.selectAll(c, true);
  return writeTicked(results, outDir);
}

// The receipt: every file with its size, digest and origin, and every failure.
void printReceipt(const tamsel::RecoveryReport& report) {
  if (!report.reportHtml.empty()) {
    std::printf("Report: %s\n", tamsel::escapeForTerminal(report.reportHtml.string()).c_str());
  }
  if (!report.manifestCsv.empty()) {
    std::printf("Manifest: %s\n", tamsel::escapeForTerminal(report.manifestCsv.string()).c_str());
  }
}

int writeTicked(tamsel::PRResultViewController& results, const std::string& outDir) {
  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec) {
    std::fprintf(stderr, "tamsel-cli: cannot create %s: %s\n", outDir.c_str(),
                 ec.message().c_str());
    return 2;
  }
  const int ticked = results.selectedFilesNum();
  results.savePanelDidEnd(1, outDir);
  results.waitForRecovery();
  tamsel::RecoveryReport report = results.lastRecoveryReport();
  // Names come from the records: printed escaped, so they cannot act on the terminal.
  using tamsel::escapeForTerminal;
  const std::string folder = escapeForTerminal(outDir);
  // Each line says itself whether its file was not written or written incomplete.
  for (const auto& f : report.failures) {
    std::fprintf(stderr, "tamsel-cli: %s\n", escapeForTerminal(f).c_str());
  }
  // The count is of the files this run created, not of the records it went through.
  if (report.written.empty()) {
    std::fprintf(stderr, "tamsel-cli: nothing could be written into %s (%d ticked records)\n",
                 folder.c_str(), ticked);
    printReceipt(report);  // it lists the failures
    return 1;
  }
  std::printf("Recovered %zu files from %d ticked records into %s\n", report.written.size(), ticked,
              folder.c_str());
  // Files kept with unreadable sectors as zeros are among them, never silently.
  if (report.incomplete > 0) {
    std::printf("Incomplete: %d files (%s)\n", report.incomplete,
                tamsel::incompleteDetail(report).c_str());
  }
  for (const auto& p : report.written) {
    std::printf("  %s\n",
                escapeForTerminal(std::filesystem::relative(p, outDir, ec).string()).c_str());
  }
  printReceipt(report);
  // Files written incomplete make the run one that read its input only in part.
  if (report.failures.size() > static_cast<size_t>(report.incomplete)) return 1;
  return report.incomplete > 0 ? kExitDamaged : 0;
}

// `backups`: the phone backups under the backup root, one line each, names escaped.
int listBackups(const std::optional<std::filesystem::path>& workDir, const std::string& root) {
  tamsel::OrliskAppDelegate controller(nullptr, workDir);
  if (!root.empty()) controller.setBackupRoot(root);
  controller.showIphoneDiskView();
  using tamsel::escapeForTerminal;
  for (const std::string& skipped : controller.deviceController.skipped()) {
    std::fprintf(stderr, "tamsel-cli: warning: %s\n", escapeForTerminal(skipped).c_str());
  }
  if (controller.deviceController.count() == 0) {
    std::printf("no backups in %s\n", escapeForTerminal(controller.backupRoot().string()).c_str());
    return 0;
  }
  const char* format = "%-24s %-12s %-8s %-16s %-16s %-13s %s\n";
  std::printf(format, "device", "model", "system", "serial", "backup time", "encryption", "folder");
  for (const auto& node : controller.deviceController.nodes()) {
    std::printf(format, escapeForTerminal(node->strDeviceName).c_str(),
                escapeForTerminal(node->strDeviceType.empty() ? "-" : node->strDeviceType).c_str(),
                escapeForTerminal(node->strIOSVersion).c_str(),
                escapeForTerminal(node->strDeviceSerial).c_str(),
                escapeForTerminal(node->strDeviceBackUpTime).c_str(),
                node->encrypted ? "encrypted" : "not encrypted",
                escapeForTerminal(node->backUpFilePath).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C, SIGTERM or SIGHUP during a scan: its run folder (what was decrypted, unpacked or
  // copied) goes before the program ends.
  tamsel::handleTerminationSignals({.onSignal = [](int) { tamsel::cli::restoreTerminal(); }});
  CLI::App app{"Tamsel: find and recover contacts, messages, notes and files from phone backups"};
  app.set_version_flag("--version", std::string("tamsel-cli ") + TAMSEL_VERSION);
  app.require_subcommand(0, 1);

  std::string workDir;
  bool quiet = false;
  app.add_option(
      "--work-dir", workDir,
      "Private work folder (default $TAMSEL_WORK_DIR or ~/Downloads/com.Veltrane.Tamsel)");
  app.add_flag("-q,--quiet", quiet, "No progress bar and no diagnostics");
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Also show what the readers saw (database names, ...)");

  auto* backups = app.add_subcommand("backups", "List the phone backups on this computer");
  std::string backupRoot;
  backups->add_option("--backup-root", backupRoot,
                      "Folder of the phone backups (default $TAMSEL_BACKUP_ROOT or "
                      "~/Library/Application Support/MobileSync/Backup)");

  auto* scan = app.add_subcommand(
      "scan", "Scan a backup: a BlackBerry .ipd or .bbb file, or a phone backup folder");
  std::string scanPath, jsonDest;
  scan->add_option("PATH", scanPath, "Backup file or phone backup folder")->required();
  bool jsonForce = false;
  scan->add_option("--json", jsonDest, "Write every record as JSON to FILE ('-' for stdout)");
  scan->add_flag("--force", jsonForce, "Let --json replace an existing file");
  std::string passwordFile;
  scan->add_option("--password-file", passwordFile,
                   "Encrypted phone backup: its password is the first line of FILE (without it, "
                   "it is asked for when standard input is a terminal)");

  auto* recover = app.add_subcommand("recover", "Scan a backup and write its records into OUTDIR");
  std::string recoverPath, outDir;
  std::vector<std::string> only;
  bool deletedOnly = false;
  recover->add_option("PATH", recoverPath, "Backup file or phone backup folder")->required();
  recover->add_option("OUTDIR", outDir, "Output folder (created if needed)")->required();
  recover->add_option("--category", only,
                      "Only records of this class (repeatable), e.g. PRBlackBerryContactNode, "
                      "PRContactNode, PRPhotoAndVideoNode");
  recover->add_flag("--deleted-only", deletedOnly, "Phone-backup records: only the deleted ones");
  recover->add_option("--password-file", passwordFile,
                      "Encrypted phone backup: its password is the first line of FILE");

  auto* rawscan = app.add_subcommand("rawscan", "Scan a memory card (a device or an image file)");
  std::string rawPath, rawJson;
  rawscan->add_option("DEVICE", rawPath, "Device or image file, read only")->required();
  bool rawJsonForce = false;
  rawscan->add_option("--json", rawJson, "Write every found file as JSON to FILE ('-' for stdout)");
  rawscan->add_flag("--force", rawJsonForce, "Let --json replace an existing file");

  auto* rawrecover =
      app.add_subcommand("rawrecover", "Scan a memory card and write the found files into OUTDIR");
  std::string rawRecoverPath, rawOutDir;
  std::vector<std::string> rawKindsWanted;
  rawrecover->add_option("DEVICE", rawRecoverPath, "Device or image file, read only")->required();
  rawrecover->add_option("OUTDIR", rawOutDir, "Output folder (created if needed)")->required();
  rawrecover->add_option("--kind", rawKindsWanted,
                         "Only files of this kind (repeatable): Image, Video, Audio, Document, "
                         "Archive");

  auto* carve = app.add_subcommand(
      "carve", "List the deleted rows of every table of an SQLite database (read from a copy)");
  tamsel::cli::CarveCommand carving;
  carve->add_option("DATABASE", carving.database, "SQLite database file, read only")->required();
  carve->add_option("--wal", carving.log, "Its write-ahead log (default DATABASE-wal if present)");
  carve->add_option("--json", carving.jsonDest, "Write the rows as JSON to FILE ('-' for stdout)");
  carve->add_flag("--force", carving.force, "Let --json replace an existing file");

  CLI11_PARSE(app, argc, argv);
  // What went wrong reaches the user as the scan's warnings and errors; the readers' free-text
  // diagnostics (which repeat them, with more detail) only with --verbose, on stderr.
  if (!verbose || quiet) tamsel::setLogSink({});
  tamsel::setDebugLogging(verbose && !quiet);
  std::optional<std::filesystem::path> wd;
  if (!workDir.empty()) wd = workDir;

  if (backups->parsed()) return listBackups(wd, backupRoot);
  if (carve->parsed()) {
    carving.workDir = wd;
    return tamsel::cli::runCarveCommand(carving);
  }
  if (scan->parsed()) {
    if (int rc = refuseJsonDestination(jsonDest, scanPath, jsonForce); rc >= 0) return rc;
    tamsel::cli::ScanSession session(wd, scanPath);
    // A memory card is read through the disk library and listed as rawscan lists it.
    bool card = false;
    if (std::string error = session.loadDiskLibraryForCard(scanPath, &card); !error.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", error.c_str());
      return 2;
    }
    if (std::string error = session.usePassword(scanPath, passwordFile); !error.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", tamsel::escapeForTerminal(error).c_str());
      return 2;
    }
    if (!card) return scanBackup(session, scanPath, jsonDest, jsonForce, quiet);
    bool damaged = false;
    if (int rc = scanOrFail(session, scanPath, quiet, &damaged); rc >= 0) return rc;
    tamsel::ResultLists lists = session.lists();
    printRawFiles(lists, jsonDest == "-" ? stderr : stdout);
    if (!jsonDest.empty()) {
      int rc = tamsel::cli::writeJsonExport(jsonDest, jsonForce, scanPath, "raw", lists);
      if (rc != 0) return rc;
    }
    return damaged ? kExitDamaged : 0;
  }
  if (recover->parsed()) {
    // A phone backup is a folder: the recovered files never go into it.
    if (tamsel::cli::liesWithinFolder(outDir, recoverPath)) {
      std::fprintf(stderr,
                   "tamsel-cli: %s lies inside the scanned folder %s; nothing is written there\n",
                   tamsel::escapeForTerminal(outDir).c_str(),
                   tamsel::escapeForTerminal(recoverPath).c_str());
      return 2;
    }
    tamsel::cli::ScanSession session(wd, recoverPath);
    // A memory card image or device is read through the disk library, as `scan` reads it.
    bool card = false;
    if (std::string error = session.loadDiskLibraryForCard(recoverPath, &card); !error.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", error.c_str());
      return 2;
    }
    if (std::string error = session.usePassword(recoverPath, passwordFile); !error.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", tamsel::escapeForTerminal(error).c_str());
      return 2;
    }
    bool damaged = false;
    if (int rc = scanOrFail(session, recoverPath, quiet, &damaged); rc >= 0) return rc;
    const int rc = runRecover(session, outDir, only, deletedOnly);
    return rc == 0 && damaged ? kExitDamaged : rc;
  }
  if (rawscan->parsed() || rawrecover->parsed()) {
    const std::string& device = rawscan->parsed() ? rawPath : rawRecoverPath;
    if (int rc = refuseJsonDestination(rawJson, device, rawJsonForce); rc >= 0) return rc;
    tamsel::cli::ScanSession session(wd, device);
    if (std::string error = session.rawScan(device, !quiet); !error.empty()) {
      std::fprintf(stderr, "tamsel-cli: %s\n", error.c_str());
      return 2;
    }
    if (rawrecover->parsed()) return runRawRecover(session, rawOutDir, rawKindsWanted);
    tamsel::ResultLists lists = session.lists();
    printRawFiles(lists, rawJson == "-" ? stderr : stdout);
    if (!rawJson.empty()) {
      return tamsel::cli::writeJsonExport(rawJson, rawJsonForce, device, "raw", lists);
    }
    return 0;
  }
  std::cout << app.help();
  return 0;
}
