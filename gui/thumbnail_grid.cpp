#include "gui/thumbnail_grid.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/icon_set.h"
#include "gui/record_table_model.h"

namespace tamsel {

namespace {

constexpr int kPad = 6;         // around the picture
constexpr int kTextGap = 4;     // between the picture and the name
constexpr int kSpacing = 4;     // between items
constexpr int kCheckInset = 3;  // the tick box from the picture's corner

QColor warningColour() {
  return QColor(kWarningRed, kWarningGreen, kWarningBlue);
}

// Draws an item: its selection, the picture (or an icon) centred in its square, a frame in
// the warning colour round a deleted item's picture, the tick box over the picture's
// top-left corner, and the elided name under it.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  explicit ThumbnailDelegate(ThumbnailGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return grid_->itemSize();
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row();
    QStyle* style = grid_->style();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    if (selected) {
      painter->fillRect(option.rect.adjusted(1, 1, -1, -1),
                        option.palette.brush(group, QPalette::Highlight));
    }

    const QRect picture = grid_->pictureRect(option.rect);
    const QPixmap* cached = grid_->cachedPixmap(row);
    QPixmap pm = cached && !cached->isNull() ? *cached : QPixmap();
    if (pm.isNull()) {
      if (!cached && grid_->thumbnailState(row) == ThumbnailGrid::Thumb::waiting) {
        grid_->scheduleRequests();
      }
      pm = grid_->fallbackIcon(row);
    }
    if (!pm.isNull()) {
      const QSize shown = (pm.deviceIndependentSize().toSize())
                              .scaled(picture.size(), Qt::KeepAspectRatio)
                              .boundedTo(pm.deviceIndependentSize().toSize());
      QRect target(QPoint(0, 0), shown);
      target.moveCenter(picture.center());
      painter->drawPixmap(target, pm);
    }
    const bool deleted = grid_->markedDeleted(row);
    if (deleted) {
      painter->save();
      painter->setPen(QPen(warningColour(), 2));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(picture.adjusted(1, 1, -1, -1));
      painter->restore();
    }

    QStyleOptionViewItem check(option);
    check.rect = grid_->checkRect(option.rect);
    check.state = check.state & ~QStyle::State_HasFocus;
    const QVariant tick = index.data(Qt::CheckStateRole);
    if (tick.isValid()) {
      check.state |= tick.toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
      style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, grid_);
    }

    const QRect textRect(option.rect.left() + 2, picture.bottom() + 1 + kTextGap,
                         option.rect.width() - 4, option.fontMetrics.height());
    const QString text =
        option.fontMetrics.elidedText(grid_->itemText(row), Qt::ElideMiddle, textRect.width());
    // A deleted item's name is in the warning colour, except on the selection's colour.
    QColor colour =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    if (deleted && !selected) colour = warningColour();
    painter->save();
    painter->setPen(colour);
    painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
    if (option.state & QStyle::State_HasFocus) {
      QStyleOptionFocusRect focus;
      focus.QStyleOption::operator=(option);
      focus.rect = option.rect.adjusted(1, 1, -1, -1);
      style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, grid_);
    }
  }

  // A click on the tick box sets the tick column, which the presenter handles as it handles
  // the table's: the selected items (or the clicked one) get the new tick.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    const auto type = event->type();
    if (type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonPress) {
      return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton ||
        !grid_->checkRect(option.rect).contains(mouse->position().toPoint())) {
      return false;
    }
    // As the table's tick column: the press and the double click over the box are taken.
    if (type != QEvent::MouseButtonRelease) return true;
    const QVariant tick = index.data(Qt::CheckStateRole);
    if (!tick.isValid() || !(model->flags(index) & Qt::ItemIsUserCheckable)) return false;
    const bool on = tick.toInt() != Qt::Checked;
    return model->setData(index, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
  }

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem&,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid()) return false;
    QToolTip::showText(event->globalPos(), grid_->itemText(index.row()), view);
    return true;
  }

 private:
  ThumbnailGrid* grid_;
};

}  // namespace

