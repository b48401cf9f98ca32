// The one-click measurement: read the settings, start, wait until the device
// reports the measurement complete, read every frame. A step machine without
// a clock of its own: its driver passes "now" in and gets "when next" out, so
// a window drives it from a timer, a console program with sleeps and a test
// without real time.
#pragma once

#include "curve.h"

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace zem {
class Connection;
struct Command;
} // namespace zem

// One library call the sequence made, as its observer sees it. The records
// are valid only during the observer's call.
struct SequenceCall
{
    const zem::Command &command;
    std::int32_t handle; // the handle the call was made with
    const void *request; // null where the command has none
    const void *response; // null where the command has none
    std::int32_t result;
};

class MeasurementSequence
{
    Q_DECLARE_TR_FUNCTIONS(MeasurementSequence)

public:
    using Clock = std::chrono::steady_clock;
    using CallObserver = std::function<void(const SequenceCall &)>;

    enum class Outcome {
        Running,
        Complete, // every frame read
        NothingToRead, // NumberPoints is 0
        TimedOut, // no MEASUREMENT_COMPLETE within the time-out
        Failed, // a call returned an error; see failedResult()
        Cancelled,
        NoDevice, // the handle was -1 at the start; nothing was called
    };

    static constexpr std::chrono::milliseconds kPollInterval { 10 };
    // The first look comes this long after the points should be done: the
    // device's clock starts once the start reaches it, after `now`, and a
    // look a moment early would wait a whole poll more.
    static constexpr std::chrono::milliseconds kFirstPollSlack { 1 };
    // Waiting ends after this many times the expected duration, plus kTimeoutSlack.
    static constexpr int kTimeoutFactor = 3;
    static constexpr std::chrono::milliseconds kTimeoutSlack { 1000 };

    // `device` must outlive the sequence; a call that returns -1 closes it, as
    // every call does. The observer hears of every call right after it returned.
    explicit MeasurementSequence(zem::Connection &device, CallObserver observer = {});

    // Makes the call that is due (at most one library call per step). Returns
    // when to advance next (possibly `now` itself), or nullopt once done.
    // Advancing early only repeats the wait; advancing a finished sequence
    // does nothing.
    std::optional<Clock::time_point> advance(Clock::time_point now);
    // Ends the sequence at once; the frames read so far stay in the curve.
    void cancel();

    bool isDone() const { return state == State::Done; }
    Outcome outcome() const { return result; }
    // Why the sequence ended, for the user; empty while it runs.
    QString message() const { return reason; }
    // The result code that ended a Failed sequence, else 0.
    std::int32_t failedResult() const { return failure; }
    // The points read so far; complete() only after Outcome::Complete.
    const Curve &curve() const { return points; }

    // How long the device should take (from the settings read); 0 before that.
    std::chrono::nanoseconds expectedDuration() const { return expected; }
    // Frames to read, known once the settings are read.
    std::size_t frameCount() const { return frames; }
    std::size_t framesRead() const { return nextFrame; }

private:
    enum class State { ReadSettings, Start, Poll, ReadFrames, Done };

    std::int32_t call(const char *command, const void *request, void *response);
    void finish(Outcome outcome, const QString &why, Clock::time_point now);
    void fail(const char *command, std::int32_t code, Clock::time_point now);
    QString framesKept() const;

    zem::Connection &device;
    CallObserver observer;
    State state = State::ReadSettings;
    Outcome result = Outcome::Running;
    QString reason;
    std::int32_t failure = 0;
    Curve points;
    std::chrono::nanoseconds expected {};
    std::size_t frames = 0;
    std::size_t pointCount = 0;
    std::size_t nextFrame = 0;
    bool begun = false;
    Clock::time_point firstStep {};
    Clock::time_point deadline {};
    Clock::time_point due {}; // when the next call is due
};

// Drives a step machine (anything with advance(now) returning when next, or
// nothing once done) to its end on the calling thread, sleeping between
// steps, as a console program does. `stop` (when given) is checked before
// every step and cancels the machine once it reads true.
// Sleeps until t on the steady clock; a signal ends the sleep early, so that
// Ctrl+C is heard at once.
void sleepUntil(MeasurementSequence::Clock::time_point t);

template <class Machine> void runToEnd(Machine &machine, const std::function<bool()> &stop = {})
{
    for (;;) {
        if (stop && stop())
            machine.cancel();
        const auto next = machine.advance(MeasurementSequence::Clock::now());
        if (!next)
            return;
        sleepUntil(*next);
    }
}
