#include "gantryprober.h"

#include <cmath>

namespace motion {

namespace {

QString ms(std::chrono::milliseconds d)
{
    return QString::number(d.count());
}

} // namespace

GantryProber::GantryProber(GantryConfig config, std::shared_ptr<GantryLine> line)
    : m_config(std::move(config))
    , m_line(line ? std::move(line) : std::make_shared<GantryLine>())
    , m_held(m_line.use_count() > 1)
{
}

GantryProber::~GantryProber()
{
    // Whoever drops the prober mid-move does not leave the machine running.
    if (m_phase == Phase::Homing || m_phase == Phase::Lifting || m_phase == Phase::Moving
        || m_phase == Phase::Verify)
        halt();
}

void GantryProber::moveTo(const sig::ProbeTarget &target, Clock::time_point now)
{
    Goal goal;
    goal.name = target.name.isEmpty() ? tr("point %1").arg(target.point + 1) : target.name;
    if (const auto it = m_config.targets.find(target.point); it != m_config.targets.end()) {
        goal.board = it->second;
        goal.point = true;
    }
    goal.attempt = target.attempt;
    m_goal = goal;
    m_reached.reset();
    switch (m_phase) {
    case Phase::Homing:
    case Phase::Lifting:
    case Phase::Moving:
        m_replan = true; // after what is in flight
        break;
    case Phase::Connect:
    case Phase::Greeting:
    case Phase::Reset:
        break; // these go on to plan the goal
    default:
        m_phase = !m_line->link    ? Phase::Connect
            : m_line->expectBanner ? Phase::Reset
                                   : Phase::Plan;
        m_deadline = now + m_config.timing.reply;
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
        return { Status::Failed, now, tr("no point was asked for"), {} };
    case Phase::There:
        return { Status::There, now, {}, {} };
    case Phase::Failed:
        return { Status::Failed, now, m_why, {} };
    default:
        return step(now);
    }
}

sig::Prober::Status GantryProber::moving(Clock::time_point now)
{
    return { Status::Moving, now, {}, {} }; // the next poll waits for the machine
}

sig::Prober::Status GantryProber::fail(const QString &why, bool halt)
{
    if (halt)
        this->halt();
    m_phase = Phase::Failed;
    m_replan = false;
    m_pausedSince.reset();
    m_why = QStringLiteral("%1: %2").arg(m_goal.name, why);
    return { Status::Failed, {}, m_why, {} };
}

sig::Prober::Status GantryProber::step(Clock::time_point now)
{
    if (m_phase == Phase::Connect) {
        QString error;
        m_line->link = GrblLink::open(m_config.url, m_config.timing.reply, &error);
        if (!m_line->link)
            return fail(tr("cannot reach the machine: %1").arg(error), false);
        // A new line may be a machine that was just switched on or reset.
        m_line->forget();
        m_line->expectBanner = false;
        m_line->poll.reset();
        m_greeting.start(m_config.timing, now);
        m_phase = Phase::Greeting;
        return moving(now);
    }
    // Waits for the machine's next words up to the poll period, so that a
    // reply is acted on as it comes; a step that has just been planned
    // waits for nothing.
    if (!m_line->link->pump(
            m_phase == Phase::Plan ? std::chrono::milliseconds(0) : m_config.pollPeriod))
        return fail(
            tr("the line to the machine was lost (%1)").arg(m_line->link->lostReason()), true);
    for (const grbl::Reply &reply : m_line->link->take()) {
        if (m_phase == Phase::Greeting) {
            const auto state = m_greeting.take(*m_line->link, reply, now);
            if (state == MachineGreeting::State::Failed)
                return fail(m_greeting.why(), false);
            if (state == MachineGreeting::State::Done) {
                m_line->frame = m_greeting.frame();
                if (!m_line->warned)
                    m_notice = m_line->frame.softLimitsWarning();
                m_line->warned = true;
                m_phase = Phase::Plan;
            }
            continue;
        }
        const Status status = handle(reply, now);
        if (status.kind != Status::Moving)
            return status;
    }
    if (m_phase == Phase::Greeting
        && m_greeting.tick(*m_line->link, now) == MachineGreeting::State::Failed)
        return fail(m_greeting.why(), false);
    if (m_phase == Phase::Plan)
        return plan(now);
    if (m_line->poll.silent(m_config.timing, now))
        return fail(tr("no status report from the machine within %1 ms (asked %2 times); it was "
                       "halted; %3")
                        .arg(ms(m_config.timing.status))
                        .arg(m_line->poll.asks())
                        .arg(m_line->poll.lastState()),
            true);
    if (!m_pausedSince && now > m_deadline) {
        if (m_phase == Phase::Reset) {
            m_line->expectBanner = false; // no banner after the reset: go on regardless
            return plan(now);
        }
        if (m_phase != Phase::Greeting)
            return timedOut();
    }
    watch(now);
    Status status = moving(now);
    status.notice = std::exchange(m_notice, {}); // said once, whatever came back before
    return status;
}

// Not while homing: the cycle's deadline and its ok or alarm watch it.
void GantryProber::watch(Clock::time_point now)
{
    const bool watching = m_phase == Phase::Check || m_phase == Phase::Lifting
        || m_phase == Phase::LiftCheck || m_phase == Phase::Moving || m_phase == Phase::Verify;
    if (watching)
        m_line->poll.tick(*m_line->link, m_config.timing, now); // a late reply is asked for again
}

sig::Prober::Status GantryProber::timedOut()
{
    const QString target = where(m_goal.machine);
    QString why = m_phase == Phase::Homing ? tr("homing did not end within %1 ms").arg(m_awaited)
        : m_phase == Phase::Lifting
        ? tr("the lift to Z %1 did not end within %2 ms")
              .arg(QString::fromLatin1(grbl::number(m_goal.travelZ)), m_awaited)
        : m_phase == Phase::Moving
        ? tr("the move to %1 did not end within %2 ms").arg(target, m_awaited)
        : tr("the machine did not come to rest at %1 within %2 ms").arg(target, m_awaited);
    if (!m_line->link->idle())
        why += tr(" (no ok for 'G4 P0' or a line before it)");
    return fail(tr("%1; it was halted; %2").arg(why, m_line->poll.lastState()), true);
}

sig::Prober::Status GantryProber::plan(Clock::time_point now)
{
    if (!m_goal.board)
        return fail(tr("the point has no position on the board"), false);
    if (m_goal.attempt * m_config.step > m_config.travel + 1e-9)
        return fail(tr("no contact within %1 mm").arg(m_config.travel), false);
    const PlanePoint xy = m_config.transform.map(*m_goal.board);
    m_goal.machine = { xy.x, xy.y,
        m_config.hover ? m_config.safeZ : m_config.contactZ - m_goal.attempt * m_config.step };
    if (const QString problem = travelProblem(m_config, m_line->frame, m_goal.machine);
        !problem.isEmpty())
        return fail(problem, false); // nothing was sent for this point
    if (!m_line->homed || m_line->unlock) {
        m_line->link->send(m_line->unlock ? "$X" : "$H");
        m_phase = Phase::Homing;
        m_awaited = ms(homingDeadline(m_config.timing, m_line->frame));
        m_deadline = now + homingDeadline(m_config.timing, m_line->frame);
        return moving(now);
    }
    // Straight on from the point the machine was just seen at rest on,
    // nothing unanswered since: that report stands. An alarm meanwhile
    // refuses the lift, a hold holds it, and the lift is seen before any
    // move across. Else ask first: an alarm or a hold refuses the move.
    if (m_goal.point && m_line->atBoard && m_line->at && !m_justHomed && m_line->link->idle())
        return start(m_line->at, now);
    m_phase = Phase::Check;
    m_deadline = now + m_config.timing.status;
    m_awaited = ms(m_config.timing.status);
    m_line->poll.fresh(now);
    m_line->poll.ask(*m_line->link, now);
    return moving(now);
}

sig::Prober::Status GantryProber::queue(
    const QList<QByteArray> &lines, Phase phase, double seconds, Clock::time_point now)
{
    for (const QByteArray &line : lines) {
        if (!m_line->link->send(line))
            return fail(tr("'%1' cannot be sent").arg(QString::fromLatin1(line)), true);
    }
    m_line->modal = true;
    m_moved = true;
    m_line->at.reset();
    m_line->atBoard.reset();
    m_phase = phase;
    const auto deadline = motionDeadline(m_config.timing, seconds);
    m_awaited = ms(deadline);
    m_deadline = now + deadline;
    m_line->poll.dueAt(now + m_config.statusPeriod);
    return moving(now);
}

void GantryProber::halt()
{
    m_line->halt(m_config.timing.reply);
}

void GantryProber::cancel()
{
    if (m_phase == Phase::None && !m_line->link)
        return;
    halt();
    m_phase = Phase::Failed;
    m_replan = false;
    m_why = tr("%1: stopped; the machine was halted").arg(m_goal.name);
}

void GantryProber::release()
{
    if (!m_held)
        m_line->close();
    else // the next run may be another board: first across at the safe height
        m_line->atBoard.reset();
    m_phase = Phase::None;
    m_justHomed = m_moved = false;
    m_pausedSince.reset();
}

Drift drift(const grbl::MachinePoint &taught, const grbl::MachinePoint &reached, double tolerance)
{
    const double mm = std::hypot(reached.x - taught.x, reached.y - taught.y);
    return { mm, mm > tolerance };
}

} // namespace motion
