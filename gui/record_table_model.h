// One table model for every category of the result screen: a row per record of the display
// list on screen, the tick column first, then the record's fields. The model only draws
// and forwards; the presenter decides what a tick means, how a cell is styled and what the
// rows are. UI thread only: rows arrive as whole lists (setRows) and reset the model.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "results/result_view.h"

namespace tamsel {

class PRResultViewController;

class RecordTableModel : public QAbstractTableModel {
 public:
  // How one column reads a record; `id` is the identifier the presenter knows columns by.
  struct Column {
    std::string id;
    QString title;
    std::function<QString(const PRNode&)> text;
    // Only phone-backup records fill it: hidden while the rows hold none.
    bool phoneOnly = false;
  };
  using PresenterSource = std::function<PRResultViewController*()>;

  // `presenter` may give null (no scan yet): the tick column is then read-only.
  RecordTableModel(Category category, PresenterSource presenter, QObject* parent = nullptr);

  Category category() const { return category_; }
  // Replaces every row (one model reset).
  void setRows(const ResultRows& rows);
  const ResultRows& rows() const { return rows_; }
  // Redraws every cell (ticks changed).
  void refresh();
  // The column with this identifier, or -1.
  int columnOf(std::string_view id) const;
  const std::string& columnId(int column) const { return columns_.at(column).id; }
  // False for a phone-only column while no row is a phone-backup record.
  bool columnShown(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The tick column hands the new value to the presenter (tableViewSetObjectValue).
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // The columns each category's table shows (tick column first).
  static std::vector<Column> columnsFor(Category category);
  // The tick of a record shown in any table; null for a record without one.
  static const Flag* tickOf(const PRNode& node);
  // True for the records of a phone-backup scan.
  static bool isPhoneRecord(const PRNode& node);

 private:
  Category category_;
  PresenterSource presenter_;
  std::vector<Column> columns_;
  ResultRows rows_;
  bool phoneRows_ = false;
};

}  // namespace tamsel
