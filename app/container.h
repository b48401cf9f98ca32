#pragma once

#include <QMap>
#include <QString>
#include <QWidget>

#include <functional>

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
    // The same with a page made by make when the name first becomes current,
    // or when page() asks for it: pages nobody opens cost no start-up.
    void AddPage(const QString &name, std::function<QWidget *()> make);
    // The page of name, made now if it was not yet; null for an unknown name.
    QWidget *page(const QString &name);
    // Shows only the rows containing text (case-sensitive) and makes the last
    // of them current; with no match the page area is disabled.
    void Search(const QString &text);

public slots:
    void ItemChanged(QListWidgetItem *Current, QListWidgetItem *Prev);

private:
    Ui::Container *ui = nullptr;
    QMap<QString, QWidget *> pages; // not owned: the stack owns the pages
    QMap<QString, std::function<QWidget *()>> makers; // of the pages not made yet
};
