// Who brings the probe to a point. The probe run asks its prober to bring the
// probe to a point, then asks again until the prober says the probe is there
// or why it cannot be. A hand is a prober: it is "there" when the technician
// says so (the probe's button, a key, Enter on a terminal) or at once when
// nobody is asked. A machine is a prober that moves by itself and can try a
// point again when the probe found no contact.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <cstdint>

namespace zem {
class Connection;
}

namespace sig {

// Where the run wants the probe.
struct ProbeTarget
{
    int point = -1; // position in the signature
    QString name;
    int attempt = 0; // 0, then 1, 2, ... when the point is tried again
};

class Prober
{
public:
    using Clock = std::chrono::steady_clock;

    struct Status
    {
        enum Kind { Moving, There, Failed };
        Kind kind = Moving;
        Clock::time_point next {}; // Moving: when to ask again
        QString why; // Failed
        // Moving: what the person must know now, said once (a hold that
        // pauses the run, the machine going on, a warning); else empty.
        QString notice {};
    };

    virtual ~Prober() = default;
    // Starts bringing the probe to the target; no library call.
    virtual void moveTo(const ProbeTarget &target, Clock::time_point now) = 0;
    // Where the probe is now. At most one library call.
    virtual Status poll(zem::Connection &device, Clock::time_point now) = 0;
    // A machine can try a point again by itself (it lowers by a step); a
    // hand cannot, and a missed pad reads as an open pin.
    virtual bool canRetry() const { return false; }
    // True while the prober waits for a person to say the probe is there.
    virtual bool waitsForPerson() const { return false; }
    // The person says the probe is there (a key, a click, Enter).
    virtual void trigger() { }
    virtual void cancel() { }
    // The run is over: let go of what the prober holds open (a machine's
    // line), on the thread that polled it, which owns it.
    virtual void release() { }
};

// The technician's hand. It is there when triggered (Space, a foot switch,
// Measure, Enter), when the probe's button is pressed, or at once.
class HandProber : public Prober
{
public:
    enum class Signal {
        Trigger, // a trigger from the person
        Button, // the probe's button, polled through get_status, or a trigger
        Immediate, // nobody is asked: the probe is where it must be
    };
    static constexpr std::chrono::milliseconds kButtonPoll { 50 };

    explicit HandProber(Signal signal)
        : m_signal(signal)
    {
    }

    void moveTo(const ProbeTarget &target, Clock::time_point now) override;
    Status poll(zem::Connection &device, Clock::time_point now) override;
    bool waitsForPerson() const override { return m_signal != Signal::Immediate && !m_triggered; }
    void trigger() override { m_triggered = true; }

private:
    Signal m_signal;
    bool m_triggered = false;
    bool m_eventsCleared = false;
    Clock::time_point m_nextPoll {};
};

} // namespace sig
