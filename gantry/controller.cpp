#include "controller.h"

#include "reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gantry {
namespace {

constexpr double kTickSeconds = 0.005;

QByteArray number(double v, int decimals = 3)
{
    if (std::abs(v) < 0.5 * std::pow(10.0, -decimals))
        v = 0; // never "-0.000"
    return QByteArray::number(v, 'f', decimals);
}

} // namespace

Controller::Controller(double feed, double timeScale, bool stock, QObject *parent)
    : QObject(parent)
    , settings_(feed, stock)
    , timeScale_(timeScale)
{
    motion_.setLimits(settings_.maxRates(), settings_.accelerations());
    alarm_ = settings_.homing(); // with homing enabled the position is unknown at power-up
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Controller::tick);
    // Every millisecond, as a controller's loop answers at once; the motion
    // and the trace go on in steps of at most kTickSeconds of its own time.
    timer_.start(1);
    clock_.start();
}

QByteArray Controller::greeting() const
{
    QByteArray text = "\r\nGrbl 1.1h ['$' for help]\r\n";
    if (alarm_)
        text += critical_ ? "[MSG:Reset to continue]\r\n" : "[MSG:'$H'|'$X' to unlock]\r\n";
    return text;
}

void Controller::answer(int error)
{
    say(error ? "error:" + QByteArray::number(error) : QByteArray("ok"));
}

void Controller::receive(const QByteArray &bytes)
{
    if (stalled_)
        return;
    reader_.read(bytes, [this](unsigned char c) { realtime(c); });
    pump();
}

void Controller::realtime(unsigned char c)
{
    switch (c) {
    case '?':
        if (statusDelay_ > 0) {
            QTimer::singleShot(
                statusDelay_, this, [this, report = statusReport(), client = client_] {
                    if (client == client_)
                        emit output(report + "\r\n");
                });
            break;
        }
        emit output(statusReport() + "\r\n");
        break;
    case '!':
        // A hold during a jog cancels it, as GRBL does; a hold while still
        // is complete at once.
        if (!homing_.active() && !alarm_) {
            if (motion_.busy())
                motion_.hold(motion_.jogging());
            else
                idleHold_ = true;
        }
        break;
    case '~':
        if (door_ == Door::Open)
            break; // no resume until the door is closed
        door_ = Door::None;
        idleHold_ = false;
        motion_.resume();
        break;
    case 0x18:
        softReset();
        break;
    case 0x85: // jog cancel
        if (motion_.jogging())
            motion_.hold(true);
        break;
    default:
        break; // overrides and the rest: no such hardware here
    }
}

QByteArray Controller::stateName() const
{
    if (homing_.active())
        return "Home";
    if (alarm_)
        return "Alarm";
    if (door_ != Door::None)
        return door_ == Door::Open ? "Door:1" : "Door:0";
    if (idleHold_)
        return "Hold:0";
    if (motion_.cancelling())
        return "Jog";
    if (motion_.holding())
        return motion_.holdComplete() ? "Hold:0" : "Hold:1";
    if (motion_.busy())
        return motion_.jogging() ? "Jog" : "Run";
    return "Idle";
}

QByteArray Controller::statusReport() const
{
    const Axes &p = motion_.position();
    return "<" + stateName() + "|MPos:" + number(p[0]) + "," + number(p[1]) + "," + number(p[2])
        + "|FS:" + QByteArray::number(std::lround(motion_.speed() * 60)) + ",0>";
}

void Controller::softReset()
{
    if (motion_.busy() || homing_.active()) {
        // Stopped mid-move the steps may be lost: the position needs a check.
        say(homing_.active() ? "ALARM:6" : "ALARM:3");
        alarm_ = true;
    }
    motion_.stop();
    planned_ = motion_.position();
    homing_.abort();
    dwell_ = Dwell::None;
    pendingMove_.reset();
    reader_.clear();
    critical_ = false;
    failNext_ = 0;
    deaf_ = frozen_ = idleHold_ = false;
    liftFault_ = -1;
    door_ = Door::None;
    absolute_ = true;
    inches_ = false;
    motionMode_ = 0;
    feed_ = 0;
    emit output(greeting());
}

