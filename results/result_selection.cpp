// Result presenter: ticking, select-all, the selection sentence, the deleted-only filter,
// sorting by column and the cell style of deleted rows.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <variant>

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

// A call date "MM-DD-YYYY HH:MM" (or "YYYY-MM-DD HH:MM[:SS]") as year, month, day, hour,
// minute, second, compared in that order (no combined number, which would overflow on
// absurd years).
using DateKey = std::array<int64_t, 6>;

std::optional<DateKey> dateKey(std::string_view text) {
  std::vector<int64_t> parts;
  size_t i = 0;
  while (i < text.size() && parts.size() < 6) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    int64_t v = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 9; ++i, ++digits) {
      v = v * 10 + (text[i] - '0');
    }
    parts.push_back(v);
  }
  if (parts.size() < 3) return std::nullopt;
  int64_t year, month, day;
  if (parts[0] > 31) {
    year = parts[0], month = parts[1], day = parts[2];
  } else {
    month = parts[0], day = parts[1], year = parts[2];
  }
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const int64_t hour = parts.size() > 3 ? parts[3] : 0;
  const int64_t minute = parts.size() > 4 ? parts[4] : 0;
  const int64_t second = parts.size() > 5 ? parts[5] : 0;
  return DateKey{year, month, day, hour, minute, second};
}

// What a click on a column sorts by.
enum class SortKind { none, name, phone, size, date, created, modified };

// The key of a row. Keys of different types (only in a list that mixes record classes)
// order by type first.
using SortKey = std::variant<int64_t, uint64_t, DateKey, std::string>;

template <class T>
const T* as(const PRNode& n) {
  return dynamic_cast<const T*>(&n);
}

std::optional<SortKey> dateSortKey(std::string_view text) {
  if (std::optional<DateKey> k = dateKey(text)) return SortKey(*k);
  return std::nullopt;
}

// The key of a record for a kind of sort; none when the record has no such field.
std::optional<SortKey> sortKeyOf(const PRNode& n, SortKind kind) {
  auto text = [](std::string s) { return std::optional<SortKey>(std::move(s)); };
  switch (kind) {
    case SortKind::name:
      if (auto* r = as<PRPhotoAndVideoNode>(n)) return SortKey(leadingInteger(r->fileNodeName));
      if (auto* r = as<PRBlackBerryContentNode>(n)) return text(lastPathComponent(r->filePathName));
      if (auto* r = as<PRContactNode>(n)) return text(r->contactName);
      if (auto* r = as<PRBlackBerryContactNode>(n)) return text(r->contactName);
      if (auto* r = as<PRMessageNode>(n)) return text(r->messageName);
      if (auto* r = as<PRBlackBerryMMSMessageNode>(n)) {
        return text(lastPathComponent(r->contentDataName));
      }
      if (auto* r = as<PRCallHistoryNode>(n)) return text(r->callName);
      if (auto* r = as<PRBlackBerryCallNode>(n)) return text(r->CallName);
      if (auto* r = as<PRBlackBerryNoteNode>(n)) return text(r->noteTittle);
      if (auto* r = as<PRBlackBerryCalenderNode>(n)) return text(r->bbCalSubject);
      if (auto* r = as<PRScanListNode>(n)) return text(r->nodeName);
      return std::nullopt;
    case SortKind::phone:
      if (auto* r = as<PRBlackBerrySMSMessageNode>(n)) return text(r->numberString);
      if (auto* r = as<PRBlackBerryMMSMessageNode>(n)) return text(r->numberName);
      if (auto* r = as<PRBlackBerryCallNode>(n)) return text(r->CallNumber);
      if (auto* r = as<PRBlackBerryContactNode>(n)) return text(r->mobilCall);
      return std::nullopt;
    case SortKind::size:
      if (auto* r = as<PRPhotoAndVideoNode>(n)) return SortKey(sizeFormString(r->fileNodeSize));
      if (auto* r = as<PRBlackBerryContentNode>(n)) return SortKey(uint64_t{r->fileSize});
      if (auto* r = as<PRScanListNode>(n)) return SortKey(uint64_t{r->fileSizeNumber});
      return std::nullopt;
    case SortKind::date:
      if (auto* r = as<PRCallHistoryNode>(n)) return dateSortKey(r->callDate);
      if (auto* r = as<PRBlackBerryCallNode>(n)) return dateSortKey(r->CallTime);
      if (auto* r = as<PRBlackBerrySMSMessageNode>(n)) return dateSortKey(r->dateTime);
      return std::nullopt;
    case SortKind::created:
      if (auto* r = as<PRScanListNode>(n)) return dateSortKey(r->createTime);
      return std::nullopt;
    case SortKind::modified:
      if (auto* r = as<PRScanListNode>(n)) return dateSortKey(r->modifyTime);
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

// The phone-backup tables sort as they always have: photos by the number in the name or by
// size, contacts and messages by name whatever the column, calls by name or else by date,
// other tables not at all.
SortKind phoneSortKind(Category c, std::string_view column) {
  switch (c) {
    case Category::Photo:
      if (column == kColumnName) return SortKind::name;
      if (column == kColumnSize) return SortKind::size;
      return SortKind::none;
    case Category::Contact:
    case Category::Message:
      return SortKind::name;
    case Category::CallHistory:
      return column == kColumnName ? SortKind::name : SortKind::date;
    default:
      return SortKind::none;
  }
}

// The BlackBerry and raw tables sort by the column clicked, where it is a name, number,
// size or date.
SortKind columnSortKind(std::string_view column) {
  if (column == kColumnName) return SortKind::name;
  if (column == kColumnPhone) return SortKind::phone;
  if (column == kColumnSize) return SortKind::size;
  if (column == kColumnDate) return SortKind::date;
  if (column == "Created") return SortKind::created;
  if (column == "Modified") return SortKind::modified;
  return SortKind::none;
}

// The rows in key order (stable); rows without a key go last in their former order.
ResultRows sortedBy(const ResultRows& rows, SortKind kind, bool ascending) {
  std::vector<std::pair<SortKey, std::shared_ptr<PRNode>>> keyed;
  ResultRows rest;
  for (const auto& r : rows) {
    std::optional<SortKey> k = r ? sortKeyOf(*r, kind) : std::nullopt;
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

void PRResultViewController::tableViewDidClickTableColumn(std::string_view column) {
  if (column == kColumnTick || !current_) return;
  const Category c = *current_;
  const ResultRows& rows = displayList(c);
  // A table that holds phone-backup records keeps their sort rules.
  const bool phone = std::any_of(rows.begin(), rows.end(), [](const std::shared_ptr<PRNode>& r) {
    return r && isPhoneRecord(*r);
  });
  const SortKind kind = phone ? phoneSortKind(c, column) : columnSortKind(column);
  bool* order = nullptr;
  switch (kind) {
    case SortKind::none:
      return;
    case SortKind::name:
    case SortKind::phone:
      order = &nameOrder_;
      break;
    case SortKind::size:
      order = &sizeOrder_;
      break;
    case SortKind::date:
    case SortKind::created:
    case SortKind::modified:
      order = &dateOrder_;
      break;
  }
  *order = !*order;
  if (searchBase_) searchBase_ = sortedBy(*searchBase_, kind, *order);
  setDisplayList(c, sortedBy(rows, kind, *order));
  selectFirstRow();
}

}  // namespace tamsel
