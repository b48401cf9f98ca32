#include "gantryprober.h"

#include <cmath>

namespace motion {

namespace {

QString where(const grbl::MachinePoint &p)
{
    return QStringLiteral("X%1 Y%2 Z%3")
        .arg(QString::fromLatin1(grbl::number(p.x)), QString::fromLatin1(grbl::number(p.y)),
            QString::fromLatin1(grbl::number(p.z)));
}

} // namespace

GantryProber::GantryProber(GantryConfig config)
    : m_config(std::move(config))
{
}

GantryProber::~GantryProber()
{
    // Whoever drops the prober mid-move does not leave the machine running.
    if (m_phase == Phase::Homing || m_phase == Phase::Moving || m_phase == Phase::Verify)
        halt();
}

void GantryProber::moveTo(const sig::ProbeTarget &target, Clock::time_point now)
{
    Goal goal;
    goal.name = target.name.isEmpty() ? tr("point %1").arg(target.point + 1) : target.name;
    if (const auto it = m_config.targets.find(target.point); it != m_config.targets.end())
        goal.board = it->second;
    goal.attempt = target.attempt;
    m_goal = goal;
    m_reached.reset();
    switch (m_phase) {
    case Phase::Homing:
    case Phase::Moving:
        m_replan = true; // after what is in flight
        break;
    case Phase::Connect:
    case Phase::Greeting:
    case Phase::Settings:
    case Phase::Reset:
        break; // these go on to plan the goal
    default:
        m_phase = !m_link ? Phase::Connect : m_expectBanner ? Phase::Reset : Phase::Plan;
        m_deadline = now + m_config.replyTimeout;
    }
}

void GantryProber::moveToBoard(PlanePoint board, const QString &name, Clock::time_point now)
{
    moveTo({ -1, name, 0 }, now);
    m_goal.board = board;
}

sig::Prober::Status GantryProber::poll(zem::Connection &, Clock::time_point now)
{
    switch (m_phase) {
    case Phase::None:
        return { Status::Failed, now, tr("no point was asked for") };
    case Phase::There:
        return { Status::There, now, {} };
    case Phase::Failed:
        return { Status::Failed, now, m_why };
    default:
        return step(now);
    }
}

sig::Prober::Status GantryProber::moving(Clock::time_point now) const
{
    return { Status::Moving, now + m_config.pollPeriod, {} };
}

sig::Prober::Status GantryProber::fail(const QString &why, bool halt)
{
    if (halt)
        this->halt();
    m_phase = Phase::Failed;
    m_replan = false;
    m_why = QStringLiteral("%1: %2").arg(m_goal.name, why);
    return { Status::Failed, {}, m_why };
}

bool GantryProber::send(const QByteArray &line)
{
    return m_link->send(line);
}

void GantryProber::askStatus(Clock::time_point now)
{
    m_link->realtime(grbl::kStatusQuery);
    m_statusAsked = true;
    m_statusAt = now;
}

sig::Prober::Status GantryProber::step(Clock::time_point now)
{
    const auto ms = [](std::chrono::milliseconds d) { return QString::number(d.count()); };
    if (m_phase == Phase::Connect) {
        QString error;
        m_link = GrblLink::open(m_config.url, m_config.replyTimeout, &error);
        if (!m_link)
            return fail(tr("cannot reach the machine: %1").arg(error), false);
        // A new line may be a machine that was just switched on or reset.
        m_homed = m_modal = m_expectBanner = m_statusAsked = m_greetingReset = false;
        m_at.reset();
        for (auto &travel : m_maxTravel)
            travel.reset();
        // Nothing is sent before the banner: a line sent while the machine
        // restarts is lost, and its ok would then answer the next line.
        m_phase = Phase::Greeting;
        m_deadline = now + m_config.replyTimeout;
        return moving(now);
    }
    if (!m_link->pump())
        return fail(tr("the line to the machine was lost (%1)").arg(m_link->lostReason()), true);
    for (const grbl::Reply &reply : m_link->take()) {
        const Status status = handle(reply, now);
        if (status.kind != Status::Moving)
            return status;
    }
    if (m_phase == Phase::Plan)
        return plan(now);
    if (m_statusAsked && now - m_statusAt > m_config.replyTimeout)
        return fail(tr("no status report from the machine within %1 ms").arg(ms(m_config.replyTimeout)), true);
    if (now > m_deadline) {
        switch (m_phase) {
        case Phase::Greeting:
            if (m_greetingReset)
                return fail(tr("no GRBL banner within %1 ms, even after a reset").arg(ms(m_config.replyTimeout)), false);
            // A machine that was already running says nothing: a reset makes it speak.
            m_link->realtime(grbl::kSoftReset);
            m_greetingReset = true;
            m_deadline = now + m_config.replyTimeout;
            return moving(now);
        case Phase::Settings:
            return fail(tr("the machine did not answer $$ within %1 ms").arg(ms(m_config.replyTimeout)), false);
        case Phase::Homing:
            return fail(tr("homing did not end within %1 ms").arg(ms(m_config.homingTimeout)), true);
        case Phase::Reset:
            m_expectBanner = false; // no banner after the reset: go on regardless
            return plan(now);
        default:
            break;
        }
    }
    // Not while homing: the cycle's own time-out and its ok or alarm watch it.
    const bool watching = m_phase == Phase::Moving || m_phase == Phase::Verify || m_phase == Phase::Check;
    if (watching && !m_statusAsked && now >= m_statusAt)
        askStatus(now);
    return moving(now);
}

sig::Prober::Status GantryProber::handle(const grbl::Reply &reply, Clock::time_point now)
{
    const bool active = m_phase == Phase::Homing || m_phase == Phase::Check
        || m_phase == Phase::Moving || m_phase == Phase::Verify;
    switch (reply.kind) {
    case grbl::Reply::Alarm:
        // A soft limit stops the machine before it moves, so it keeps its
        // position and needs only an unlock; every other alarm loses it.
        m_unlock = m_homed && reply.code == 2;
        m_homed = m_unlock;
        if (!active)
            break; // e.g. after our own reset in motion: the next move homes first
        return fail(tr("the machine raised ALARM:%1 (%2); it was halted")
                        .arg(reply.code)
                        .arg(grbl::alarmText(reply.code)),
            true);
    case grbl::Reply::Error:
        // GRBL goes on with the lines after a refused one: stop them.
        return fail(tr("the machine refused '%1': error:%2 (%3); it was halted")
                        .arg(QString::fromLatin1(reply.answers))
                        .arg(reply.code)
                        .arg(grbl::errorText(reply.code)),
            true);
    case grbl::Reply::Banner:
        if (!reply.text.startsWith(QLatin1String("Grbl 1.1")))
            return fail(tr("the machine says '%1'; only GRBL 1.1 is spoken here").arg(reply.text), false);
        if (m_phase == Phase::Greeting) {
            send("$$");
            m_phase = Phase::Settings;
            m_deadline = now + m_config.replyTimeout;
        } else if (m_expectBanner) {
            m_expectBanner = false;
            if (m_phase == Phase::Reset)
                m_phase = Phase::Plan;
        } else if (m_phase == Phase::Settings) {
            send("$$"); // the port's opening reset the machine; ask again
            m_deadline = now + m_config.replyTimeout;
        } else {
            m_homed = m_modal = false;
            m_at.reset();
            if (active)
                return fail(tr("the machine reset itself"), false);
        }
        break;
    case grbl::Reply::Setting:
        if (m_phase == Phase::Settings && reply.code >= 130 && reply.code <= 132 && reply.value > 0)
            m_maxTravel[reply.code - 130] = reply.value;
        break;
    case grbl::Reply::Ok:
        if (m_phase == Phase::Settings && reply.answers == "$$") {
            if (!m_maxTravel[0] || !m_maxTravel[1] || !m_maxTravel[2])
                return fail(tr("the machine did not report its travel ($130 to $132)"), false);
            m_phase = Phase::Plan;
        } else if (m_phase == Phase::Homing && (reply.answers == "$H" || reply.answers == "$X")) {
            m_homed = true;
            m_unlock = false;
            m_modal = false;
            m_at.reset();
            m_phase = Phase::Plan;
        } else if (m_phase == Phase::Moving && m_link->idle()) {
            // The last line is a dwell, acknowledged once every move before it ended.
            m_phase = m_replan ? Phase::Plan : Phase::Verify;
            m_replan = false;
            m_statusAt = now;
        }
        break;
    case grbl::Reply::StatusReport: {
        m_statusAsked = false;
        m_statusAt = now + m_config.statusPeriod;
        const grbl::Status &status = *reply.status;
        if (m_onPosition && status.mpos)
            m_onPosition(*status.mpos);
        const QString state = status.base();
        if (state == QLatin1String("Alarm") && active) {
            m_homed = m_unlock = false;
            return fail(tr("the machine is in alarm; it must be homed again"), m_phase != Phase::Check);
        }
        if (m_phase == Phase::Check) {
            if (state == QLatin1String("Idle"))
                return queueMotion(now);
            return fail(tr("the machine is not idle (%1); it takes no move now").arg(status.state), false);
        }
        if (m_phase == Phase::Verify) {
            m_statusAt = now; // until the report says there
            if (state != QLatin1String("Idle") || !status.mpos)
                break;
            if (!near(*status.mpos, m_goal.machine, true))
                return fail(tr("the machine stopped at %1, not at %2")
                                .arg(where(*status.mpos), where(m_goal.machine)),
                    true);
            m_at = m_reached = status.mpos;
            m_phase = Phase::There;
            return { Status::There, now, {} };
        }
        break;
    }
    default:
        break; // messages and lines GRBL may add: nothing to act on
    }
    return moving(now);
}

sig::Prober::Status GantryProber::plan(Clock::time_point now)
{
    if (!m_goal.board)
        return fail(tr("the point has no position on the board"), false);
    if (m_goal.attempt * m_config.step > m_config.travel + 1e-9)
        return fail(tr("no contact within %1 mm").arg(m_config.travel), false);
    const PlanePoint xy = m_config.transform.map(*m_goal.board);
    m_goal.machine = { xy.x, xy.y, m_config.contactZ - m_goal.attempt * m_config.step };
    const MachineTravel travel { *m_maxTravel[0], *m_maxTravel[1], *m_maxTravel[2] };
    if (const QString problem = travelProblem(m_config, travel, m_goal.machine); !problem.isEmpty())
        return fail(problem, false); // nothing was sent for this point
    if (!m_homed || m_unlock) {
        send(m_unlock ? "$X" : "$H");
        m_phase = Phase::Homing;
        m_deadline = now + m_config.homingTimeout;
        m_statusAt = now + m_config.statusPeriod;
        return moving(now);
    }
    // Ask first: an alarm or a hold since the last point refuses the move.
    m_phase = Phase::Check;
    if (!m_statusAsked)
        askStatus(now);
    return moving(now);
}

sig::Prober::Status GantryProber::queueMotion(Clock::time_point now)
{
    for (const QByteArray &line : moveLines(m_config, m_at, m_goal.machine, !m_modal)) {
        if (!send(line))
            return fail(tr("'%1' cannot be sent").arg(QString::fromLatin1(line)), true);
    }
    m_modal = true;
    m_at.reset();
    m_phase = Phase::Moving;
    m_statusAt = now + m_config.statusPeriod;
    return moving(now);
}

void GantryProber::halt()
{
    if (!m_link)
        return;
    const bool held = m_link->halt(m_config.replyTimeout);
    if (m_link->lost())
        m_link.reset();
    else
        m_expectBanner = true;
    m_homed = m_homed && (held || m_unlock);
    m_modal = m_statusAsked = false;
    m_at.reset();
}

void GantryProber::cancel()
{
    if (m_phase == Phase::None && !m_link)
        return;
    halt();
    m_phase = Phase::Failed;
    m_replan = false;
    m_why = tr("%1: stopped; the machine was halted").arg(m_goal.name);
}

void GantryProber::release()
{
    m_link.reset();
    m_phase = Phase::None;
    m_homed = m_unlock = m_modal = m_statusAsked = m_expectBanner = m_greetingReset = false;
    for (auto &travel : m_maxTravel)
        travel.reset();
    m_at.reset();
}

Drift drift(const grbl::MachinePoint &taught, const grbl::MachinePoint &reached, double tolerance)
{
    const double mm = std::hypot(reached.x - taught.x, reached.y - taught.y);
    return { mm, mm > tolerance };
}

} // namespace motion
