#include "machinecommand.h"

#include "gantrymoves.h"
#include "grbllink.h"
#include "machinegreeting.h"
#include "statuspoll.h"

#include <QCoreApplication>

#include <thread>

namespace motion {

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

QString tr(const char *text)
{
    return QCoreApplication::translate("motion::MachineCommand", text);
}

bool still(const grbl::Status &status)
{
    const QString state = status.base();
    return state != QLatin1String("Run") && state != QLatin1String("Jog")
        && state != QLatin1String("Home");
}

QString lost(const GrblLink &link)
{
    return tr("the line to the machine was lost (%1)").arg(link.lostReason());
}

// A status report within the status deadline, asked again after each reply time.
std::optional<grbl::Status> askStatus(GrblLink &link, const Timing &timing, QString *error)
{
    const auto deadline = Clock::now() + timing.status;
    auto askedAt = Clock::time_point {};
    while (Clock::now() < deadline) {
        if (Clock::now() - askedAt >= timing.reply) {
            link.realtime(grbl::kStatusQuery);
            askedAt = Clock::now();
        }
        if (!link.pump(Millis(20))) {
            *error = lost(link);
            return std::nullopt;
        }
        for (const grbl::Reply &r : link.take())
            if (r.kind == grbl::Reply::StatusReport)
                return *r.status;
    }
    *error = tr("no status report from the machine within %1 ms").arg(timing.status.count());
    return std::nullopt;
}

} // namespace

QByteArray jogLine(double dx, double dy, double dz, double feed)
{
    return "$J=G91 G21 X" + grbl::number(dx) + " Y" + grbl::number(dy) + " Z" + grbl::number(dz)
        + " F" + grbl::number(feed);
}

CommandRequest statusRequest()
{
    return {};
}

CommandRequest homeRequest(const GantryConfig &config)
{
    CommandRequest r;
    r.lines = [](const grbl::Status &) { return QList<QByteArray> { "$H" }; };
    r.deadline = [timing = config.timing](const MachineFrame &frame, const grbl::Status &) {
        return homingDeadline(timing, frame);
    };
    return r;
}

CommandRequest unlockRequest(const GantryConfig &)
{
    CommandRequest r;
    r.lines = [](const grbl::Status &) { return QList<QByteArray> { "$X" }; };
    return r;
}

QList<QByteArray> jogLines(
    const GantryConfig &config, const grbl::MachinePoint &at, double dx, double dy, double dz)
{
    if ((dx == 0 && dy == 0) || lifted(config, at))
        return { jogLine(dx, dy, dz, dz != 0 ? config.contactFeed : config.xyFeed) };
    const double up = config.safeZ - at.z;
    return { jogLine(0, 0, up, config.contactFeed), jogLine(dx, dy, 0, config.xyFeed),
        jogLine(0, 0, dz - up, config.contactFeed) };
}

CommandRequest jogRequest(const GantryConfig &config, double dx, double dy, double dz)
{
    CommandRequest r;
    r.check = [dx, dy, dz](const MachineFrame &frame, const grbl::Status &status) {
        return jogProblem(frame, status, dx, dy, dz);
    };
    // check() has made sure of a position.
    r.lines = [config, dx, dy, dz](const grbl::Status &before) {
        return jogLines(config, *before.mpos, dx, dy, dz);
    };
    r.verify = [config](int line, int count, const grbl::Status &status) {
        // The first of three lines is the lift: seen, not assumed.
        if (line == 0 && count == 3 && (!status.mpos || !lifted(config, *status.mpos)))
            return tr("the lift before the jog was not made (%1): stopped without moving in X or Y")
                .arg(status.mpos ? where(*status.mpos) : status.state);
        return QString();
    };
    r.deadline = [config, dx, dy, dz](const MachineFrame &frame, const grbl::Status &before) {
        const grbl::MachinePoint at = *before.mpos;
        const grbl::MachinePoint top { at.x, at.y, std::max(at.z, config.safeZ) };
        const grbl::MachinePoint over { at.x + dx, at.y + dy, top.z };
        const double seconds = moveSeconds(frame, at, top, config.contactFeed)
            + moveSeconds(frame, top, over, config.xyFeed)
            + moveSeconds(frame, over, { over.x, over.y, at.z + dz }, config.contactFeed);
        return motionDeadline(config.timing, seconds) + 3 * config.timing.reply;
    };
    return r;
}

