#pragma once

#include <QLineEdit>
#include <QPalette>
#include <QString>

#include <cstdint>

// A line edit for unsigned integers, or for up to `count` of them separated by
// single spaces. It paints its background white or red after every change of
// the text, typed or set by the program, but never refuses or alters the text:
// an invalid number is still sent as it stands.
class ValidIntLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit ValidIntLineEdit(QWidget *parent, uint8_t min, uint8_t max, int count);
    explicit ValidIntLineEdit(QWidget *parent, uint16_t min, uint16_t max, int count);
    explicit ValidIntLineEdit(QWidget *parent, uint32_t min, uint32_t max, int count);

    bool IsValid(const QString &text) const;

public slots:
    void Edited(const QString &str);

private:
    struct Widened
    {
    };
    ValidIntLineEdit(QWidget *parent, quint64 min, quint64 max, int count, Widened);

    QPalette validityPalette; // the application's palette with the Base brush rewritten
    quint64 min = 0;
    quint64 max = 0;
    int count = 0;
};
