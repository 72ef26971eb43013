// Result presenter: subscriptions, the scan lifecycle, category switching and the periphery.
#include "results/result_view_controller.h"

#include "events/notification_names.h"
#include "results/result_view_detail.h"
#include "util/file_names.h"

namespace tamsel {

namespace detail {

namespace {

using DL = DisplayList;

// Bookmarks and app files are recovered too, so their tables tick like the others.
constexpr CategoryInfo kInfo[kCategoryCount] = {
    /* Photo */ {DL::bbContentController, DL::photoController, true, false, CheckRule::hide},
    /* Contact */ {DL::bbContactController, DL::contactController, true, true, CheckRule::show},
    /* Message */ {DL::bbSMSController, DL::messageController, true, true, CheckRule::show},
    /* MMS */ {DL::bbMMSController, std::nullopt, true, false, CheckRule::show},
    /* Note */ {DL::bbNoteController, DL::noteController, true, true, CheckRule::show},
    /* CallHistory */
    {DL::bbCallController, DL::callHistoryController, true, true, CheckRule::show},
    /* Calender */ {DL::bbCalController, DL::calendarController, true, true, CheckRule::show},
    /* BookMark */
    {DL::bookMarkController, DL::bookMarkController, true, true, CheckRule::show},
    /* FaceTwitter */
    {DL::faceTwitterController, DL::faceTwitterController, true, false, CheckRule::hide},
    /* RawImage */ {DL::bbImageController, std::nullopt, true, false, CheckRule::leave},
    /* RawAudio */ {DL::bbAudioController, std::nullopt, true, false, CheckRule::leave},
    /* RawVideo */ {DL::bbVideoController, std::nullopt, true, false, CheckRule::leave},
    /* RawArchive */ {DL::bbArchiveController, std::nullopt, true, false, CheckRule::leave},
    /* RawDocument */ {DL::bbDocontroller, std::nullopt, true, false, CheckRule::leave},
};

template <class T>
ResultRows asRows(const RecordList<T>& list) {
  return ResultRows(list.begin(), list.end());
}

template <class T>
bool flagOf(PRNode& node, Flag*& out, Flag T::*member) {
  if (auto* r = dynamic_cast<T*>(&node)) {
    out = &(r->*member);
    return true;
  }
  return false;
}

}  // namespace

const CategoryInfo& categoryInfo(Category c) {
  return kInfo[static_cast<int>(c)];
}

ResultRows rowsOf(DisplayList d, const ResultLists& l) {
  switch (d) {
    case DL::bbContentController:
      return asRows(l.bbContentStoreArray);
    case DL::bbContactController:
      return asRows(l.bbContactArray);
    case DL::bbSMSController:
      return asRows(l.bbSMSArray);
    case DL::bbMMSController:
      return asRows(l.bbMMSArray);
    case DL::bbNoteController:
      return asRows(l.bbNoteArray);
    case DL::bbCallController:
      return asRows(l.bbCallArray);
    case DL::bbCalController:
      return asRows(l.bbCalderArray);
    case DL::bookMarkController:
      return asRows(l.bookMarkArray);
    case DL::faceTwitterController:
      return asRows(l.faceTwitterArray);
    case DL::bbImageController:
      return asRows(l.bbImageArray);
    case DL::bbAudioController:
      return asRows(l.bbAudioArray);
    case DL::bbVideoController:
      return asRows(l.bbVedioArray);
    case DL::bbArchiveController:
      return asRows(l.bbArchiveArray);
    case DL::bbDocontroller:
      return asRows(l.bbDocumentArray);
    case DL::photoController:
      return asRows(l.photoAndVideoArray);
    case DL::contactController:
      return asRows(l.contactArray);
    case DL::messageController:
      return asRows(l.messageArray);
    case DL::noteController:
      return asRows(l.noteArray);
    case DL::callHistoryController:
      return asRows(l.callHistoryArray);
    case DL::calendarController:
      return asRows(l.calenderArray);
  }
  return {};
}

ResultRows categoryRows(Category c, const ResultLists& l) {
  const CategoryInfo& info = categoryInfo(c);
  ResultRows rows = rowsOf(info.shown, l);
  if (info.phone && *info.phone != info.shown) {
    ResultRows phone = rowsOf(*info.phone, l);
    rows.insert(rows.end(), phone.begin(), phone.end());
  }
  return rows;
}

Flag* selectedFlagOf(PRNode& n) {
  Flag* f = nullptr;
  flagOf(n, f, &PRPhotoAndVideoNode::bSelected) || flagOf(n, f, &PRContactNode::bSelected) ||
      flagOf(n, f, &PRMessageNode::bSelected) || flagOf(n, f, &PRCallHistoryNode::bSelected) ||
      flagOf(n, f, &PRNoteNode::bSelected) || flagOf(n, f, &PRBookMarkNode::bSelected) ||
      flagOf(n, f, &PRCalenderNode::bSelected) || flagOf(n, f, &PRFaceTwitterNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryCallNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryContactNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryMMSMessageNode::bSelected) ||
      flagOf(n, f, &PRBlackBerrySMSMessageNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryNoteNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryCalenderNode::bSelected) ||
      flagOf(n, f, &PRBlackBerryContentNode::bSelected) || flagOf(n, f, &PRScanListNode::bSelected);
  return f;
}

Flag* deletedFlagOf(PRNode& n) {
  Flag* f = nullptr;
  flagOf(n, f, &PRContactNode::bDeleted) || flagOf(n, f, &PRMessageNode::bDeleted) ||
      flagOf(n, f, &PRCallHistoryNode::bDeleted) || flagOf(n, f, &PRNoteNode::bDeleted) ||
      flagOf(n, f, &PRBookMarkNode::bDeleted) || flagOf(n, f, &PRCalenderNode::bDeleted);
  return f;
}

}  // namespace detail

namespace {

constexpr Category kPhoneButtons[] = {Category::Photo,    Category::Contact,     Category::Message,
                                      Category::Note,     Category::CallHistory, Category::BookMark,
                                      Category::Calender, Category::FaceTwitter};
constexpr Category kCountedButtons[] = {Category::Photo, Category::Contact, Category::Message,
                                        Category::Note, Category::CallHistory};
// The raw categories in the order of their buttons.
constexpr Category kRawButtons[] = {Category::RawImage, Category::RawVideo, Category::RawAudio,
                                    Category::RawDocument, Category::RawArchive};
// The count labels of the phone and BlackBerry categories, which a card scan never raises,
// and those of the kinds of file a card scan finds, which a backup scan never raises.
constexpr ResultField kBackupCountLabels[] = {
    ResultField::photovideoNumlab, ResultField::delPhotovideoNumlab, ResultField::contactNumlab,
    ResultField::delContactNumlab, ResultField::messageNumlab,       ResultField::delMessageNumlab,
    ResultField::noteNumlab,       ResultField::delNoteNumlab,       ResultField::callNumlab,
    ResultField::delCallNumlab};
constexpr ResultField kRawCountLabels[] = {
    ResultField::imageNumlab,     ResultField::delImageNumlab,    ResultField::videoNumlab,
    ResultField::delVideoNumlab,  ResultField::audioNumlab,       ResultField::delAudioNumlab,
    ResultField::documentNumlab,  ResultField::delDocumentNumlab, ResultField::archiveNumlab,
    ResultField::delArchiveNumlab};

// What the title names as scanned: the host's name for it, else a device's path ("/dev/sdb")
// or the last component of a file's or folder's path. Control characters become blanks.
std::string scanSourceTitle(const ResultHost& host) {
  std::string title = host.scanSourceName();
  if (title.empty()) {
    std::string path = host.scanSourcePath();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    title = path.starts_with("/dev/") ? path : lastPathComponent(path);
  }
  for (char& ch : title) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
  }
  return title;
}

}  // namespace

