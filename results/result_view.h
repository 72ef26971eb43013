// The result screen as the presenter (PRResultViewController) sees it. A front end (the Qt
// window, a test double) implements ResultView; the presenter decides every text, state and
// row list, the view only draws them and reports the user's actions back.
//
// Threads: the presenter calls the view from the UI thread, except that progress updates
// made while a scan runs are handed over with runOnUiThread (asynchronous, in call order)
// and the end of a scan with runOnUiThreadAndWait.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "events/records.h"

namespace tamsel {

struct RecoveryReport;

// The categories of the result screen, one table and one button each. The first nine
// belong to backup scans, the last five to raw memory-card scans.
enum class Category : int {
  Photo,
  Contact,
  Message,
  MMS,
  Note,
  CallHistory,
  Calender,
  BookMark,
  FaceTwitter,
  RawImage,
  RawAudio,
  RawVideo,
  RawArchive,
  RawDocument,
};
inline constexpr int kCategoryCount = 14;

inline constexpr bool isRawCategory(Category c) {
  return c >= Category::RawImage;
}

// Text fields: the scan labels, the ten count labels and the preview fields of the panels,
// and the ten count labels of a card scan.
enum class ResultField : int {
  scanTitle,
  // Left of the scan title: what is scanned (the phone's name, the backup file's or card's).
  scanSource,
  progressText,
  scanInfo,
  selecteFilelab,
  photovideoNumlab,
  delPhotovideoNumlab,
  contactNumlab,
  delContactNumlab,
  messageNumlab,
  delMessageNumlab,
  noteNumlab,
  delNoteNumlab,
  callNumlab,
  delCallNumlab,
  // contact panel
  contactName,
  contactTitle,
  contactCompany,
  contactPinNumber,
  contactAddress,
  contactMobile,
  contactWork,
  contactHome,
  contactEmail,
  contactHomePage,
  contactBirthday,
  contactNote,
  // message panel
  messageName,
  messagePhone,
  messageType,
  messageDate,
  messageContent,  // the content area
  // call-history panel
  callName,
  callPhone,
  callType,
  callTime,
  callDate,
  // note panel
  noteTitle,
  noteDate,
  noteContent,  // the content area
  noteNote,
  // bookmark panel
  bookMarkTitle,
  bookMarkURL,
  // calendar panel
  calTitle,
  calNote,
  calStartDate,
  calEndDate,
  // Facebook/Twitter panel
  faceTwitterFileName,
  faceTwitterFileSize,
  faceTwitterPreviewPanel,
  // Fields of the phone-backup records that the panels above have no place for: the photo
  // panel's name and size, the calendar entry's location, the app file's stored path.
  photoFileName,
  photoFileSize,
  calLocation,
  faceTwitterFilePath,
  // The count labels of a memory-card scan, found and deleted per kind of file; shown in
  // place of the ten above while the results come from a card.
  imageNumlab,
  delImageNumlab,
  videoNumlab,
  delVideoNumlab,
  audioNumlab,
  delAudioNumlab,
  documentNumlab,
  delDocumentNumlab,
  archiveNumlab,
  delArchiveNumlab,
  // MMS panel: the number or name it came from or went to, the attachment's name and kind,
  // and the message's text.
  mmsNumber,
  mmsAttachment,
  mmsType,
  mmsContent,  // the content area
  // Under each category's preview lines: the record's other fields that hold a value, one
  // "Label: value" line each (results/record_details.h). In Category order: detailsField().
  photoDetails,
  contactDetails,
  messageDetails,
  mmsDetails,
  noteDetails,
  callDetails,
  calDetails,
  bookMarkDetails,
  faceTwitterDetails,
  rawImageDetails,
  rawAudioDetails,
  rawVideoDetails,
  rawArchiveDetails,
  rawDocumentDetails,
};

// The details text of a category's preview.
inline constexpr ResultField detailsField(Category c) {
  return static_cast<ResultField>(static_cast<int>(ResultField::photoDetails) +
                                  static_cast<int>(c));
}
static_assert(detailsField(Category::RawDocument) == ResultField::rawDocumentDetails);

enum class ResultButton : int { stop, home, save, preview, facebook, twitter, feedback };

enum class ResultCheck : int { selectAll, deletedOnly };

// Image views. An empty or undecodable byte buffer shows a fallback: the contact picture
// shows the resource "contact", the raw image view the desktop's icon for the file type
// "jpg" at 256 x 256 points, the photo view nothing. The MMS view shows a picture
// attachment, nothing for other attachments.
enum class ResultImage : int { photo, contact, rawImage, mms };

using ResultRows = std::vector<std::shared_ptr<PRNode>>;

// Column identifiers the presenter knows by name.
inline constexpr std::string_view kColumnTick = "bSelected";
inline constexpr std::string_view kColumnName = "Name";
inline constexpr std::string_view kColumnSize = "Size";
inline constexpr std::string_view kColumnContent = "Content";
inline constexpr std::string_view kColumnPhone = "Phone";
inline constexpr std::string_view kColumnDate = "Date";

// The warning colour of deleted rows and of the deleted-only checkbox's title.
inline constexpr int kWarningRed = 217, kWarningGreen = 81, kWarningBlue = 30;
inline constexpr std::string_view kDeletedOnlyTitle = "Only dispaly deleted files";
// The filter box's placeholder, the text over a table that shows no row (the category has
// none, or the filters hide them all) and the notice after a stopped scan.
inline constexpr std::string_view kSearchPlaceholder = "Search";
inline constexpr std::string_view kNothingFoundText = "Nothing found in this category";
inline constexpr std::string_view kNoFilterMatchText = "No rows match the filter";
inline constexpr std::string_view kScanStoppedText =
    "The scan was stopped: these results are partial.";

// How a table cell is drawn.
struct CellStyle {
  std::string_view font = "Lucida Grande";
  int pointSize = 11;
  bool warning = false;  // text in the warning colour
};

// Image resource of a category button, normal or pressed.
std::string_view categoryButtonImage(Category c, bool pressed);

class ResultView {
 public:
  virtual ~ResultView() = default;

