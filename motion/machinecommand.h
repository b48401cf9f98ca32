// One-shot commands to a GRBL machine from the shell: its status, homing, an
// unlock, a jog, each waited for to its end. The prober streams a whole run;
// these open the line, greet the machine and read its frame, check the
// request against its state and travel before anything is sent, send a few
// lines and wait (within a deadline) until it is still again, then close.
#pragma once

#include "deadlines.h"
#include "machineframe.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace motion {

struct GantryConfig;

struct CommandOutcome
{
    grbl::Status status; // once the machine is still again (or in alarm)
    QString error; // empty on success
    QStringList notices; // for the person: a warning, the machine's alarm
};

struct CommandRequest
{
    QList<QByteArray> lines;
    // Asked once the machine's frame and state are known, before anything
    // is sent: why the lines must not go, or empty.
    std::function<QString(const MachineFrame &, const grbl::Status &)> check;
    // How long the lines may take once sent, the replies' time included.
    std::function<std::chrono::milliseconds(const MachineFrame &, const grbl::Status &)> deadline;
};

// The machine's state and position.
CommandRequest statusRequest();
// Homing ($H), also from an alarm; a limit alarm is reset first.
CommandRequest homeRequest(const GantryConfig &config);
// Clears an alarm ($X); a limit alarm is reset first.
CommandRequest unlockRequest(const GantryConfig &config);
// A relative jog (mm), refused in alarm or beyond the travel before it is sent.
CommandRequest jogRequest(const GantryConfig &config, double dx, double dy, double dz);

CommandOutcome runCommands(const QString &url, const CommandRequest &request, const Timing &timing);

// A relative jog at a feed (mm/min), in the form GRBL takes it.
QByteArray jogLine(double dx, double dy, double dz, double feed);

} // namespace motion
