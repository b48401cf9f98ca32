#include "machine.h"

#include "boardprober.h"
#include "grbllink.h"
#include "machinecommand.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <memory>

namespace motion {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

bool same(const MachineState &a, const MachineState &b)
{
    return a.open == b.open && a.url == b.url && a.state == b.state && a.position == b.position
        && a.homed == b.homed && a.busy == b.busy && a.problem == b.problem;
}

// The time a controller takes to greet after its line opens (a board that
// resets on the port's open) before a soft reset asks it to.
constexpr auto kGreeting = 2500ms;
constexpr auto kTick = 20ms;

} // namespace

// Everything that touches the line, on the machine's thread. A timer pumps
// the line; the window's requests arrive as queued calls between ticks, so
// a halt waits for at most one tick.
class MachineWorker : public QObject
{
    Q_OBJECT

public:
    MachineWorker()
        : m_timer(new QTimer(this))
    {
        m_timer->setInterval(kTick);
        connect(m_timer, &QTimer::timeout, this, &MachineWorker::tick);
    }

    void open(const GantryConfig &config, bool wasHomed)
    {
        close();
        m_config = config;
        m_state = MachineState();
        m_state.url = config.url;
        QString error;
        m_link = GrblLink::open(config.url, 5s, &error);
        if (!m_link)
            return publish(error);
        m_greetBy = Clock::now() + kGreeting;
        m_resets = 0;
        m_wasHomed = wasHomed;
        m_frame = MachineFrame();
        m_critical = false;
        m_afterReset.clear();
        m_timer->start();
        publish();
    }

    // For a run: a jog still going is cancelled first, as the machine would
    // go on with it after its sender has gone.
    void release()
    {
        // What the window last heard may be older than a jog just sent:
        // cancel whatever jog there is and wait for the machine to be still.
        if (m_link && m_state.open) {
            // A cancel overtakes the lines still in the machine's buffer:
            // it must come after the jog has been taken.
            const auto deadline = Clock::now() + m_config.timing.reply;
            while (!m_link->idle() && Clock::now() < deadline && m_link->pump(10ms))
                m_link->take();
            m_link->realtime(grbl::kJogCancel);
            m_link->realtime(grbl::kStatusQuery);
            // A report asked for before the cancel may still be on its way:
            // two still ones in a row, each asked for after the last.
            int still = 0;
            while (still < 2 && Clock::now() < deadline && m_link->pump(10ms))
                for (const grbl::Reply &r : m_link->take()) {
                    if (r.kind != grbl::Reply::StatusReport)
                        continue;
                    const QString state = r.status->base();
                    const bool moving = state == QLatin1String("Jog") || state == QLatin1String("Run")
                        || state == QLatin1String("Home");
                    still = moving ? 0 : still + 1;
                    m_link->realtime(grbl::kStatusQuery);
                }
        }
        close();
    }

    void close()
    {
        m_timer->stop();
        m_link.reset();
        m_pending = 0;
        m_homingBy.reset();
        m_state.open = m_state.busy = false;
        m_state.state.clear();
        publish();
    }

    void send(const QByteArray &line)
    {
        if (!ready())
            return;
        // A limit alarm takes nothing but a reset: the line follows the banner.
        if (m_critical && (line == "$H" || line == "$X")) {
            m_afterReset = line;
            m_link->realtime(grbl::kSoftReset);
            return;
        }
        QString error;
        if (!m_link->send(line, &error))
            return publish(error);
        ++m_pending;
        if (line == "$H")
            m_homingBy = Clock::now() + homingDeadline(m_config.timing, m_frame);
        m_state.problem.clear();
        m_state.busy = true;
        m_askBy = Clock::now();
        publish();
    }

    void jog(double dx, double dy, double dz)
    {
        if (!ready())
            return;
        // GRBL would refuse a jog beyond its travel only with soft limits
        // on; refuse it here whatever the machine's settings.
        grbl::Status now;
        now.state = m_state.state;
        now.mpos = m_state.position;
        const QString problem = jogProblem(m_frame, now, dx, dy, dz);
        if (!problem.isEmpty() && now.base() == QLatin1String("Alarm"))
            return publish(problem);
        if (!m_state.homed)
            return publish(tr("home the machine first: until then its position means nothing"));
        if (!problem.isEmpty())
            return publish(problem);
        if ((dx != 0 || dy != 0) && !lifted(m_config, *now.mpos))
            return publish(tr("lift the tip to the safe height (Z %1) first: a move in X or Y would "
                              "drag it across the board")
                               .arg(m_config.safeZ));
        send(jogLine(dx, dy, dz, dz != 0 ? m_config.contactFeed : m_config.xyFeed));
    }

    void halt()
    {
        if (!m_link)
            return;
        const bool held = m_link->halt(m_config.timing.reply);
        m_pending = 0;
        m_homingBy.reset();
        m_state.busy = false;
        m_state.homed = m_state.homed && held;
        if (!held)
            m_state.problem = tr("stopped while moving: the machine must be homed again");
        if (m_link->lost())
            return lose();
        m_askBy = Clock::now();
        publish();
    }

signals:
    void changed(const motion::MachineState &state);

private:
    bool ready()
    {
        if (m_link && m_state.open)
            return true;
        publish(tr("the machine is not connected"));
        return false;
    }

    void publish(const QString &problem = {})
    {
        if (!problem.isEmpty())
            m_state.problem = problem;
        if (!same(m_state, m_published)) {
            m_published = m_state;
            emit changed(m_state);
        }
    }

    void lose()
    {
        const QString why = tr("the line to the machine was lost (%1)").arg(m_link->lostReason());
        close();
        publish(why);
    }

