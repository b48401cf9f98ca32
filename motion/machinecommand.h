// One-shot commands to a GRBL machine from the shell: its status, homing, a
// jog, each waited for to its end. The prober streams a whole run; these
// open the line, greet the machine, send a few lines and wait until it is
// idle again, then close.
#pragma once

#include "grbl.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace motion {

struct CommandOutcome
{
    grbl::Status status; // once the machine is still again (or in alarm)
    QString error; // empty on success
};

// Sends the lines in order (each must be acknowledged `ok`), then asks for
// the status until the machine is neither running nor jogging nor homing.
CommandOutcome runCommands(const QString &url, const QList<QByteArray> &lines,
    std::chrono::milliseconds timeout = std::chrono::seconds(120));

// A relative jog at a feed (mm/min), in the form GRBL takes it.
QByteArray jogLine(double dx, double dy, double dz, double feed);

} // namespace motion
