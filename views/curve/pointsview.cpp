#include "pointsview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>

#include <map>

PointsView::PointsView(QWidget *parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
    // Rows of a 10,000-point curve all have the height of the first.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    auto *copyAction = new QAction(tr("Copy"), this);
    connect(copyAction, &QAction::triggered, this, &PointsView::copy);
    addAction(copyAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString PointsView::selectedText() const
{
    // Ordered by row, then column, whatever order the cells were picked in.
    std::map<int, std::map<int, QString>> cells;
    int firstColumn = model() ? model()->columnCount() : 0;
    int lastColumn = -1;
    for (const QModelIndex &index : selectionModel()->selectedIndexes()) {
        cells[index.row()][index.column()] = index.data().toString();
        firstColumn = std::min(firstColumn, index.column());
        lastColumn = std::max(lastColumn, index.column());
    }
    QString text;
    for (const auto &[row, columns] : cells) {
        QStringList line;
        for (int c = firstColumn; c <= lastColumn; ++c) {
            const auto cell = columns.find(c);
            line << (cell == columns.end() ? QString() : cell->second);
        }
        text += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void PointsView::copy()
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void PointsView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
