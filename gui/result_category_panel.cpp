// The result screen's category panels: a category's table (with the text shown while it is
// empty) and, beside it, the preview of the selected record for the categories that have one.
#include <QHBoxLayout>

#include "gui/result_widget.h"

namespace tamsel {

QWidget* ResultWidget::buildCategoryPanel(Category c) {
  auto* panel = new QWidget(this);
  auto* h = new QHBoxLayout(panel);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(withEmptyText(c, buildTable(c)), 1);
  if (QWidget* preview = buildPreview(c)) {
    preview->setParent(panel);
    h->addWidget(preview);
  }
  return panel;
}

}  // namespace tamsel
