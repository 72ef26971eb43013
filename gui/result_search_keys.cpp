// The result screen's filter box and stopped-scan notice, the progress strip under the
// panels, the text over an empty table, and the keyboard: Space ticks the selected rows,
// Ctrl+A selects every row, Enter previews the current row, and Tab goes from the category
// buttons to the filter box, the table, its preview and the controls below.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableView>
#include <QToolButton>

#include "gui/result_widget.h"
#include "gui/thumbnail_grid.h"
#include "results/result_view_controller.h"

namespace tamsel {

namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QWidget* ResultWidget::buildSearchRow() {
  auto* row = new QWidget(this);
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  stoppedNotice_ = new QLabel(qs(kScanStoppedText), row);
  stoppedNotice_->setStyleSheet(QStringLiteral("QLabel { color: rgb(%1, %2, %3); }")
                                    .arg(kWarningRed)
                                    .arg(kWarningGreen)
                                    .arg(kWarningBlue));
  QFont bold = stoppedNotice_->font();
  bold.setBold(true);
  stoppedNotice_->setFont(bold);
  stoppedNotice_->hide();
  h->addWidget(stoppedNotice_);
  h->addStretch(1);
  searchBox_ = new QLineEdit(row);
  searchBox_->setPlaceholderText(qs(kSearchPlaceholder));
  searchBox_->setClearButtonEnabled(true);
  searchBox_->setFixedWidth(240);
  h->addWidget(searchBox_);
  // Only the user's typing reaches the presenter, not the presenter's own clearing.
  connect(searchBox_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (PRResultViewController* p = presenter()) p->setSearchText(text.toStdString());
  });
  return row;
}

QWidget* ResultWidget::buildProgressStrip() {
  auto* strip = new QWidget(this);
  auto* h = new QHBoxLayout(strip);
  h->setContentsMargins(0, 0, 0, 0);
  progressBar_ = new QProgressBar(strip);
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  h->addWidget(progressBar_, 1);
  QLabel* text = addLabel(ResultField::progressText, strip);
  text->setMinimumWidth(40);
  text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  h->addWidget(text);
  return strip;
}

QWidget* ResultWidget::withEmptyText(Category c, QTableView* table) {
  auto* box = new QWidget(this);
  auto* stack = new QStackedLayout(box);
  stack->setStackingMode(QStackedLayout::StackAll);
  auto* label = new QLabel(box);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->setStyleSheet(QStringLiteral("QLabel { color: gray; }"));
  stack->addWidget(table);
  stack->addWidget(label);
  stack->setCurrentWidget(label);  // drawn over the table
  label->hide();
  emptyLabels_[static_cast<int>(c)] = label;
  return box;
}

void ResultWidget::setUpKeyboard() {
  QWidget* previous = nullptr;
  auto chain = [&previous](QWidget* w) {
    if (!w || !(w->focusPolicy() & Qt::TabFocus)) return;
    if (previous) setTabOrder(previous, w);
    previous = w;
  };
  for (ResultButton b : {ResultButton::feedback, ResultButton::facebook, ResultButton::twitter,
                         ResultButton::home}) {
    chain(button(b));
  }
  QLayout* row = categoryRow_->layout();
  for (int i = 0; i < row->count(); ++i) chain(row->itemAt(i)->widget());
  chain(searchBox_);
  for (int i = 0; i < kCategoryCount; ++i) {
    QTableView* t = tables_[i];
    t->setTabKeyNavigation(false);  // Tab leaves the table instead of walking its cells
    t->installEventFilter(this);
    // The table/thumbnails switch sits above the table, so Tab reaches it first.
    if (PictureViews* views = pictureViews_[i]) {
      chain(views->tableButton());
      chain(views->thumbnailsButton());
    }
    chain(t);
    for (QWidget* w : panels_[i]->findChildren<QWidget*>()) {
      if (w == t || t->isAncestorOf(w)) continue;
      if (pictureViews_[i] &&
          (w == pictureViews_[i]->tableButton() || w == pictureViews_[i]->thumbnailsButton())) {
        continue;
      }
      if (auto* area = qobject_cast<QPlainTextEdit*>(w)) area->setTabChangesFocus(true);
      chain(w);
    }
  }
  chain(selectAll_);
  chain(deletedOnly_);
  chain(button(ResultButton::stop));
  chain(button(ResultButton::save));
}

bool ResultWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  int i = 0;
  while (i < kCategoryCount && tables_[i] != watched) ++i;
  PRResultViewController* p = presenter();
  if (i == kCategoryCount || !p || p->currentCategory() != static_cast<Category>(i)) {
    return QWidget::eventFilter(watched, event);
  }
  const auto c = static_cast<Category>(i);
  QTableView* t = tables_[i];
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  if (key->key() == Qt::Key_Space && mods == Qt::NoModifier) {
    p->toggleSelectedTicks();
    return true;
  }
  if (key->matches(QKeySequence::SelectAll)) {
    // Reaches the presenter as a selection by the user; one row at most where only one can
    // be selected.
    if (t->selectionMode() == QAbstractItemView::ExtendedSelection) t->selectAll();
    return true;
  }
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
    // What a click on the current row does: it becomes the selection (kept when it is part
    // of it) and is previewed.
    const QModelIndex current = t->currentIndex();
    if (current.isValid()) {
      if (t->selectionModel()->isRowSelected(current.row(), current.parent())) {
        selectionChangedByUser(c);
      } else {
        t->selectionModel()->select(
            current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      }
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void ResultWidget::setScanStoppedNoticeVisible(bool visible) {
  stoppedNotice_->setVisible(visible);
}

void ResultWidget::setSearchText(const std::string& text) {
  searchBox_->setText(QString::fromStdString(text));
}

void ResultWidget::setEmptyTableText(Category table, const std::string& text) {
  QLabel* label = emptyLabels_[static_cast<int>(table)];
  label->setText(QString::fromStdString(text));
  label->setVisible(!text.empty());
}

}  // namespace tamsel
