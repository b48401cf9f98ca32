#include "grbl.h"

#include <QCoreApplication>
#include <QList>

#include <cmath>

namespace motion::grbl {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("motion::grbl", text);
}

// "1.000,2.000,-3.000": three finite numbers, or nothing.
std::optional<MachinePoint> point(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split(',');
    if (parts.size() < 3)
        return std::nullopt;
    double v[3];
    for (int k = 0; k < 3; ++k) {
        bool ok = false;
        v[k] = parts[k].toDouble(&ok);
        if (!ok || !std::isfinite(v[k]))
            return std::nullopt;
    }
    return MachinePoint { v[0], v[1], v[2] };
}

// The N of "error:N" or "ALARM:N"; -1 when it is no number.
int codeAfter(const QByteArray &line, int prefix)
{
    bool ok = false;
    const int code = line.mid(prefix).trimmed().toInt(&ok);
    return ok && code >= 0 ? code : -1;
}

} // namespace

std::optional<Status> parseStatus(const QByteArray &line)
{
    if (!line.startsWith('<') || !line.endsWith('>'))
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(1, line.size() - 2).split('|');
    Status status;
    status.state = QString::fromLatin1(fields.front());
    if (status.state.isEmpty())
        return std::nullopt;
    for (qsizetype k = 1; k < fields.size(); ++k) {
        const QByteArray &field = fields[k];
        const qsizetype colon = field.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = field.left(colon);
        const QByteArray value = field.mid(colon + 1);
        std::optional<MachinePoint> *slot = key == "MPos" ? &status.mpos
            : key == "WPos"                               ? &status.wpos
            : key == "WCO"                                ? &status.wco
                                                          : nullptr;
        if (!slot)
            continue; // feed, buffer, pins, overrides: not needed here
        *slot = point(value);
        if (!*slot)
            return std::nullopt; // a position that does not read is no report
    }
    if (!status.mpos && status.wpos && status.wco)
        status.mpos = MachinePoint { status.wpos->x + status.wco->x, status.wpos->y + status.wco->y,
            status.wpos->z + status.wco->z };
    return status;
}

Reply parseReply(const QByteArray &line)
{
    Reply reply;
    reply.text = QString::fromLatin1(line);
    if (line == "ok") {
        reply.kind = Reply::Ok;
    } else if (line.startsWith("error:")) {
        reply.kind = Reply::Error;
        reply.code = codeAfter(line, 6);
    } else if (line.startsWith("ALARM:")) {
        reply.kind = Reply::Alarm;
        reply.code = codeAfter(line, 6);
    } else if (line.startsWith("[MSG:") && line.endsWith(']')) {
        reply.kind = Reply::Message;
        reply.text = QString::fromLatin1(line.mid(5, line.size() - 6));
    } else if (line.startsWith("[OPT:") && line.endsWith(']')) {
        reply.kind = Reply::Options;
        reply.text = QString::fromLatin1(line.mid(5, line.size() - 6)).section(QLatin1Char(','), 0, 0);
    } else if (line.startsWith("Grbl ")) {
        reply.kind = Reply::Banner;
    } else if (line.startsWith('<')) {
        reply.status = parseStatus(line);
        if (reply.status)
            reply.kind = Reply::StatusReport;
    } else if (line.startsWith('$') && line.contains('=')) {
        bool numberOk = false;
        bool valueOk = false;
        const qsizetype eq = line.indexOf('=');
        const int code = line.mid(1, eq - 1).toInt(&numberOk);
        const double value = line.mid(eq + 1).toDouble(&valueOk);
        if (numberOk && valueOk && std::isfinite(value)) {
            reply.kind = Reply::Setting;
            reply.code = code;
            reply.value = value;
        }
    }
    return reply;
}

QString errorText(int code)
{
    switch (code) {
    case 1: return tr("a G-code word has no letter");
    case 2: return tr("a number is malformed");
    case 3: return tr("the $ command is not understood");
    case 4: return tr("a negative value where a positive one is needed");
    case 5: return tr("homing is not enabled in the settings ($22)");
    case 6: return tr("the step pulse is shorter than 3 microseconds");
    case 7: return tr("the settings could not be read; defaults restored");
    case 8: return tr("the $ command needs the machine idle");
    case 9: return tr("G-code is locked out during an alarm or a jog");
    case 10: return tr("soft limits need homing enabled");
    case 11: return tr("the line is too long");
    case 12: return tr("the step rate is too high");
    case 13: return tr("the safety door is open");
    case 14: return tr("the build info or start-up line is too long");
    case 15: return tr("a jog target exceeds the machine's travel");
    case 16: return tr("the jog command is invalid");
    case 17: return tr("laser mode needs PWM output");
    case 20: return tr("an unsupported or invalid G-code command");
    case 21: return tr("two G-code commands of one modal group in a block");
    case 22: return tr("the feed rate is not set");
    case 23: return tr("a G-code command needs an integer value");
    case 24: return tr("two G-code commands need axis words in one block");
    case 25: return tr("a G-code word is repeated in a block");
    case 26: return tr("no axis words where the command needs them");
    case 27: return tr("the line number is out of range");
    case 28: return tr("a G-code command lacks a value it needs");
    case 33: return tr("the motion target is invalid");
    case 37: return tr("the tool length offset axis is not configured");
    default: return tr("an error GRBL 1.1 does not document");
    }
}

QString alarmText(int code)
{
    switch (code) {
    case 1: return tr("a hard limit switch was hit; the position is lost");
    case 2: return tr("the motion target exceeds the machine's travel (soft limit)");
    case 3: return tr("reset while in motion; the position is lost");
    case 4: return tr("the probe was not in its expected initial state");
    case 5: return tr("the probe did not touch within its travel");
    case 6: return tr("homing failed: the cycle was reset");
    case 7: return tr("homing failed: the safety door opened");
    case 8: return tr("homing failed: the pull-off did not clear the limit switch");
    case 9: return tr("homing failed: no limit switch was found");
    default: return tr("an alarm GRBL 1.1 does not document");
    }
}

QString alarmWayOn(int code)
{
    switch (code) {
    case 1:
    case 3:
        return tr("home the machine (zemctl prober home, or Home) before it moves again");
    case 2:
    case 4:
    case 5:
        return tr("unlock the machine (zemctl prober unlock, or Unlock) or home it");
    case 6:
    case 7:
    case 8:
    case 9:
        return tr("check the limit switches and the door, then home the machine again");
    default:
        return tr("unlock or home the machine");
    }
}

QString refusalText(int code)
{
    QString text = QStringLiteral("error:%1 (%2)").arg(code).arg(errorText(code));
    if (code == 9)
        text += tr("; the machine is in alarm: unlock or home");
    return text;
}

QString pauseText(const QString &state)
{
    if (state.startsWith(QLatin1String("Hold")))
        return tr("the machine is in a feed hold (%1): the run waits; press cycle start on the "
                  "machine to go on")
            .arg(state);
    if (state.startsWith(QLatin1String("Door")))
        return tr("the machine's safety door is open (%1): the run waits; close the door and "
                  "press cycle start to go on")
            .arg(state);
    return {};
}

bool needsReset(const Reply &reply)
{
    return reply.kind == Reply::Message && reply.text == QLatin1String("Reset to continue");
}

QByteArray number(double value)
{
    if (std::abs(value) < 0.0005)
        value = 0;
    return QByteArray::number(value, 'f', 3);
}

} // namespace motion::grbl
