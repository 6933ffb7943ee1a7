#include "ListBox.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace tromel::gui {

ListBox::ListBox(QWidget* parent)
    : QAbstractItemView(parent)
{
    setVerticalScrollMode(ScrollPerItem);
}

void ListBox::setRowHeight(int height)
{
    m_rowHeight = std::max(1, height);
    scheduleDelayedItemsLayout();
}

int ListBox::rows() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ListBox::top() const
{
    return verticalScrollBar()->value();
}

int ListBox::pageRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

QModelIndex ListBox::row(qint64 r) const
{
    const int n = rows();
    if (n == 0)
        return {};
    return model()->index(static_cast<int>(std::clamp<qint64>(r, 0, n - 1)), 0, rootIndex());
}

QRect ListBox::rowsRect(qint64 first, qint64 last) const
{
    // Rows beyond the viewport are cut off, so that offsets stay small whatever the row numbers.
    first = std::max<qint64>(first, top() - 1);
    last = std::min<qint64>(last, top() + pageRows() + 1);
    if (first > last)
        return {};
    const auto y = static_cast<int>((first - top()) * m_rowHeight);
    return { 0, y, viewport()->width(), static_cast<int>((last - first + 1) * m_rowHeight) };
}

QRect ListBox::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex())
        return {};
    return rowsRect(index.row(), index.row());
}

void ListBox::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const int r = index.row();
    const int page = pageRows();
    int first = top();
    switch (hint) {
    case EnsureVisible:
        if (r < first)
            first = r;
        else if (r >= first + page)
            first = r - page + 1;
        break;
    case PositionAtTop:
        first = r;
        break;
    case PositionAtBottom:
        first = r - page + 1;
        break;
    case PositionAtCenter:
        first = r - page / 2;
        break;
    }
    verticalScrollBar()->setValue(first);
}

QModelIndex ListBox::indexAt(const QPoint& point) const
{
    if (point.y() < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    const qint64 r = qint64 { top() } + point.y() / m_rowHeight;
    return r < rows() ? row(r) : QModelIndex();
}

QModelIndex ListBox::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return row(0);
    const qint64 r = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        return row(r - 1);
    case MoveDown:
    case MoveNext:
        return row(r + 1);
    case MovePageUp:
        return row(r - pageRows());
    case MovePageDown:
        return row(r + pageRows());
    case MoveHome:
        return row(0);
    case MoveEnd:
        return row(rows() - 1);
    case MoveLeft:
    case MoveRight:
        break;
    }
    return current;
}

int ListBox::verticalOffset() const
{
    return static_cast<int>(std::min<qint64>(qint64 { top() } * m_rowHeight, INT_MAX));
}

void ListBox::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect r = rect.normalized();
    const qint64 first = qint64 { top() } + std::max(0, r.top()) / m_rowHeight;
    const qint64 last = qint64 { top() } + std::max(0, r.bottom()) / m_rowHeight;
    if (first >= rows()) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    selectionModel()->select(QItemSelection(row(first), row(last)), command);
}

QRegion ListBox::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    for (const QItemSelectionRange& range : selection)
        if (range.isValid() && range.parent() == rootIndex())
            region += rowsRect(range.top(), range.bottom());
    return region;
}

void ListBox::updateGeometries()
{
    const int page = pageRows();
    verticalScrollBar()->setRange(0, std::max(0, rows() - page));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(1);
    QAbstractItemView::updateGeometries();
}

void ListBox::scrollContentsBy(int, int)
{
    viewport()->update(); // a step is a row, not a pixel
}

void ListBox::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QModelIndex current = currentIndex();
    const qint64 last = std::min<qint64>(rows(), qint64 { top() } + pageRows() + 1);
    for (qint64 r = top(); r < last; ++r) {
        const QModelIndex index = row(r);
        QStyleOptionViewItem option = base;
        option.rect = rowsRect(r, r);
        if (selectionModel() && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (index == current && hasFocus())
            option.state |= QStyle::State_HasFocus;
        itemDelegate()->paint(&painter, option, index);
    }
}

} // namespace tromel::gui
