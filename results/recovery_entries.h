// The text entry of each record kind in the category text files, and the small number and
// name helpers of a recovery run.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "events/records.h"

namespace tamsel {

// One entry per record kind: label-and-value fields concatenated, as the text reports show
// them (the text controller adds the two line feeds).
std::string contactEntry(const PRBlackBerryContactNode& node);
std::string smsEntry(const PRBlackBerrySMSMessageNode& node);
std::string memoEntry(const PRBlackBerryNoteNode& node);
std::string calendarEntry(const PRBlackBerryCalenderNode& node);
std::string callLogEntry(const PRBlackBerryCallNode& node);
std::string mmsEntry(const PRBlackBerryMMSMessageNode& node);
// "Title:%@  URL:%@  "; a bookmark that arrived as a deleted record gets "Deleted:Yes  "
// after it, so the entry of a live one stays as it always was.
std::string bookMarkEntry(const PRBookMarkNode& node);

// The phone-backup records, in the same label-and-value style: every field the user can
// read (not the row ids the scanners keep for themselves), then "Deleted:Yes" or
// "Deleted:No".
std::string contactEntry(const PRContactNode& node);
std::string messageEntry(const PRMessageNode& node);
std::string callHistoryEntry(const PRCallHistoryNode& node);
std::string noteEntry(const PRNoteNode& node);
std::string calendarEntry(const PRCalenderNode& node);

// The byte count a size text stands for: the last character is the unit ("B" x1, "K"
// x1000, "M" x1000^2, "G" x1000^3, anything else x1000^4), the text before it a decimal
// number; truncated. "" or text that is no number gives 0.
uint64_t sizeFormString(std::string_view sizeText);

// The folder name proposed for a run started at `now`, in local time:
// "Tamsel 2014-05-12 - 10.20.30".
std::string proposedFolderName(std::time_t now);

// The progress shown: recovered x 100 / selected in single precision, truncated, kept
// within 0..100; 0 when nothing is selected.
int progressPercent(int recovered, int selected);

}  // namespace tamsel
