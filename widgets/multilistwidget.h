#pragma once

#include <QList>
#include <QListWidget>
#include <QPair>
#include <QString>
#include <QStringList>

// Named values in matching order: by value descending, equal values by name
// descending.
using FlagOrder = QList<QPair<qint64, QString>>;

// A list of checkable names, shown under an integer field's caption.
class MultiListWidget : public QListWidget
{
    Q_OBJECT

public:
    explicit MultiListWidget(QWidget *parent = nullptr);

    void AddItem(const QString &name);
    QStringList CheckedItems() const;
    // Ticks the names whose values are contained in bits. Larger values are
    // matched first and their bits used up, so a value that covers several
    // smaller ones is ticked in their place.
    void ShowBits(const FlagOrder &order, qint64 bits);

signals:
    void Changed();

private slots:
    void ChangedSlot();
};
