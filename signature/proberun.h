// Probing a board point by point, for learning or testing: wait for the probe
// (its button, polled through get_status, or a trigger from the user), set
// the point's settings, measure, score, and go on to the next point. A step
// machine without a clock of its own, like the measurement sequence: the
// window drives it from a timer, zemctl with sleeps, a test without time.
//
// The run works on its own copy of the signature; what it learned or judged
// is told through events and kept in signature() and session().
#pragma once

#include "sequence.h"
#include "session.h"

#include <QCoreApplication>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zem {
class Connection;
}

namespace sig {

class ProbeRun
{
    Q_DECLARE_TR_FUNCTIONS(sig::ProbeRun)

public:
    using Clock = MeasurementSequence::Clock;
    static constexpr std::chrono::milliseconds kButtonPoll { 50 };

    struct Options
    {
        bool pollButton = false; // a press of the probe's button measures
        bool autoMeasure = false; // measure each point at once, without a trigger
        Session::Options session; // add, repeat, choose settings
    };

    struct Event
    {
        enum Kind {
            Waiting, // for the probe on `point`
            Measured, // a curve of `point` (its `measurement`) was recorded
            PointDone, // every measurement of `point` was recorded; see `step`, `result`
            Failed, // `message` says why; the run goes on unless it has ended
            Ended, // the run is over: `complete` when every point was done
            Measuring, // a measurement of `point` begins
        };
        Kind kind = Waiting;
        int point = -1;
        std::size_t measurement = 0;
        Session::Step step;
        IvCurve curve; // Measured
        QString message; // Failed, Ended
        PointResult result; // PointDone: the point's result (Test)
        std::optional<Point> learned; // PointDone: the point as learned (Learn)
        bool complete = false; // Ended
    };
    using Listener = std::function<void(const Event &)>;

    // Probes the points in `order` (indices into the signature's points; all
    // of them, in turn, when empty). `device` must outlive the run.
    ProbeRun(zem::Connection &device, Signature signature, Session::Mode mode, Options options,
        std::vector<int> order = {}, Listener listener = {});
    ~ProbeRun();

    // At most one library call per step. Returns when to advance next, or
    // nothing once the run has ended.
    std::optional<Clock::time_point> advance(Clock::time_point now);
    // Measure the current point (Space, a click, Enter on a terminal).
    void trigger() { m_triggered = true; }
    // Continue from this point (a position in the signature), from its first
    // measurement; ignored while measuring.
    void select(int point);
    void cancel();

    bool ended() const { return m_state == State::Ended; }
    bool measuring() const { return m_state == State::Measuring; }
    bool waitingForTrigger() const { return m_state == State::Waiting && !m_options.autoMeasure; }
    // The point being probed, -1 once ended.
    int point() const;
    const Signature &signature() const { return m_signature; }
    const Session &session() const { return m_session; }

private:
    enum class State { Begin, Waiting, Measuring, Ended };

    void emitEvent(Event event);
    std::optional<Clock::time_point> end(const QString &message, Clock::time_point now);
    std::optional<Clock::time_point> wait(Clock::time_point now);
    std::optional<Clock::time_point> startMeasurement(Clock::time_point now);
    std::optional<Clock::time_point> stepMeasurement(Clock::time_point now);

    zem::Connection &m_device;
    Signature m_signature;
    Session m_session;
    Options m_options;
    std::vector<int> m_order;
    Listener m_listener;
    std::size_t m_position = 0; // in m_order
    State m_state = State::Begin;
    bool m_enteredWait = false;
    bool m_triggered = false;
    Clock::time_point m_nextPoll {};
    std::unique_ptr<MeasurementSequence> m_sequence;
};

} // namespace sig
