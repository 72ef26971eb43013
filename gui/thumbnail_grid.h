// The thumbnail grid of the picture categories (photos, memory-card images): the same rows as
// the category's table, drawn as pictures with the file name under them, and a switch
// between the table and the grid.
//
// The grid is a second view of the table's own model and selection model: it shows the
// rows the presenter put in the table (sorting, the deleted-only box and the filter box
// apply), its selection is the table's (so the preview follows it), and its tick box sets
// the table's tick column, which goes to the presenter as a click in the table does. Space,
// Enter and Ctrl+A reach the table's key handling.
//
// Thumbnails are made by a ThumbnailMaker on a worker thread for the items in sight (again
// as the grid scrolls) and kept in a cache bounded by count, keyed by record; the cache is
// dropped when a new scan starts and when the results are left.
#pragma once

#include <QListView>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>

#include "gui/thumbnail_maker.h"
#include "results/result_view.h"

class QLabel;
class QStackedWidget;
class QTableView;
class QToolButton;

namespace tamsel {

class RecordTableModel;

class ThumbnailGrid : public QListView {
 public:
  // The side of the square a thumbnail fits in.
  static constexpr int kThumbnailSide = 120;
  // Thumbnails kept at most (about 60 KB each).
  static constexpr size_t kCacheCapacity = 600;
  // A picture larger than this is not read for its thumbnail.
  static constexpr uint64_t kMaxSourceBytes = uint64_t{32} << 20;

  enum class Thumb {
    waiting,  // asked for, not made yet
    picture,  // the decoded thumbnail
    generic,  // no picture, or one that does not decode: an icon
  };

  // `readerSource` gives, on the UI thread, the reader of memory-card files for the scan on
  // screen (empty when there is none). `emptyText` is the label the table shows while it
  // has no row; the grid shows the same text.
  ThumbnailGrid(Category category, RecordTableModel* model, QTableView* table,
                std::function<FoundFileReader()> readerSource, QLabel* emptyText,
                QWidget* parent = nullptr);
  ~ThumbnailGrid() override;

  Category category() const { return category_; }
  Thumb thumbnailState(int row) const;
  // The decoded thumbnail of a row (null unless its state is picture).
  QImage thumbnail(int row) const;
  // What a row's item shows: the file name (whole; it is elided on screen) and whether it
  // is drawn as deleted (the warning colour).
  QString itemText(int row) const;
  bool markedDeleted(int row) const;
  // The rectangle of a row's tick box, in viewport coordinates.
  QRect tickRect(int row) const;
  // The icon of a picture that cannot be shown.
  static QPixmap genericPicture();

  // Drops every thumbnail and every waiting request (a new scan, leaving the results).
  void clearThumbnails();
  // Stops the worker for good (the window closes).
  void stopThumbnails();
  size_t cachedCount() const { return lru_.size(); }
  ThumbnailMaker& maker() { return *maker_; }

  // The item's layout, shared with the delegate.
  QSize itemSize() const;
  QRect pictureRect(const QRect& item) const;
  QRect checkRect(const QRect& item) const;
  // The cached pixmap of a row, or null; counts as a use for the cache's order.
  const QPixmap* cachedPixmap(int row);
  QPixmap fallbackIcon(int row) const;
  void scheduleRequests();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  struct Entry {
    std::shared_ptr<PRNode> record;  // held, so that its address names only it
    QPixmap pixmap;                  // null: the generic icon
  };
  const PRNode* recordAt(int row) const;
  void requestVisible();
  void received(const std::shared_ptr<PRNode>& record, const QImage& image);

  Category category_;
  RecordTableModel* model_;
  QTableView* table_;
  std::function<FoundFileReader()> readerSource_;
  QLabel* emptyText_;
  std::unique_ptr<ThumbnailMaker> maker_;
  QTimer requestTimer_;
  mutable QPixmap generic_;
  // Most recently used first.
  std::list<Entry> lru_;
  std::unordered_map<const PRNode*, std::list<Entry>::iterator> cache_;
};

// A picture category's table and grid, one shown at a time, with the two buttons that
// switch between them.
class PictureViews : public QWidget {
 public:
  PictureViews(QWidget* tableBox, ThumbnailGrid* grid, QWidget* parent = nullptr);

  ThumbnailGrid* grid() const { return grid_; }
  QToolButton* tableButton() const { return tableButton_; }
  QToolButton* thumbnailsButton() const { return thumbnailsButton_; }
  bool showingThumbnails() const;
  void showThumbnails(bool on);

 private:
  ThumbnailGrid* grid_;
  QTableView* table_;
  QStackedWidget* stack_;
  QToolButton* tableButton_;
  QToolButton* thumbnailsButton_;
};

}  // namespace tamsel
