// The GRBL 1.1 controller of the virtual gantry: the line protocol, realtime
// bytes, settings, alarms, homing, jogging and the planner, run on the event
// loop in real time or a chosen multiple of it. Transport-free: bytes come in
// through receive() and leave through output().
#pragma once

#include "gcode.h"
#include "homing.h"
#include "linereader.h"
#include "motion.h"
#include "settings.h"
#include "trace.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <optional>

namespace gantry {

class Controller : public QObject
{
    Q_OBJECT
public:
    // feed: the machine's top speed in mm/s, every axis' max rate.
    // timeScale: how many seconds of machine time pass in a real one; the
    // moves, dwells and homing end that much sooner, on the same paths.
    // stock: GRBL's own frame and defaults (settings.h).
    explicit Controller(double feed, double timeScale = 1, bool stock = false, QObject *parent = nullptr);

    void receive(const QByteArray &bytes);
    // What a client reads on connecting: the banner, and the unlock hint in Alarm.
    QByteArray greeting() const;
    // A new client starts with no half-received line of the one before.
    void dropPartialLine()
    {
        reader_.dropPartialLine();
        ++client_; // nor the late status reports of the one before
    }

    const Axes &position() const { return motion_.position(); }
    QByteArray statusReport() const;
    // Writes every position the machine passes, "X Y Z" in machine mm, one
    // line each time it changes: a test sees where the tip went.
    bool traceTo(const QString &path, QString *error);

    // Faults for tests: an alarm now, an error for the next line, a controller
    // that no longer answers or moves.
    void raiseAlarm(int code);
    void failNextLine(int code) { failNext_ = code; }
    void setStalled(bool stalled);
    // Until a reset: lines are taken and never answered; or the motion stops
    // where it is, still reporting Run; or a move up in Z is refused with
    // error N (N > 0) or acknowledged and not made (0). -1: no such fault.
    void setDeaf() { deaf_ = true; }
    void setFrozen() { frozen_ = true; }
    void refuseLift(int error) { liftFault_ = error; }
    // Status reports leave this much later (ms): a slow link.
    void setStatusDelay(int ms) { statusDelay_ = ms; }
    // The machine's own buttons and door.
    void pressHold() { realtime('!'); }
    void pressStart() { realtime('~'); }
    void pressReset() { softReset(); }
    void setDoor(bool open);
    void clearFaults();

signals:
    void output(const QByteArray &text);
    void moved(const Axes &position);

private:
    enum class Door { None, Open, Closed };
    enum class Dwell { None, Syncing, Waiting };

    void say(const QByteArray &line) { emit output(line + "\r\n"); }
    void answer(int error);
    void tick();
    void realtime(unsigned char c);
    void softReset();
    void pump();
    void execute(const QByteArray &line);
    int system(const QByteArray &line);
    int jog(const QByteArray &line);
    int gcode(const QByteArray &line);
    Axes target(const GcodeBlock &block, bool absolute, bool inches) const;
    bool withinTravel(const Axes &p) const;
    // The lift fault on a move up in Z: its error, or 0 (and `to` kept low).
    int stuckLift(Axes &to) const;
    void queue(const Move &move);
    bool waiting() const { return pendingMove_ || dwell_ != Dwell::None || homing_.active(); }
    QByteArray stateName() const;
    double now() const { return double(clock_.nsecsElapsed()) * 1e-9 * timeScale_; }

    Motion motion_;
    Settings settings_;
    QTimer timer_;
    QElapsedTimer clock_;
    double timeScale_ = 1;
    double lastTick_ = 0;

    LineReader reader_;

    // Parser modes, as G-code leaves them.
    bool absolute_ = true;
    bool inches_ = false;
    int motionMode_ = 0;
    double feed_ = 0; // mm/min
    Axes planned_ {}; // where the last queued move ends

    bool alarm_ = false;
    bool critical_ = false; // a limit alarm: nothing but a reset is taken
    bool stalled_ = false;
    int failNext_ = 0;
    bool deaf_ = false;
    bool frozen_ = false;
    int liftFault_ = -1;
    int statusDelay_ = 0;
    unsigned client_ = 0;
    bool idleHold_ = false; // a feed hold while nothing moves: Hold:0
    Door door_ = Door::None;
    PositionTrace trace_;
    std::optional<Move> pendingMove_; // its line's ok waits for room in the planner
    HomingCycle homing_;
    Dwell dwell_ = Dwell::None;
    double until_ = 0; // end of the dwell
};

} // namespace gantry
