// The result screen's tables: one per category, the tick column first, then the record's
// fields.
#include <QHeaderView>
#include <QTableView>

#include "gui/result_widget.h"

namespace tamsel {

namespace {

// Several rows can be selected at once in these tables.
bool multiSelect(Category c) {
  return c == Category::Photo || c == Category::Contact || c == Category::Message ||
         c == Category::Note || c == Category::CallHistory;
}

}  // namespace

QTableView* ResultWidget::buildTable(Category c) {
  const int i = static_cast<int>(c);
  models_[i] = new RecordTableModel(
      c, [this] { return presenter(); }, this);
  auto* t = new QTableView(this);
  t->setModel(models_[i]);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(multiSelect(c) ? QAbstractItemView::ExtendedSelection
                                     : QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSortingEnabled(false);  // the presenter sorts
  t->setAlternatingRowColors(true);
  t->setWordWrap(false);
  t->setTextElideMode(Qt::ElideRight);  // text truncated at the tail
  t->verticalHeader()->hide();
  t->verticalHeader()->setDefaultSectionSize(20);
  t->horizontalHeader()->setSectionsClickable(true);
  t->horizontalHeader()->setStretchLastSection(true);
  t->horizontalHeader()->setHighlightSections(false);
  t->setColumnWidth(0, 26);
  for (int col = 1; col < models_[i]->columnCount(); ++col) {
    t->setColumnWidth(col, models_[i]->columnId(col) == kColumnName ? 170 : 105);
  }
  tables_[i] = t;
  return t;
}

}  // namespace tamsel
