// The result screen's tables: one per category, the tick column first, then the record's
// fields (results/record_columns.h), fitted to the table's width.
#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

#include "gui/result_table_view.h"
#include "gui/result_widget.h"
#include "results/record_columns.h"

namespace tamsel {

namespace {

// The horizontal header, with the width its sections need made public.
class ResultHeader : public QHeaderView {
 public:
  explicit ResultHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}
  using QHeaderView::sectionSizeFromContents;
};

// Several rows can be selected at once in these tables.
bool multiSelect(Category c) {
  return c == Category::Photo || c == Category::Contact || c == Category::Message ||
         c == Category::Note || c == Category::CallHistory;
}

// Rows measured for a column's width: enough to see what a table holds, few enough that a
// card with a hundred thousand files is measured at once.
constexpr int kMeasuredRows = 2000;
// The most a long-text column wants, as a share of the table's width.
constexpr int kTextSharePercent = 45;
// What a long-text column keeps, where it can, when the columns do not fit: the stretch
// column more, as its texts are the table's main ones.
constexpr int kComfortableStretch = 150;
constexpr int kComfortableText = 90;

// Takes up to `excess` pixels from the elastic columns, each in proportion to what it holds
// above `floor` (clamped to its minimum); returns what was taken.
int64_t giveWay(const std::vector<ColumnNeed>& needs, std::vector<int>& w, int64_t excess,
                const std::function<int(const ColumnNeed&)>& floor) {
  int64_t slack = 0;
  for (size_t i = 0; i < needs.size(); ++i) {
    if (needs[i].elastic) slack += std::max(0, w[i] - std::max(needs[i].minimum, floor(needs[i])));
  }
  if (slack <= 0 || excess <= 0) return 0;
  const int64_t cut = std::min(excess, slack);
  int64_t done = 0;
  for (size_t i = 0; i < needs.size(); ++i) {
    if (!needs[i].elastic) continue;
    const int room = std::max(0, w[i] - std::max(needs[i].minimum, floor(needs[i])));
    const int64_t share = room * cut / slack;
    w[i] -= static_cast<int>(share);
    done += share;
  }
  // What rounding left, a column at a time.
  for (size_t i = 0; done < cut && i < needs.size(); ++i) {
    if (!needs[i].elastic) continue;
    const int room = std::max(0, w[i] - std::max(needs[i].minimum, floor(needs[i])));
    const int64_t d = std::min<int64_t>(cut - done, room);
    w[i] -= static_cast<int>(d);
    done += d;
  }
  return done;
}

}  // namespace

std::vector<int> fitColumnWidths(const std::vector<ColumnNeed>& needs, int available) {
  std::vector<int> w(needs.size());
  if (needs.empty()) return w;
  int64_t total = 0;
  size_t stretch = needs.size() - 1;
  bool stretchFound = false;
  for (size_t i = 0; i < needs.size(); ++i) {
    w[i] = std::max(needs[i].minimum, needs[i].wanted);
    total += w[i];
    if (needs[i].stretch && !stretchFound) {
      stretch = i;
      stretchFound = true;
    }
  }
  if (total <= available) {
    w[stretch] += static_cast<int>(available - total);
    return w;
  }
  // First every long text down to its comfortable width, then the other long texts down to
  // their titles, then the stretch column.
  total -= giveWay(needs, w, total - available, [](const ColumnNeed& n) { return n.comfortable; });
  total -= giveWay(needs, w, total - available,
                   [](const ColumnNeed& n) { return n.stretch ? INT_MAX : n.minimum; });
  giveWay(needs, w, total - available, [](const ColumnNeed& n) { return n.minimum; });
  return w;
}

ResultTableView::ResultTableView(RecordTableModel* model, QWidget* parent)
    : QTableView(parent), model_(model) {
  setHorizontalHeader(new ResultHeader(this));
  setModel(model);
  const Category c = model->category();
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(multiSelect(c) ? QAbstractItemView::ExtendedSelection
                                  : QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);  // the presenter sorts
  setAlternatingRowColors(true);
  setWordWrap(false);
  // A card's file names are paths: their ends tell them apart.
  setTextElideMode(isRawCategory(c) ? Qt::ElideMiddle : Qt::ElideRight);
  verticalHeader()->hide();
  fitRowHeight();
  QHeaderView* h = horizontalHeader();
  h->setSectionsClickable(true);
  h->setHighlightSections(false);
  h->setStretchLastSection(false);
  h->setSectionResizeMode(QHeaderView::Interactive);
  h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Always shown, so that every title has room for the mark; none until a column is sorted.
  h->setSortIndicatorShown(true);
  h->setSortIndicator(-1, Qt::AscendingOrder);
}

