#pragma once

#include "base_io_widget.h"
#include "multilistwidget.h"

#include <QMap>

#include <cstdint>

namespace Ui {
class intinput;
}

// Edits an unsigned integer request field, optionally with a list of named
// values: ticking names writes their OR, typing a number ticks its names.
class IntInput : public base_io_widget
{
    Q_OBJECT

public:
    explicit IntInput(
        QWidget *parent, const QString &name, const QString &type, uint8_t min, uint8_t max);
    explicit IntInput(
        QWidget *parent, const QString &name, const QString &type, uint16_t min, uint16_t max);
    explicit IntInput(
        QWidget *parent, const QString &name, const QString &type, uint32_t min, uint32_t max);
    ~IntInput() override;

    void AddFlag(const QString &name, int value);

private slots:
    void cBoxChanged();
    void EditChanged();

private:
    template <class T> void build(T min, T max);

    Ui::intinput *ui = nullptr;
    MultiListWidget *flagList = nullptr; // null until the first named value
    QMap<QString, qint64> flagValues;
    FlagOrder flagOrder;
};
