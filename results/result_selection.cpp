// Result presenter: ticking, select-all, the selection sentence, the deleted-only filter,
// sorting by column and the cell style of deleted rows.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

#include "results/recovery_entries.h"
#include "results/result_view_controller.h"
#include "results/result_view_detail.h"

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
    const ResultRows& rows = display_[static_cast<int>(detail::categoryInfo(c).shown)];
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
    const ResultRows& rows = display_[static_cast<int>(detail::categoryInfo(*current_).shown)];
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
                ResultField::calEndDate};
      break;
    default:
      return;
  }
  for (ResultField f : fields) view_.setFieldVisible(f, visible);
}

void PRResultViewController::actCheck(bool deletedOnly) {
  if (!current_) return;
  const auto& info = detail::categoryInfo(*current_);
  if (!info.filters || !info.phone) return;
  const DisplayList d = *info.phone;
  ResultRows rows = detail::rowsOf(d, snapshot());
  if (deletedOnly) {
    std::erase_if(rows, [](const std::shared_ptr<PRNode>& r) {
      Flag* f = r ? detail::deletedFlagOf(*r) : nullptr;
      return !(f && f->get());
    });
  }
  setDisplayList(d, std::move(rows));
  selectFirstRow();
  showFilterPreviewFields(*current_, !display_[static_cast<int>(d)].empty());
}

CellStyle PRResultViewController::tableViewWillDisplayCell(Category table, int row) const {
  CellStyle style;
  const auto& info = detail::categoryInfo(table);
  if (!info.filters || !info.phone || row < 0) return style;
  const ResultRows& rows = display_[static_cast<int>(*info.phone)];
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

// Sorts by a key of one record class; rows of other classes (or without a key) go last in
// their former order.
template <class T, class Key>
ResultRows sortedBy(const ResultRows& rows, bool ascending,
                    std::function<std::optional<Key>(const T&)> keyOf) {
  std::vector<std::pair<Key, std::shared_ptr<PRNode>>> keyed;
  ResultRows rest;
  for (const auto& r : rows) {
    const T* t = r ? dynamic_cast<const T*>(r.get()) : nullptr;
    std::optional<Key> k = t ? keyOf(*t) : std::nullopt;
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

template <class T>
std::function<std::optional<std::string>(const T&)> textKey(std::string T::*field) {
  return [field](const T& t) { return std::optional<std::string>(t.*field); };
}

}  // namespace

void PRResultViewController::tableViewDidClickTableColumn(std::string_view column) {
  if (column == kColumnTick || !current_) return;
  DisplayList d;
  ResultRows sorted;
  auto rowsOf = [this](DisplayList l) -> const ResultRows& {
    return display_[static_cast<int>(l)];
  };
  switch (*current_) {
    case Category::Photo:
      d = DisplayList::photoController;
      if (column == kColumnName) {
        nameOrder_ = !nameOrder_;
        sorted = sortedBy<PRPhotoAndVideoNode, int64_t>(
            rowsOf(d), nameOrder_, [](const PRPhotoAndVideoNode& p) {
              return std::optional<int64_t>(leadingInteger(p.fileNodeName));
            });
      } else if (column == kColumnSize) {
        sizeOrder_ = !sizeOrder_;
        sorted = sortedBy<PRPhotoAndVideoNode, uint64_t>(
            rowsOf(d), sizeOrder_, [](const PRPhotoAndVideoNode& p) {
              return std::optional<uint64_t>(sizeFormString(p.fileNodeSize));
            });
      } else {
        return;
      }
      break;
    case Category::Contact:
      d = DisplayList::contactController;
      nameOrder_ = !nameOrder_;
      sorted = sortedBy<PRContactNode, std::string>(rowsOf(d), nameOrder_,
                                                    textKey(&PRContactNode::contactName));
      break;
    case Category::Message:
      d = DisplayList::messageController;
      nameOrder_ = !nameOrder_;
      sorted = sortedBy<PRMessageNode, std::string>(rowsOf(d), nameOrder_,
                                                    textKey(&PRMessageNode::messageName));
      break;
    case Category::CallHistory:
      d = DisplayList::callHistoryController;
      if (column == kColumnName) {
        nameOrder_ = !nameOrder_;
        sorted = sortedBy<PRCallHistoryNode, std::string>(rowsOf(d), nameOrder_,
                                                          textKey(&PRCallHistoryNode::callName));
      } else {
        dateOrder_ = !dateOrder_;
        sorted = sortedBy<PRCallHistoryNode, DateKey>(
            rowsOf(d), dateOrder_, [](const PRCallHistoryNode& c) { return dateKey(c.callDate); });
      }
      break;
    default:
      return;
  }
  setDisplayList(d, std::move(sorted));
  selectFirstRow();
}

}  // namespace tamsel
