// Result presenter: filing the records that scans post, the counters and the progress labels.
// These handlers run on the posting scan thread.
#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>

#include "results/result_view_controller.h"
#include "util/log.h"

namespace tamsel {

namespace {

template <class T>
std::shared_ptr<T> recordOrLog(const Notification& n) {
  auto rec = n.record<T>();
  if (!rec) logLine(std::string(n.name) + " arrived without a record; ignored");
  return rec;
}

}  // namespace

// ---------------------------------------------------------------- phone-backup records

namespace {

// Appends a live record without any check, and keeps its key for the deleted records.
template <class T>
void appendLive(std::mutex& m, const bool& open, RecordList<T>& list, int32_t& counter,
                DeletedRecordKeys* keys, const Notification& n) {
  auto rec = recordOrLog<T>(n);
  if (!rec) return;
  std::lock_guard lock(m);
  if (!open) return;
  if (keys) keys->noteLive(*rec);
  list.push_back(std::move(rec));
  ++counter;
}

// Appends a deleted record unless it is empty or equal to a listed (live or deleted) one.
template <class T>
void appendDeleted(std::mutex& m, const bool& open, RecordList<T>& list, int32_t& counter,
                   DeletedRecordKeys& keys, const Notification& n) {
  auto rec = recordOrLog<T>(n);
  if (!rec) return;
  std::lock_guard lock(m);
  if (!open || keys.admitDeleted(*rec) != DeletedRecordKeys::Verdict::listed) return;
  rec->bDeleted = true;
  list.push_back(std::move(rec));
  ++counter;
}

}  // namespace

void PRResultViewController::ScanPhotoAndVideoHandle(const Notification& n) {
  appendLive<PRPhotoAndVideoNode>(mutex_, filing_, lists_.photoAndVideoArray,
                                  counters_.photovideoNum, nullptr, n);
}

// The file paths of this notification are not used by the result screen.
void PRResultViewController::ScanPhotoAndVideoInfomationHandle(const Notification&) {}

void PRResultViewController::scanFaceTwitterInfoHandle(const Notification& n) {
  appendLive<PRFaceTwitterNode>(mutex_, filing_, lists_.faceTwitterArray, counters_.facetwitterNum,
                                nullptr, n);
}

void PRResultViewController::ScanContactInfomationHandle(const Notification& n) {
  appendLive<PRContactNode>(mutex_, filing_, lists_.contactArray, counters_.contactNum, &dup_, n);
}

void PRResultViewController::ScanMessageInfomationHandle(const Notification& n) {
  appendLive<PRMessageNode>(mutex_, filing_, lists_.messageArray, counters_.messageNum, &dup_, n);
}

void PRResultViewController::ScanCallHistoryInfomationHandle(const Notification& n) {
  appendLive<PRCallHistoryNode>(mutex_, filing_, lists_.callHistoryArray, counters_.callNum, &dup_,
                                n);
}

void PRResultViewController::ScanNoteInfomationHandle(const Notification& n) {
  appendLive<PRNoteNode>(mutex_, filing_, lists_.noteArray, counters_.noteNum, &dup_, n);
}

void PRResultViewController::scanBookMarkInfoHandle(const Notification& n) {
  appendLive<PRBookMarkNode>(mutex_, filing_, lists_.bookMarkArray, counters_.bookMarkNum, &dup_,
                             n);
}

void PRResultViewController::scanCalenderInfoHandle(const Notification& n) {
  appendLive<PRCalenderNode>(mutex_, filing_, lists_.calenderArray, counters_.calenderNum, &dup_,
                             n);
}

void PRResultViewController::ScanDelContactInfomationHandle(const Notification& n) {
  appendDeleted<PRContactNode>(mutex_, filing_, lists_.contactArray, counters_.delContactNum, dup_,
                               n);
}

void PRResultViewController::ScanDelMessageInfomationHandle(const Notification& n) {
  appendDeleted<PRMessageNode>(mutex_, filing_, lists_.messageArray, counters_.delMessageNum, dup_,
                               n);
}

void PRResultViewController::ScanDelNoteInfomationHandle(const Notification& n) {
  appendDeleted<PRNoteNode>(mutex_, filing_, lists_.noteArray, counters_.delNoteNum, dup_, n);
}

void PRResultViewController::ScanDelCallHistoryInfomationHandle(const Notification& n) {
  appendDeleted<PRCallHistoryNode>(mutex_, filing_, lists_.callHistoryArray, counters_.delCallNum,
                                   dup_, n);
}

void PRResultViewController::scanDelBookMarkInfoHandle(const Notification& n) {
  appendDeleted<PRBookMarkNode>(mutex_, filing_, lists_.bookMarkArray, counters_.delBookMarkNum,
                                dup_, n);
}

void PRResultViewController::scanDelCalenderInfoHandle(const Notification& n) {
  appendDeleted<PRCalenderNode>(mutex_, filing_, lists_.calenderArray, counters_.delCalenderNum,
                                dup_, n);
}

// ---------------------------------------------------------------- BlackBerry and raw records

namespace {

// BlackBerry records count in the category whose label they belong to, so the labels tell
// the truth after a BlackBerry scan too. A notification without a record is ignored.
template <class T>
void appendCounted(std::mutex& m, const bool& open, RecordList<T>& list, int32_t* counter,
                   const Notification& n) {
  auto rec = n.record<T>();
  if (!rec) return;
  std::lock_guard lock(m);
  if (!open) return;
  list.push_back(std::move(rec));
  if (counter) ++*counter;
}

}  // namespace

void PRResultViewController::BlacBerryContactInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryContactNode>(mutex_, filing_, lists_.bbContactArray,
                                         &counters_.contactNum, n);
}

