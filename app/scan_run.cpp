#include "app/scan_run.h"

#include "util/log.h"

namespace tamsel {

ScanRun::ScanRun(NotificationCenter& nc, const std::filesystem::path& workDir,
                 const std::string& input)
    : input_(input), context_(nc) {
  if (!input.empty()) guard_.emplace(input);
  context_.workDir = workDir;
  if (workDir.empty()) return;
  folder_ = RunFolder::create(workDir, &folderError_);
  if (folder_) {
    context_.runDir = folder_->path();
  } else {
    logLine(folderError_);
  }
}

ScanRun::~ScanRun() {
  requestStop();
  join();
  folder_.reset();
}

bool ScanRun::start(std::function<void()> body) {
  if (worker_.joinable() || alive_.load()) return false;
  alive_ = true;
  worker_ = std::thread([this, body = std::move(body)] {
    body();
    alive_ = false;
    // The results may have been dropped while the body ran: nothing reads the folder now.
    // (dropWhenDone sets its flag before it reads alive_, so one of the two removes it.)
    if (dropped_.load() && folder_) folder_->remove();
  });
  return true;
}

void ScanRun::join() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void ScanRun::dropWhenDone() {
  requestStop();
  dropped_ = true;
  if (!alive_.load() && folder_) folder_->remove();
}

ScanOutcome ScanRun::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

void ScanRun::setOutcome(ScanOutcome o) {
  std::lock_guard lock(mutex_);
  outcome_ = std::move(o);
}

void ScanRun::clearLists() {
  context_.contactImageArray.clear();
  context_.contactArray.clear();
  context_.nameIndex.reset();
  delContactValueArray.clear();
  delContactArray.clear();
  delUnKnowContactArray.clear();
  noteValueArray.clear();
  noteArray.clear();
}

}  // namespace tamsel
