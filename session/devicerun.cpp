#include "devicerun.h"

#include "devicesession.h"
#include "recording.h"

#include <QThread>

#include <algorithm>
#include <QTimer>

// The part of a run that lives on the device thread.
class DeviceRun::Stepper : public QObject
{
public:
    Stepper(zem::calls::Origin origin, Advance advance, std::function<void()> cancel)
        : origin(origin)
        , advance(std::move(advance))
        , cancel(std::move(cancel))
    {
    }

    // Device thread: makes the due calls and sets the timer for the next.
    // Returns false once the machine is done.
    bool step()
    {
        if (done)
            return false;
        if (cancelRequested.exchange(false))
            cancel();
        const zem::calls::OriginScope scope(origin);
        Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> next;
        // Calls due at once follow each other in one pass: a burst of frame
        // reads costs no event-loop round trips.
        for (;;) {
            callStarted.store(now.time_since_epoch().count());
            next = advance(now);
            callStarted.store(0);
            if (!next || *next > (now = Clock::now()) || cancelRequested.load())
                break;
        }
        if (!next) {
            done = true;
            timer->stop();
            return false;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
        timer->start(int(std::max<std::int64_t>(0, wait.count())));
        return true;
    }

    const zem::calls::Origin origin;
    const Advance advance;
    const std::function<void()> cancel;
    QTimer *timer = nullptr;
    bool done = false;
    std::atomic<bool> cancelRequested { false };
    // When the step in progress began (steady clock ticks), 0 between steps.
    std::atomic<Clock::rep> callStarted { 0 };
};

DeviceRun::DeviceRun(DeviceSession &session, zem::calls::Origin origin, Advance advance,
    std::function<void()> cancel, QObject *window)
    : m_session(session)
    , m_window(window)
    , m_stepper(new Stepper(origin, std::move(advance), std::move(cancel)))
{
    m_stepper->moveToThread(session.deviceThread());
    auto &runs = m_session.m_runs;
    runs.erase(std::remove(runs.begin(), runs.end(), nullptr), runs.end());
    runs.emplace_back(this);
    m_slowCheck = new QTimer(this);
    m_slowCheck->setInterval(100);
    connect(m_slowCheck, &QTimer::timeout, this, &DeviceRun::checkSlow);
}

DeviceRun::~DeviceRun()
{
    stop(false);
}

void DeviceRun::start()
{
    m_slowCheck->start();
    QMetaObject::invokeMethod(m_stepper, [this, stepper = m_stepper] {
        stepper->timer = new QTimer(stepper);
        stepper->timer->setSingleShot(true);
        stepper->timer->setTimerType(Qt::PreciseTimer);
        const auto stepAndTell = [this, stepper] {
            if (!stepper->step())
                QMetaObject::invokeMethod(this, [this] {
                    if (m_finished || !m_stepper)
                        return;
                    m_finished = true;
                    m_slowCheck->stop();
                    if (m_slow)
                        emit waiting(m_slow = false);
                    emit finished();
                }, Qt::QueuedConnection);
        };
        connect(stepper->timer, &QTimer::timeout, stepper, stepAndTell);
        stepAndTell();
    }, Qt::QueuedConnection);
}

void DeviceRun::post(std::function<void()> f)
{
    if (!m_stepper || m_finished)
        return;
    QMetaObject::invokeMethod(m_stepper, [stepper = m_stepper, f = std::move(f)] {
        if (stepper->done)
            return;
        f();
        if (stepper->timer) // else the run has yet to start, and steps then
            stepper->timer->start(0);
    }, Qt::QueuedConnection);
}

void DeviceRun::cancelSoon()
{
    if (!m_stepper || m_finished)
        return;
    m_stepper->cancelRequested = true;
    QMetaObject::invokeMethod(m_stepper, [stepper = m_stepper] {
        if (stepper->timer && !stepper->done)
            stepper->timer->start(0);
    }, Qt::QueuedConnection);
}

void DeviceRun::stop(bool tell)
{
    if (!m_stepper)
        return;
    const bool wasFinished = m_finished;
    Stepper *stepper = std::exchange(m_stepper, nullptr);
    // Queued behind the step in progress, if any: the device thread answers
    // once its call has returned.
    QMetaObject::invokeMethod(stepper, [stepper] {
        if (!stepper->done)
            stepper->cancel();
        delete stepper;
    }, Qt::BlockingQueuedConnection);
    m_slowCheck->stop();
    m_finished = true;
    // What the device thread made of its last calls reaches the window now.
    m_session.deliver();
    if (m_slow)
        emit waiting(m_slow = false);
    if (tell && !wasFinished)
        emit finished();
}

void DeviceRun::toWindow(std::function<void()> f)
{
    QObject *target = m_window ? m_window.data() : this;
    QMetaObject::invokeMethod(target, [run = QPointer<DeviceRun>(this), f = std::move(f)] {
        if (run && run->m_stepper)
            f();
    }, Qt::QueuedConnection);
}

void DeviceRun::checkSlow()
{
    const Clock::rep started = m_stepper ? m_stepper->callStarted.load() : 0;
    const bool slow = started != 0
        && Clock::now() - Clock::time_point(Clock::duration(started)) > kSlowCall;
    if (slow != m_slow)
        emit waiting(m_slow = slow);
}
