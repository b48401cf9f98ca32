#pragma once

#include "base_io_widget.h"

namespace Ui {
class FloatOutput;
}

// Shows a float response field with 6 significant digits.
class FloatOutput : public base_io_widget
{
    Q_OBJECT

public:
    explicit FloatOutput(QWidget *parent, const QString &name, const QString &type);
    ~FloatOutput() override;

    void SetFloat(float value);

private:
    Ui::FloatOutput *ui = nullptr;
};