    void tick()
    {
        if (!m_link)
            return;
        if (!m_link->pump())
            return lose();
        for (const grbl::Reply &r : m_link->take())
            handle(r);
        const auto now = Clock::now();
        if (!m_state.open && now > m_greetBy) {
            if (m_resets++ > 0) {
                const QString why = tr("%1 does not answer as a GRBL 1.1 machine").arg(m_config.url);
                close();
                return publish(why);
            }
            m_link->realtime(grbl::kSoftReset);
            m_greetBy = now + kGreeting;
        }
        if (m_homingBy && now > *m_homingBy) {
            halt();
            return publish(tr("homing did not end within %1 s; the machine was halted")
                               .arg(homingDeadline(m_config.timing, m_frame).count() / 1000));
        }
        // A report a tenth of a second while anything moves, as a sender's
        // position display asks; four a second while still.
        if (m_state.open && now >= m_askBy) {
            m_link->realtime(grbl::kStatusQuery);
            const bool moving = m_state.busy || m_state.state != QLatin1String("Idle");
            m_askBy = now + (moving ? 100ms : 250ms);
        }
        publish();
    }

    void handle(const grbl::Reply &r)
    {
        switch (r.kind) {
        case grbl::Reply::Banner:
            if (!m_state.open) {
                m_state.open = true;
                m_state.homed = m_wasHomed;
                // The machine's frame, for refusing jogs beyond its travel.
                m_link->send("$$");
                m_link->send("$I");
                m_pending += 2;
            }
            m_critical = false;
            if (!m_afterReset.isEmpty())
                send(std::exchange(m_afterReset, {}));
            m_askBy = Clock::now();
            break;
        case grbl::Reply::Message:
            m_critical = m_critical || grbl::needsReset(r);
            break;
        case grbl::Reply::Setting:
        case grbl::Reply::Options:
            m_frame.take(r);
            if (r.kind == grbl::Reply::Options && !m_frame.softLimits())
                m_state.problem = m_frame.softLimitsWarning();
            break;
        case grbl::Reply::Ok:
        case grbl::Reply::Error:
            m_pending = std::max(0, m_pending - 1);
            if (r.answers == "$H") {
                m_homingBy.reset();
                m_state.homed = r.kind == grbl::Reply::Ok;
                // Homing's ok comes once the machine is idle, before its next report says so.
                if (m_state.homed)
                    m_state.state = QStringLiteral("Idle");
            }
            if (r.kind == grbl::Reply::Error)
                m_state.problem = tr("'%1' refused: %2")
                                      .arg(QString::fromLatin1(r.answers), grbl::refusalText(r.code));
            m_state.busy = m_pending > 0;
            break;
        case grbl::Reply::Alarm:
            // A soft limit keeps the position (unlock with $X); every other
            // alarm may have lost steps.
            m_state.homed = m_state.homed && r.code == 2;
            m_state.problem = tr("ALARM:%1 (%2); %3").arg(r.code).arg(grbl::alarmText(r.code), grbl::alarmWayOn(r.code));
            m_homingBy.reset();
            break;
        case grbl::Reply::StatusReport:
            if (r.status->state != m_state.state && !grbl::pauseText(r.status->state).isEmpty())
                m_state.problem = grbl::pauseText(r.status->state);
            m_state.state = r.status->state;
            if (r.status->mpos)
                m_state.position = r.status->mpos;
            // A machine that starts in alarm wants homing, whatever we knew.
            if (r.status->base() == QLatin1String("Alarm"))
                m_state.homed = m_state.homed && m_state.problem.startsWith(QLatin1String("ALARM:2 "));
            break;
        default:
            break;
        }
    }

    QTimer *m_timer;
    std::unique_ptr<GrblLink> m_link;
    GantryConfig m_config;
    MachineState m_state;
    MachineState m_published;
    MachineFrame m_frame;
    bool m_critical = false; // a limit alarm: only a reset is heard
    QByteArray m_afterReset; // $H or $X, sent once the reset's banner came
    Clock::time_point m_greetBy {};
    Clock::time_point m_askBy {};
    std::optional<Clock::time_point> m_homingBy;
    int m_resets = 0;
    int m_pending = 0; // lines sent and not yet acknowledged
    bool m_wasHomed = false;
};

Machine::Machine(QObject *parent)
    : QObject(parent)
    , m_worker(new MachineWorker)
{
    m_thread.setObjectName(QStringLiteral("machine"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &MachineWorker::changed, this, [this](const MachineState &s) {
        m_state = s;
        emit changed(s);
    });
    m_thread.start();
}

Machine::~Machine()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->close(); });
    m_thread.quit();
    m_thread.wait();
}

bool Machine::open(const QString &proberUrl, QString *error)
{
    GantryConfig config;
    if (!parseProberUrl(proberUrl, &config, error))
        return false;
    m_config = config;
    // A line taken back after a run keeps the machine's homing, unless the
    // machine says otherwise (an alarm) once it answers.
    const bool homed = m_state.homed && m_state.url == config.url;
    QMetaObject::invokeMethod(m_worker, [w = m_worker, config, homed] { w->open(config, homed); });
    return true;
}

void Machine::close()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->close(); });
}

void Machine::release()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->release(); }, Qt::BlockingQueuedConnection);
    // Closed now, not once the worker's word of it arrives.
    m_state.open = m_state.busy = false;
    m_state.state.clear();
    emit changed(m_state);
}

void Machine::home()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->send("$H"); });
}

void Machine::unlock()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->send("$X"); });
}

void Machine::jog(double dx, double dy, double dz)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, dx, dy, dz] { w->jog(dx, dy, dz); });
}

void Machine::halt()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->halt(); });
}

} // namespace motion

#include "machine.moc"
