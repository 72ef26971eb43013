// The table of a result category. Its columns take the width their header and texts need
// within the table's own width: short values (numbers, dates, sizes, marks) are never cut,
// headers are never cut, and the long texts (names, contents) give way and are elided, so
// that the table does not scroll sideways; a cut text shows whole as its tooltip. Rows and
// header share the table's font.
#pragma once

#include <QHeaderView>
#include <QTableView>
#include <map>
#include <vector>

namespace tamsel {

class RecordTableModel;

// What one shown column needs: `minimum` is never cut (its header, or a short value),
// `wanted` shows its texts whole (at most a cap), a `stretch` column takes what is left.
// An `elastic` column may give way below `wanted`: first down to `comfortable`, then, if the
// columns still do not fit, down to `minimum`.
struct ColumnNeed {
  int minimum = 0;
  int wanted = 0;
  int comfortable = 0;
  bool stretch = false;
  bool elastic = false;
};

// The widths of the columns in `available` pixels: every column its wanted width and the
// stretch column (else the last) the rest; when they do not fit, the elastic columns give
// way in proportion to what they hold above their comfortable width, then above their
// minimum (the stretch column last). Never below a minimum (the columns may then be wider
// than `available`).
std::vector<int> fitColumnWidths(const std::vector<ColumnNeed>& needs, int available);

class ResultTableView : public QTableView {
 public:
  ResultTableView(RecordTableModel* model, QWidget* parent = nullptr);

  RecordTableModel* recordModel() const { return model_; }
  // A width the presenter asks for a column: taken as the most it is given while the others
  // still want room.
  void setPreferredWidth(int column, int width);
  // Sets the shown columns' widths from their headers and texts to fill the viewport.
  void fitColumns();
  // The width a column's header needs to show its title whole, with room for the sort mark
  // on the sorted column.
  int headerWidth(int column) const;
  // The width a cell needs to show its text whole.
  int textWidth(const QString& text) const;

 protected:
  bool viewportEvent(QEvent* event) override;
  // The font and style are only final once the table is polished and shown.
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void fitRowHeight();

  RecordTableModel* model_;
  std::map<int, int> preferred_;
  bool fitting_ = false;
};

}  // namespace tamsel
