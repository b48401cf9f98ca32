// The controller's moving lines: a G-code block or a jog made a planned
// move from where the last queued one ends, checked against the travel
// (soft limits), and held for cycle start while the machine is held.
#include "controller.h"

namespace gantry {
namespace {

constexpr double kTargetSlack = 1e-6; // mm

} // namespace

Axes Controller::target(const GcodeBlock &block, bool absolute, bool inches) const
{
    Axes p = planned_;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!block.axes[i])
            continue;
        const double mm = *block.axes[i] * (inches ? 25.4 : 1.0);
        p[i] = absolute || block.machineCoordinates ? mm : p[i] + mm;
    }
    return p;
}

bool Controller::withinTravel(const Axes &p) const
{
    if (!settings_.softLimits())
        return true;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto [lo, hi] = settings_.range(k);
        if (p[k] < lo - kTargetSlack || p[k] > hi + kTargetSlack)
            return false;
    }
    return true;
}

int Controller::stuckLift(Axes &to) const
{
    if (liftFault_ < 0 || to[2] <= planned_[2] + kTargetSlack)
        return 0;
    if (liftFault_ == 0)
        to[2] = planned_[2]; // a stuck Z axis: the ok comes, the tip stays down
    return liftFault_;
}

void Controller::queue(const Move &move)
{
    motion_.push(move);
    planned_ = move.target;
    // Held while still, or the door open: the move waits for cycle start.
    if (idleHold_ || door_ != Door::None) {
        motion_.hold();
        idleHold_ = false;
    }
}

int Controller::jog(const QByteArray &line)
{
    if (alarm_ || waiting() || (motion_.busy() && !motion_.jogging()))
        return error::kNotIdle;
    GcodeBlock b;
    if (const int e = parseJog(std::string_view(line.constData(), std::size_t(line.size())), b))
        return e;
    if (!motion_.busy())
        planned_ = motion_.position();
    const Axes from = planned_;
    const bool inches = b.inches.value_or(inches_);
    Axes to = target(b, b.absolute.value_or(absolute_), inches);
    if (const int e = stuckLift(to))
        return e;
    if (!withinTravel(to))
        return error::kTravelExceeded;
    if (motion_.full())
        return error::kNotIdle;
    const double speed = *b.feed * (inches ? 25.4 : 1.0) / 60;
    queue({ to, motion_.cappedSpeed(from, to, speed), true });
    return 0;
}

int Controller::gcode(const QByteArray &line)
{
    GcodeBlock b;
    if (const int e = parseGcode(std::string_view(line.constData(), std::size_t(line.size())), b))
        return e;
    if (b.inches)
        inches_ = *b.inches;
    if (b.absolute)
        absolute_ = *b.absolute;
    if (b.feed)
        feed_ = *b.feed * (inches_ ? 25.4 : 1.0);
    if (b.motion)
        motionMode_ = *b.motion;
    if (b.dwell) {
        dwell_ = Dwell::Syncing;
        until_ = *b.pause;
        return -1;
    }
    if (!b.hasAxes())
        return 0;
    if (motionMode_ == 1 && feed_ <= 0)
        return error::kUndefinedFeedRate;
    if (!motion_.busy() && !pendingMove_)
        planned_ = motion_.position();
    Axes to = target(b, absolute_, inches_);
    if (const int e = stuckLift(to))
        return e;
    if (!withinTravel(to)) {
        raiseAlarm(2);
        return -1;
    }
    const double wanted = motionMode_ == 0 ? 1e9 : feed_ / 60;
    const Move move { to, motion_.cappedSpeed(planned_, to, wanted), false };
    planned_ = to;
    if (motion_.full()) {
        pendingMove_ = move;
        return -1;
    }
    queue(move);
    return 0;
}

} // namespace gantry