void ResultTableView::setPreferredWidth(int column, int width) {
  preferred_[column] = width;
  fitColumns();
}

int ResultTableView::headerWidth(int column) const {
  auto* h = static_cast<ResultHeader*>(horizontalHeader());
  // The header counts room for the sort mark on every section; only the sorted one has it.
  const QSize size = h->sectionSizeFromContents(column);
  if (column == h->sortIndicatorSection()) return size.width();
  return size.width() - size.height() -
         h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
}

int ResultTableView::textWidth(const QString& text) const {
  // The item's text margins on both sides and the grid line; the text is cut when its laid
  // out width, a fraction, is over what is left.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  return static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(text))) + 2 * margin +
         1;
}

void ResultTableView::fitRowHeight() {
  verticalHeader()->setDefaultSectionSize(
      std::max(fontMetrics().height(), style()->pixelMetric(QStyle::PM_IndicatorHeight)) + 6);
}

void ResultTableView::showEvent(QShowEvent* event) {
  QTableView::showEvent(event);
  fitRowHeight();
  fitColumns();
}

void ResultTableView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    fitRowHeight();
    fitColumns();
  }
}

void ResultTableView::fitColumns() {
  if (fitting_ || !model_) return;
  fitting_ = true;
  const int available = viewport()->width();
  const Category category = model_->category();
  // The column that takes the room left: the name, else the content.
  int stretch = -1;
  for (std::string_view id : {kColumnName, std::string_view("Contact"), kColumnContent}) {
    const int col = model_->columnOf(id);
    if (col >= 0 && !isColumnHidden(col)) {
      stretch = col;
      break;
    }
  }
  // Short texts (numbers, kinds) are kept whole up to this width.
  const int shortCap = textWidth(QStringLiteral("+000 (000) 000 00 00"));
  const int rows = std::min(model_->rowCount(), kMeasuredRows);
  std::vector<int> shown;
  std::vector<ColumnNeed> needs;
  for (int col = 0; col < model_->columnCount(); ++col) {
    if (isColumnHidden(col)) continue;
    const std::string& id = model_->columnId(col);
    const int header = headerWidth(col);
    ColumnNeed n;
    if (id == kColumnTick) {
      n.minimum = n.wanted =
          std::max(header, style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) + 12);
    } else {
      int content = 0;
      for (int r = 0; r < rows; ++r) {
        content = std::max(content, textWidth(model_->index(r, col).data().toString()));
      }
      const RecordColumn* rc = findRecordColumn(category, id);
      const bool text = rc == nullptr || rc->order == ColumnOrder::text;
      const bool shortText = text && (id == kColumnPhone || id == kColumnType);
      n.stretch = col == stretch;
      n.elastic = n.stretch || (text && !shortText);
      int cap = INT_MAX;
      if (auto it = preferred_.find(col); it != preferred_.end()) {
        cap = it->second;
      } else if (shortText) {
        cap = shortCap;
      } else if (n.elastic) {
        cap = available * kTextSharePercent / 100;
      }
      n.wanted = std::max(header, std::min(content, cap));
      n.minimum = n.elastic ? header : n.wanted;
      n.comfortable = std::min(n.wanted, n.stretch ? kComfortableStretch : kComfortableText);
    }
    shown.push_back(col);
    needs.push_back(n);
  }
  const std::vector<int> widths = fitColumnWidths(needs, available);
  for (size_t i = 0; i < shown.size(); ++i) setColumnWidth(shown[i], widths[i]);
  fitting_ = false;
}

bool ResultTableView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // Only a cut text needs its tooltip.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    if (index.isValid()) {
      const QString text = index.data().toString();
      if (textWidth(text) <= visualRect(index).width() &&
          index.data(Qt::ToolTipRole).toString() == text) {
        QToolTip::hideText();
        event->ignore();
        return true;
      }
    }
  }
  const bool handled = QTableView::viewportEvent(event);
  if (event->type() == QEvent::Resize) fitColumns();
  return handled;
}

QTableView* ResultWidget::buildTable(Category c) {
  const int i = static_cast<int>(c);
  models_[i] = new RecordTableModel(
      c, [this] { return presenter(); }, this);
  auto* t = new ResultTableView(models_[i], this);
  tables_[i] = t;
  t->fitColumns();
  return t;
}

void ResultWidget::setSortIndicator(Category table, std::string_view column, bool ascending) {
  const int i = static_cast<int>(table);
  const int col = column.empty() ? -1 : models_[i]->columnOf(column);
  tables_[i]->horizontalHeader()->setSortIndicator(
      col, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  // The sorted column's title needs room for the mark.
  static_cast<ResultTableView*>(tables_[i])->fitColumns();
}

}  // namespace tamsel
