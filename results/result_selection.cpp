// Result presenter: ticking, select-all, the selection sentence, the deleted-only filter,
// sorting by column and the cell style of deleted rows.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

#include "results/record_columns.h"
#include "results/recovery_entries.h"
#include "results/result_view_controller.h"
#include "results/result_view_detail.h"
#include "util/file_names.h"

namespace tamsel {

// ---------------------------------------------------------------- ticking

int PRResultViewController::tickRecords(const ResultRows& rows, bool on) {
  int delta = 0;
  for (const auto& rec : rows) {
    Flag* f = rec ? detail::selectedFlagOf(*rec) : nullptr;
    if (!f || f->get() == on) continue;
    f->set(on);
    delta += on ? 1 : -1;
  }
  selectedFilesNum_ += delta;
  return delta;
}

void PRResultViewController::tableViewSetObjectValue(int value, int row) {
  if (current_ && detail::categoryInfo(*current_).ticks) {
    const Category c = *current_;
    const ResultRows& rows = displayList(c);
    const bool inRange = row >= 0 && static_cast<size_t>(row) < rows.size();
    if (inRange &&
        std::find(selectedRows_.begin(), selectedRows_.end(), row) == selectedRows_.end()) {
      tableViewSelectionDidChange({row});
      view_.setSelectedRows(c, selectedRows_);
    }
    ResultRows chosen;
    for (int r : selectedRows_) {
      if (r >= 0 && static_cast<size_t>(r) < rows.size()) chosen.push_back(rows[r]);
    }
    tickRecords(chosen, value == 1);
    view_.redrawTable(c);
  }
  updateSelectionState();
}

void PRResultViewController::ClickSelectAll(bool on) {
  if (current_ && detail::categoryInfo(*current_).ticks) {
    const ResultRows& rows = displayList(*current_);
    if (!rows.empty()) {
      tickRecords(rows, on);
      selectAll_[static_cast<int>(*current_)] = on;
    }
  }
  updateSelectionState();
  if (current_) view_.redrawTable(*current_);
}

int PRResultViewController::selectAll(Category c, bool on) {
  const auto& info = detail::categoryInfo(c);
  if (!info.ticks) return 0;
  const ResultRows rows = detail::rowsOf(info.shown, snapshot());
  if (rows.empty()) return 0;
  const int delta = tickRecords(rows, on);
  selectAll_[static_cast<int>(c)] = on;
  if (current_ == c) {
    view_.setCheckState(ResultCheck::selectAll, on);
    view_.redrawTable(c);
  }
  updateSelectionState();
  return delta;
}

void PRResultViewController::updateSelectionState() {
  const int n = selectedFilesNum_.load();
  if (n < 1) {
    view_.setFieldVisible(ResultField::selecteFilelab, false);
    view_.setButtonEnabled(ResultButton::save, false);
    return;
  }
  view_.setText(ResultField::selecteFilelab,
                "You select " + std::to_string(n) + " files in the recovery results.");
  view_.setFieldVisible(ResultField::selecteFilelab, true);
  view_.setButtonEnabled(ResultButton::save, true);
}

// ---------------------------------------------------------------- deleted-only filter

void PRResultViewController::showFilterPreviewFields(Category table, bool visible) {
  std::vector<ResultField> fields;
  switch (table) {
    case Category::Message:
      fields = {ResultField::messageName, ResultField::messagePhone, ResultField::messageType,
                ResultField::messageDate, ResultField::messageContent};
      break;
    case Category::Note:
      fields = {ResultField::noteTitle, ResultField::noteDate, ResultField::noteContent};
      break;
    case Category::BookMark:
      fields = {ResultField::bookMarkTitle, ResultField::bookMarkURL};
      break;
    case Category::Calender:
      fields = {ResultField::calTitle, ResultField::calNote, ResultField::calStartDate,
                ResultField::calEndDate, ResultField::calLocation};
      break;
    default:
      return;
  }
  for (ResultField f : fields) view_.setFieldVisible(f, visible);
}

void PRResultViewController::actCheck(bool deletedOnly) {
  if (!current_) return;
  const auto& info = detail::categoryInfo(*current_);
  if (!info.filters) return;
  ResultRows rows = detail::categoryRows(*current_, snapshot());
  if (deletedOnly) {
    std::erase_if(rows, [](const std::shared_ptr<PRNode>& r) {
      Flag* f = r ? detail::deletedFlagOf(*r) : nullptr;
      return !(f && f->get());
    });
  }
  // The rows come back in list order.
  clearSort(*current_);
  setDisplayList(*current_, narrowBySearch(std::move(rows)));
  selectFirstRow();
  showFilterPreviewFields(*current_, !displayList(*current_).empty());
}

CellStyle PRResultViewController::tableViewWillDisplayCell(Category table, int row) const {
  CellStyle style;
  const auto& info = detail::categoryInfo(table);
  if (!info.filters || row < 0) return style;
  const ResultRows& rows = displayList(table);
  if (static_cast<size_t>(row) >= rows.size() || !rows[row]) return style;
  Flag* f = detail::deletedFlagOf(*rows[row]);
  style.warning = f && f->get();
  return style;
}

// ---------------------------------------------------------------- sorting

namespace {

// The integer value of a file name without its extension: leading blanks skipped, an
// optional sign, the longest run of digits; 0 without digits, clamped to 32 bits.
int64_t leadingInteger(std::string_view name) {
  const size_t slash = name.rfind('/');
  const size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > base) name = name.substr(0, dot);
  size_t i = 0;
  while (i < name.size() && std::isspace(static_cast<unsigned char>(name[i]))) ++i;
  bool negative = false;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
  int64_t v = 0;
  const int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    v = std::min(limit, v * 10 + (name[i] - '0'));
  }
  v = negative ? -v : v;
  return std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max());
}