CommandOutcome runCommands(const QString &url, const CommandRequest &request, const Timing &timing)
{
    CommandOutcome out;
    auto link = GrblLink::open(url, std::chrono::seconds(5), &out.error);
    if (!link)
        return out;
    MachineGreeting greeting;
    greeting.start(timing, Clock::now());
    while (greeting.state() == MachineGreeting::State::Waiting) {
        if (!link->pump(Millis(20))) {
            out.error = lost(*link);
            return out;
        }
        for (const grbl::Reply &r : link->take())
            greeting.take(*link, r, Clock::now());
        greeting.tick(*link, Clock::now());
    }
    if (greeting.state() == MachineGreeting::State::Failed) {
        out.error = tr("%1: %2").arg(url, greeting.why());
        return out;
    }
    const MachineFrame &frame = greeting.frame();
    if (const QString warning = frame.softLimitsWarning(); !warning.isEmpty())
        out.notices << warning;
    const std::optional<grbl::Status> before = askStatus(*link, timing, &out.error);
    if (!before)
        return out;
    out.status = *before;
    if (request.check) {
        out.error = request.check(frame, *before);
        if (!out.error.isEmpty())
            return out;
    }
    const QList<QByteArray> lines = request.lines ? request.lines(*before) : QList<QByteArray>();
    if (lines.isEmpty()) {
        if (before->base() == QLatin1String("Alarm"))
            out.notices << tr("the machine is in alarm: unlock or home it (zemctl prober unlock, "
                              "zemctl prober home)");
        return out;
    }
    const Millis allowed = request.deadline ? request.deadline(frame, *before)
                                            : Millis(timing.reply.count() * (1 + lines.size()));
    const auto deadline = Clock::now() + allowed;
    // One line at a time, each to its end, so that a check between them
    // (the lift before a move sideways) stops what would follow.
    StatusPoll poll;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        if (!link->send(lines[k], &out.error))
            return out;
        bool acknowledged = false;
        bool done = false;
        while (!done && Clock::now() < deadline) {
            if (!link->pump(Millis(20))) {
                out.error = lost(*link);
                return out;
            }
            for (const grbl::Reply &r : link->take()) {
                if (r.kind == grbl::Reply::Error) {
                    out.error = tr("'%1' refused: %2")
                                    .arg(QString::fromLatin1(r.answers), grbl::refusalText(r.code));
                    return out;
                }
                if (r.kind == grbl::Reply::Alarm) {
                    out.error = tr("ALARM:%1 (%2); %3")
                                    .arg(r.code)
                                    .arg(grbl::alarmText(r.code), grbl::alarmWayOn(r.code));
                    return out;
                }
                if (r.kind == grbl::Reply::Ok && link->idle() && !acknowledged) {
                    acknowledged = true;
                    poll.fresh(Clock::now()); // reports asked before the ok are older
                }
                if (r.kind == grbl::Reply::StatusReport
                    && poll.heard(*r.status, Clock::now(), Millis(100))) {
                    out.status = *r.status;
                    done = acknowledged && still(*r.status);
                }
            }
            // A report a tenth of a second, as a sender's position display asks.
            poll.tick(*link, timing, Clock::now());
        }
        if (!done) {
            out.error = tr("the machine did not finish within %1 ms (%2); it was halted")
                            .arg(allowed.count())
                            .arg(poll.lastState());
            link->halt(timing.reply);
            return out;
        }
        if (request.verify) {
            out.error = request.verify(int(k), int(lines.size()), out.status);
            if (!out.error.isEmpty())
                return out;
        }
    }
    return out;
}

} // namespace motion
