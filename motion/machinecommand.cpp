#include "machinecommand.h"

#include "gantrymoves.h"
#include "grbllink.h"
#include "machinegreeting.h"

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
    r.lines = { "$H" };
    r.deadline = [timing = config.timing](const MachineFrame &frame, const grbl::Status &) {
        return homingDeadline(timing, frame);
    };
    return r;
}

CommandRequest unlockRequest(const GantryConfig &)
{
    CommandRequest r;
    r.lines = { "$X" };
    return r;
}

CommandRequest jogRequest(const GantryConfig &config, double dx, double dy, double dz)
{
    const double feed = dz != 0 ? config.contactFeed : config.xyFeed;
    CommandRequest r;
    r.lines = { jogLine(dx, dy, dz, feed) };
    r.check = [dx, dy, dz](const MachineFrame &frame, const grbl::Status &status) {
        return jogProblem(frame, status, dx, dy, dz);
    };
    r.deadline = [timing = config.timing, dx, dy, dz, feed](
                     const MachineFrame &frame, const grbl::Status &) {
        return motionDeadline(timing, moveSeconds(frame, {}, { dx, dy, dz }, feed));
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
    if (request.lines.isEmpty()) {
        if (before->base() == QLatin1String("Alarm"))
            out.notices << tr("the machine is in alarm: unlock or home it (zemctl prober unlock, "
                              "zemctl prober home)");
        return out;
    }
    for (const QByteArray &line : request.lines)
        if (!link->send(line, &out.error))
            return out;
    const Millis allowed = request.deadline
        ? request.deadline(frame, *before)
        : Millis(timing.reply.count() * (1 + request.lines.size()));
    const auto deadline = Clock::now() + allowed;
    Clock::time_point asked {};
    while (Clock::now() < deadline) {
        if (!link->pump(Millis(20))) {
            out.error = lost(*link);
            return out;
        }
        for (const grbl::Reply &r : link->take()) {
            if (r.kind == grbl::Reply::Error) {
                out.error = tr("'%1' refused: error:%2 (%3)")
                                .arg(QString::fromLatin1(r.answers))
                                .arg(r.code)
                                .arg(grbl::errorText(r.code));
                if (r.code == 9)
                    out.error += tr("; the machine is in alarm: unlock or home");
                return out;
            }
            if (r.kind == grbl::Reply::Alarm) {
                out.error = tr("ALARM:%1 (%2); %3")
                                .arg(r.code)
                                .arg(grbl::alarmText(r.code), grbl::alarmWayOn(r.code));
                return out;
            }
            if (r.kind == grbl::Reply::StatusReport) {
                out.status = *r.status;
                if (link->idle() && still(*r.status))
                    return out;
            }
        }
        // A report a tenth of a second, as a sender's position display asks.
        if (Clock::now() - asked > Millis(100)) {
            link->realtime(grbl::kStatusQuery);
            asked = Clock::now();
        }
    }
    out.error = tr("the machine did not finish within %1 ms (its last state: %2); it was halted")
                    .arg(allowed.count())
                    .arg(out.status.state);
    link->halt(timing.reply);
    return out;
}

} // namespace motion
