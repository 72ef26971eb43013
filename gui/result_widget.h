// The result screen: category buttons, one table per category, the count labels, the scan
// progress, the preview panels and the recover controls. It draws what the presenter
// (PRResultViewController) asks for and reports the user's actions back to it; it decides
// nothing itself.
//
// Threads: every widget is touched on the UI thread only. Scan and recovery threads reach it
// through runOnUiThread / runOnUiThreadAndWait; once beginShutdown() has run (the window is
// closing) their calls are dropped, so a worker waiting for the UI thread is released.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <string>

#include "gui/record_table_model.h"
#include "gui/recovery_receipt_dialog.h"
#include "gui/ui_invoker.h"
#include "results/result_view.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QProgressDialog;
class QPushButton;
class QStackedWidget;
class QTableView;
class QToolButton;

namespace tamsel {

class PRResultViewController;
class PictureViews;
class ThumbnailGrid;

class ResultWidget : public QWidget, public ResultView {
 public:
  using PresenterSource = std::function<PRResultViewController*()>;

  explicit ResultWidget(QWidget* parent = nullptr);
  ~ResultWidget() override;

  // Where the user's actions go; the presenter is created with the first scan, so it is
  // looked up each time.
  void setPresenterSource(PresenterSource source) { presenter_ = std::move(source); }
  // Releases every thread waiting for the UI thread and drops later work from other
  // threads. Called when the window closes and when the event loop stops.
  void beginShutdown() {
    invoker_.shutDown();
    stopThumbnails();
  }
  bool shuttingDown() const { return invoker_.isShutDown(); }
  UiInvoker& invoker() { return invoker_; }
  // How folders, files and web pages are opened (QDesktopServices by default).
  void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }
  // How the receipt's "Open folder" opens the folder: false when no file manager took it
  // (QDesktopServices by default).
  void setFolderOpener(std::function<bool(const QUrl&)> opener) { openFolder_ = std::move(opener); }
  // How the feedback window's "Save…" asks for the file: given the proposed path, returns the
  // chosen one or an empty string (a save dialog, which confirms overwriting, by default).
  void setFeedbackFileChooser(std::function<QString(const QString&)> chooser) {
    chooseFeedbackFile_ = std::move(chooser);
  }
  QWidget* feedbackWindow() const { return feedback_; }

  // Widgets, for the window and for tests.
  RecordTableModel* model(Category c) const { return models_[static_cast<int>(c)]; }
  // The thumbnail grid of a picture category and its table/grid switch; null for the others.
  ThumbnailGrid* thumbnailGrid(Category c) const;
  PictureViews* pictureViews(Category c) const { return pictureViews_[static_cast<int>(c)]; }
  QTableView* table(Category c) const { return tables_[static_cast<int>(c)]; }
  QAbstractButton* categoryButton(Category c) const;
  QWidget* fieldWidget(ResultField f) const;
  QString fieldText(ResultField f) const;
  QPushButton* button(ResultButton b) const;
  QCheckBox* check(ResultCheck c) const;
  QLabel* imageLabel(ResultImage i) const;
  QProgressBar* progressBar() const { return progressBar_; }
  QLineEdit* searchBox() const { return searchBox_; }
  QLabel* stoppedNotice() const { return stoppedNotice_; }
  // The text over a category's table while it has no row (hidden otherwise).
  QLabel* emptyTableLabel(Category c) const { return emptyLabels_[static_cast<int>(c)]; }
  QProgressDialog* saveSheet() const { return saveSheet_; }
  // The receipt of the last recovery while it is open, else null.
  RecoveryReceiptDialog* receiptDialog() const { return receipt_; }
  // The category panel on screen, or none while the scan-progress panel is shown.
  std::optional<Category> shownCategory() const;

