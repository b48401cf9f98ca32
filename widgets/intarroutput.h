#pragma once

#include "base_io_widget.h"

#include <cstdint>

namespace Ui {
class IntArrOutput;
}

// Shows an integer-array response field as decimal numbers separated by
// single spaces, the form IntArrInput reads.
class IntArrOutput : public base_io_widget
{
    Q_OBJECT

public:
    explicit IntArrOutput(QWidget *parent, const QString &name, const QString &type);
    ~IntArrOutput() override;

    void SetArray(const uint8_t *elements, int count);
    void SetArray(const uint16_t *elements, int count);

private:
    template <class T> void show(const T *elements, int count);

    Ui::IntArrOutput *ui = nullptr;
};