void Controller::raiseAlarm(int code)
{
    motion_.stop();
    planned_ = motion_.position();
    homing_.abort();
    dwell_ = Dwell::None;
    pendingMove_.reset();
    reader_.clear();
    alarm_ = true;
    say("ALARM:" + QByteArray::number(code));
    // Limit alarms hold the machine until a reset, as GRBL's do.
    critical_ = code == 1 || code == 2;
    if (critical_)
        say("[MSG:Reset to continue]");
}

void Controller::setStalled(bool stalled)
{
    stalled_ = stalled;
    lastTick_ = now();
}

void Controller::setDoor(bool open)
{
    if (open) {
        // The door stops the machine as a feed hold does.
        if (motion_.busy())
            motion_.hold();
        door_ = Door::Open;
    } else if (door_ == Door::Open) {
        door_ = Door::Closed;
    }
}

void Controller::clearFaults()
{
    setStalled(false);
    failNext_ = 0;
    deaf_ = frozen_ = false;
    liftFault_ = -1;
    statusDelay_ = 0;
}

bool Controller::traceTo(const QString &path, QString *error)
{
    return trace_.open(path, motion_.position(), error);
}

void Controller::tick()
{
    const double t = now();
    double dt = t - lastTick_;
    lastTick_ = t;
    if (stalled_)
        return;
    const Axes before = motion_.position();
    while (dt > 1e-9 && !frozen_) {
        const double step = std::min(dt, kTickSeconds);
        const double unused = motion_.advance(step);
        trace_.pass(motion_.position()); // and every corner where one move ends
        dt -= step - unused;
    }
    trace_.flush();
    if (motion_.position() != before)
        emit moved(motion_.position());
    if (homing_.advance(motion_, settings_, t)) {
        alarm_ = false;
        trace_.pass(motion_.position());
        planned_ = motion_.position();
        answer(0);
    }
    if (pendingMove_ && !motion_.full()) {
        queue(*pendingMove_);
        pendingMove_.reset();
        answer(0);
    }
    if (dwell_ == Dwell::Syncing && !motion_.busy()) {
        dwell_ = Dwell::Waiting;
        until_ += t; // until_ held the dwell's length
    } else if (dwell_ == Dwell::Waiting && t >= until_) {
        dwell_ = Dwell::None;
        answer(0);
    }
    pump();
}

void Controller::pump()
{
    while (!stalled_ && !critical_ && !waiting() && !reader_.empty()) {
        const QByteArray line = reader_.take();
        execute(line);
    }
    if (critical_)
        reader_.clear(); // only a reset is heard until then
}

void Controller::execute(const QByteArray &line)
{
    if (deaf_)
        return; // a line lost on its way: never answered
    if (failNext_) {
        answer(std::exchange(failNext_, 0));
        return;
    }
    if (line == LineReader::kOverflow) {
        answer(error::kLineOverflow);
        return;
    }
    const QByteArray text = line.trimmed();
    int result = 0;
    if (text.startsWith('$'))
        result = system(text);
    else if (alarm_ || motion_.jogging())
        result = text.isEmpty() ? 0 : error::kLocked;
    else
        result = gcode(text);
    // Lines that wait (moves on a full planner, dwells, homing) answer later.
    if (result >= 0)
        answer(result);
}

int Controller::system(const QByteArray &line)
{
    const QByteArray command = line.toUpper();
    const bool busy = motion_.busy() || waiting();
    if (command.startsWith("$J="))
        return jog(line.mid(3));
    if (const auto lines
        = systemReport(command, settings_, { absolute_, inches_, motionMode_, feed_ })) {
        for (const QByteArray &l : *lines)
            say(l);
        return 0;
    }
    if (command == "$X") {
        if (busy)
            return error::kNotIdle;
        if (alarm_)
            say("[MSG:Caution: Unlocked]");
        alarm_ = false;
        return 0;
    }
    if (command == "$H") {
        if (!settings_.homing())
            return error::kSettingDisabled;
        if (busy)
            return error::kNotIdle;
        alarm_ = false;
        homing_.start(motion_, settings_);
        return -1;
    }
    if (command.contains('=')) {
        if (busy)
            return error::kNotIdle;
        const int result = settings_.set(command);
        motion_.setLimits(settings_.maxRates(), settings_.accelerations());
        return result;
    }
    return error::kInvalidStatement;
}

} // namespace gantry
