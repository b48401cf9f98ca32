#include "gantryprober.h"

#include <cmath>

namespace motion {

namespace {

QString ms(std::chrono::milliseconds d)
{
    return QString::number(d.count());
}

bool isPause(const QString &state)
{
    return state.startsWith(QLatin1String("Hold")) || state.startsWith(QLatin1String("Door"));
}

} // namespace

GantryProber::GantryProber(GantryConfig config)
    : m_config(std::move(config))
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
    if (const auto it = m_config.targets.find(target.point); it != m_config.targets.end())
        goal.board = it->second;
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
        m_phase = !m_link ? Phase::Connect : m_expectBanner ? Phase::Reset : Phase::Plan;
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
    return { Status::Moving, now + m_config.pollPeriod, {}, {} };
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
        m_link = GrblLink::open(m_config.url, m_config.timing.reply, &error);
        if (!m_link)
            return fail(tr("cannot reach the machine: %1").arg(error), false);
        // A new line may be a machine that was just switched on or reset.
        m_homed = m_modal = m_expectBanner = false;
        m_at.reset();
        m_poll.reset();
        m_greeting.start(m_config.timing, now);
        m_phase = Phase::Greeting;
        return moving(now);
    }
    if (!m_link->pump())
        return fail(tr("the line to the machine was lost (%1)").arg(m_link->lostReason()), true);
    for (const grbl::Reply &reply : m_link->take()) {
        if (m_phase == Phase::Greeting) {
            const auto state = m_greeting.take(*m_link, reply, now);
            if (state == MachineGreeting::State::Failed)
                return fail(m_greeting.why(), false);
            if (state == MachineGreeting::State::Done) {
                m_frame = m_greeting.frame();
                if (!m_warned)
                    m_notice = m_frame.softLimitsWarning();
                m_warned = true;
                m_phase = Phase::Plan;
            }
            continue;
        }
        const Status status = handle(reply, now);
        if (status.kind != Status::Moving)
            return status;
    }
    if (m_phase == Phase::Greeting
        && m_greeting.tick(*m_link, now) == MachineGreeting::State::Failed)
        return fail(m_greeting.why(), false);
    if (m_phase == Phase::Plan)
        return plan(now);
    if (m_poll.silent(m_config.timing, now))
        return fail(tr("no status report from the machine within %1 ms (asked %2 times); it was "
                       "halted; %3")
                        .arg(ms(m_config.timing.status))
                        .arg(m_poll.asks())
                        .arg(m_poll.lastState()),
            true);
    if (!m_pausedSince && now > m_deadline) {
        if (m_phase == Phase::Reset) {
            m_expectBanner = false; // no banner after the reset: go on regardless
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
        m_poll.tick(*m_link, m_config.timing, now); // a late reply is asked for again
}

sig::Prober::Status GantryProber::timedOut()
{
    const QString target = where(m_goal.machine);
    QString why = m_phase == Phase::Homing ? tr("homing did not end within %1 ms").arg(m_awaited)
        : m_phase == Phase::Lifting
        ? tr("the lift to the safe height (Z %1) did not end within %2 ms")
              .arg(QString::fromLatin1(grbl::number(m_config.safeZ)), m_awaited)
        : m_phase == Phase::Moving
        ? tr("the move to %1 did not end within %2 ms").arg(target, m_awaited)
        : tr("the machine did not come to rest at %1 within %2 ms").arg(target, m_awaited);
    if (!m_link->idle())
        why += tr(" (no ok for 'G4 P0' or a line before it)");
    return fail(tr("%1; it was halted; %2").arg(why, m_poll.lastState()), true);
}

void GantryProber::pause(const grbl::Status &status, Clock::time_point now)
{
    if (isPause(status.state)) {
        if (!m_pausedSince) {
            m_pausedSince = now;
            m_notice = tr("%1: %2").arg(m_goal.name, grbl::pauseText(status.state));
        }
        return;
    }
    if (!m_pausedSince)
        return;
    // The time held is not the step's: its deadline moves on by as much.
    m_deadline += now - *m_pausedSince;
    m_pausedSince.reset();
    m_notice = tr("%1: the machine goes on (%2)").arg(m_goal.name, status.state);
}

sig::Prober::Status GantryProber::handle(const grbl::Reply &reply, Clock::time_point now)
{
    const bool active = m_phase == Phase::Homing || m_phase == Phase::Check
        || m_phase == Phase::Lifting || m_phase == Phase::LiftCheck || m_phase == Phase::Moving
        || m_phase == Phase::Verify;
    switch (reply.kind) {
    case grbl::Reply::Alarm:
        // A soft limit stops the machine before it moves, so it keeps its
        // position and needs only an unlock; every other alarm loses it.
        m_unlock = m_homed && reply.code == 2;
        m_homed = m_unlock;
        if (!active)
            break; // e.g. after our own reset in motion: the next move homes first
        return fail(tr("the machine raised ALARM:%1 (%2); it was halted; %3")
                        .arg(reply.code)
                        .arg(grbl::alarmText(reply.code), grbl::alarmWayOn(reply.code)),
            true);
    case grbl::Reply::Error: {
        // GRBL goes on with the lines after a refused one: stop them.
        QString why = tr("the machine refused '%1': %2; it was halted")
                          .arg(QString::fromLatin1(reply.answers), grbl::refusalText(reply.code));
        if (m_phase == Phase::Lifting)
            why = tr("the lift was refused, nothing moved in X or Y: %1").arg(why);
        return fail(why, true);
    }
    case grbl::Reply::Banner:
        if (m_expectBanner) {
            m_expectBanner = false;
            if (m_phase == Phase::Reset)
                m_phase = Phase::Plan;
            break;
        }
        m_homed = m_modal = false;
        m_at.reset();
        if (active)
            return fail(
                tr("the machine was reset (its reset button, or a restart) during the run: "
                   "its position may be lost; home it (zemctl prober home, or Home), then go on"),
                false);
        break;
    case grbl::Reply::Ok:
        if (m_phase == Phase::Homing && (reply.answers == "$H" || reply.answers == "$X")) {
            m_justHomed = reply.answers == "$H";
            m_homed = true;
            m_unlock = false;
            m_modal = false;
            m_at.reset();
            m_phase = Phase::Plan;
        } else if ((m_phase == Phase::Lifting || m_phase == Phase::Moving) && m_link->idle()) {
            // The last line is a dwell, acknowledged once every move before it ended.
            m_phase = m_replan              ? Phase::Plan
                : m_phase == Phase::Lifting ? Phase::LiftCheck
                                            : Phase::Verify;
            m_replan = false;
            m_poll.fresh(now);
            m_deadline = now + m_config.timing.status;
            m_awaited = ms(m_config.timing.status);
        }
        break;
    case grbl::Reply::StatusReport:
        return report(*reply.status, now);
    default:
        break; // messages and lines GRBL may add: nothing to act on
    }
    return moving(now);
}

sig::Prober::Status GantryProber::report(const grbl::Status &status, Clock::time_point now)
{
    const bool fresh = m_poll.heard(status, now, m_config.statusPeriod);
    if (m_onPosition && status.mpos)
        m_onPosition(*status.mpos);
    const QString state = status.base();
    const bool active = m_phase == Phase::Check || m_phase == Phase::Lifting
        || m_phase == Phase::LiftCheck || m_phase == Phase::Moving || m_phase == Phase::Verify;
    if (!active || !fresh)
        return moving(now); // a late report tells of a time before the step began
    if (state == QLatin1String("Alarm")) {
        m_homed = m_unlock = false;
        return fail(
            tr("the machine is in alarm; it must be homed again (zemctl prober home, or Home)"),
            m_phase != Phase::Check);
    }
    pause(status, now);
    if (m_pausedSince)
        return moving(now);
    const bool idle = state == QLatin1String("Idle");
    if (m_phase == Phase::Check) {
        if (!idle)
            return fail(
                tr("the machine is not idle (%1); it takes no move now").arg(status.state), false);
        if (m_justHomed && status.mpos && !near(*status.mpos, m_frame.home(), true)) {
            return fail(tr("after homing the machine reports %1, not %2 as its settings ($23, $27) "
                           "say; nothing was moved: check the machine's settings")
                            .arg(where(*status.mpos), where(m_frame.home())),
                false);
        }
        m_justHomed = false;
        if (!needsLift(m_at, m_goal.machine) && m_at)
            return queue(approachLines(m_config, false, m_goal.machine, !m_modal), Phase::Moving,
                approachSeconds(m_config, m_frame, *m_at, m_goal.machine), now);
        const grbl::MachinePoint from = status.mpos ? *status.mpos : m_goal.machine;
        return queue(liftLines(m_config, !m_modal), Phase::Lifting,
            liftSeconds(m_config, m_frame, from), now);
    }
    if (!idle || !status.mpos)
        return moving(now); // until the report says still
    if (m_phase == Phase::LiftCheck) {
        // The lift is seen, not assumed from an ok: a Z that did not rise
        // stops the run before anything moves in X or Y.
        if (!lifted(m_config, *status.mpos))
            return fail(
                tr("the lift to Z %1 was acknowledged, but the machine reports %2: the tip "
                   "may still be down; stopped without moving in X or Y")
                    .arg(QString::fromLatin1(grbl::number(m_config.safeZ)), where(*status.mpos)),
                false);
        return queue(approachLines(m_config, true, m_goal.machine, false), Phase::Moving,
            approachSeconds(m_config, m_frame, *status.mpos, m_goal.machine), now);
    }
    if (m_phase == Phase::Verify) {
        if (!near(*status.mpos, m_goal.machine, true))
            return fail(tr("the machine stopped at %1, not at %2")
                            .arg(where(*status.mpos), where(m_goal.machine)),
                true);
        m_at = m_reached = status.mpos;
        m_phase = Phase::There;
        return { Status::There, now, {}, std::exchange(m_notice, {}) };
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
    m_goal.machine = { xy.x, xy.y, m_config.hover ? m_config.safeZ : m_config.contactZ - m_goal.attempt * m_config.step };
    if (const QString problem = travelProblem(m_config, m_frame, m_goal.machine);
        !problem.isEmpty())
        return fail(problem, false); // nothing was sent for this point
    if (!m_homed || m_unlock) {
        m_link->send(m_unlock ? "$X" : "$H");
        m_phase = Phase::Homing;
        m_awaited = ms(homingDeadline(m_config.timing, m_frame));
        m_deadline = now + homingDeadline(m_config.timing, m_frame);
        return moving(now);
    }
    // Ask first: an alarm or a hold since the last point refuses the move.
    m_phase = Phase::Check;
    m_deadline = now + m_config.timing.status;
    m_awaited = ms(m_config.timing.status);
    m_poll.fresh(now);
    m_poll.ask(*m_link, now);
    return moving(now);
}

sig::Prober::Status GantryProber::queue(
    const QList<QByteArray> &lines, Phase phase, double seconds, Clock::time_point now)
{
    for (const QByteArray &line : lines) {
        if (!m_link->send(line))
            return fail(tr("'%1' cannot be sent").arg(QString::fromLatin1(line)), true);
    }
    m_modal = true;
    m_at.reset();
    m_phase = phase;
    const auto deadline = motionDeadline(m_config.timing, seconds);
    m_awaited = ms(deadline);
    m_deadline = now + deadline;
    m_poll.dueAt(now + m_config.statusPeriod);
    return moving(now);
}

void GantryProber::halt()
{
    if (!m_link)
        return;
    const bool held = m_link->halt(m_config.timing.reply);
    if (m_link->lost())
        m_link.reset();
    else
        m_expectBanner = true;
    m_homed = m_homed && (held || m_unlock);
    m_modal = false;
    m_poll.reset();
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
    m_homed = m_unlock = m_modal = m_expectBanner = m_justHomed = false;
    m_frame = MachineFrame();
    m_at.reset();
    m_poll.reset();
    m_pausedSince.reset();
}

Drift drift(const grbl::MachinePoint &taught, const grbl::MachinePoint &reached, double tolerance)
{
    const double mm = std::hypot(reached.x - taught.x, reached.y - taught.y);
    return { mm, mm > tolerance };
}

} // namespace motion
