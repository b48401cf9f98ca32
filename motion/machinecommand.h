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
    // The lines, from the machine's state before them; none: only the state.
    std::function<QList<QByteArray>(const grbl::Status &)> lines;
    // Asked once the machine's frame and state are known, before anything
    // is sent: why the lines must not go, or empty.
    std::function<QString(const MachineFrame &, const grbl::Status &)> check;
    // Asked after each line has ended, with the machine's state then: why
    // the lines after it must not go, or empty.
    std::function<QString(int line, int lines, const grbl::Status &)> verify;
    // How long the lines may take once sent, the replies' time included.
    std::function<std::chrono::milliseconds(const MachineFrame &, const grbl::Status &)> deadline;
};

// The machine's state and position.
CommandRequest statusRequest();
// Homing ($H), also from an alarm; a limit alarm is reset first.
CommandRequest homeRequest(const GantryConfig &config);
// Clears an alarm ($X); a limit alarm is reset first.
CommandRequest unlockRequest(const GantryConfig &config);
// A relative jog (mm), refused in alarm or beyond the travel before it is
// sent. A move in X or Y below the safe height lifts to it first, sees the
// lift in the reported position, and lowers again after.
CommandRequest jogRequest(const GantryConfig &config, double dx, double dy, double dz);
// The jog lines from `at`: one, or the lift, the move and the lowering.
QList<QByteArray> jogLines(
    const GantryConfig &config, const grbl::MachinePoint &at, double dx, double dy, double dz);

CommandOutcome runCommands(const QString &url, const CommandRequest &request, const Timing &timing);

// A relative jog at a feed (mm/min), in the form GRBL takes it.
QByteArray jogLine(double dx, double dy, double dz, double feed);

} // namespace motion
