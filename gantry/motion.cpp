#include "motion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gantry {
namespace {

// Closer than this to its end, a move is complete (well below the 0.001 mm
// the status shows).
constexpr double kArrived = 1e-5;

Axes direction(const Axes &from, const Axes &to, double &length)
{
    Axes d {};
    length = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        d[i] = to[i] - from[i];
        length += d[i] * d[i];
    }
    length = std::sqrt(length);
    if (length > 0)
        for (double &c : d)
            c /= length;
    return d;
}

} // namespace

void Motion::setLimits(const Axes &maxRate, const Axes &acceleration)
{
    maxRate_ = maxRate;
    acceleration_ = acceleration;
}

double Motion::cappedSpeed(const Axes &from, const Axes &to, double wanted) const
{
    double length = 0;
    const Axes unit = direction(from, to, length);
    double speed = wanted;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::abs(unit[i]) > 1e-12)
            speed = std::min(speed, maxRate_[i] / std::abs(unit[i]));
    return speed;
}

double Motion::pathAcceleration(const Axes &unit) const
{
    double a = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < 3; ++i)
        if (std::abs(unit[i]) > 1e-12)
            a = std::min(a, acceleration_[i] / std::abs(unit[i]));
    return std::isfinite(a) ? a : acceleration_[0];
}

bool Motion::jogging() const
{
    if (current_)
        return current_->move.jog;
    return !queue_.empty() && queue_.front().jog;
}

void Motion::begin(const Move &move)
{
    Running r;
    r.move = move;
    r.start = position_;
    r.unit = direction(position_, move.target, r.length);
    r.acceleration = std::max(pathAcceleration(r.unit), 1e-3);
    // A triangle's peak lies halfway: v² = a * length.
    r.peak = std::min(std::max(move.speed, 1e-3), std::sqrt(r.acceleration * r.length));
    current_ = r;
}

double Motion::follow(Running &r, double dt)
{
    const double a = r.acceleration, v = std::max(r.peak, 1e-9);
    const double ramp = v / a; // s to reach the peak, and to stop from it
    const double total = r.length <= kArrived ? 0 : r.length / v + ramp;
    if (r.t + dt >= total) {
        position_ = r.move.target;
        current_.reset();
        speed_ = 0;
        return std::max(0.0, r.t + dt - total);
    }
    r.t += dt;
    if (r.t < ramp) {
        r.done = a * r.t * r.t / 2;
        speed_ = a * r.t;
    } else if (r.t < total - ramp) {
        r.done = v * v / (2 * a) + v * (r.t - ramp);
        speed_ = v;
    } else {
        const double left = total - r.t;
        r.done = r.length - a * left * left / 2;
        speed_ = a * left;
    }
    for (std::size_t i = 0; i < 3; ++i)
        position_[i] = r.start[i] + r.unit[i] * r.done;
    return -1;
}

double Motion::advance(double dt)
{
    if (hold_ && speed_ == 0) {
        if (cancel_) {
            // A cancelled jog ends where the machine stopped.
            queue_.clear();
            current_.reset();
            hold_ = cancel_ = false;
        }
        return 0;
    }
    if (!current_) {
        if (queue_.empty() || hold_)
            return 0;
        begin(queue_.front());
        queue_.pop_front();
    }
    if (!hold_ && current_->exact)
        return std::max(0.0, follow(*current_, dt));
    Running &r = *current_;
    r.exact = false;
    const double remaining = r.length - r.done;
    const double a = r.acceleration;
    const double wanted = std::max(r.move.speed, 1e-3);
    double next;
    if (hold_ || speed_ * speed_ / (2 * a) >= remaining)
        next = std::max(0.0, speed_ - a * dt);
    else
        next = std::min(wanted, speed_ + a * dt);
    // Speeds below what one step reaches from rest would stop short of the
    // end: the last stretch is taken at that speed.
    if (!hold_ && next == 0 && remaining > kArrived)
        next = std::min(wanted, a * dt);
    r.done += (speed_ + next) / 2 * dt;
    speed_ = next;
    if (r.done >= r.length - kArrived && !(hold_ && r.done < r.length)) {
        position_ = r.move.target;
        current_.reset();
        speed_ = 0;
        return 0;
    }
    r.done = std::min(r.done, r.length);
    for (std::size_t i = 0; i < 3; ++i)
        position_[i] = r.start[i] + r.unit[i] * r.done;
    return 0;
}

void Motion::hold(bool cancel)
{
    if (!busy())
        return;
    hold_ = true;
    cancel_ = cancel_ || cancel;
}

void Motion::resume()
{
    if (!cancel_)
        hold_ = false;
}

void Motion::stop()
{
    queue_.clear();
    current_.reset();
    speed_ = 0;
    hold_ = cancel_ = false;
}

} // namespace gantry
