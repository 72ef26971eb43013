// The columns of the result tables: for each category, after the tick column, what each
// column is called, what a record shows in it and the key a click on its header sorts the
// rows by. The front end draws the texts and the presenter sorts by the keys; both know a
// column by its id.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "results/result_view.h"

namespace tamsel {

// Column ids beyond those the presenter has always known (result_view.h).
inline constexpr std::string_view kColumnType = "Type";
inline constexpr std::string_view kColumnDuration = "Duration";
inline constexpr std::string_view kColumnCreated = "Created";
inline constexpr std::string_view kColumnModified = "Modified";
inline constexpr std::string_view kColumnDeleted = "Deleted";

// A date as year, month, day, hour, minute and second, compared in that order (no combined
// number, which would overflow on absurd years).
using DateParts = std::array<int64_t, 6>;

// A date text as the scanners write them, "MM-DD-YYYY HH:MM", or "YYYY-MM-DD HH:MM[:SS]";
// the time may be missing. None when fewer than three numbers are found or the month or day
// is out of range.
std::optional<DateParts> parseDateText(std::string_view text);

// The seconds a call-duration text stands for ("1 hour", "5 minutes", "45 seconds"); 0 for a
// text without a number ("Missed", "Cancelled"), none for "".
std::optional<int64_t> parseDurationText(std::string_view text);

// The text with ASCII and Latin-1 letters in lower case, for comparisons that ignore case.
std::string foldCase(std::string_view text);

// What a row sorts by in one column. Keys of one column are of one type in practice;
// different types (a table mixing record classes) order by type first.
using ColumnSortKey = std::variant<int64_t, uint64_t, DateParts, std::string>;

// How a column's values compare.
enum class ColumnOrder {
  text,      // ignoring case
  date,      // chronologically
  size,      // by byte count
  duration,  // by seconds
  flag,      // unmarked rows first
};

class RecordColumn {
 public:
  // What one record class gives the column: its text (none for a record of another class)
  // and, where the record holds the value as a number, its key.
  struct Cell {
    std::function<std::optional<std::string>(const PRNode&)> text;
    std::function<std::optional<ColumnSortKey>(const PRNode&)> key;  // null: read the text
  };

  RecordColumn(std::string_view id, std::string_view title, ColumnOrder order, bool phoneOnly,
               std::vector<Cell> cells)
      : id(id), title(title), order(order), phoneOnly(phoneOnly), cells_(std::move(cells)) {}

  std::string_view id;
  std::string_view title;
  ColumnOrder order;
  bool phoneOnly;  // only phone-backup records fill it

  // The record's text in this column; "" for a record without the field.
  std::string text(const PRNode& record) const;
  // The record's key; none for a record without a value (empty text, unreadable date),
  // which sorts after the others.
  std::optional<ColumnSortKey> sortKey(const PRNode& record) const;

 private:
  std::vector<Cell> cells_;
};

// The columns of a category's table after the tick column, in order.
std::span<const RecordColumn> recordColumns(Category c);
// The column of a category's table with this id, or null.
const RecordColumn* findRecordColumn(Category c, std::string_view id);

}  // namespace tamsel
