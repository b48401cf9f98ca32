#include "prober.h"

#include "call.h"
#include "connection.h"
#include "records.h"

namespace sig {

namespace {

constexpr std::uint16_t kPressed
    = IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_RECV_PROBE_BUTTON_PRESSED;
constexpr std::uint16_t kAllEvents = 0x0F;

Prober::Status moving(Prober::Clock::time_point next)
{
    return { Prober::Status::Moving, next, {} };
}

} // namespace

void HandProber::moveTo(const ProbeTarget &, Clock::time_point now)
{
    m_triggered = false;
    m_eventsCleared = false;
    m_nextPoll = now;
}

Prober::Status HandProber::poll(zem::Connection &device, Clock::time_point now)
{
    if (m_triggered || m_signal == Signal::Immediate)
        return { Status::There, now, {} };
    if (m_signal != Signal::Button)
        return moving(now + kButtonPoll); // a trigger is due from the person
    if (!m_eventsCleared) {
        // Presses from before the probe was asked for are not meant for it.
        m_eventsCleared = true;
        reset_events_request rq {};
        rq.IOEventsRst = kAllEvents;
        reset_events_response rs {};
        device.call("reset_events", &rq, &rs);
        return moving(now);
    }
    if (now < m_nextPoll)
        return moving(m_nextPoll);
    m_nextPoll = now + kButtonPoll;
    get_status_response st {};
    const std::int32_t result = device.call("get_status", nullptr, &st);
    if (result != ZEM_RESULT_OK)
        return { Status::Failed, now,
            QCoreApplication::translate("sig::ProbeRun", "get_status returned %1; the run is stopped.")
                .arg(QString::fromStdString(zem::calls::resultName(result))) };
    if (st.IOEvents & kAllEvents) {
        reset_events_request rq {};
        rq.IOEventsRst = st.IOEvents & kAllEvents;
        reset_events_response rs {};
        device.call("reset_events", &rq, &rs);
        if (st.IOEvents & kPressed)
            m_triggered = true;
        return moving(now);
    }
    return moving(m_nextPoll);
}

} // namespace sig
