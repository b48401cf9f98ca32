// Probing a board point by point, for learning or testing: ask the prober to
// bring the probe to the point and wait until it is there, take every capture
// of that point (repeats, each current range of automatic settings, each
// measurement), score, and only then go on to the next point. A step machine
// without a clock of its own, like the measurement sequence: the window
// drives it from a timer, zemctl with sleeps, a test without time.
//
// When the library offers to place its virtual probe, the run puts it on the
// point's pin as it moves there, so a virtual board is measured on the right
// pins whatever the number of captures.
//
// The run works on its own copy of the signature; what it learned or judged
// is told through events and kept in signature() and session().
#pragma once

#include "prober.h"
#include "sequence.h"
#include "session.h"

#include <QCoreApplication>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
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
    static_assert(std::is_same_v<Clock, Prober::Clock>);

    struct Options
    {
        // Without a prober of the caller's, a hand's: a press of the probe's
        // button measures, or each point is measured at once; else a trigger.
        bool pollButton = false;
        bool autoMeasure = false;
        // Once the probe is there, measure as soon as the curve under it
        // holds still: two captures alike within the point's tolerance, and
        // not open; by hand, from the second point on, only once the probe
        // was lifted (read open) since the last point. A trigger measures at
        // once.
        bool measureOnContact = false;
        // Captures that read open where the reference does not before a
        // prober that can retry gives the point up as no_contact.
        int contactTries = 3;
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
            Still, // the curve under the probe held still after `waited`
            Retry, // no contact: the prober tries `point` again (`attempt`)
            // Test: `point`'s verdict is final, see `result`. Right after its
            // PointDone, unless it shares a net with other points of the run:
            // then once the net's last point is done and the net compared,
            // for each of its points (again when one is measured again), or
            // as it is when the run ends first.
            Judged,
            // The prober says what the person must know now (a hold that
            // pauses the run, the machine going on, a warning) in `message`;
            // the run goes on.
            Notice,
        };
        Kind kind = Waiting;
        int point = -1;
        std::size_t measurement = 0;
        Session::Step step;
        IvCurve curve; // Measured
        QString message; // Failed, Ended, Notice
        // Failed: the result code of the library call that failed; 0 when no
        // call did (a time-out, a prober's failure).
        std::int32_t failedResult = 0;
        PointResult result; // PointDone, Judged: the point's result (Test)
        std::optional<Point> learned; // PointDone: the point as learned (Learn)
        bool complete = false; // Ended
        int attempt = 0; // Retry
        Clock::duration waited {}; // Still: from the probe there to the curve still
    };
    using Listener = std::function<void(const Event &)>;

    // Probes the points in `order` (indices into the signature's points; all
    // of them, in turn, when empty) with the prober given, or a hand as the
    // options say. `device` must outlive the run.
    ProbeRun(zem::Connection &device, Signature signature, Session::Mode mode, Options options,
        std::vector<int> order = {}, Listener listener = {}, std::unique_ptr<Prober> prober = {});
    ~ProbeRun();

    // At most one library call per step. Returns when to advance next, or
    // nothing once the run has ended.
    std::optional<Clock::time_point> advance(Clock::time_point now);
    // Measure the current point (Space, a foot switch, a click, Enter).
    void trigger();
    // Continue from this point (a position in the signature), from its first
    // measurement; ignored while measuring.
    void select(int point);
    void cancel();
    // Once ended: the prober lets go of its machine (see Prober::release).
    void releaseProber() { m_prober->release(); }

    bool ended() const { return m_state == State::Ended; }
    bool measuring() const { return m_state == State::Measuring; }
    bool waitingForTrigger() const
    {
        return m_state == State::Moving && m_prober->waitsForPerson();
    }
    // The point being probed, -1 once ended.
    int point() const;
    const Signature &signature() const { return m_signature; }
    const Session &session() const { return m_session; }

private:
    enum class State { Begin, Moving, Settling, Measuring, Ended };

    void emitEvent(Event event);
    std::optional<Clock::time_point> end(const QString &message, Clock::time_point now);
    std::optional<Clock::time_point> moveProbe(Clock::time_point now, int attempt);
    std::optional<Clock::time_point> waitForProbe(Clock::time_point now);
    std::optional<Clock::time_point> startCapture(Clock::time_point now, State state);
    std::optional<Clock::time_point> stepCapture(Clock::time_point now);
    std::optional<Clock::time_point> settled(const IvCurve &curve, Clock::time_point now);
    std::optional<Clock::time_point> measured(const IvCurve &curve, Clock::time_point now);
    std::optional<Clock::time_point> nextPoint(Clock::time_point now);
    bool missedContact(const IvCurve &curve) const;
    void judge(int point);
    void emitJudged(int point);
    // Before the run ends: the points whose net was not complete.
    void judgePending();

    zem::Connection &m_device;
    Signature m_signature;
    Session m_session;
    Options m_options;
    std::vector<int> m_order;
    Listener m_listener;
    std::unique_ptr<Prober> m_prober;
    std::size_t m_position = 0; // in m_order
    State m_state = State::Begin;
    bool m_triggered = false; // while settling
    int m_tries = 0; // captures of the point that found no contact
    bool m_virtualProbe = true; // until the library says it has none
    bool m_awaitLift = false; // on contact, by hand: until the probe reads open
    std::optional<IvCurve> m_lastStill; // while settling
    Clock::time_point m_thereAt {};
    std::unique_ptr<MeasurementSequence> m_sequence;
    // The nets the run's points share (sharedNets), and each point's among
    // them or -1.
    std::vector<std::vector<int>> m_nets;
    std::vector<int> m_netOf;
    std::vector<char> m_unjudged; // done, waiting for its net
};

} // namespace sig
