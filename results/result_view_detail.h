// Private to the result presenter's source files: the fixed facts of each category and the
// record marks every record class carries.
#pragma once

#include <optional>

#include "results/result_lists.h"
#include "results/result_view.h"
#include "results/result_view_controller.h"

namespace tamsel::detail {

// What a category action does to the deleted-only checkbox.
enum class CheckRule { show, hide, leave };

// A category's table shows one display list (`shown`), and ticking, the deleted-only filter,
// the warning colour and sorting all act on that list. It holds the records of the
// BlackBerry or raw result list of the same name, followed by those of the phone-backup
// result list `phone` (bookmarks and Facebook/Twitter have the phone list only).
struct CategoryInfo {
  DisplayList shown;                 // the display list its table shows
  std::optional<DisplayList> phone;  // the phone-backup result list it also shows
  bool ticks;                        // takes part in ticking and select-all
  bool filters;                      // deleted-only filter and warning colour
  CheckRule check;
};

const CategoryInfo& categoryInfo(Category c);

// The records of the result list behind a display list id, in list order.
ResultRows rowsOf(DisplayList d, const ResultLists& lists);

// Every record a category's table shows, in list order: the BlackBerry or raw records, then
// the phone-backup ones.
ResultRows categoryRows(Category c, const ResultLists& lists);

// The tick of any result record; null for other classes.
Flag* selectedFlagOf(PRNode& node);
// The deleted mark of a phone-backup record; null for other classes.
Flag* deletedFlagOf(PRNode& node);

}  // namespace tamsel::detail