std::string_view categoryButtonImage(Category c, bool pressed) {
  switch (c) {
    case Category::Photo:
      return pressed ? "phone&videoOn" : "phone&videoNom";
    case Category::Contact:
      return pressed ? "contactOn" : "contactNom";
    case Category::Message:
      return pressed ? "messageOn" : "messageNom";
    case Category::Note:
      return pressed ? "noteOn" : "noteNom";
    case Category::CallHistory:
      return pressed ? "callOn" : "callNom";
    case Category::BookMark:
      return pressed ? "Safari-BookMarkOn" : "Safari-BookMarkNom";
    case Category::Calender:
      return pressed ? "CalendarReminderOn" : "CalendarReminderNom";
    case Category::FaceTwitter:
      return pressed ? "TwitterFaceBookOn" : "TwitterFaceBookNom";
    case Category::MMS:
      return pressed ? "MMSMessageBtnDown" : "MMSMessageBtn";
    case Category::RawImage:
      return pressed ? "imageButtonDown" : "imageButton";
    case Category::RawAudio:
      return pressed ? "audioBtnDown" : "audioBtn";
    case Category::RawVideo:
      return pressed ? "videoBtnDown" : "videoBtn";
    case Category::RawDocument:
      return pressed ? "DocumentBtnDown" : "DocumentBtn";
    case Category::RawArchive:
      return pressed ? "archiveBtnDown" : "archiveBtn";
  }
  return "";
}