void PRResultViewController::BlacBerryCallLogInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryCallNode>(mutex_, filing_, lists_.bbCallArray, &counters_.callNum, n);
}

void PRResultViewController::BlackBerrySMSMessageInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerrySMSMessageNode>(mutex_, filing_, lists_.bbSMSArray,
                                            &counters_.messageNum, n);
}

void PRResultViewController::BlackBerryMMSMessageInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryMMSMessageNode>(mutex_, filing_, lists_.bbMMSArray,
                                            &counters_.messageNum, n);
}

void PRResultViewController::BlackBerryNoteInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryNoteNode>(mutex_, filing_, lists_.bbNoteArray, &counters_.noteNum, n);
}

void PRResultViewController::BlackBerryCalenderInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryCalenderNode>(mutex_, filing_, lists_.bbCalderArray,
                                          &counters_.calenderNum, n);
}

void PRResultViewController::BlackBerryContentStoreInfoHandle(const Notification& n) {
  appendCounted<PRBlackBerryContentNode>(mutex_, filing_, lists_.bbContentStoreArray,
                                         &counters_.photovideoNum, n);
}

// Found files go to the list of their kind and count on its label, found or deleted (from a
// deleted folder entry). Unknown kinds are dropped.
void PRResultViewController::BlackBerryRawRecoveryFileInfoHandle(const Notification& n) {
  auto rec = n.record<PRScanListNode>();
  if (!rec) return;
  struct Kind {
    std::string_view type;
    RecordList<PRScanListNode> ResultLists::*list;
    int32_t ScanCounters::*found;
    int32_t ScanCounters::*deleted;
  };
  static constexpr Kind kKinds[] = {
      {"Image", &ResultLists::bbImageArray, &ScanCounters::imageNum, &ScanCounters::delImageNum},
      {"Audio", &ResultLists::bbAudioArray, &ScanCounters::audioNum, &ScanCounters::delAudioNum},
      {"Video", &ResultLists::bbVedioArray, &ScanCounters::videoNum, &ScanCounters::delVideoNum},
      {"Document", &ResultLists::bbDocumentArray, &ScanCounters::documentNum,
       &ScanCounters::delDocumentNum},
      {"Archive", &ResultLists::bbArchiveArray, &ScanCounters::archiveNum,
       &ScanCounters::delArchiveNum},
  };
  const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                 [&](const Kind& k) { return k.type == rec->fileType; });
  if (kind == std::end(kKinds)) return;
  const bool deleted = (rec->foundFlags & TAMSEL_FOUND_DELETED) != 0;
  std::lock_guard lock(mutex_);
  if (!filing_) return;
  (lists_.*(kind->list)).push_back(std::move(rec));
  ++(counters_.*(deleted ? kind->deleted : kind->found));
}

