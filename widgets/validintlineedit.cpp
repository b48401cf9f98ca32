#include "validintlineedit.h"

#include <QStringList>

#include <algorithm>

ValidIntLineEdit::ValidIntLineEdit(QWidget *parent, uint8_t min, uint8_t max, int count)
    : ValidIntLineEdit(parent, quint64(min), quint64(max), count, Widened())
{
}

ValidIntLineEdit::ValidIntLineEdit(QWidget *parent, uint16_t min, uint16_t max, int count)
    : ValidIntLineEdit(parent, quint64(min), quint64(max), count, Widened())
{
}

ValidIntLineEdit::ValidIntLineEdit(QWidget *parent, uint32_t min, uint32_t max, int count)
    : ValidIntLineEdit(parent, quint64(min), quint64(max), count, Widened())
{
}

ValidIntLineEdit::ValidIntLineEdit(QWidget *parent, quint64 min, quint64 max, int count, Widened)
    : QLineEdit(parent)
    , min(min)
    , max(max)
    , count(count)
{
    // The palette is applied only on the first change, so a fresh page does
    // not shout red at the user for fields not yet filled in.
    connect(this, &QLineEdit::textChanged, this, &ValidIntLineEdit::Edited);
}

bool ValidIntLineEdit::IsValid(const QString &text) const
{
    // Splitting at every single space keeps empty parts, so a leading,
    // trailing or doubled space yields an element that does not convert.
    const QStringList elements = text.split(QLatin1Char(' '));
    if (elements.size() > std::max(count, 1))
        return false;
    for (const QString &element : elements) {
        bool ok = false;
        const quint64 value = element.toULongLong(&ok, 10);
        if (!ok || value < min || value > max)
            return false;
    }
    return true;
}

void ValidIntLineEdit::Edited(const QString &str)
{
    const QColor colour = IsValid(str) ? QColor(Qt::white) : QColor(Qt::red);
    validityPalette.setBrush(QPalette::All, QPalette::Base, QBrush(colour));
    setPalette(validityPalette);
}
