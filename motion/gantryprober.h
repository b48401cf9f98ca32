// A GRBL 1.1 gantry as the probe run's prober: it reads the machine's frame
// on connecting, homes before its first move unless the line it was given
// kept the machine homed (gantryline.h), lifts to the travel height (the
// clearance above the board between two of its points, the safe height
// otherwise) and sees the lift in the reported position before any move in
// X and Y, lowers
// at the contact feed to the board's surface, and on a retry lowers by one
// more step, up to its travel. Every step has a deadline (deadlines.h); a
// feed hold or an open door pauses the point until cycle start. A stop, an
// alarm, a reset, a refused line, a lost line or a step past its deadline
// halts the machine (feed hold, then soft reset) and fails the point by
// name, with the machine's last state; starting again from that point homes
// again if the machine lost its place (after a soft-limit alarm, which keeps
// it, it unlocks with $X instead).
//
// poll() never calls the zem library: motion only. Everything happens on the
// thread that polls (the link is opened on the first poll).
#pragma once

#include "gantryline.h"
#include "gantrymoves.h"
#include "machinegreeting.h"
#include "prober.h"

#include <QCoreApplication>

#include <functional>
#include <optional>

namespace motion {

class GantryProber : public sig::Prober
{
    Q_DECLARE_TR_FUNCTIONS(motion::GantryProber)

public:
    // `line`: a machine held open across runs, kept open by release(); none:
    // a line of its own, opened on the first poll and closed by release().
    explicit GantryProber(GantryConfig config, std::shared_ptr<GantryLine> line = {});
    ~GantryProber() override;

    void moveTo(const sig::ProbeTarget &target, Clock::time_point now) override;
    Status poll(zem::Connection &device, Clock::time_point now) override;
    bool canRetry() const override { return true; }
    void cancel() override;
    // Closes a line of its own (the next poll opens it again and homes
    // first); a held line stays open, and homed if it was.
    void release() override;

    // The drift check: brings the probe to a board position (a fiducial)
    // as to a point; once poll() says There, reached() is the machine
    // position the machine reported there, to compare with the taught one.
    void moveToBoard(PlanePoint board, const QString &name, Clock::time_point now);
    std::optional<grbl::MachinePoint> reached() const { return m_reached; }
    const GantryConfig &config() const { return m_config; }
    // A dry run: every target at the safe height, never lowered.
    void hoverOnly(bool on) { m_config.hover = on; }
    // Told every position the machine reports, on the polling thread: a
    // window draws the probe moving.
    void setPositionListener(std::function<void(const grbl::MachinePoint &)> listener)
    {
        m_onPosition = std::move(listener);
    }

private:
    enum class Phase {
        None,
        Connect,
        Greeting,
        Reset,
        Plan,
        Homing,
        Check,
        Lifting,
        LiftCheck,
        Moving,
        Verify,
        There,
        Failed
    };

    struct Goal
    {
        QString name;
        std::optional<PlanePoint> board;
        int attempt = 0;
        bool point = false; // a point of the board, not a fiducial
        grbl::MachinePoint machine; // filled by plan()
        double travelZ = 0; // the height it is reached across at, from the Check
    };

    Status step(Clock::time_point now);
    Status handle(const grbl::Reply &reply, Clock::time_point now);
    Status report(const grbl::Status &status, Clock::time_point now);
    Status plan(Clock::time_point now);
    // The lift (or, on the same place, the lowering) from where the machine
    // was reported.
    Status start(const std::optional<grbl::MachinePoint> &reported, Clock::time_point now);
    Status queue(
        const QList<QByteArray> &lines, Phase phase, double seconds, Clock::time_point now);
    Status timedOut();
    Status fail(const QString &why, bool halt);
    Status moving(Clock::time_point now);
    void watch(Clock::time_point now);
    void pause(const grbl::Status &status, Clock::time_point now);
    void halt();

    GantryConfig m_config;
    std::shared_ptr<GantryLine> m_line;
    bool m_held = false; // the line is the caller's
    Phase m_phase = Phase::None;
    Goal m_goal;
    bool m_replan = false; // a new goal came while lines were in flight
    QString m_why; // Failed
    Clock::time_point m_deadline {}; // of the phase's awaited step
    QString m_awaited; // that step, for people
    MachineGreeting m_greeting;
    bool m_justHomed = false; // the next report must be at the frame's home
    bool m_moved = false; // a move was sent since the line was taken for this run
    std::optional<grbl::MachinePoint> m_reached;
    std::optional<Clock::time_point> m_pausedSince; // a hold or an open door
    QString m_notice; // for the next Moving status
    std::function<void(const grbl::MachinePoint &)> m_onPosition;
};

// The distance (mm) between a taught and a reached machine position in X
// and Y, and whether it exceeds the tolerance (0.1 mm by default).
struct Drift
{
    double mm = 0;
    bool beyond = false;
};
Drift drift(
    const grbl::MachinePoint &taught, const grbl::MachinePoint &reached, double tolerance = 0.1);

} // namespace motion
