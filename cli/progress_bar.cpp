#include "cli/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tamsel::cli {

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)), tty_(isatty(2) == 1) {}

ProgressBar::~ProgressBar() {
  finish();
}

void ProgressBar::update(int percent) {
  percent = std::clamp(percent, 0, 100);
  std::lock_guard lock(mutex_);
  if (!tty_ || done_ || percent == last_) return;
  last_ = percent;
  constexpr int kWidth = 40;
  int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void ProgressBar::finish() {
  std::lock_guard lock(mutex_);
  if (!tty_ || done_) return;
  done_ = true;
  if (last_ >= 0) std::fputc('\n', stderr);
}

}  // namespace tamsel::cli
