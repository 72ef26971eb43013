// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <mutex>
#include <string>

namespace tamsel::cli {

class ProgressBar {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar();
  // Percent 0..100; redraws only when the value changes.
  void update(int percent);
  void finish();

 private:
  std::string label_;
  bool tty_;
  int last_ = -1;
  bool done_ = false;
  std::mutex mutex_;
};

}  // namespace tamsel::cli
