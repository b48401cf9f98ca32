// The first words with a GRBL 1.1 machine on a new line: its banner (a soft
// reset asks for one when it says nothing, or when a limit alarm takes only
// a reset), then its settings (`$$`) and build options (`$I`), which make
// its frame. A step machine its caller feeds with replies and the time.
#pragma once

#include "deadlines.h"
#include "machineframe.h"

#include <QCoreApplication>

#include <chrono>

namespace motion {

class GrblLink;

class MachineGreeting
{
    Q_DECLARE_TR_FUNCTIONS(motion::MachineGreeting)

public:
    using Clock = std::chrono::steady_clock;
    enum class State { Waiting, Done, Failed };

    void start(const Timing &timing, Clock::time_point now);
    State take(GrblLink &link, const grbl::Reply &reply, Clock::time_point now);
    // Deadlines: a reset when no banner came, a failure when nothing helps.
    State tick(GrblLink &link, Clock::time_point now);

    State state() const { return m_state; }
    const MachineFrame &frame() const { return m_frame; }
    QString why() const { return m_why; }
    // The machine greeted in alarm ("'$H'|'$X' to unlock").
    bool alarmed() const { return m_alarmed; }

private:
    enum class Step { Banner, Settings, Options };
    State fail(const QString &why);

    Timing m_timing;
    State m_state = State::Waiting;
    Step m_step = Step::Banner;
    Clock::time_point m_deadline {};
    int m_resets = 0;
    bool m_alarmed = false;
    MachineFrame m_frame;
    QString m_why;
};

} // namespace motion
