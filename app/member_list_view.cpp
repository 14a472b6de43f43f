#include "app/member_list_view.h"

#include <QAccessible>
#include <QEvent>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QStylePainter>
#include <algorithm>
#include <limits>

namespace {

constexpr qint64 int_max = std::numeric_limits<int>::max();

int to_int(qint64 value) { return static_cast<int>(std::clamp<qint64>(value, -int_max, int_max)); }

}  // namespace

member_list_view::member_list_view(QWidget* parent) : QListView(parent) {}

int member_list_view::row_height() const {
  const int height = gridSize().height();
  return height > 0 ? height : fontMetrics().height();
}

int member_list_view::row_count() const { return model() ? model()->rowCount(rootIndex()) : 0; }

bool member_list_view::scrolls_by_row() const { return qint64{row_count()} * row_height() > int_max; }

qint64 member_list_view::top_pixel() const {
  const qint64 value = verticalScrollBar()->value();
  return scrolls_by_row() ? value * row_height() : value;
}

QModelIndex member_list_view::row_index(int row) const {
  return model() ? model()->index(row, modelColumn(), rootIndex()) : QModelIndex();
}

// --- Geometry -------------------------------------------------------------------------------------------

QRect member_list_view::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
      index.column() != modelColumn())
    return QRect();
  const qint64 top = qint64{index.row()} * row_height() - top_pixel();
  return QRect(0, to_int(top), viewport()->width(), row_height());
}

QModelIndex member_list_view::indexAt(const QPoint& point) const {
  if (point.x() < 0 || point.x() >= viewport()->width() || point.y() < 0) return QModelIndex();
  const qint64 row = row_at(top_pixel() + point.y());
  return row < row_count() ? row_index(static_cast<int>(row)) : QModelIndex();
}

int member_list_view::horizontalOffset() const { return 0; }

int member_list_view::verticalOffset() const { return to_int(top_pixel()); }

// Rows need no layout; what is left is sizing the scroll bars, and drawing.
void member_list_view::doItemsLayout() { QAbstractItemView::doItemsLayout(); }

void member_list_view::updateGeometries() {
  const int height = row_height();
  const int shown = viewport()->height();
  QScrollBar* bar = verticalScrollBar();
  if (scrolls_by_row()) {
    const int rows_shown = std::max(1, shown / height);
    bar->setSingleStep(1);
    bar->setPageStep(rows_shown);
    bar->setRange(0, std::max(0, row_count() - rows_shown));
  } else {
    bar->setSingleStep(height);
    bar->setPageStep(shown);
    bar->setRange(0, std::max(0, row_count() * height - shown));
  }
  horizontalScrollBar()->setRange(0, 0);
  QAbstractItemView::updateGeometries();
}

void member_list_view::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!visualRect(index).isValid()) return;
  executeDelayedItemsLayout();  // the scroll range must be that of the rows now held
  const int height = row_height();
  const qint64 top = qint64{index.row()} * height;
  const qint64 shown = viewport()->height();
  qint64 first = top_pixel();
  switch (hint) {
    case EnsureVisible:
      if (top < first) {
        first = top;
      } else if (top + height > first + shown) {
        first = top + height - shown;
      } else {
        return;
      }
      break;
    case PositionAtTop:
      first = top;
      break;
    case PositionAtBottom:
      first = top + height - shown;
      break;
    case PositionAtCenter:
      first = top + height / 2 - shown / 2;
      break;
  }
  // By the row, the row ends up wholly in sight: rounded down when it goes to the top, up otherwise.
  if (scrolls_by_row()) first = first <= top ? first / height : (first + height - 1) / height;
  verticalScrollBar()->setValue(to_int(std::max<qint64>(first, 0)));
}

// The scroll bar counts rows rather than pixels when the list is that tall, so the rows are drawn afresh.
void member_list_view::scrollContentsBy(int dx, int dy) {
  if (scrolls_by_row()) {
    viewport()->update();
    return;
  }
  QListView::scrollContentsBy(dx, dy);
}

// --- Keyboard and mouse ---------------------------------------------------------------------------------

