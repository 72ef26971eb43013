// The result screen's category panels: a category's table (with the text shown while it is
// empty) and, beside it, the preview of the selected record for the categories that have one.
// The picture categories (photos, memory-card images) can show their rows as thumbnails
// instead of the table (gui/thumbnail_grid.h).
#include <QHBoxLayout>

#include "gui/result_widget.h"
#include "gui/thumbnail_grid.h"
#include "results/picture_source.h"
#include "results/result_view_controller.h"

namespace tamsel {

namespace {

bool hasThumbnails(Category c) {
  return c == Category::Photo || c == Category::RawImage;
}

}  // namespace

QWidget* ResultWidget::buildCategoryPanel(Category c) {
  auto* panel = new QWidget(this);
  auto* h = new QHBoxLayout(panel);
  h->setContentsMargins(0, 0, 0, 0);
  QWidget* tableBox = withEmptyText(c, buildTable(c));
  if (hasThumbnails(c)) {
    const int i = static_cast<int>(c);
    // Memory-card files are read through the disk library of the scan on screen, looked up
    // when the thumbnails are asked for.
    auto readerSource = [this]() -> FoundFileReader {
      PRResultViewController* p = presenter();
      return p ? foundFileReaderOf(p->host()) : FoundFileReader();
    };
    auto* grid = new ThumbnailGrid(c, models_[i], tables_[i], readerSource, emptyLabels_[i]);
    pictureViews_[i] = new PictureViews(tableBox, grid, panel);
    h->addWidget(pictureViews_[i], 1);
  } else {
    h->addWidget(tableBox, 1);
  }
  if (QWidget* preview = buildPreview(c)) {
    preview->setParent(panel);
    h->addWidget(preview);
  }
  return panel;
}

ThumbnailGrid* ResultWidget::thumbnailGrid(Category c) const {
  PictureViews* views = pictureViews_[static_cast<int>(c)];
  return views ? views->grid() : nullptr;
}

void ResultWidget::clearThumbnails() {
  for (PictureViews* views : pictureViews_) {
    if (views) views->grid()->clearThumbnails();
  }
}

void ResultWidget::stopThumbnails() {
  for (PictureViews* views : pictureViews_) {
    if (views) views->grid()->stopThumbnails();
  }
}

}  // namespace tamsel
