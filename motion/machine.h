// The window's machine: one line to a GRBL gantry, held open on a thread of
// its own, so that a person can home it, jog it, see where it is and stop
// it at any moment, whatever the window is doing.
//
// A GRBL controller takes one sender at a time, so a probe run opens a line
// of its own: the window lets go of this one (release()) while a run uses the
// machine and takes it again afterwards (open()).
#pragma once

#include "gantrymoves.h"
#include "grbl.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <optional>

namespace motion {

struct MachineState
{
    bool open = false; // the line is open and the machine answered
    QString url;
    QString state; // the machine's own word: Idle, Run, Jog, Home, Alarm, Hold:0, ...
    std::optional<grbl::MachinePoint> position; // machine mm
    bool homed = false; // homed on this line (a reset that lost the place clears it)
    bool busy = false; // homing or a line not yet acknowledged
    QString problem; // the last refusal, alarm or lost line, for people; empty when all is well
};

class MachineWorker;

class Machine : public QObject
{
    Q_OBJECT

public:
    explicit Machine(QObject *parent = nullptr);
    // Closes the line (the machine is left as it is) and ends the thread.
    ~Machine() override;

    // Each returns at once; state() follows through changed().
    // Opens the prober URL (as zemctl takes it: its heights and feeds are
    // kept in config()); false with the reason for a URL that cannot be one.
    bool open(const QString &proberUrl, QString *error);
    void close();
    // Lets go of the line for a probe run, and returns once it is closed,
    // so that the run's own line finds the machine free.
    void release();
    void home();
    void unlock();
    // A relative jog, in mm: X and Y at the travel feed, Z at the contact feed.
    void jog(double dx, double dy, double dz);
    // Feed hold, then a soft reset: the machine stops within one reply time
    // in any state. Also ends a jog.
    void halt();

    const MachineState &state() const { return m_state; }
    const GantryConfig &config() const { return m_config; }

signals:
    void changed(const motion::MachineState &state);

private:
    QThread m_thread;
    MachineWorker *m_worker; // lives on m_thread, deleted when it finishes
    GantryConfig m_config;
    MachineState m_state;
};

} // namespace motion
