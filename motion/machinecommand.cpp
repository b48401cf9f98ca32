#include "machinecommand.h"

#include "grbllink.h"

#include <QCoreApplication>


namespace motion {

namespace {

using Clock = std::chrono::steady_clock;

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

} // namespace

QByteArray jogLine(double dx, double dy, double dz, double feed)
{
    return "$J=G91 G21 X" + grbl::number(dx) + " Y" + grbl::number(dy) + " Z" + grbl::number(dz)
        + " F" + grbl::number(feed);
}

CommandOutcome runCommands(
    const QString &url, const QList<QByteArray> &lines, std::chrono::milliseconds timeout)
{
    CommandOutcome out;
    const auto deadline = Clock::now() + timeout;
    auto link = GrblLink::open(url, std::chrono::seconds(5), &out.error);
    if (!link)
        return out;
    // A controller greets once its line is open (a board that resets on the
    // port's open takes a moment); without a greeting a soft reset asks for one.
    bool greeted = false;
    for (int attempt = 0; attempt < 2 && !greeted; ++attempt) {
        const auto wait = Clock::now() + std::chrono::milliseconds(2500);
        while (!greeted && Clock::now() < wait) {
            if (!link->pump(std::chrono::milliseconds(50))) {
                out.error = tr("the line to the machine was lost (%1)").arg(link->lostReason());
                return out;
            }
            for (const grbl::Reply &r : link->take())
                greeted |= r.kind == grbl::Reply::Banner;
        }
        if (!greeted)
            link->realtime(grbl::kSoftReset);
    }
    if (!greeted) {
        out.error = tr("%1 does not answer as a GRBL 1.1 machine").arg(url);
        return out;
    }
    for (const QByteArray &line : lines)
        if (!link->send(line, &out.error))
            return out;
    Clock::time_point asked {};
    while (Clock::now() < deadline) {
        if (!link->pump(std::chrono::milliseconds(20))) {
            out.error = tr("the line to the machine was lost (%1)").arg(link->lostReason());
            return out;
        }
        for (const grbl::Reply &r : link->take()) {
            if (r.kind == grbl::Reply::Error) {
                out.error = tr("'%1' refused: error:%2 (%3)")
                                .arg(QString::fromLatin1(r.answers))
                                .arg(r.code)
                                .arg(grbl::errorText(r.code));
                return out;
            }
            if (r.kind == grbl::Reply::Alarm) {
                out.error = tr("ALARM:%1 (%2)").arg(r.code).arg(grbl::alarmText(r.code));
                return out;
            }
            if (r.kind == grbl::Reply::StatusReport) {
                out.status = *r.status;
                if (link->idle() && still(*r.status))
                    return out;
            }
        }
        // A report a tenth of a second, as a sender's position display asks.
        if (Clock::now() - asked > std::chrono::milliseconds(100)) {
            link->realtime(grbl::kStatusQuery);
            asked = Clock::now();
        }
    }
    out.error = tr("the machine did not finish within %1 s").arg(timeout.count() / 1000);
    return out;
}

} // namespace motion
