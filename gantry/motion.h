// The gantry's motion in real time: a planner of queued straight moves, each
// run on a trapezoid of its own (from rest to rest), feed hold and jog cancel.
// Plain C++: the controller advances it by the time that passed.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <optional>

namespace gantry {

using Axes = std::array<double, 3>; // X, Y, Z in machine millimetres

struct Move
{
    Axes target {};
    double speed = 0; // mm/s along the path, within every axis' rate
    bool jog = false;
};

class Motion
{
public:
    static constexpr std::size_t kPlannerBlocks = 15;

    // Per-axis rates (mm/s) and accelerations (mm/s²), as the settings hold them.
    void setLimits(const Axes &maxRate, const Axes &acceleration);
    // The fastest speed from `from` to `to` that keeps every axis within its
    // rate, and at most `wanted`.
    double cappedSpeed(const Axes &from, const Axes &to, double wanted) const;

    bool full() const { return queue_.size() + (current_ ? 1 : 0) >= kPlannerBlocks; }
    bool busy() const { return current_ || !queue_.empty(); }
    bool jogging() const;
    void push(const Move &move) { queue_.push_back(move); }

    // Runs the motion on by dt seconds. A move from rest ends when its
    // trapezoid says: the time of dt left over then, for the next move
    // (0 otherwise).
    double advance(double dt);

    // Feed hold: decelerate and stay; resume goes on from rest. With a cancel
    // the queued moves are dropped once the machine stands still.
    void hold(bool cancel = false);
    void resume();
    bool holding() const { return hold_; }
    bool holdComplete() const { return hold_ && speed_ == 0; }
    bool cancelling() const { return cancel_; }
    // Stops at once and forgets every queued move (a reset).
    void stop();

    const Axes &position() const { return position_; }
    void setPosition(const Axes &p) { position_ = p; }
    double speed() const { return speed_; } // mm/s

private:
    struct Running
    {
        Move move;
        Axes start {};
        Axes unit {};
        double length = 0;
        double acceleration = 0;
        double done = 0; // mm along the path
        // From rest with no hold: the trapezoid followed exactly, by the
        // time since the move began; after a hold, stepped by speed.
        bool exact = true;
        double peak = 0; // mm/s
        double t = 0; // s
    };
    void begin(const Move &move);
    // The exact trapezoid by dt: the time left over once the move ends, or
    // a negative number while it goes on.
    double follow(Running &r, double dt);
    double pathAcceleration(const Axes &unit) const;

    Axes maxRate_ { 50, 50, 50 };
    Axes acceleration_ { 500, 500, 500 };
    Axes position_ {};
    std::deque<Move> queue_;
    std::optional<Running> current_;
    double speed_ = 0;
    bool hold_ = false;
    bool cancel_ = false;
};

} // namespace gantry