ThumbnailGrid::ThumbnailGrid(Category category, RecordTableModel* model, QTableView* table,
                             std::function<FoundFileReader()> readerSource, QLabel* emptyText,
                             QWidget* parent)
    : QListView(parent),
      category_(category),
      model_(model),
      table_(table),
      readerSource_(std::move(readerSource)),
      emptyText_(emptyText) {
  maker_ = std::make_unique<ThumbnailMaker>(
      QSize(kThumbnailSide, kThumbnailSide), PictureLimits::uniform(kMaxSourceBytes),
      [this](const std::shared_ptr<PRNode>& record, const QImage& image) {
        received(record, image);
      });
  setViewMode(QListView::IconMode);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setUniformItemSizes(true);
  setSpacing(kSpacing);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalScrollBar()->setSingleStep(24);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragEnabled(false);
  setItemDelegate(new ThumbnailDelegate(this));
  // The table's model and selection: the same rows, the same selection.
  setModel(model_);
  setModelColumn(0);
  setSelectionModel(table_->selectionModel());
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(table_->selectionMode());
  setFocusPolicy(Qt::StrongFocus);
  setGridSize(itemSize() + QSize(kSpacing, kSpacing));
  setAccessibleName(QStringLiteral("Thumbnails"));

  requestTimer_.setSingleShot(true);
  requestTimer_.setInterval(10);  // one request for a burst of scrolling or painting
  connect(&requestTimer_, &QTimer::timeout, this, [this] { requestVisible(); });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { scheduleRequests(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { scheduleRequests(); });
  connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { scheduleRequests(); });
  // A selection the presenter applies (setSelectedRows) comes into sight here too.
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (isVisible() && current.isValid()) scrollTo(current.siblingAtColumn(0));
          });
}

ThumbnailGrid::~ThumbnailGrid() {
  // The worker ends before anything it delivers to is gone.
  maker_->stop();
}

QSize ThumbnailGrid::itemSize() const {
  return QSize(kThumbnailSide + 2 * kPad,
               kPad + kThumbnailSide + kTextGap + fontMetrics().height() + kPad);
}

QRect ThumbnailGrid::pictureRect(const QRect& item) const {
  return QRect(item.left() + (item.width() - kThumbnailSide) / 2, item.top() + kPad, kThumbnailSide,
               kThumbnailSide);
}

QRect ThumbnailGrid::checkRect(const QRect& item) const {
  const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
  const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
  const QRect picture = pictureRect(item);
  return QRect(picture.left() + kCheckInset, picture.top() + kCheckInset, w, h);
}

QRect ThumbnailGrid::tickRect(int row) const {
  return checkRect(visualRect(model_->index(row, 0)));
}

const PRNode* ThumbnailGrid::recordAt(int row) const {
  const ResultRows& rows = model_->rows();
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return nullptr;
  return rows[row].get();
}

ThumbnailGrid::Thumb ThumbnailGrid::thumbnailState(int row) const {
  const PRNode* rec = recordAt(row);
  if (!rec || pictureSourceOf(*rec) == PictureSource::none) return Thumb::generic;
  auto it = cache_.find(rec);
  if (it == cache_.end()) return Thumb::waiting;
  return it->second->pixmap.isNull() ? Thumb::generic : Thumb::picture;
}

QImage ThumbnailGrid::thumbnail(int row) const {
  const PRNode* rec = recordAt(row);
  auto it = rec ? cache_.find(rec) : cache_.end();
  return it == cache_.end() ? QImage() : it->second->pixmap.toImage();
}

QString ThumbnailGrid::itemText(int row) const {
  const int column = model_->columnOf(kColumnName);
  if (column < 0) return {};
  return model_->index(row, column).data(Qt::ToolTipRole).toString();
}

