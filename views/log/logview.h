// The event log's list: one item per line, laid out by arithmetic on a fixed
// row height, so that a line costs the same at a thousand and at a million.
#pragma once

#include "logline.h"

#include <QListWidget>

#include <memory>

class DockContext;
class QAction;

// A QListWidget whose rows all have the height of the first one. QListView
// keeps a position per row and recomputes all of them after every insertion;
// here a row's place is its number times the row height, and an insertion
// only moves the scroll range. Lines are never removed except by clear().
class LogView : public QListWidget
{
    Q_OBJECT

public:
    explicit LogView(DockContext &context, QWidget *parent = nullptr);

    // Puts a LogView where the form's list is, with its name, palette, font,
    // size policy and selection mode, and deletes the form's list.
    static LogView *replace(QListWidget *form, DockContext &context);

    // Appends a line; a failure is drawn in a red that reads on the black log.
    void appendLine(const QString &line, LogLevel level);

    // Every line, one per text line.
    QString allText() const;
    // Writes every line to fileName atomically; false with a message on failure.
    bool saveTo(const QString &fileName, QString *error) const;
    // Where "Save as..." asks for a file name; empty means cancelled.

    QAction *copyAllAction = nullptr;
    QAction *saveAsAction = nullptr;

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void doItemsLayout() override;

protected:
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void paintEvent(QPaintEvent *event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void reset() override;
    void changeEvent(QEvent *event) override;

private:
    void saveAs();
    int rowHeight() const;
    QRect rowRect(int row) const;

    DockContext &m_context;
    mutable int height = 0; // of every row; 0 until known
    int charWidth = 0; // of the widest letter; 0 until known
    int widest = 0; // the widest line so far
    int firstNewRow = -1; // the first row appended since the last layout, if any
};
