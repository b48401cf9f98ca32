#include "proberun.h"

#include "call.h"
#include "connection.h"
#include "netcheck.h"
#include "reading.h"
#include "records.h"
#include "score.h"

#include <algorithm>

namespace sig {

namespace {

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

std::unique_ptr<Prober> handFor(const ProbeRun::Options &options)
{
    using Signal = HandProber::Signal;
    return std::make_unique<HandProber>(options.autoMeasure ? Signal::Immediate
            : options.pollButton                            ? Signal::Button
                                                            : Signal::Trigger);
}

} // namespace

ProbeRun::ProbeRun(zem::Connection &device, Signature signature, Session::Mode mode,
    Options options, std::vector<int> order, Listener listener, std::unique_ptr<Prober> prober)
    : m_device(device)
    , m_signature(std::move(signature))
    , m_session(m_signature, mode, options.session)
    , m_options(options)
    , m_order(allPoints(m_signature, std::move(order)))
    , m_listener(std::move(listener))
    , m_prober(prober ? std::move(prober) : handFor(options))
{
    m_options.contactTries = std::max(1, m_options.contactTries);
    m_netOf.assign(m_signature.points.size(), -1);
    m_unjudged.assign(m_signature.points.size(), 0);
    if (mode == Session::Mode::Test)
        m_nets = sharedNets(m_signature, m_order);
    for (std::size_t n = 0; n < m_nets.size(); ++n)
        for (int k : m_nets[n])
            m_netOf[std::size_t(k)] = int(n);
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

void ProbeRun::trigger()
{
    if (m_state == State::Settling)
        m_triggered = true;
    else
        m_prober->trigger();
}

void ProbeRun::select(int point)
{
    if (m_state == State::Measuring || m_state == State::Ended
        || (m_state == State::Moving && point == this->point()))
        return;
    const auto at = std::find(m_order.begin(), m_order.end(), point);
    if (at == m_order.end())
        return;
    if (m_sequence)
        m_sequence->cancel();
    m_sequence.reset();
    m_position = std::size_t(at - m_order.begin());
    m_session.select(point);
    // The probe is sent there on the next step.
    m_state = State::Begin;
}

void ProbeRun::cancel()
{
    if (m_state == State::Ended)
        return;
    if (m_sequence)
        m_sequence->cancel();
    m_sequence.reset();
    m_prober->cancel();
    m_state = State::Ended;
    judgePending();
    emitEvent(event(Event::Ended, -1, 0, tr("Stopped")));
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::end(const QString &message, Clock::time_point)
{
    m_sequence.reset();
    m_state = State::Ended;
    judgePending();
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
        m_tries = 0;
        return moveProbe(now, 0);
    case State::Moving:
        return waitForProbe(now);
    case State::Settling:
    case State::Measuring:
        return stepCapture(now);
    case State::Ended:
        break;
    }
    return std::nullopt;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::moveProbe(Clock::time_point now, int attempt)
{
    const int at = point();
    m_state = State::Moving;
    m_lastStill.reset();
    m_triggered = false;
    emitEvent(event(Event::Waiting, at, 0));
    if (ended())
        return std::nullopt;
    if (attempt == 0 && m_virtualProbe && m_device.isOpen()) {
        // The virtual board's pins are the signature's points, in order.
        const std::optional<std::int32_t> placed = m_device.placeVirtualProbe(at);
        m_virtualProbe = placed.has_value();
        if (placed && *placed != ZEM_RESULT_OK) {
            Event failed = event(Event::Failed, at, 0,
                tr("zem_virtual_probe_pin returned %1")
                    .arg(QString::fromStdString(zem::calls::resultName(*placed))));
            failed.failedResult = *placed;
            emitEvent(failed);
        }
        if (ended())
            return std::nullopt;
    }
    m_prober->moveTo({ at, m_signature.points[std::size_t(at)].name, attempt }, now);
    return now;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::waitForProbe(Clock::time_point now)
{
    const Prober::Status status = m_prober->poll(m_device, now);
    if (!status.notice.isEmpty()) {
        emitEvent(event(Event::Notice, point(), 0, status.notice));
        if (ended())
            return std::nullopt;
    }
    switch (status.kind) {
    case Prober::Status::Moving:
        return status.next;
    case Prober::Status::Failed:
        emitEvent(event(Event::Failed, point(), 0, status.why));
        return ended() ? std::nullopt : end(status.why, now);
    case Prober::Status::There:
        break;
    }
    m_thereAt = now;
    return startCapture(now, m_options.measureOnContact ? State::Settling : State::Measuring);
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::startCapture(
    Clock::time_point now, State state)
{
    if (!m_device.isOpen()) {
        const QString why = tr("The instrument is not connected.");
        Event failed = event(Event::Failed, point(), 0, why);
        failed.failedResult = ZEM_DEVICE_UNDEFINED;
        emitEvent(failed);
        return ended() ? std::nullopt : end(why, now);
    }
    measurement_settings settings = m_session.settings();
    const std::int32_t result = m_device.call("set_measurement_settings", &settings, nullptr);
    if (result != ZEM_RESULT_OK) {
        const QString why = tr("set_measurement_settings returned %1")
                                .arg(QString::fromStdString(zem::calls::resultName(result)));
        Event failed = event(Event::Failed, point(), m_session.measurement(), why);
        failed.failedResult = result;
        emitEvent(failed);
        if (ended())
            return std::nullopt;
        if (!m_device.isOpen())
            return end(why, now);
        return moveProbe(now, 0); // wait for the probe again
    }
    m_sequence = std::make_unique<MeasurementSequence>(m_device);
    m_state = state;
    if (state == State::Measuring)
        emitEvent(event(Event::Measuring, point(), m_session.measurement()));
    return ended() ? std::nullopt : std::optional(now);
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::stepCapture(Clock::time_point now)
{
    if (const auto next = m_sequence->advance(now))
        return next;
    const std::unique_ptr<MeasurementSequence> done = std::move(m_sequence);
    const int at = point();
    if (done->outcome() != MeasurementSequence::Outcome::Complete) {
        const QString why = tr("Not measured: %1").arg(done->message());
        Event failed = event(Event::Failed, at, m_session.measurement(), why);
        using Outcome = MeasurementSequence::Outcome;
        failed.failedResult = done->outcome() == Outcome::Failed ? done->failedResult()
            : done->outcome() == Outcome::NoDevice               ? ZEM_DEVICE_UNDEFINED
                                                                 : 0;
        emitEvent(failed);
        if (ended())
            return std::nullopt;
        if (!m_device.isOpen())
            return end(done->message(), now);
        m_session.select(at);
        return moveProbe(now, 0);
    }
    const IvCurve curve = ivCurveOf(done->curve());
    return m_state == State::Settling ? settled(curve, now) : measured(curve, now);
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::settled(
    const IvCurve &curve, Clock::time_point now)
{
    const measurement_settings &settings = m_session.settings();
    const Point &p = m_signature.points[std::size_t(point())];
    const bool open = read(curve, settings).kind == Reading::Kind::Open;
    // A hand lifts the probe between points: until then the curve still
    // under it is the last point's.
    if (open)
        m_awaitLift = false;
    const bool still = m_lastStill && !open && !m_awaitLift
        && score(*m_lastStill, curve, settings) <= m_signature.toleranceOf(p);
    if (!still && !m_triggered) {
        m_lastStill = curve;
        return startCapture(now, State::Settling);
    }
    Event e = event(Event::Still, point(), 0);
    e.waited = now - m_thereAt;
    emitEvent(e);
    if (ended())
        return std::nullopt;
    return startCapture(now, State::Measuring);
}

bool ProbeRun::missedContact(const IvCurve &curve) const
{
    if (!m_prober->canRetry() || m_session.mode() != Session::Mode::Test)
        return false;
    const Point &p = m_signature.points[std::size_t(point())];
    const Measurement &m
        = p.measurements[std::min(m_session.measurement(), p.measurements.size() - 1)];
    const measurement_settings &settings = m_session.settings();
    return m.reference && read(curve, settings).kind == Reading::Kind::Open
        && read(*m.reference, settings).kind != Reading::Kind::Open;
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::measured(
    const IvCurve &curve, Clock::time_point now)
{
    const int at = point();
    Event measured = event(Event::Measured, at, m_session.measurement());
    measured.curve = curve;
    if (missedContact(curve)) {
        if (++m_tries < m_options.contactTries) {
            // A machine lowers by a step and the point starts over.
            Event retry = event(Event::Retry, at, measured.measurement);
            retry.attempt = m_tries;
            emitEvent(retry);
            if (ended())
                return std::nullopt;
            m_session.select(at);
            return moveProbe(now, m_tries);
        }
        measured.step = m_session.noContact(curve);
    } else {
        measured.step = m_session.record(curve);
    }
    emitEvent(measured);
    if (ended())
        return std::nullopt;
    if (!measured.step.pointDone)
        return startCapture(now, State::Measuring); // the same point, its next capture
    Event pointDone = event(Event::PointDone, at, measured.measurement);
    pointDone.step = measured.step;
    if (std::size_t(at) < m_session.results().size())
        pointDone.result = m_session.results()[std::size_t(at)];
    if (m_session.mode() == Session::Mode::Learn)
        pointDone.learned = m_signature.points[std::size_t(at)];
    emitEvent(pointDone);
    if (ended())
        return std::nullopt;
    if (m_session.mode() == Session::Mode::Test) {
        judge(at);
        if (ended())
            return std::nullopt;
    }
    return nextPoint(now);
}

void ProbeRun::emitJudged(int point)
{
    m_unjudged[std::size_t(point)] = 0;
    Event judged = event(Event::Judged, point, 0);
    if (std::size_t(point) < m_session.results().size())
        judged.result = m_session.results()[std::size_t(point)];
    emitEvent(judged);
}

void ProbeRun::judge(int point)
{
    const int net = m_netOf[std::size_t(point)];
    if (net < 0)
        return emitJudged(point);
    m_unjudged[std::size_t(point)] = 1;
    const std::vector<int> &members = m_nets[std::size_t(net)];
    const std::vector<PointResult> &results = m_session.results();
    for (int k : members)
        if (std::size_t(k) >= results.size()
            || results[std::size_t(k)].verdict == Verdict::NotTested)
            return;
    m_session.judgeNet(members);
    // Every point of the net is told again: a point measured again may change
    // the others' verdicts. A listener that ends the run meanwhile has the
    // rest told from the run's end, once.
    for (int k : members)
        m_unjudged[std::size_t(k)] = 1;
    for (int k : members)
        if (m_unjudged[std::size_t(k)])
            emitJudged(k);
}

void ProbeRun::judgePending()
{
    if (m_session.mode() != Session::Mode::Test)
        return;
    for (int k : m_order)
        if (m_unjudged[std::size_t(k)])
            emitJudged(k);
}

std::optional<ProbeRun::Clock::time_point> ProbeRun::nextPoint(Clock::time_point now)
{
    if (++m_position >= m_order.size()) {
        m_sequence.reset();
        m_state = State::Ended;
        judgePending();
        Event ended = event(Event::Ended, -1, 0, tr("All points done."));
        ended.complete = true;
        emitEvent(ended);
        return std::nullopt;
    }
    m_session.select(m_order[m_position]);
    m_tries = 0;
    m_awaitLift = m_options.measureOnContact && !m_virtualProbe && !m_prober->canRetry();
    return moveProbe(now, 0);
}

} // namespace sig
