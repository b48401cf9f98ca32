#include "multilistwidget.h"

MultiListWidget::MultiListWidget(QWidget *parent)
    : QListWidget(parent)
{
    connect(this, &QListWidget::itemChanged, this, &MultiListWidget::ChangedSlot);
    setMinimumHeight(60);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

void MultiListWidget::AddItem(const QString &name)
{
    addItem(name);
    item(count() - 1)->setCheckState(Qt::Checked);
}

QStringList MultiListWidget::CheckedItems() const
{
    QStringList names;
    for (int row = 0; row < count(); ++row) {
        if (item(row)->checkState() == Qt::Checked)
            names.append(item(row)->text());
    }
    return names;
}

void MultiListWidget::ShowBits(const FlagOrder &order, qint64 bits)
{
    for (const auto &[value, name] : order) {
        const QList<QListWidgetItem *> found = findItems(name, Qt::MatchExactly);
        const bool contained = (value & bits) == value;
        if (contained)
            bits -= value;
        if (!found.isEmpty())
            found.first()->setCheckState(contained ? Qt::Checked : Qt::Unchecked);
    }
}

void MultiListWidget::ChangedSlot()
{
    emit Changed();
}
