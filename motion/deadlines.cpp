#include "deadlines.h"

#include "machineframe.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace motion {

double moveSeconds(const MachineFrame &frame, const grbl::MachinePoint &from,
    const grbl::MachinePoint &to, double feed)
{
    const double d[] = { to.x - from.x, to.y - from.y, to.z - from.z };
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0))
        return 0;
    double speed = feed > 0 ? feed / 60 : std::numeric_limits<double>::infinity();
    double accel = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        const double share = std::abs(d[k]) / length;
        if (share > 1e-12) {
            speed = std::min(speed, frame.maxRate(k) / share);
            accel = std::min(accel, frame.acceleration(k) / share);
        }
    }
    // A trapezoid, or a triangle when the move is too short to reach speed.
    if (length >= speed * speed / accel)
        return length / speed + speed / accel;
    return 2 * std::sqrt(length / accel);
}

std::chrono::milliseconds motionDeadline(const Timing &timing, double seconds)
{
    const double ms = std::clamp(seconds, 0.0, 1e7) * 1000 * (1 + std::max(timing.margin, 0.0));
    return std::chrono::milliseconds(std::llround(ms)) + timing.slack + timing.reply;
}

std::chrono::milliseconds homingDeadline(const Timing &timing, const MachineFrame &frame)
{
    if (timing.homing)
        return *timing.homing;
    const double seek = std::max(frame.homingSeek(), 1e-3);
    const double feed = std::max(frame.homingFeed(), 1e-3);
    const double xy
        = std::max(frame.range(0).hi - frame.range(0).lo, frame.range(1).hi - frame.range(1).lo);
    const double z = frame.range(2).hi - frame.range(2).lo;
    // Each cycle: the search, then two locating passes of five pull-offs.
    const double locate = 2 * 5 * frame.pullOff() / feed;
    const double seconds = 1.5 * z / seek + 1.5 * xy / seek + 2 * locate;
    return motionDeadline(timing, seconds);
}

} // namespace motion
