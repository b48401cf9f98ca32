#include "proberun.h"

#include "call.h"
#include "connection.h"
#include "records.h"

#include <algorithm>

namespace sig {

namespace {

constexpr std::uint16_t kPressed
    = IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_RECV_PROBE_BUTTON_PRESSED;
constexpr std::uint16_t kAllEvents = 0x0F;

ProbeRun::Event event(
    ProbeRun::Event::Kind kind, int point, std::size_t measurement, const QString &message = {})
{
    ProbeRun::Event e;
    e.kind = kind;
    e.point = point;
    e.measurement = measurement;
    e.message = message;
    return e;
}

std::vector<int> allPoints(const Signature &signature, std::vector<int> order)
{
    if (order.empty())
        for (std::size_t k = 0; k < signature.points.size(); ++k)
            order.push_back(int(k));
    return order;
}

} // namespace

ProbeRun::ProbeRun(zem::Connection &device, Signature signature, Session::Mode mode,
    Options options, std::vector<int> order, Listener listener)
    : m_device(device)
    , m_signature(std::move(signature))
    , m_session(m_signature, mode, options.session)
    , m_options(options)
    , m_order(allPoints(m_signature, std::move(order)))
    , m_listener(std::move(listener))
{
}

ProbeRun::~ProbeRun() = default;

int ProbeRun::point() const
{
    return m_state == State::Ended || m_position >= m_order.size() ? -1 : m_order[m_position];
}

void ProbeRun::emitEvent(Event event)
{
    if (m_listener)
        m_listener(event);
}

void ProbeRun::select(int point)
{
    if (m_state == State::Measuring || m_state == State::Ended
        || (m_state == State::Waiting && point == this->point()))
        return;
    const auto at = std::find(m_order.begin(), m_order.end(), point);
    if (at == m_order.end())
        return;
    m_position = std::size_t(at - m_order.begin());
    m_session.select(point);
    m_enteredWait = false;
    m_triggered = false;
}

void ProbeRun::cancel()
{
    if (m_state == State::Ended)
        return;
    if (m_sequence)
        m_sequence->cancel();
    m_sequence.reset();
    m_state = State::Ended;
    emitEvent(event(Event::Ended, -1, 0, tr("Stopped")));
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::end(const QString &message, Clock::time_point)
{
    m_sequence.reset();
    m_state = State::Ended;
    emitEvent(event(Event::Ended, -1, 0, message));
    return std::nullopt;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::advance(Clock::time_point now)
{
    switch (m_state) {
    case State::Begin:
        if (m_order.empty())
            return end(tr("There are no points to probe"), now);
        m_session.select(m_order[m_position]);
        m_state = State::Waiting;
        m_enteredWait = false;
        [[fallthrough]];
    case State::Waiting:
        return wait(now);
    case State::Measuring:
        return stepMeasurement(now);
    case State::Ended:
        break;
    }
    return std::nullopt;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::wait(Clock::time_point now)
{
    if (!m_enteredWait) {
        m_enteredWait = true;
        m_nextPoll = now;
        emitEvent(event(Event::Waiting, point(), 0));
        if (m_options.pollButton) {
            // Presses from before the wait are not meant for this point.
            reset_events_request rq {};
            rq.IOEventsRst = kAllEvents;
            reset_events_response rs {};
            m_device.call("reset_events", &rq, &rs);
            return now;
        }
    }
    if (m_triggered || m_options.autoMeasure)
        return startMeasurement(now);
    if (!m_options.pollButton)
        return now + kButtonPoll; // a trigger is due from the user
    if (now < m_nextPoll)
        return m_nextPoll;
    m_nextPoll = now + kButtonPoll;
    get_status_response st {};
    const std::int32_t result = m_device.call("get_status", nullptr, &st);
    if (result != ZEM_RESULT_OK) {
        const QString why = tr("get_status returned %1; the run is stopped.")
                                .arg(QString::fromStdString(zem::calls::resultName(result)));
        emitEvent(event(Event::Failed, point(), 0, why));
        return ended() ? std::nullopt : end(why, now);
    }
    if (st.IOEvents & kAllEvents) {
        reset_events_request rq {};
        rq.IOEventsRst = st.IOEvents & kAllEvents;
        reset_events_response rs {};
        m_device.call("reset_events", &rq, &rs);
        if (st.IOEvents & kPressed)
            m_triggered = true;
        return now;
    }
    return m_nextPoll;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::startMeasurement(Clock::time_point now)
{
    m_triggered = false;
    if (!m_device.isOpen()) {
        const QString why = tr("The instrument is not connected.");
        emitEvent(event(Event::Failed, point(), 0, why));
        return ended() ? std::nullopt : end(why, now);
    }
    measurement_settings settings = m_session.settings();
    const std::int32_t result = m_device.call("set_measurement_settings", &settings, nullptr);
    if (result != ZEM_RESULT_OK) {
        const QString why = tr("set_measurement_settings returned %1")
                                .arg(QString::fromStdString(zem::calls::resultName(result)));
        emitEvent(event(Event::Failed, point(), m_session.measurement(), why));
        if (ended())
            return std::nullopt;
        if (!m_device.isOpen())
            return end(why, now);
        m_enteredWait = false; // wait for the probe again
        return now;
    }
    m_sequence = std::make_unique<MeasurementSequence>(m_device);
    m_state = State::Measuring;
    emitEvent(event(Event::Measuring, point(), m_session.measurement()));
    return ended() ? std::nullopt : std::optional(now);
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::stepMeasurement(Clock::time_point now)
{
    if (const auto next = m_sequence->advance(now))
        return next;
    const std::unique_ptr<MeasurementSequence> done = std::move(m_sequence);
    m_state = State::Waiting;
    const int at = point();
    if (done->outcome() != MeasurementSequence::Outcome::Complete) {
        const QString why = tr("Not measured: %1").arg(done->message());
        emitEvent(event(Event::Failed, at, m_session.measurement(), why));
        if (ended())
            return std::nullopt;
        if (!m_device.isOpen())
            return end(done->message(), now);
        m_enteredWait = false;
        m_session.select(at);
        return now;
    }
    Event measured = event(Event::Measured, at, m_session.measurement());
    measured.curve = ivCurveOf(done->curve());
    measured.step = m_session.record(measured.curve);
    emitEvent(measured);
    if (ended())
        return std::nullopt;
    if (!measured.step.pointDone)
        return startMeasurement(now); // the same point with its next settings
    Event pointDone = event(Event::PointDone, at, measured.measurement);
    pointDone.step = measured.step;
    if (std::size_t(at) < m_session.results().size())
        pointDone.result = m_session.results()[std::size_t(at)];
    if (m_session.mode() == Session::Mode::Learn)
        pointDone.learned = m_signature.points[std::size_t(at)];
    emitEvent(pointDone);
    if (ended())
        return std::nullopt;
    if (++m_position >= m_order.size()) {
        m_sequence.reset();
        m_state = State::Ended;
        Event ended = event(Event::Ended, -1, 0, tr("All points done."));
        ended.complete = true;
        emitEvent(ended);
        return std::nullopt;
    }
    m_session.select(m_order[m_position]);
    m_enteredWait = false;
    return now;
}

} // namespace sig
