#include "gui/record_table_model.h"

#include <QBrush>
#include <QColor>

#include "results/record_columns.h"
#include "results/result_view_controller.h"

namespace tamsel {

namespace {

template <class T>
const Flag* tickIf(const PRNode& n) {
  const T* t = dynamic_cast<const T*>(&n);
  return t ? &t->bSelected : nullptr;
}

}  // namespace

std::vector<RecordTableModel::Column> RecordTableModel::columnsFor(Category category) {
  std::vector<Column> c{{std::string(kColumnTick), QString(), nullptr}};
  for (const RecordColumn& col : recordColumns(category)) {
    c.push_back({std::string(col.id),
                 QString::fromUtf8(col.title.data(), static_cast<qsizetype>(col.title.size())),
                 [&col](const PRNode& n) { return QString::fromStdString(col.text(n)); },
                 col.phoneOnly});
  }
  return c;
}

const Flag* RecordTableModel::tickOf(const PRNode& n) {
  const Flag* f = nullptr;
  (f = tickIf<PRBlackBerryContentNode>(n)) || (f = tickIf<PRBlackBerryContactNode>(n)) ||
      (f = tickIf<PRBlackBerrySMSMessageNode>(n)) || (f = tickIf<PRBlackBerryMMSMessageNode>(n)) ||
      (f = tickIf<PRBlackBerryNoteNode>(n)) || (f = tickIf<PRBlackBerryCallNode>(n)) ||
      (f = tickIf<PRBlackBerryCalenderNode>(n)) || (f = tickIf<PRBookMarkNode>(n)) ||
      (f = tickIf<PRFaceTwitterNode>(n)) || (f = tickIf<PRScanListNode>(n)) ||
      (f = tickIf<PRPhotoAndVideoNode>(n)) || (f = tickIf<PRContactNode>(n)) ||
      (f = tickIf<PRMessageNode>(n)) || (f = tickIf<PRNoteNode>(n)) ||
      (f = tickIf<PRCallHistoryNode>(n)) || (f = tickIf<PRCalenderNode>(n));
  return f;
}

bool RecordTableModel::isPhoneRecord(const PRNode& n) {
  return dynamic_cast<const PRPhotoAndVideoNode*>(&n) || dynamic_cast<const PRContactNode*>(&n) ||
         dynamic_cast<const PRMessageNode*>(&n) || dynamic_cast<const PRNoteNode*>(&n) ||
         dynamic_cast<const PRCallHistoryNode*>(&n) || dynamic_cast<const PRBookMarkNode*>(&n) ||
         dynamic_cast<const PRCalenderNode*>(&n) || dynamic_cast<const PRFaceTwitterNode*>(&n);
}

RecordTableModel::RecordTableModel(Category category, PresenterSource presenter, QObject* parent)
    : QAbstractTableModel(parent),
      category_(category),
      presenter_(std::move(presenter)),
      columns_(columnsFor(category)) {}

void RecordTableModel::setRows(const ResultRows& rows) {
  beginResetModel();
  rows_ = rows;
  // One scan's lists hold records of one kind, so the first record tells.
  phoneRows_ = false;
  for (const auto& r : rows_) {
    if (!r) continue;
    phoneRows_ = isPhoneRecord(*r);
    break;
  }
  endResetModel();
}

bool RecordTableModel::columnShown(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return false;
  return !columns_[column].phoneOnly || phoneRows_;
}

void RecordTableModel::refresh() {
  if (rows_.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int RecordTableModel::columnOf(std::string_view id) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const std::shared_ptr<PRNode>& rec = rows_[index.row()];
  if (!rec) return {};
  const Column& c = columns_[index.column()];
  const bool tick = c.id == kColumnTick;
  switch (role) {
    case Qt::CheckStateRole:
      if (!tick) return {};
      if (const Flag* f = tickOf(*rec)) return f->get() ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      if (tick) return {};
      QString text = c.text(*rec);
      // One line per row; the tooltip keeps the whole text.
      if (role == Qt::DisplayRole) text.replace(QLatin1Char('\n'), QLatin1Char(' '));
      return text;
    }
    // Rows are drawn in the table's own font, the one its header has: the presenter's cell
    // font (a small system font) maps onto the desktop's, so only its colour is taken.
    case Qt::ForegroundRole: {
      PRResultViewController* p = presenter_ ? presenter_() : nullptr;
      const CellStyle style = p ? p->tableViewWillDisplayCell(category_, index.row()) : CellStyle{};
      if (style.warning) return QBrush(QColor(kWarningRed, kWarningGreen, kWarningBlue));
      return {};
    }
    default:
      return {};
  }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return columns_[section].title;
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && columns_[index.column()].id == kColumnTick) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool RecordTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole ||
      !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
      columns_[index.column()].id != kColumnTick) {
    return false;
  }
  PRResultViewController* p = presenter_ ? presenter_() : nullptr;
  if (!p) return false;
  const bool on = value.toInt() == Qt::Checked;
  // The presenter ticks every selected row and asks for a redraw (refresh).
  p->tableViewSetObjectValue(on ? 1 : 0, index.row());
  return true;
}

}  // namespace tamsel
