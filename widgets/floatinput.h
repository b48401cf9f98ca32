#pragma once

#include "base_io_widget.h"

namespace Ui {
class FloatInput;
}

// Edits a float request field; keystrokes that cannot lead to a number in
// range are refused.
class FloatInput : public base_io_widget
{
    Q_OBJECT

public:
    explicit FloatInput(
        QWidget *parent, const QString &name, const QString &type, float min, float max);
    ~FloatInput() override;

    // The text as a float; a text that does not convert reads as 0.
    float GetFloat() const;

private:
    Ui::FloatInput *ui = nullptr;
};
