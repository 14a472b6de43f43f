// A list of rows of one fixed height whose layout costs the same for ten members as for ten million: where a
// row lies and which row lies at a point are computed, never stored, and only the rows in sight are drawn.
// To everything else (the form, the style, keyboard and mouse selection, accessibility) it is a QListView in
// list mode with single-line items; QListView's own layout, which keeps a position per row, never runs.
// The row height is the height of gridSize(). Rows scroll by the pixel; a list taller than a scroll bar can
// count in pixels scrolls by the row instead.
#ifndef APP_MEMBER_LIST_VIEW_H_
#define APP_MEMBER_LIST_VIEW_H_

#include <QListView>
#include <QPersistentModelIndex>

class member_list_view : public QListView {
  Q_OBJECT

 public:
  explicit member_list_view(QWidget* parent = nullptr);

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  void doItemsLayout() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  int row_height() const;
  int row_count() const;
  bool scrolls_by_row() const;
  // The pixel of the whole column of rows that the top of the viewport shows.
  qint64 top_pixel() const;
  // The row that pixel `y` of the whole column lies in; may be before the first or past the last row.
  qint64 row_at(qint64 y) const { return y >= 0 ? y / row_height() : -1; }
  QModelIndex row_index(int row) const;

  QPersistentModelIndex hover_;  // the row under the mouse, drawn as such
};

#endif  // APP_MEMBER_LIST_VIEW_H_
