// The result screen's twenty record lists, one per category. The presenter owns one set,
// guarded by its mutex; the recovery writer and the front ends work on copies (the copies
// share the records, so ticks made on the records themselves are seen by every copy).
#pragma once

#include <memory>
#include <vector>

#include "events/records.h"

namespace tamsel {

template <class T>
using RecordList = std::vector<std::shared_ptr<T>>;

struct ResultLists {
  RecordList<PRPhotoAndVideoNode> photoAndVideoArray;
  RecordList<PRContactNode> contactArray;
  RecordList<PRMessageNode> messageArray;
  RecordList<PRNoteNode> noteArray;
  RecordList<PRCallHistoryNode> callHistoryArray;
  RecordList<PRBookMarkNode> bookMarkArray;
  RecordList<PRCalenderNode> calenderArray;
  RecordList<PRFaceTwitterNode> faceTwitterArray;
  RecordList<PRBlackBerryContactNode> bbContactArray;
  RecordList<PRBlackBerryCallNode> bbCallArray;
  RecordList<PRBlackBerrySMSMessageNode> bbSMSArray;
  RecordList<PRBlackBerryMMSMessageNode> bbMMSArray;
  RecordList<PRBlackBerryNoteNode> bbNoteArray;
  RecordList<PRBlackBerryCalenderNode> bbCalderArray;
  RecordList<PRBlackBerryContentNode> bbContentStoreArray;
  RecordList<PRScanListNode> bbImageArray;
  RecordList<PRScanListNode> bbAudioArray;
  RecordList<PRScanListNode> bbVedioArray;
  RecordList<PRScanListNode> bbDocumentArray;
  RecordList<PRScanListNode> bbArchiveArray;
};

}  // namespace tamsel
