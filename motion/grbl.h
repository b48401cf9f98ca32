// What a GRBL 1.1 machine says, one line at a time, and what its codes mean.
// Plain parsing, no I/O: the link (grbllink.h) feeds it, the prober reads it.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace motion::grbl {

// Bytes the machine acts on the moment they arrive, outside the line buffer.
constexpr char kStatusQuery = '?';
constexpr char kFeedHold = '!';
constexpr char kCycleStart = '~';
constexpr char kSoftReset = 0x18;
constexpr char kJogCancel = char(0x85);

// GRBL's serial receive buffer; a sender keeps the unacknowledged lines
// (with their newlines) within it. A ring buffer of 128 holds 127.
constexpr int kRxBuffer = 128;
constexpr int kRxCapacity = kRxBuffer - 1;
// The longest line GRBL parses (its line buffer, newline excluded).
constexpr int kMaxLine = 79;

struct MachinePoint
{
    double x = 0;
    double y = 0;
    double z = 0;

    bool operator==(const MachinePoint &o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const MachinePoint &o) const { return !(*this == o); }
};

// A status report, `<Idle|MPos:1.000,2.000,-3.000|FS:0,0>`.
struct Status
{
    QString state; // Idle, Run, Hold:0, Jog, Alarm, Door:1, Check, Home, Sleep
    std::optional<MachinePoint> mpos; // machine position, also from WPos + WCO
    std::optional<MachinePoint> wpos; // as reported, when reported
    std::optional<MachinePoint> wco; // work offset, in some reports only

    // "Hold" of "Hold:0".
    QString base() const { return state.section(QLatin1Char(':'), 0, 0); }
};

// One line from the machine.
struct Reply
{
    enum Kind { Ok, Error, Alarm, Message, Banner, StatusReport, Setting, Options, Other };
    Kind kind = Other;
    int code = 0; // Error and Alarm: N; Setting: the setting's number
    double value = 0; // Setting
    QString text; // the line as received; Message: the text inside [MSG:...]; Options: the letters of [OPT:...]
    std::optional<Status> status; // StatusReport
    QByteArray answers; // Ok and Error: the line they acknowledge (the link fills it)
};

// Never fails: what it cannot read is Other, with the text kept.
Reply parseReply(const QByteArray &line);
// nullopt when the line is not a well-formed status report.
std::optional<Status> parseStatus(const QByteArray &line);

// What `error:N` and `ALARM:N` mean, as GRBL 1.1 documents them.
QString errorText(int code);
QString alarmText(int code);
// A refused line's reply as a technician reads it: "error:9 (...); the
// machine is in alarm: unlock or home" (the way on only where there is one).
QString refusalText(int code);
// What a technician does about an alarm: unlock, home, or check the machine.
QString alarmWayOn(int code);
// A hold or an open door as a technician reads it, with the way on; empty
// for any other state.
QString pauseText(const QString &state);
// "Reset to continue": a limit alarm that takes nothing but a soft reset.
bool needsReset(const Reply &reply);

// A coordinate as G-code takes it: three decimals, never "-0.000".
QByteArray number(double value);

} // namespace motion::grbl