PRResultViewController::PRResultViewController(NotificationCenter& center, ResultView& view,
                                               ResultHost& host)
    : center_(center), view_(view), host_(host) {
  subscribe();
}

PRResultViewController::~PRResultViewController() {
  center_.removeObserver(this);
  if (recoverThread_) {
    recoverThread_->cancel();
    recoverThread_->wait();
  }
}

void PRResultViewController::subscribe() {
  using Member = void (PRResultViewController::*)(const Notification&);
  const std::pair<std::string_view, Member> table[] = {
      {notify::kScanPhotoAndVideo, &PRResultViewController::ScanPhotoAndVideoHandle},
      {notify::kScanPhotoAndVideoInfo, &PRResultViewController::ScanPhotoAndVideoInfomationHandle},
      {notify::kScanFaceTwitterInfo, &PRResultViewController::scanFaceTwitterInfoHandle},
      {notify::kScanContactInfo, &PRResultViewController::ScanContactInfomationHandle},
      {notify::kScanMessageInfo, &PRResultViewController::ScanMessageInfomationHandle},
      {notify::kScanCallHistoryInfo, &PRResultViewController::ScanCallHistoryInfomationHandle},
      {notify::kScanNoteInfo, &PRResultViewController::ScanNoteInfomationHandle},
      {notify::kScanBookMarkInfo, &PRResultViewController::scanBookMarkInfoHandle},
      {notify::kScanCalenderInfo, &PRResultViewController::scanCalenderInfoHandle},
      {notify::kScanDelContactInfo, &PRResultViewController::ScanDelContactInfomationHandle},
      {notify::kScanDelMessageInfo, &PRResultViewController::ScanDelMessageInfomationHandle},
      {notify::kScanDelNoteInfo, &PRResultViewController::ScanDelNoteInfomationHandle},
      {notify::kScanDelCallHistoryInfo,
       &PRResultViewController::ScanDelCallHistoryInfomationHandle},
      {notify::kScanDelBookMarkInfo, &PRResultViewController::scanDelBookMarkInfoHandle},
      {notify::kScanDelCalenderInfo, &PRResultViewController::scanDelCalenderInfoHandle},
      {notify::kBlacBerryContactInfo, &PRResultViewController::BlacBerryContactInfoHandle},
      {notify::kBlacBerryCallLogInfo, &PRResultViewController::BlacBerryCallLogInfoHandle},
      {notify::kBlackBerrySMSMessageInfo, &PRResultViewController::BlackBerrySMSMessageInfoHandle},
      {notify::kBlackBerryMMSMessageInfo, &PRResultViewController::BlackBerryMMSMessageInfoHandle},
      {notify::kBlackBerryNoteInfo, &PRResultViewController::BlackBerryNoteInfoHandle},
      {notify::kBlackBerryCalenderInfo, &PRResultViewController::BlackBerryCalenderInfoHandle},
      {notify::kBlackBerryContentStoreInfo,
       &PRResultViewController::BlackBerryContentStoreInfoHandle},
      {notify::kBlackBerryRawRecoveryProgress,
       &PRResultViewController::ScanProgressInfomationHandle},
      {notify::kBlackBerryRawRecoveryFileInfo,
       &PRResultViewController::BlackBerryRawRecoveryFileInfoHandle},
      {notify::kScanProgressInfo, &PRResultViewController::ScanProgressInfoHandle},
  };
  for (const auto& [name, member] : table) {
    center_.addObserver(this, name, [this, m = member](const Notification& n) { (this->*m)(n); });
  }
}

