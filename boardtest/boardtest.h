// One board run, learn or test, for every program: a plan in, the probe
// run's events out, one record at the end. Its caller drives it like the
// probe run it wraps (advance(now) until it has ended: the window from its
// device thread, zemctl and Python with sleeps, a test without time), and
// listens; the record it keeps is the only account of the run there is, so
// that a board gets the same verdict, coverage and header whoever ran it.
#pragma once

#include "proberun.h"
#include "runplan.h"
#include "runrecord.h"

#include <QCoreApplication>

#include <functional>
#include <memory>

namespace zem {
class Connection;
}
namespace motion {
class GantryProber;
}

namespace sig {

class BoardTest
{
    Q_DECLARE_TR_FUNCTIONS(sig::BoardTest)

public:
    using Clock = ProbeRun::Clock;
    using Event = ProbeRun::Event;
    // Each event of the probe run, after the record has taken it in.
    using Listener = std::function<void(const Event &, const RunRecord &)>;

    // The run of the plan, or nothing with *error saying why it cannot run
    // (no point to probe, a point named that the board lacks, a machine URL
    // or a board the machine cannot place). `device` must outlive the run.
    static std::unique_ptr<BoardTest> create(
        zem::Connection &device, RunPlan plan, Listener listener, QString *error);
    ~BoardTest();

    std::optional<Clock::time_point> advance(Clock::time_point now);
    void trigger();
    void select(int point);
    // A person stopped the run (Esc, Ctrl+C, q): the record says why.
    void stop(const QString &why);
    // Stopped without a word of why (runToEnd's stop).
    void cancel() { stop(tr("Stopped")); }
    // Once ended: the machine is let go of.
    void releaseProber();
    // With a machine, after the run: how far its fiducial moved.
    void setDrift(double mm) { m_record.driftMm = mm; }

    bool ended() const { return m_run->ended(); }
    bool measuring() const { return m_run->measuring(); }
    bool waitingForTrigger() const { return m_run->waitingForTrigger(); }
    int point() const { return m_run->point(); }
    const RunPlan &plan() const { return m_plan; }
    const RunRecord &record() const { return m_record; }
    const Session &session() const { return m_run->session(); }
    // The run's machine, null for a hand; owned by the run.
    motion::GantryProber *machine() const { return m_machine; }

private:
    BoardTest(zem::Connection &device, RunPlan plan, Listener listener);
    bool prepare(QString *error);
    void onEvent(const Event &e);
    void finish();
    void clock(const Event &e);

    zem::Connection &m_device;
    RunPlan m_plan;
    Listener m_listener;
    RunRecord m_record;
    std::unique_ptr<ProbeRun> m_run;
    motion::GantryProber *m_machine = nullptr;
    std::vector<char> m_done; // by point: learned, or judged
    bool m_identified = false;
    bool m_finished = false;
    int m_timed = -1; // the point being timed
    std::chrono::steady_clock::time_point m_timedSince;
};

} // namespace sig
