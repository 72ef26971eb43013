// One scan, from its start until its results are dropped (Home, the next scan, the end of
// the program or of a command): its context and working lists, its worker thread and stop
// flag, its outcome, and its private run folder inside the work folder, which goes with it.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/work_folder.h"
#include "events/notification_center.h"
#include "events/records.h"
#include "events/scan_context.h"
#include "events/scan_source.h"

namespace tamsel {

class ScanRun {
 public:
  // A run of `input`; the run folder is made under `workDir` unless `workDir` is empty (a run
  // that holds nothing, such as the controller's before its first scan). A run folder that
  // cannot be made leaves context().runDir empty and folderError() set.
  ScanRun(NotificationCenter& nc, const std::filesystem::path& workDir, const std::string& input);
  // Asks the worker to stop, waits for it, then removes the run folder.
  ~ScanRun();
  ScanRun(const ScanRun&) = delete;
  ScanRun& operator=(const ScanRun&) = delete;

  ScanContext& context() { return context_; }
  const std::string& input() const { return input_; }
  const std::string& folderError() const { return folderError_; }

  // Starts the worker on `body`; false when a worker was started before.
  bool start(std::function<void()> body);
  // True from start() until the worker's body has returned.
  bool workerAlive() const { return alive_.load(); }
  void requestStop() { context_.stopRequested = true; }
  // Waits for the worker; returns at once when there is none. Not from the worker itself.
  void join();
  // The results were dropped while the worker still runs: the worker removes the run folder
  // itself when it ends. Removes it at once when no worker runs.
  void dropWhenDone();

  ScanOutcome outcome() const;
  void setOutcome(ScanOutcome o);

  // Empties the working lists (the database table is kept for lookups).
  void clearLists();

  // Working lists of the scan.
  std::vector<std::shared_ptr<DelContactValue>> delContactValueArray;
  std::vector<std::shared_ptr<PRContactNode>> delContactArray;
  std::vector<std::shared_ptr<PRContactNode>> delUnKnowContactArray;
  std::vector<std::shared_ptr<PRNoteValueNode>> noteValueArray;
  std::vector<std::shared_ptr<PRNoteNode>> noteArray;

 private:
  std::string input_;
  std::optional<ScannedInput> guard_;  // the input is never removed while the run lives
  ScanContext context_;
  std::unique_ptr<RunFolder> folder_;
  std::string folderError_;
  std::thread worker_;
  std::atomic<bool> alive_{false};
  std::atomic<bool> dropped_{false};
  mutable std::mutex mutex_;
  ScanOutcome outcome_;
};

}  // namespace tamsel