  // Screen and window.
  virtual void showResultScreen() = 0;
  virtual void hideResultScreen() = 0;
  // Fixes the main window at this size (minimum = maximum, no resize indicator), keeping
  // its origin, animated.
  virtual void fixWindowSize(int width, int height) = 0;
  // Raw: the five raw buttons in one row (image, video, audio, document, archive), every
  // backup button hidden. Backup: the raw buttons hidden, the nine backup buttons shown
  // with photo, contact, message, note, call, calendar and MMS in one row in that order.
  virtual void layoutCategoryButtons(bool rawScan) = 0;
  // Shows one panel and hides the scan-progress panel and every other category panel.
  virtual void showScanProgressPanel() = 0;
  virtual void showCategoryPanel(Category c) = 0;

  // Widgets.
  virtual void setText(ResultField field, const std::string& text) = 0;
  virtual void setFieldVisible(ResultField field, bool visible) = 0;
  virtual void setButtonEnabled(ResultButton button, bool enabled) = 0;
  virtual void setButtonVisible(ResultButton button, bool visible) = 0;
  virtual void setCategoryButtonEnabled(Category c, bool enabled) = 0;
  // Pressed or normal image (categoryButtonImage).
  virtual void setCategoryButtonPressed(Category c, bool pressed) = 0;
  virtual void setCheckState(ResultCheck check, bool on) = 0;
  virtual void setCheckVisible(ResultCheck check, bool visible) = 0;
  virtual void setProgressValue(int value) = 0;  // 0 to 100
  virtual void setProgressBarVisible(bool visible) = 0;
  // The notice that the results are partial because the scan was stopped.
  virtual void setScanStoppedNoticeVisible(bool /*visible*/) {}
  // The filter box's text (the presenter clears it when the category changes).
  virtual void setSearchText(const std::string& /*text*/) {}
  // Decodes and shows the bytes (see ResultImage for the fallbacks) and makes it visible.
  virtual void showImage(ResultImage image, const Bytes& bytes) = 0;
  virtual void setImageVisible(ResultImage image, bool visible) = 0;

  // Tables, one per category. Rows are the records of the display list on screen; the view
  // draws each cell with the presenter's tableViewWillDisplayCell style. Applying a row
  // selection must not report it back through tableViewSelectionDidChange.
  virtual void setColumnWidth(Category table, std::string_view column, int width) = 0;
  virtual void setTableRows(Category table, const ResultRows& rows) = 0;
  virtual void setSelectedRows(Category table, const std::vector<int>& rows) = 0;
  virtual void redrawTable(Category table) = 0;
  // The header's sort mark: on `column`, ascending or descending; none for an empty column
  // (the rows are in list order).
  virtual void setSortIndicator(Category /*table*/, std::string_view /*column*/,
                                bool /*ascending*/) {}
  // Shown over a table while it has no row (kNothingFoundText, kNoFilterMatchText); empty
  // when it has rows.
  virtual void setEmptyTableText(Category /*table*/, const std::string& /*text*/) {}

  // A modal alert with two buttons and no informative text; true for the default button.
  virtual bool runConfirmAlert(const std::string& message, const std::string& defaultButton,
                               const std::string& otherButton) = 0;
  virtual void openFile(const std::string& path) = 0;  // with the default application
  virtual void openUrl(const std::string& url) = 0;    // in the web browser
  // Makes the feedback window visible and centred (unless it already is), its text area
  // showing `placeholder` in a 13-point grey system font and its e-mail field emptied.
  virtual void showFeedbackWindow(const std::string& placeholder) = 0;

  // Runs `fn` on the UI thread: later, in call order (runOnUiThread), or now and waits for
  // it (runOnUiThreadAndWait; runs it directly when called on the UI thread).
  virtual void runOnUiThread(std::function<void()> fn) = 0;
  virtual void runOnUiThreadAndWait(std::function<void()> fn) = 0;

  // Recovery. A save panel as a sheet, starting in "/" with `proposedName`; `done` gets
  // the return code (1 = OK) and the chosen path, on the UI thread.
  virtual void runSavePanel(const std::string& proposedName,
                            std::function<void(int returnCode, const std::string& path)> done) = 0;
  // The modal progress sheet with its bar (0 to 100) and percentage text.
  virtual void setSaveSheetVisible(bool visible) = 0;
  virtual void setSaveProgress(int percent, const std::string& text) = 0;
  // Opens a window of the desktop's file browser rooted at `path`.
  virtual void openFolder(const std::string& path) = 0;
  // The end of a recovery (UI thread): what was written and what failed. By default the
  // folder is opened (result_recovery.cpp).
  virtual void showRecoveryReceipt(const RecoveryReport& report);
};

}  // namespace tamsel
