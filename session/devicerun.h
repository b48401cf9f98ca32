// A dock's run on the session's device thread: a step machine (anything that
// answers advance(now) with when to advance next, or nothing once done)
// advanced there by a timer of that thread, so that a slow instrument never
// holds up the window. The machine is the run's: while the run goes, only the
// device thread touches it; once finished() is emitted the window may read
// it. What the machine tells along the way reaches the window through
// toWindow().
#pragma once

#include "call.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

class DeviceSession;
class QTimer;

class DeviceRun : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;
    using Advance = std::function<std::optional<Clock::time_point>(Clock::time_point)>;

    // A call in flight longer than this makes the run report that it waits.
    static constexpr std::chrono::milliseconds kSlowCall { 300 };

    // `advance` and `cancel` are called on the device thread only, with the
    // calls recorded under `origin`. `window` receives toWindow()'s functions
    // and is where finished() and waiting() are delivered.
    DeviceRun(DeviceSession &session, zem::calls::Origin origin, Advance advance,
        std::function<void()> cancel, QObject *window);
    // Stops the run first (see stop()).
    ~DeviceRun() override;

    void start();
    // Runs `f` on the device thread between two steps, then steps at once
    // (a trigger, a choice of the user's). Ignored once finished.
    void post(std::function<void()> f);
    // Cancels the machine and returns once the device thread is done with it:
    // within the call in flight, if any; then finished() is emitted, unless
    // the run had finished already or `tell` is false. Never call it from a
    // slot of a call's signal: that call holds the connection, which the
    // device thread may be waiting for.
    void stop(bool tell = true);
    // Asks the machine to cancel at its next step, without waiting.
    void cancelSoon();

    bool isFinished() const { return m_finished; }

    // For the machine's listeners on the device thread: runs f on the window's
    // thread, in order.
    void toWindow(std::function<void()> f);

signals:
    // The machine ended by itself, or after cancelSoon().
    void finished();
    // A call of the run has been in flight for longer than kSlowCall (true),
    // or the slow call returned (false).
    void waiting(bool slow);

private:
    class Stepper;

    void checkSlow();

    DeviceSession &m_session;
    QPointer<QObject> m_window;
    Stepper *m_stepper = nullptr; // lives on the device thread
    QTimer *m_slowCheck = nullptr;
    bool m_finished = false;
    bool m_slow = false;
};
