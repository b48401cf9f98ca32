// The controller's $ commands that only report: help, settings, parser
// state, build info, offsets and start-up lines, as GRBL 1.1 prints them.
#pragma once

#include "settings.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace gantry {

struct ParserState
{
    bool absolute = true;
    bool inches = false;
    int motionMode = 0;
    double feed = 0; // mm/min
};

// The lines `command` (upper case) prints, or nothing when it is no report.
std::optional<QList<QByteArray>> systemReport(
    const QByteArray &command, const Settings &settings, const ParserState &parser);

} // namespace gantry
