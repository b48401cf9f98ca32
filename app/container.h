#pragma once

#include <QMap>
#include <QString>
#include <QWidget>

class QListWidgetItem;

namespace Ui {
class Container;
}

// The command browser: a list of command names beside a stack of pages that
// shows the page of the current name, with a search that filters the list.
class Container : public QWidget
{
    Q_OBJECT

public:
    explicit Container(QWidget *parent = nullptr);
    ~Container() override;

    // Appends name to the list and page to the stack; the first row stays current.
    void AddPage(QWidget *page, const QString &name);
    // Shows only the rows containing text (case-sensitive) and makes the last
    // of them current; with no match the page area is disabled.
    void Search(const QString &text);

public slots:
    void ItemChanged(QListWidgetItem *Current, QListWidgetItem *Prev);

private:
    Ui::Container *ui = nullptr;
    QMap<QString, QWidget *> pages; // not owned: the stack owns the pages
};
