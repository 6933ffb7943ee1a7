#pragma once

#include <QAbstractItemView>

namespace tromel::gui {

/// List1's kind: a list box of one column whose rows all have one height, scrolled a row at a
/// time. A row's place is a product, so the view keeps nothing per row and a report of millions
/// of items costs it no memory (a QListView keeps several ints a row).
class ListBox final : public QAbstractItemView {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

    void setRowHeight(int height);
    int rowHeight() const { return m_rowHeight; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    /// Typing would compare every row's text: nothing to find among "Ligne: " items.
    void keyboardSearch(const QString&) override { }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int rows() const;
    int top() const;
    int pageRows() const; // whole rows that the viewport shows
    QModelIndex row(qint64 r) const; // clamped to the rows there are
    QRect rowsRect(qint64 first, qint64 last) const; // of the shown part, or empty

    int m_rowHeight = 13;
};

} // namespace tromel::gui
