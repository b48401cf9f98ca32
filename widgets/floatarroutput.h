#pragma once

#include "base_io_widget.h"

namespace Ui {
class FloatArrOutput;
}

// Shows a float-array response field, 6 significant digits per element,
// separated by single spaces.
class FloatArrOutput : public base_io_widget
{
    Q_OBJECT

public:
    explicit FloatArrOutput(QWidget *parent, const QString &name, const QString &type);
    ~FloatArrOutput() override;

    void SetArray(const float *elements, int count);

private:
    Ui::FloatArrOutput *ui = nullptr;
};