QModelIndex member_list_view::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int count = row_count();
  if (count == 0) return QModelIndex();
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return row_index(0);
  // A page is the rows wholly in sight less one, so that the row left behind stays in sight.
  const int page = std::max(1, viewport()->height() / row_height() - 1);
  qint64 row = current.row();
  switch (action) {
    case MoveUp:
    case MovePrevious:
      --row;
      break;
    case MoveDown:
    case MoveNext:
      ++row;
      break;
    case MovePageUp:
      row -= page;
      break;
    case MovePageDown:
      row += page;
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = count - 1;
      break;
    case MoveLeft:
    case MoveRight:
      break;
  }
  return row_index(static_cast<int>(std::clamp<qint64>(row, 0, count - 1)));
}

// Selects the rows that `rect` (in viewport coordinates) touches; none when it lies beside every row.
void member_list_view::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  if (!selectionModel()) return;
  const QRect area = rect.normalized();
  QItemSelection selection;
  const qint64 first = row_at(top_pixel() + area.top());
  const qint64 last = std::min<qint64>(row_at(top_pixel() + area.bottom()), row_count() - 1);
  if (area.right() >= 0 && area.left() < viewport()->width() && last >= 0 && first <= last)
    selection.select(row_index(static_cast<int>(std::max<qint64>(first, 0))),
                     row_index(static_cast<int>(last)));
  selectionModel()->select(selection, command);
}

QRegion member_list_view::visualRegionForSelection(const QItemSelection& selection) const {
  const qint64 first_shown = row_at(top_pixel());
  const qint64 last_shown = row_at(top_pixel() + viewport()->height());
  QRegion region;
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid() || range.parent() != rootIndex()) continue;
    const qint64 top = std::max<qint64>(range.top(), first_shown);
    const qint64 bottom = std::min<qint64>(range.bottom(), last_shown);
    if (top > bottom) continue;
    region +=
        visualRect(row_index(static_cast<int>(top))).united(visualRect(row_index(static_cast<int>(bottom))));
  }
  return region;
}

bool member_list_view::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
      hover_ = indexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
      break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
      hover_ = QModelIndex();
      break;
    default:
      break;
  }
  return QListView::viewportEvent(event);
}

// --- Drawing --------------------------------------------------------------------------------------------

// Each row in the painted area, as QListView draws an item in list mode: the view's item option with the
// row's rectangle and its selected, focused and hovered states, handed to the item delegate.
void member_list_view::paintEvent(QPaintEvent* event) {
  if (!model() || !itemDelegate()) return;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  QStylePainter painter(viewport());
  const QRect area = event->rect();
  const qint64 first = std::max<qint64>(row_at(top_pixel() + area.top()), 0);
  const qint64 last = std::min<qint64>(row_at(top_pixel() + area.bottom()), row_count() - 1);
  const QModelIndex current = currentIndex();
  const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
  const QStyle::State state = option.state;
  const bool enabled = state & QStyle::State_Enabled;
  for (qint64 row = first; row <= last; ++row) {
    const QModelIndex index = row_index(static_cast<int>(row));
    option.rect = visualRect(index);
    option.state = state;
    if (selectionModel() && selectionModel()->isSelected(index)) option.state |= QStyle::State_Selected;
    if (enabled) {
      const bool item_enabled = model()->flags(index) & Qt::ItemIsEnabled;
      if (!item_enabled) option.state &= ~QStyle::State_Enabled;
      option.palette.setCurrentColorGroup(item_enabled ? QPalette::Normal : QPalette::Disabled);
    }
    if (focus && index == current) option.state |= QStyle::State_HasFocus;
    option.state.setFlag(QStyle::State_MouseOver, index == hover_);
    itemDelegateForIndex(index)->paint(&painter, option, index);
  }
}

// --- Accessibility --------------------------------------------------------------------------------------

// A row's accessible child is its row number, which QListView would look up in its own layout.
void member_list_view::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (QAccessible::isActive()) {
    const auto tell = [this](const QItemSelection& rows, QAccessible::Event change) {
      if (rows.isEmpty()) return;
      QAccessibleEvent event(this, change);
      event.setChild(rows.constFirst().top());
      QAccessible::updateAccessibility(&event);
    };
    tell(selected, QAccessible::SelectionAdd);
    tell(deselected, QAccessible::SelectionRemove);
  }
  QAbstractItemView::selectionChanged(selected, deselected);
}

void member_list_view::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (QAccessible::isActive() && current.isValid() && hasFocus()) {
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(current.row());
    QAccessible::updateAccessibility(&event);
  }
  QAbstractItemView::currentChanged(current, previous);
}
