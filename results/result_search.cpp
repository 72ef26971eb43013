// Result presenter: the filter box over the current table and the keyboard's tick toggle.
#include <algorithm>

#include "results/record_search.h"
#include "results/result_view_controller.h"
#include "results/result_view_detail.h"

namespace tamsel {

ResultRows PRResultViewController::narrowBySearch(ResultRows base) {
  if (searchWords_.empty()) {
    searchBase_.reset();
    return base;
  }
  ResultRows rows;
  for (const auto& r : base) {
    if (r && recordMatches(*r, searchWords_)) rows.push_back(r);
  }
  searchBase_ = std::move(base);
  return rows;
}

void PRResultViewController::setSearchText(const std::string& text) {
  if (!current_) return;  // no table while a scan runs
  const Category c = *current_;
  searchText_ = text;
  std::vector<std::string> words = searchWords(text);
  if (words == searchWords_) return;  // blanks added or removed
  // What the table showed before any word was typed (deleted-only and sorting applied).
  ResultRows base = searchBase_ ? std::move(*searchBase_) : displayList(c);
  searchWords_ = std::move(words);
  setDisplayList(c, narrowBySearch(std::move(base)));
  selectFirstRow();
  showFilterPreviewFields(c, !displayList(c).empty());
}

void PRResultViewController::toggleSelectedTicks() {
  if (!current_ || selectedRows_.empty()) return;
  const ResultRows& rows = displayList(*current_);
  const int row = selectedRows_.back();
  if (row < 0 || static_cast<size_t>(row) >= rows.size() || !rows[row]) return;
  const Flag* tick = detail::selectedFlagOf(*rows[row]);
  if (!tick) return;
  tableViewSetObjectValue(tick->get() ? 0 : 1, row);
}

}  // namespace tamsel