bool ThumbnailGrid::markedDeleted(int row) const {
  // The table's warning colour, and a card file found through a deleted folder entry (which
  // the table tells in its Deleted column).
  if (model_->index(row, 0).data(Qt::ForegroundRole).isValid()) return true;
  const auto* found = dynamic_cast<const PRScanListNode*>(recordAt(row));
  return found && (found->foundFlags & TAMSEL_FOUND_DELETED) != 0;
}

QPixmap ThumbnailGrid::genericPicture() {
  QIcon icon = iconFor("picture");
  if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  return icon.pixmap(kThumbnailSide, kThumbnailSide);
}

QPixmap ThumbnailGrid::fallbackIcon(int row) const {
  const PRNode* rec = recordAt(row);
  if (rec && pictureSourceOf(*rec) == PictureSource::none) {
    // A video or sound of the phone, or a content-store file of another kind.
    const auto* media = dynamic_cast<const PRPhotoAndVideoNode*>(rec);
    const QStyle::StandardPixmap kind =
        media && media->bmov.get() ? QStyle::SP_MediaPlay : QStyle::SP_FileIcon;
    return style()->standardIcon(kind).pixmap(kThumbnailSide / 2, kThumbnailSide / 2);
  }
  auto it = rec ? cache_.find(rec) : cache_.end();
  if (it == cache_.end()) return {};  // still waiting: an empty square
  if (generic_.isNull()) generic_ = genericPicture();
  return generic_;
}

const QPixmap* ThumbnailGrid::cachedPixmap(int row) {
  const PRNode* rec = recordAt(row);
  auto it = rec ? cache_.find(rec) : cache_.end();
  if (it == cache_.end()) return nullptr;
  lru_.splice(lru_.begin(), lru_, it->second);
  return &it->second->pixmap;
}

void ThumbnailGrid::received(const std::shared_ptr<PRNode>& record, const QImage& image) {
  if (!record || cache_.count(record.get())) return;
  lru_.push_front(Entry{record, image.isNull() ? QPixmap() : QPixmap::fromImage(image)});
  cache_[record.get()] = lru_.begin();
  while (lru_.size() > kCacheCapacity) {
    cache_.erase(lru_.back().record.get());
    lru_.pop_back();
  }
  viewport()->update();
}

void ThumbnailGrid::clearThumbnails() {
  maker_->reset();
  cache_.clear();
  lru_.clear();
  viewport()->update();
}

void ThumbnailGrid::stopThumbnails() {
  requestTimer_.stop();
  maker_->stop();
}

void ThumbnailGrid::scheduleRequests() {
  if (!requestTimer_.isActive()) requestTimer_.start();
}

// The items in sight: the flow is left to right, then down, so the rows on screen are one
// run found by a binary search on the items' tops.
void ThumbnailGrid::requestVisible() {
  if (!isVisible()) return;
  const int count = model_->rowCount();
  if (count == 0) return;
  executeDelayedItemsLayout();
  const QRect sight = viewport()->rect();
  auto rectOf = [this](int row) { return visualRect(model_->index(row, 0)); };
  int lo = 0, hi = count;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (rectOf(mid).bottom() < sight.top()) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  std::vector<ThumbnailMaker::Job> jobs;
  FoundFileReader reader;
  bool readerLooked = false;
  for (int row = lo; row < count; ++row) {
    const QRect r = rectOf(row);
    if (r.top() > sight.bottom()) break;
    if (!r.intersects(sight)) continue;
    const std::shared_ptr<PRNode>& rec = model_->rows()[row];
    if (!rec || cache_.count(rec.get())) continue;
    const PictureSource source = pictureSourceOf(*rec);
    if (source == PictureSource::none) continue;
    if (source == PictureSource::foundFile && !readerLooked) {
      readerLooked = true;
      if (readerSource_) reader = readerSource_();
    }
    jobs.push_back({rec, source == PictureSource::foundFile ? reader : FoundFileReader()});
  }
  maker_->want(std::move(jobs));
}