ResultLists PRResultViewController::snapshot() const {
  std::lock_guard lock(mutex_);
  return lists_;
}

ScanCounters PRResultViewController::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

// ---------------------------------------------------------------- lifecycle

void PRResultViewController::showView() {
  view_.showResultScreen();
  const bool raw = host_.brawScan();
  view_.setText(ResultField::scanTitle, raw ? "- Memory Card Recovery" : "- Backup File Recovery");
  view_.setText(ResultField::scanSource, scanSourceTitle(host_));
  view_.setButtonVisible(ResultButton::stop, raw);
  view_.layoutCategoryButtons(raw);
  view_.showScanProgressPanel();
  current_.reset();
  selectedRows_.clear();
  scanOpen_ = true;
  scanStopped_ = false;
  view_.setScanStoppedNoticeVisible(false);

  view_.setProgressValue(1);
  view_.setText(ResultField::progressText, "1%");
  view_.setProgressBarVisible(true);
  view_.setFieldVisible(ResultField::progressText, true);
  view_.setFieldVisible(ResultField::scanInfo, true);
  view_.setImageVisible(ResultImage::photo, false);

  for (ResultCheck c : {ResultCheck::deletedOnly, ResultCheck::selectAll}) {
    view_.setCheckState(c, false);
    view_.setCheckVisible(c, false);
  }
  view_.setFieldVisible(ResultField::selecteFilelab, false);

  selectedFilesNum_ = 0;
  recovredFilesNum_ = 0;
  {
    std::lock_guard lock(mutex_);
    counters_ = ScanCounters{};
    phoneProgress_ = 1;
  }

  view_.setButtonEnabled(ResultButton::save, false);
  view_.setButtonEnabled(ResultButton::home, false);
  for (Category c : kPhoneButtons) view_.setCategoryButtonEnabled(c, false);
  for (ResultButton b : {ResultButton::facebook, ResultButton::twitter, ResultButton::feedback}) {
    view_.setButtonEnabled(b, false);
  }

  for (Category c : kCountedButtons) view_.setCategoryButtonPressed(c, false);
  const std::pair<ResultField, const char*> startTexts[] = {
      {ResultField::photovideoNumlab, "Photo&Video:  "},
      {ResultField::delPhotovideoNumlab, "Photo&Video:  "},
      {ResultField::contactNumlab, "Contacts:  "},
      {ResultField::delContactNumlab, "Contacts:  "},
      {ResultField::messageNumlab, "Messages:  "},
      {ResultField::delMessageNumlab, "Messages:  "},
      {ResultField::noteNumlab, "Notes:  "},
      {ResultField::delNoteNumlab, "Notes:  "},
      {ResultField::callNumlab, "Call History:  "},
      {ResultField::delCallNumlab, "Call History:  "},
      {ResultField::imageNumlab, "Images:  "},
      {ResultField::delImageNumlab, "Images:  "},
      {ResultField::videoNumlab, "Videos:  "},
      {ResultField::delVideoNumlab, "Videos:  "},
      {ResultField::audioNumlab, "Audio:  "},
      {ResultField::delAudioNumlab, "Audio:  "},
      {ResultField::documentNumlab, "Documents:  "},
      {ResultField::delDocumentNumlab, "Documents:  "},
      {ResultField::archiveNumlab, "Archives:  "},
      {ResultField::delArchiveNumlab, "Archives:  "},
  };
  for (const auto& [field, text] : startTexts) view_.setText(field, text);
  for (ResultField f : kBackupCountLabels) view_.setFieldVisible(f, !raw);
  for (ResultField f : kRawCountLabels) view_.setFieldVisible(f, raw);

  view_.setColumnWidth(Category::Message, kColumnContent, 240);
  view_.setColumnWidth(Category::Note, kColumnContent, 307);
  view_.setColumnWidth(Category::CallHistory, kColumnPhone, 174);
  view_.setColumnWidth(Category::Contact, kColumnName, 200);

  selectAll_.fill(false);
}

