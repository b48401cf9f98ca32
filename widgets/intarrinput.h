#pragma once

#include "base_io_widget.h"

#include <cstdint>

namespace Ui {
class IntArrInput;
}

class ValidIntLineEdit;

// Edits a byte-array request field as decimal numbers separated by single
// spaces.
class IntArrInput : public base_io_widget
{
    Q_OBJECT

public:
    explicit IntArrInput(QWidget *parent, const QString &name, const QString &type, uint8_t min,
        uint8_t max, int count);
    ~IntArrInput() override;

    // Writes the numbers of the text, at most count of them, into buffer;
    // elements beyond the numbers given keep their contents.
    void GetArray(uint8_t *buffer) const;

private:
    Ui::IntArrInput *ui = nullptr;
    int count = 0;
};