  // ResultView.
  void showResultScreen() override;
  void hideResultScreen() override;
  void fixWindowSize(int width, int height) override;
  void layoutCategoryButtons(bool rawScan) override;
  void showScanProgressPanel() override;
  void showCategoryPanel(Category c) override;
  void setText(ResultField field, const std::string& text) override;
  void setFieldVisible(ResultField field, bool visible) override;
  void setButtonEnabled(ResultButton button, bool enabled) override;
  void setButtonVisible(ResultButton button, bool visible) override;
  void setCategoryButtonEnabled(Category c, bool enabled) override;
  void setCategoryButtonPressed(Category c, bool pressed) override;
  void setCheckState(ResultCheck check, bool on) override;
  void setCheckVisible(ResultCheck check, bool visible) override;
  void setProgressValue(int value) override;
  void setProgressBarVisible(bool visible) override;
  void setScanStoppedNoticeVisible(bool visible) override;
  void setSearchText(const std::string& text) override;
  void showImage(ResultImage image, const Bytes& bytes) override;
  void setImageVisible(ResultImage image, bool visible) override;
  void setColumnWidth(Category table, std::string_view column, int width) override;
  void setTableRows(Category table, const ResultRows& rows) override;
  void setSelectedRows(Category table, const std::vector<int>& rows) override;
  void redrawTable(Category table) override;
  void setSortIndicator(Category table, std::string_view column, bool ascending) override;
  void setEmptyTableText(Category table, const std::string& text) override;
  bool runConfirmAlert(const std::string& message, const std::string& defaultButton,
                       const std::string& otherButton) override;
  void openFile(const std::string& path) override;
  void openUrl(const std::string& url) override;
  void showFeedbackWindow(const std::string& placeholder) override;
  void runOnUiThread(std::function<void()> fn) override;
  void runOnUiThreadAndWait(std::function<void()> fn) override;
  void runSavePanel(const std::string& proposedName,
                    std::function<void(int returnCode, const std::string& path)> done) override;
  void setSaveSheetVisible(bool visible) override;
  void setSaveProgress(int percent, const std::string& text) override;
  void openFolder(const std::string& path) override;
  void showRecoveryReceipt(const RecoveryReport& report) override;

 private:
  PRResultViewController* presenter() const { return presenter_ ? presenter_() : nullptr; }
  void buildTopBar();
  void buildCountLabels();
  void buildBottomBar();
  QWidget* buildProgressPanel();
  // The panel of one category: its table and, where it has one, its preview (panels.cpp).
  QWidget* buildCategoryPanel(Category c);
  QWidget* buildPreview(Category c);
  QTableView* buildTable(Category c);
  QLabel* addLabel(ResultField f, QWidget* parent);
  QWidget* addTextArea(ResultField f, QWidget* parent);
  QLabel* addImage(ResultImage i, QWidget* parent, int size);
  void selectionChangedByUser(Category c);
  void connectActions();
  // The filter box and stopped-scan notice above the tables, the progress strip below them,
  // a table with its empty-table text over it, and the keys and tab order of the screen
  // (result_search_keys.cpp).
  QWidget* buildSearchRow();
  QWidget* buildProgressStrip();
  QWidget* withEmptyText(Category c, QTableView* table);
  void setUpKeyboard();
  // The thumbnails of the picture categories (result_category_panel.cpp): dropped when a new
  // scan starts or the results are left, their worker stopped when the window closes.
  void clearThumbnails();
  void stopThumbnails();
  bool eventFilter(QObject* watched, QEvent* event) override;

  PresenterSource presenter_;
  UiInvoker invoker_;
  std::function<void(const QUrl&)> openUrl_;
  std::function<bool(const QUrl&)> openFolder_;
  std::function<QString(const QString&)> chooseFeedbackFile_;

  std::array<RecordTableModel*, kCategoryCount> models_{};
  std::array<QTableView*, kCategoryCount> tables_{};
  std::array<QToolButton*, kCategoryCount> categoryButtons_{};
  std::array<QWidget*, kCategoryCount> panels_{};
  std::map<ResultField, QWidget*> fields_;
  std::map<ResultButton, QPushButton*> buttons_;
  std::map<ResultImage, QLabel*> images_;
  QCheckBox* selectAll_ = nullptr;
  QCheckBox* deletedOnly_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLineEdit* searchBox_ = nullptr;
  QLabel* stoppedNotice_ = nullptr;
  std::array<QLabel*, kCategoryCount> emptyLabels_{};
  std::array<PictureViews*, kCategoryCount> pictureViews_{};
  QStackedWidget* stack_ = nullptr;
  QWidget* progressPanel_ = nullptr;
  QWidget* topBar_ = nullptr;
  QWidget* categoryRow_ = nullptr;
  QWidget* countBox_ = nullptr;
  QWidget* bottomBar_ = nullptr;
  QProgressDialog* saveSheet_ = nullptr;
  QPointer<RecoveryReceiptDialog> receipt_;
  QWidget* feedback_ = nullptr;
  // Writes the feedback window's text and e-mail to a file the user chooses.
  void saveFeedback();
  bool applyingSelection_ = false;
};

}  // namespace tamsel
