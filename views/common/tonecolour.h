// A verdict's colour as the views paint it, from the one palette.
#pragma once

#include "verdict.h"

#include <QColor>

inline QColor qColor(sig::Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

inline QColor toneQColor(sig::Tone tone)
{
    return qColor(sig::toneColour(tone));
}

inline QColor toneQTint(sig::Tone tone)
{
    return qColor(sig::toneTint(tone));
}
