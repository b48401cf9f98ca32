// A table whose selection copies as tab-separated text, one row a line, ready
// to paste into a spreadsheet.
#pragma once

#include <QTableView>

class PointsView : public QTableView
{
    Q_OBJECT

public:
    explicit PointsView(QWidget *parent = nullptr);

    // The selected cells as text: rows by line, columns by tab, in the view's order.
    QString selectedText() const;

public slots:
    void copy();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
