// A result view without a window, for the command line: every request is accepted and
// dropped, confirmations are answered with the default button, and work meant for the UI
// thread runs at once on the calling thread.
#pragma once

#include "results/result_view.h"

namespace tamsel {

class HeadlessResultView : public ResultView {
 public:
  void showResultScreen() override {}
  void hideResultScreen() override {}
  void fixWindowSize(int, int) override {}
  void layoutCategoryButtons(bool) override {}
  void showScanProgressPanel() override {}
  void showCategoryPanel(Category) override {}
  void setText(ResultField, const std::string&) override {}
  void setFieldVisible(ResultField, bool) override {}
  void setButtonEnabled(ResultButton, bool) override {}
  void setButtonVisible(ResultButton, bool) override {}
  void setCategoryButtonEnabled(Category, bool) override {}
  void setCategoryButtonPressed(Category, bool) override {}
  void setCheckState(ResultCheck, bool) override {}
  void setCheckVisible(ResultCheck, bool) override {}
  void setProgressValue(int) override {}
  void setProgressBarVisible(bool) override {}
  void showImage(ResultImage, const Bytes&) override {}
  void setImageVisible(ResultImage, bool) override {}
  void setColumnWidth(Category, std::string_view, int) override {}
  void setTableRows(Category, const ResultRows&) override {}
  void setSelectedRows(Category, const std::vector<int>&) override {}
  void redrawTable(Category) override {}
  bool runConfirmAlert(const std::string&, const std::string&, const std::string&) override {
    return true;
  }
  void openFile(const std::string&) override {}
  void openUrl(const std::string&) override {}
  void showFeedbackWindow(const std::string&) override {}
  void runOnUiThread(std::function<void()> fn) override { fn(); }
  void runOnUiThreadAndWait(std::function<void()> fn) override { fn(); }
  // There is no panel to show: the front end passes the folder to savePanelDidEnd itself.
  void runSavePanel(const std::string&,
                    std::function<void(int, const std::string&)> done) override {
    done(0, "");
  }
  void setSaveSheetVisible(bool) override {}
  void setSaveProgress(int, const std::string&) override {}
  void openFolder(const std::string&) override {}
};

}  // namespace tamsel
