// Window benchmarks run anywhere: with no display and no platform asked for,
// Qt's offscreen platform is used. Call before the application is created.
#pragma once

#include <QByteArray>
#include <QtGlobal>

inline void offscreenWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