// ---------------------------------------------------------------- progress

void PRResultViewController::ScanProgressInfomationHandle(const Notification& n) {
  const auto* value = std::get_if<int64_t>(&n.object);
  if (!value) return;
  {
    std::lock_guard lock(mutex_);
    if (!accepting_) return;  // the results were dropped; a late worker's progress too
  }
  const int progress = static_cast<int>(std::clamp<int64_t>(*value, std::numeric_limits<int>::min(),
                                                            std::numeric_limits<int>::max()));
  rewriteCountLabels(progress);
}

void PRResultViewController::ScanProgressInfoHandle(const Notification& n) {
  const auto* value = std::get_if<int64_t>(&n.object);
  if (!value) return;
  int shown = 0;
  {
    std::lock_guard lock(mutex_);
    if (!accepting_) return;  // the results were dropped; a late worker's progress too
    phoneProgress_ =
        std::max(phoneProgress_, static_cast<int>(std::clamp<int64_t>(*value, 0, 100)));
    shown = phoneProgress_;
  }
  rewriteCountLabels(shown);
}

namespace {

using CountLabels = std::array<std::pair<ResultField, std::string>, 20>;

CountLabels countLabelTexts(const ScanCounters& c) {
  auto fmt = [](const char* prefix, int32_t v) { return prefix + std::to_string(v); };
  return {{
      {ResultField::imageNumlab, fmt("Images:  ", c.imageNum)},
      {ResultField::delImageNumlab, fmt("Images:  ", c.delImageNum)},
      {ResultField::videoNumlab, fmt("Videos:  ", c.videoNum)},
      {ResultField::delVideoNumlab, fmt("Videos:  ", c.delVideoNum)},
      {ResultField::audioNumlab, fmt("Audio:  ", c.audioNum)},
      {ResultField::delAudioNumlab, fmt("Audio:  ", c.delAudioNum)},
      {ResultField::documentNumlab, fmt("Documents:  ", c.documentNum)},
      {ResultField::delDocumentNumlab, fmt("Documents:  ", c.delDocumentNum)},
      {ResultField::archiveNumlab, fmt("Archives:  ", c.archiveNum)},
      {ResultField::delArchiveNumlab, fmt("Archives:  ", c.delArchiveNum)},
      {ResultField::photovideoNumlab, fmt("Photo&Video:  ", c.photovideoNum)},
      {ResultField::delPhotovideoNumlab, "Photo&Video:  0"},
      {ResultField::contactNumlab, fmt("Contacts:  ", c.contactNum)},
      {ResultField::delContactNumlab, fmt("Contacts:  ", c.delContactNum)},
      {ResultField::messageNumlab, fmt("Messages:  ", c.messageNum)},
      {ResultField::delMessageNumlab, fmt("Messages:  ", c.delMessageNum)},
      {ResultField::noteNumlab, fmt("Notes:  ", c.noteNum)},
      {ResultField::delNoteNumlab, fmt("Notes:  ", c.delNoteNum)},
      {ResultField::callNumlab, fmt("Call History:  ", c.callNum)},
      {ResultField::delCallNumlab, fmt("Call History:  ", c.delCallNum)},
  }};
}

}  // namespace

void PRResultViewController::rewriteCountLabels(int progress) {
  ResultView& view = view_;
  view_.runOnUiThread([&view, progress, labels = countLabelTexts(counters())] {
    view.setProgressValue(progress);
    view.setText(ResultField::progressText, std::to_string(progress) + "%");
    for (const auto& [field, text] : labels) view.setText(field, text);
  });
}

void PRResultViewController::writeFinalCountLabels(const ScanCounters& c) {
  for (const auto& [field, text] : countLabelTexts(c)) view_.setText(field, text);
}

}  // namespace tamsel
