#include "controller.h"

#include "reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gantry {
namespace {

constexpr double kTickSeconds = 0.005;
constexpr double kTravelSlack = 1e-6; // mm

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
    timer_.start(int(kTickSeconds * 1000));
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
            QTimer::singleShot(statusDelay_, this, [this, report = statusReport(), client = client_] {
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
        motion_.advance(step);
        trace_.pass(motion_.position());
        dt -= step;
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
    if (const auto lines = systemReport(command, settings_, { absolute_, inches_, motionMode_, feed_ })) {
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

Axes Controller::target(const GcodeBlock &block, bool absolute, bool inches) const
{
    Axes p = planned_;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!block.axes[i])
            continue;
        const double mm = *block.axes[i] * (inches ? 25.4 : 1.0);
        p[i] = absolute || block.machineCoordinates ? mm : p[i] + mm;
    }
    return p;
}

bool Controller::withinTravel(const Axes &p) const
{
    if (!settings_.softLimits())
        return true;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto [lo, hi] = settings_.range(k);
        if (p[k] < lo - kTravelSlack || p[k] > hi + kTravelSlack)
            return false;
    }
    return true;
}

int Controller::stuckLift(Axes &to) const
{
    if (liftFault_ < 0 || to[2] <= planned_[2] + kTravelSlack)
        return 0;
    if (liftFault_ == 0)
        to[2] = planned_[2]; // a stuck Z axis: the ok comes, the tip stays down
    return liftFault_;
}

void Controller::queue(const Move &move)
{
    motion_.push(move);
    planned_ = move.target;
    // Held while still, or the door open: the move waits for cycle start.
    if (idleHold_ || door_ != Door::None) {
        motion_.hold();
        idleHold_ = false;
    }
}

int Controller::jog(const QByteArray &line)
{
    if (alarm_ || waiting() || (motion_.busy() && !motion_.jogging()))
        return error::kNotIdle;
    GcodeBlock b;
    if (const int e = parseJog(std::string_view(line.constData(), std::size_t(line.size())), b))
        return e;
    if (!motion_.busy())
        planned_ = motion_.position();
    const Axes from = planned_;
    const bool inches = b.inches.value_or(inches_);
    Axes to = target(b, b.absolute.value_or(absolute_), inches);
    if (const int e = stuckLift(to))
        return e;
    if (!withinTravel(to))
        return error::kTravelExceeded;
    if (motion_.full())
        return error::kNotIdle;
    const double speed = *b.feed * (inches ? 25.4 : 1.0) / 60;
    queue({ to, motion_.cappedSpeed(from, to, speed), true });
    return 0;
}

int Controller::gcode(const QByteArray &line)
{
    GcodeBlock b;
    if (const int e = parseGcode(std::string_view(line.constData(), std::size_t(line.size())), b))
        return e;
    if (b.inches)
        inches_ = *b.inches;
    if (b.absolute)
        absolute_ = *b.absolute;
    if (b.feed)
        feed_ = *b.feed * (inches_ ? 25.4 : 1.0);
    if (b.motion)
        motionMode_ = *b.motion;
    if (b.dwell) {
        dwell_ = Dwell::Syncing;
        until_ = *b.pause;
        return -1;
    }
    if (!b.hasAxes())
        return 0;
    if (motionMode_ == 1 && feed_ <= 0)
        return error::kUndefinedFeedRate;
    if (!motion_.busy() && !pendingMove_)
        planned_ = motion_.position();
    Axes to = target(b, absolute_, inches_);
    if (const int e = stuckLift(to))
        return e;
    if (!withinTravel(to)) {
        raiseAlarm(2);
        return -1;
    }
    const double wanted = motionMode_ == 0 ? 1e9 : feed_ / 60;
    const Move move { to, motion_.cappedSpeed(planned_, to, wanted), false };
    planned_ = to;
    if (motion_.full()) {
        pendingMove_ = move;
        return -1;
    }
    queue(move);
    return 0;
}

} // namespace gantry
