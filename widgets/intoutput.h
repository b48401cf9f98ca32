#pragma once

#include "base_io_widget.h"
#include "multilistwidget.h"

#include <QMap>

namespace Ui {
class IntOutput;
}

// Shows an integer response field; named values are ticked to match the
// number but cannot be ticked by the user.
class IntOutput : public base_io_widget
{
    Q_OBJECT

public:
    explicit IntOutput(QWidget *parent, const QString &name, const QString &type);
    ~IntOutput() override;

    void AddFlag(const QString &name, int value);

private slots:
    void EditChanged();

private:
    Ui::IntOutput *ui = nullptr;
    MultiListWidget *flagList = nullptr; // null until the first named value
    QMap<QString, qint64> flagValues;
    FlagOrder flagOrder;
};
