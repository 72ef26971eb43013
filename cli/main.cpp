// tamsel-cli: the recovery engine without a window, for scripts and examiners.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "cli/record_json.h"
#include "cli/scan_session.h"
#include "util/log.h"

namespace {

using tamsel::cli::ScanResult;

struct CountRow {
  const char* category;
  const char* cls;
  size_t count;
};

std::vector<CountRow> countRows(const tamsel::ResultLists& l) {
  return {{"Contacts", "PRBlackBerryContactNode", l.bbContactArray.size()},
          {"Call logs", "PRBlackBerryCallNode", l.bbCallArray.size()},
          {"SMS messages", "PRBlackBerrySMSMessageNode", l.bbSMSArray.size()},
          {"MMS messages", "PRBlackBerryMMSMessageNode", l.bbMMSArray.size()},
          {"Memos", "PRBlackBerryNoteNode", l.bbNoteArray.size()},
          {"Calendar", "PRBlackBerryCalenderNode", l.bbCalderArray.size()},
          {"Content store", "PRBlackBerryContentNode", l.bbContentStoreArray.size()}};
}

void printCounts(const ScanResult& r, std::FILE* out) {
  std::fprintf(out, "%-15s %-28s %8s\n", "category", "record class", "records");
  size_t total = 0;
  for (const auto& row : countRows(r.lists)) {
    std::fprintf(out, "%-15s %-28s %8zu\n", row.category, row.cls, row.count);
    total += row.count;
  }
  std::fprintf(out, "%-15s %-28s %8zu\n", "total", "", total);
}

int writeJson(const std::string& source, const ScanResult& r, const std::string& dest) {
  nlohmann::ordered_json doc;
  doc["source"] = source;
  doc["kind"] = "blackberry";
  doc["records"] = tamsel::cli::recordsToJson(r.lists);
  std::string text = doc.dump(2) + "\n";
  if (dest == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  std::ofstream out(dest, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "tamsel-cli: cannot write %s\n", dest.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Tamsel: find and recover contacts, messages, notes and files from phone backups"};
  app.set_version_flag("--version", std::string("tamsel-cli ") + TAMSEL_VERSION);
  app.require_subcommand(0, 1);

  std::string workDir;
  app.add_option(
      "--work-dir", workDir,
      "Private work folder (default $TAMSEL_WORK_DIR or ~/Downloads/com.Veltrane.Tamsel)");

  auto* scan = app.add_subcommand("scan", "Scan a BlackBerry backup (.ipd or .bbb)");
  std::string scanPath, jsonDest;
  bool quiet = false;
  scan->add_option("PATH", scanPath, "Backup file")->required();
  scan->add_option("--json", jsonDest, "Write every record as JSON to FILE ('-' for stdout)");
  scan->add_flag("-q,--quiet", quiet, "No progress bar and no diagnostics");

  CLI11_PARSE(app, argc, argv);

  if (scan->parsed()) {
    if (quiet) tamsel::setLogSink({});
    std::optional<std::filesystem::path> wd;
    if (!workDir.empty()) wd = workDir;
    ScanResult r = tamsel::cli::runBackupScan(scanPath, wd, !quiet);
    if (!r.outcome.readable) {
      std::fprintf(stderr, "tamsel-cli: %s\n", r.outcome.error.c_str());
      return 2;
    }
    if (r.outcome.truncated) {
      std::fprintf(stderr,
                   "tamsel-cli: warning: the backup is damaged; the records before "
                   "the damage were read\n");
    }
    std::FILE* table = jsonDest == "-" ? stderr : stdout;
    printCounts(r, table);
    if (!jsonDest.empty()) return writeJson(scanPath, r, jsonDest);
    return 0;
  }
  std::cout << app.help();
  return 0;
}