// The sorts the phone-backup tables have always had for their name, size and date columns;
// every other column sorts by its own values (record_columns.h).
enum class SortKind { none, name, size, date };

template <class T>
const T* as(const PRNode& n) {
  return dynamic_cast<const T*>(&n);
}

std::optional<ColumnSortKey> dateSortKey(std::string_view text) {
  if (std::optional<DateParts> k = parseDateText(text)) return ColumnSortKey(*k);
  return std::nullopt;
}

// The key of a record for one of those sorts; none when the record has no such field. Names
// compare case-sensitively, photo names by their leading number.
std::optional<ColumnSortKey> phoneSortKey(const PRNode& n, SortKind kind) {
  auto text = [](std::string s) { return std::optional<ColumnSortKey>(std::move(s)); };
  switch (kind) {
    case SortKind::name:
      if (auto* r = as<PRPhotoAndVideoNode>(n)) {
        return ColumnSortKey(leadingInteger(r->fileNodeName));
      }
      if (auto* r = as<PRBlackBerryContentNode>(n)) return text(lastPathComponent(r->filePathName));
      if (auto* r = as<PRContactNode>(n)) return text(r->contactName);
      if (auto* r = as<PRBlackBerryContactNode>(n)) return text(r->contactName);
      if (auto* r = as<PRMessageNode>(n)) return text(r->messageName);
      if (auto* r = as<PRCallHistoryNode>(n)) return text(r->callName);
      if (auto* r = as<PRBlackBerryCallNode>(n)) return text(r->CallName);
      return std::nullopt;
    case SortKind::size:
      if (auto* r = as<PRPhotoAndVideoNode>(n))
        return ColumnSortKey(sizeFormString(r->fileNodeSize));
      if (auto* r = as<PRBlackBerryContentNode>(n)) return ColumnSortKey(uint64_t{r->fileSize});
      return std::nullopt;
    case SortKind::date:
      if (auto* r = as<PRCallHistoryNode>(n)) return dateSortKey(r->callDate);
      if (auto* r = as<PRBlackBerryCallNode>(n)) return dateSortKey(r->CallTime);
      return std::nullopt;
    case SortKind::none:
      break;
  }
  return std::nullopt;
}

bool isPhoneRecord(PRNode& n) {
  return detail::deletedFlagOf(n) != nullptr || as<PRPhotoAndVideoNode>(n) != nullptr ||
         as<PRFaceTwitterNode>(n) != nullptr;
}

