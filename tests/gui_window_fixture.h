// The fixture of the front-end tests that drive the whole program: a main window over a
// controller whose work folder lies in a temporary folder, shown, with the log silenced.
// A test class prepares the environment in beforeWindow(), the controller in afterAttach()
// (both may fail the test with ASSERT_*), and undoes its own changes in afterWindow().
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "app/orlisk_app_delegate.h"
#include "gui/main_window.h"
#include "tests/fixtures/temp_folder.h"
#include "util/log.h"

namespace tamsel::testing {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousLog_ = setLogSink({});
    beforeWindow();
    if (HasFatalFailure()) return;
    window_.emplace();
    app_.emplace(&*window_, tmp_.path() / "work");
    window_->attach(*app_);
    afterAttach();
    if (HasFatalFailure()) return;
    window_->show();
  }
  void TearDown() override {
    if (window_) {
      window_->shutDown();
      window_->detach();
    }
    app_.reset();
    window_.reset();
    afterWindow();
    setLogSink(previousLog_);
  }

  virtual void beforeWindow() {}
  virtual void afterAttach() {}
  virtual void afterWindow() {}

  TempFolder tmp_;
  std::optional<MainWindow> window_;
  std::optional<OrliskAppDelegate> app_;

 private:
  LogSink previousLog_;
};

}  // namespace tamsel::testing
