// The status reports a machine is watched by: `?` sent when one is due,
// asked again when a reply is late, a machine that sends none within the
// status deadline, and the last report, for what people are told.
#pragma once

#include "deadlines.h"
#include "grbl.h"

#include <QCoreApplication>

#include <chrono>
#include <optional>

namespace motion {

class GrblLink;

class StatusPoll
{
    Q_DECLARE_TR_FUNCTIONS(motion::StatusPoll)

public:
    using Clock = std::chrono::steady_clock;

    void reset() { *this = StatusPoll(); }
    void ask(GrblLink &link, Clock::time_point now);
    // Asks when a report is due, and again each reply time while one is late.
    void tick(GrblLink &link, const Timing &timing, Clock::time_point now);
    // True when the report answers a `?` sent since the last fresh(): GRBL
    // answers in order, so one asked before may tell of an older state.
    bool heard(const grbl::Status &status, Clock::time_point now, std::chrono::milliseconds period);
    // From now on only reports asked from now count; the next is asked at once.
    void fresh(Clock::time_point now)
    {
        m_freshFrom = m_sent;
        m_next = now;
        m_askNow = true; // even while an older `?` is unanswered: its reply no longer counts
    }
    void dueAt(Clock::time_point when) { m_next = when; }
    // No report since the first unanswered `?` within the status deadline.
    bool silent(const Timing &timing, Clock::time_point now) const
    {
        return m_asked && now - m_firstAsk > timing.status;
    }
    bool asked() const { return m_asked; }
    int asks() const { return m_asks; }
    const std::optional<grbl::Status> &last() const { return m_last; }
    // "its last report: Run at X1.000 Y2.000 Z-3.000"
    QString lastState() const;

private:
    std::optional<grbl::Status> m_last;
    bool m_asked = false;
    Clock::time_point m_askedAt {};
    Clock::time_point m_firstAsk {};
    Clock::time_point m_next {};
    int m_asks = 0;
    long m_sent = 0; // every `?`
    long m_heard = 0; // every report
    long m_freshFrom = 0;
    bool m_askNow = false;
};

// "X1.000 Y2.000 Z-3.000"
QString where(const grbl::MachinePoint &p);

} // namespace motion