// The photo table sorts its names by number and its sizes by byte count, the contact and
// message tables their names and the call-history table its names and dates as they always
// have.
SortKind phoneSortKind(Category c, std::string_view column) {
  switch (c) {
    case Category::Photo:
      if (column == kColumnName) return SortKind::name;
      if (column == kColumnSize) return SortKind::size;
      return SortKind::none;
    case Category::Contact:
      return column == kColumnName ? SortKind::name : SortKind::none;
    case Category::Message:
      return column == kColumnName || column == "Contact" ? SortKind::name : SortKind::none;
    case Category::CallHistory:
      if (column == kColumnName) return SortKind::name;
      if (column == kColumnDate) return SortKind::date;
      return SortKind::none;
    default:
      return SortKind::none;
  }
}

// The rows in key order (stable); rows without a key go last in their former order.
ResultRows sortedBy(const ResultRows& rows,
                    const std::function<std::optional<ColumnSortKey>(const PRNode&)>& keyOf,
                    bool ascending) {
  std::vector<std::pair<ColumnSortKey, std::shared_ptr<PRNode>>> keyed;
  ResultRows rest;
  for (const auto& r : rows) {
    std::optional<ColumnSortKey> k = r ? keyOf(*r) : std::nullopt;
    if (k) {
      keyed.emplace_back(std::move(*k), r);
    } else {
      rest.push_back(r);
    }
  }
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  });
  ResultRows out;
  out.reserve(rows.size());
  for (auto& [k, r] : keyed) out.push_back(std::move(r));
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

}  // namespace

bool* PRResultViewController::sharedSortOrder(std::string_view column) {
  if (column == kColumnName || column == kColumnPhone || column == "Contact") return &nameOrder_;
  if (column == kColumnSize) return &sizeOrder_;
  if (column == kColumnDate || column == kColumnCreated || column == kColumnModified) {
    return &dateOrder_;
  }
  return nullptr;
}

void PRResultViewController::clearSort(Category c) {
  sort_[static_cast<int>(c)] = TableSort{};
  view_.setSortIndicator(c, {}, true);
}

void PRResultViewController::tableViewDidClickTableColumn(std::string_view column) {
  if (!current_) return;
  const Category c = *current_;
  sortByColumn(c, column);
  // The header shows the table's order whatever the click did (a front end may have moved
  // the indicator already).
  const TableSort& s = sort_[static_cast<int>(c)];
  view_.setSortIndicator(c, s.column, s.ascending);
}

void PRResultViewController::sortByColumn(Category c, std::string_view column) {
  if (column == kColumnTick) return;
  const ResultRows& rows = displayList(c);
  // A table that holds phone-backup records keeps their sort rules.
  const bool phone = std::any_of(rows.begin(), rows.end(), [](const std::shared_ptr<PRNode>& r) {
    return r && isPhoneRecord(*r);
  });
  const SortKind kind = phone ? phoneSortKind(c, column) : SortKind::none;
  const RecordColumn* col = findRecordColumn(c, column);
  if (kind == SortKind::none && !col) return;
  // The name, size and date columns share one order flag each across the tables; any other
  // column sorts ascending first, then each further click on it reverses.
  TableSort& s = sort_[static_cast<int>(c)];
  bool ascending = s.column == column ? !s.ascending : true;
  if (bool* shared = sharedSortOrder(column)) {
    *shared = !*shared;
    ascending = *shared;
  }
  std::function<std::optional<ColumnSortKey>(const PRNode&)> keyOf;
  if (kind != SortKind::none) {
    keyOf = [kind](const PRNode& n) { return phoneSortKey(n, kind); };
  } else {
    keyOf = [col](const PRNode& n) { return col->sortKey(n); };
  }
  if (searchBase_) searchBase_ = sortedBy(*searchBase_, keyOf, ascending);
  s = TableSort{std::string(column), ascending};
  setDisplayList(c, sortedBy(rows, keyOf, ascending));
  selectFirstRow();
}

}  // namespace tamsel