void ThumbnailGrid::keyPressEvent(QKeyEvent* event) {
  // The table's keys: Space ticks the selection, Enter previews the current item, Ctrl+A
  // selects every item.
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const bool tableKey = (event->key() == Qt::Key_Space && mods == Qt::NoModifier) ||
                        ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                         mods == Qt::NoModifier) ||
                        event->matches(QKeySequence::SelectAll);
  if (tableKey) {
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                   event->isAutoRepeat(), static_cast<ushort>(event->count()));
    QApplication::sendEvent(table_, &copy);
    event->setAccepted(copy.isAccepted());
    return;
  }
  QListView::keyPressEvent(event);
}

void ThumbnailGrid::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  // The table's text for no rows, which the table's label shows over the table only.
  if (model_->rowCount() == 0 && emptyText_ && !emptyText_->text().isEmpty()) {
    QPainter p(viewport());
    p.setPen(Qt::gray);
    p.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
               emptyText_->text());
  }
}

void ThumbnailGrid::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  setGridSize(itemSize() + QSize(kSpacing, kSpacing));
  scheduleRequests();
}

void ThumbnailGrid::showEvent(QShowEvent* event) {
  QListView::showEvent(event);
  // Keyboard moves start from the current row's item (the table may have left its current
  // index on another column).
  const QModelIndex current = selectionModel()->currentIndex();
  if (current.isValid() && current.column() != 0) {
    selectionModel()->setCurrentIndex(current.siblingAtColumn(0), QItemSelectionModel::NoUpdate);
  }
  if (current.isValid()) scrollTo(current.siblingAtColumn(0));
  scheduleRequests();
}

// ---------------------------------------------------------------- PictureViews

PictureViews::PictureViews(QWidget* tableBox, ThumbnailGrid* grid, QWidget* parent)
    : QWidget(parent), grid_(grid), table_(tableBox->findChild<QTableView*>()) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(2);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  auto* group = new QButtonGroup(this);
  group->setExclusive(true);
  auto makeButton = [this, row, group](const QString& text, const QString& tip) {
    auto* b = new QToolButton(this);
    b->setText(text);
    b->setToolTip(tip);
    b->setCheckable(true);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::StrongFocus);
    group->addButton(b);
    row->addWidget(b);
    return b;
  };
  tableButton_ = makeButton(QStringLiteral("Table"), QStringLiteral("Show the files as a table"));
  thumbnailsButton_ =
      makeButton(QStringLiteral("Thumbnails"), QStringLiteral("Show the pictures as thumbnails"));
  row->addStretch(1);
  v->addLayout(row);

  stack_ = new QStackedWidget(this);
  tableBox->setParent(stack_);
  grid->setParent(stack_);
  stack_->addWidget(tableBox);
  stack_->addWidget(grid);
  v->addWidget(stack_, 1);
  tableButton_->setChecked(true);
  connect(tableButton_, &QToolButton::toggled, this, [this](bool on) {
    if (on) showThumbnails(false);
  });
  connect(thumbnailsButton_, &QToolButton::toggled, this, [this](bool on) {
    if (on) showThumbnails(true);
  });
}

bool PictureViews::showingThumbnails() const {
  return stack_->currentWidget() == grid_;
}

void PictureViews::showThumbnails(bool on) {
  (on ? thumbnailsButton_ : tableButton_)->setChecked(true);
  if (showingThumbnails() == on) return;
  QWidget* shown = stack_->currentWidget();
  QWidget* focus = QApplication::focusWidget();
  const bool hadFocus = focus && (focus == shown || shown->isAncestorOf(focus));
  stack_->setCurrentIndex(on ? 1 : 0);
  if (hadFocus) (on ? static_cast<QWidget*>(grid_) : table_)->setFocus();
}

}  // namespace tamsel
