// What the machine's replies and status reports mean to the gantry prober's
// step: an alarm, a refusal, a reset, the ok of a dwell that ends a move, and
// the reports that show a pause, the lift and the machine at rest where it
// was sent.
#include "gantryprober.h"

namespace motion {

namespace {

QString replyMs(std::chrono::milliseconds d)
{
    return QString::number(d.count());
}

bool isPause(const QString &state)
{
    return state.startsWith(QLatin1String("Hold")) || state.startsWith(QLatin1String("Door"));
}

} // namespace

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
        m_line->unlock = m_line->homed && reply.code == 2;
        m_line->homed = m_line->unlock;
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
        if (m_line->expectBanner) {
            m_line->expectBanner = false;
            if (m_phase == Phase::Reset)
                m_phase = Phase::Plan;
            break;
        }
        m_line->forget();
        if (m_phase == Phase::Check && !m_moved) {
            m_phase = Phase::Plan; // nothing moved in this run yet: home, then go on
            break;
        }
        if (active)
            return fail(
                tr("the machine was reset (its reset button, or a restart) during the run: "
                   "its position may be lost; home it (zemctl prober home, or Home), then go on"),
                false);
        break;
    case grbl::Reply::Ok:
        if (m_phase == Phase::Homing && (reply.answers == "$H" || reply.answers == "$X")) {
            m_justHomed = reply.answers == "$H";
            m_line->homed = true;
            m_line->unlock = false;
            m_line->modal = false;
            m_line->at.reset();
            m_line->atBoard.reset();
            m_phase = Phase::Plan;
        } else if ((m_phase == Phase::Lifting || m_phase == Phase::Moving)
            && m_line->link->idle()) {
            // The last line is a dwell, acknowledged once every move before it ended.
            m_phase = m_replan              ? Phase::Plan
                : m_phase == Phase::Lifting ? Phase::LiftCheck
                                            : Phase::Verify;
            m_replan = false;
            m_line->poll.fresh(now);
            m_deadline = now + m_config.timing.status;
            m_awaited = replyMs(m_config.timing.status);
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
    const bool fresh = m_line->poll.heard(status, now, m_config.statusPeriod);
    if (m_onPosition && status.mpos)
        m_onPosition(*status.mpos);
    const QString state = status.base();
    const bool active = m_phase == Phase::Check || m_phase == Phase::Lifting
        || m_phase == Phase::LiftCheck || m_phase == Phase::Moving || m_phase == Phase::Verify;
    if (!active || !fresh)
        return moving(now); // a late report tells of a time before the step began
    if (state == QLatin1String("Alarm")) {
        m_line->homed = m_line->unlock = false;
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
        if (m_justHomed && status.mpos && !near(*status.mpos, m_line->frame.home(), true)) {
            return fail(tr("after homing the machine reports %1, not %2 as its settings ($23, $27) "
                           "say; nothing was moved: check the machine's settings")
                            .arg(where(*status.mpos), where(m_line->frame.home())),
                false);
        }
        m_justHomed = false;
        return start(status.mpos, now);
    }
    if (!idle || !status.mpos)
        return moving(now); // until the report says still
    if (m_phase == Phase::LiftCheck) {
        // The lift is seen, not assumed from an ok: a Z that did not rise
        // stops the run before anything moves in X or Y.
        if (!lifted(m_goal.travelZ, *status.mpos))
            return fail(
                tr("the lift to Z %1 was acknowledged, but the machine reports %2: the tip "
                   "may still be down; stopped without moving in X or Y")
                    .arg(QString::fromLatin1(grbl::number(m_goal.travelZ)), where(*status.mpos)),
                false);
        return queue(approachLines(m_config, true, m_goal.machine, m_goal.travelZ, false),
            Phase::Moving, approachSeconds(m_config, m_line->frame, *status.mpos, m_goal.machine),
            now);
    }
    if (m_phase == Phase::Verify) {
        if (!near(*status.mpos, m_goal.machine, true))
            return fail(tr("the machine stopped at %1, not at %2")
                            .arg(where(*status.mpos), where(m_goal.machine)),
                true);
        m_line->at = m_reached = status.mpos;
        m_line->atBoard.reset();
        if (m_goal.point && !m_config.hover)
            m_line->atBoard = m_goal.board;
        m_phase = Phase::There;
        return { Status::There, now, {}, std::exchange(m_notice, {}) };
    }
    return moving(now);
}

sig::Prober::Status GantryProber::start(
    const std::optional<grbl::MachinePoint> &reported, Clock::time_point now)
{
    if (!needsLift(m_line->at, m_goal.machine) && m_line->at)
        return queue(
            approachLines(m_config, false, m_goal.machine, m_goal.machine.z, !m_line->modal),
            Phase::Moving, approachSeconds(m_config, m_line->frame, *m_line->at, m_goal.machine),
            now);
    const grbl::MachinePoint from = reported ? *reported : m_goal.machine;
    // The clearance only from a point this line saw the machine come to
    // rest on, to another point, and the machine still there.
    std::optional<BoardHop> hop;
    if (m_goal.point && m_line->atBoard && m_line->at && reported
        && near(*reported, *m_line->at, true))
        hop = BoardHop { *m_line->atBoard, *m_goal.board };
    m_goal.travelZ = travelZ(m_config, from, hop);
    return queue(liftLines(m_goal.travelZ, !m_line->modal), Phase::Lifting,
        liftSeconds(m_line->frame, from, m_goal.travelZ), now);
}

} // namespace motion