void PRResultViewController::ScanThreadFinish() {
  view_.runOnUiThreadAndWait([this] { ScanFinishOnMainThread(); });
}

void PRResultViewController::ScanFinishOnMainThread() {
  view_.setProgressValue(0);
  view_.setText(ResultField::progressText, "0%");
  view_.setProgressBarVisible(false);
  view_.setFieldVisible(ResultField::progressText, false);
  view_.setFieldVisible(ResultField::scanInfo, false);
  view_.setButtonVisible(ResultButton::stop, false);
  view_.setScanStoppedNoticeVisible(scanStopped_);

  view_.setCheckVisible(ResultCheck::selectAll, true);
  view_.setCheckVisible(ResultCheck::deletedOnly, true);

  view_.setButtonEnabled(ResultButton::home, true);
  for (Category c : kPhoneButtons) view_.setCategoryButtonEnabled(c, true);
  for (ResultButton b : {ResultButton::facebook, ResultButton::twitter, ResultButton::feedback}) {
    view_.setButtonEnabled(b, true);
  }
  ScanCounters last;
  {
    std::lock_guard lock(mutex_);
    last = counters_;
    counters_ = ScanCounters{};
  }
  // The labels show the final counts, not those of the last progress report: records that
  // came after it (a phone-backup scan's live bookmarks and calendar report no progress)
  // would otherwise leave them short. A second finishing step of the same scan
  // (the stop button, then the scan thread's end) keeps them.
  if (scanOpen_) writeFinalCountLabels(last);
  scanOpen_ = false;
  if (!host_.brawScan()) {
    actCallHistory();
    return;
  }
  // A card scan opens on the first kind of file it found, in the order of the buttons.
  const ResultLists lists = snapshot();
  Category first = Category::RawImage;
  for (Category c : kRawButtons) {
    if (!detail::rowsOf(detail::categoryInfo(c).shown, lists).empty()) {
      first = c;
      break;
    }
  }
  showCategory(first);
}

void PRResultViewController::CilckStop() {
  // Only a stop while the scan runs cuts its results short.
  if (scanOpen_) scanStopped_ = true;
  host_.stopScan();
  ScanThreadFinish();
}

void PRResultViewController::actHome() {
  const bool back = view_.runConfirmAlert(
      "Are you sure you want to go back to Home? If Back, the scanning results will not be "
      "saved.",
      " Back ", "Cancel");
  if (!back) return;
  releaseUIMemory();
  view_.fixWindowSize(849, 560);
  view_.hideResultScreen();
  host_.showMainView();
  selectedFilesNum_ = 0;
  recovredFilesNum_ = 0;
}

void PRResultViewController::beginScan() {
  std::lock_guard lock(mutex_);
  accepting_ = true;
  filing_ = retain_;
  phoneProgress_ = 1;
}

void PRResultViewController::setRetainRecords(bool on) {
  std::lock_guard lock(mutex_);
  retain_ = on;
  filing_ = accepting_ && retain_;
}

void PRResultViewController::releaseUIMemory() {
  host_.stopScan();
  {
    std::lock_guard lock(mutex_);
    accepting_ = false;
    filing_ = false;
    lists_ = ResultLists{};
    dup_.clear();
  }
  // Every table shows phone-backup records too, so every display list lets its records go.
  for (auto& rows : display_) rows.clear();
  searchBase_.reset();
  for (int i = 0; i < kCategoryCount; ++i) view_.setTableRows(static_cast<Category>(i), {});
  selectedRows_.clear();
}

// ---------------------------------------------------------------- category switching

void PRResultViewController::setDisplayList(Category c, ResultRows rows) {
  display_[static_cast<int>(c)] = std::move(rows);
  view_.setTableRows(c, display_[static_cast<int>(c)]);
  std::string empty;
  if (display_[static_cast<int>(c)].empty()) {
    const bool none = detail::categoryRows(c, snapshot()).empty();
    empty = none ? kNothingFoundText : kNoFilterMatchText;
  }
  view_.setEmptyTableText(c, empty);
}

void PRResultViewController::selectFirstRow() {
  if (!current_) return;
  const ResultRows& rows = displayList(*current_);
  selectedRows_.clear();
  view_.setSelectedRows(*current_, selectedRows_);
  if (rows.empty()) return;
  selectedRows_ = {0};
  view_.setSelectedRows(*current_, selectedRows_);
  previewRow(*current_, 0);
}

void PRResultViewController::showCategory(Category c) {
  const auto& info = detail::categoryInfo(c);

  view_.showCategoryPanel(c);
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto other = static_cast<Category>(i);
    if (isRawCategory(other) == isRawCategory(c)) {
      view_.setCategoryButtonPressed(other, other == c);
    }
  }
  current_ = c;
  // The filter box starts empty in every category, as the deleted-only box does.
  searchText_.clear();
  searchWords_.clear();
  searchBase_.reset();
  view_.setSearchText({});

  // Every record of the category, in list order, as the deleted-only checkbox is cleared below.
  clearSort(c);
  setDisplayList(c, detail::categoryRows(c, snapshot()));
  selectFirstRow();

  view_.setCheckState(ResultCheck::selectAll, selectAll_[static_cast<int>(c)]);
  if (info.check == detail::CheckRule::show) {
    view_.setCheckVisible(ResultCheck::deletedOnly, true);
    view_.setCheckState(ResultCheck::deletedOnly, false);
  } else if (info.check == detail::CheckRule::hide) {
    view_.setCheckVisible(ResultCheck::deletedOnly, false);
  }

  const bool any = !displayList(c).empty();
  auto showFields = [&](std::initializer_list<ResultField> fields) {
    for (ResultField f : fields) view_.setFieldVisible(f, any);
  };
  switch (c) {
    case Category::Message:
      showFields({ResultField::messageName, ResultField::messagePhone, ResultField::messageType,
                  ResultField::messageDate, ResultField::messageContent});
      break;
    case Category::CallHistory:
      showFields({ResultField::callName, ResultField::callPhone, ResultField::callType,
                  ResultField::callTime, ResultField::callDate});
      break;
    case Category::BookMark:
      showFields({ResultField::bookMarkTitle, ResultField::bookMarkURL});
      break;
    case Category::FaceTwitter:
      view_.setButtonVisible(ResultButton::preview, any);
      showFields({ResultField::faceTwitterPreviewPanel, ResultField::faceTwitterFileName,
                  ResultField::faceTwitterFileSize, ResultField::faceTwitterFilePath});
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- periphery

void PRResultViewController::clickFeedBack() {
  view_.showFeedbackWindow("Provide any suggestions or problems to us.");
}
void PRResultViewController::clickFacebook() {
  if (!links_.facebook.empty()) view_.openUrl(links_.facebook);
}
void PRResultViewController::clickTwitter() {
  if (!links_.twitter.empty()) view_.openUrl(links_.twitter);
}
void PRResultViewController::clickSupport() {
  if (!links_.suggestions.empty()) view_.openUrl(links_.suggestions);
}
void PRResultViewController::setWebLinks(const WebLinks& links) {
  links_ = {acceptedWebAddress(links.suggestions), acceptedWebAddress(links.facebook),
            acceptedWebAddress(links.twitter)};
  view_.setButtonVisible(ResultButton::facebook, !links_.facebook.empty());
  view_.setButtonVisible(ResultButton::twitter, !links_.twitter.empty());
}

}  // namespace tamsel
