#include "machinegreeting.h"

#include "grbllink.h"

namespace motion {

namespace {

// A controller whose board resets as its port opens takes a moment to greet.
constexpr auto kBannerWait = std::chrono::milliseconds(2500);

} // namespace

void MachineGreeting::start(const Timing &timing, Clock::time_point now)
{
    *this = MachineGreeting();
    m_timing = timing;
    m_deadline = now + std::max<std::chrono::milliseconds>(timing.reply, kBannerWait);
}

MachineGreeting::State MachineGreeting::fail(const QString &why)
{
    m_why = why;
    return m_state = State::Failed;
}

MachineGreeting::State MachineGreeting::take(
    GrblLink &link, const grbl::Reply &reply, Clock::time_point now)
{
    if (m_state != State::Waiting)
        return m_state;
    switch (reply.kind) {
    case grbl::Reply::Banner:
        if (!reply.text.startsWith(QLatin1String("Grbl 1.1")))
            return fail(tr("the machine says '%1'; only GRBL 1.1 is spoken here").arg(reply.text));
        // Nothing is sent before the banner: a line sent while the machine
        // restarts is lost, and its ok would then answer the next line.
        // A banner during the settings is a restart: ask again.
        m_frame = MachineFrame();
        m_alarmed = false;
        link.send("$$");
        m_step = Step::Settings;
        m_deadline = now + 2 * m_timing.reply;
        break;
    case grbl::Reply::Message:
        if (grbl::needsReset(reply)) {
            if (m_resets++ > 1)
                return fail(tr("the machine stays in a limit alarm, even after a reset"));
            link.realtime(grbl::kSoftReset);
            m_step = Step::Banner;
            m_deadline = now + m_timing.reply;
        } else if (reply.text.contains(QLatin1String("to unlock"))) {
            m_alarmed = true;
        }
        break;
    case grbl::Reply::Setting:
    case grbl::Reply::Options:
        m_frame.take(reply);
        break;
    case grbl::Reply::Ok:
        if (m_step == Step::Settings && reply.answers == "$$") {
            if (!m_frame.complete())
                return fail(tr("the machine did not report its travel ($130 to $132)"));
            link.send("$I");
            m_step = Step::Options;
            m_deadline = now + 2 * m_timing.reply;
        } else if (m_step == Step::Options && reply.answers == "$I") {
            return m_state = State::Done;
        }
        break;
    case grbl::Reply::Error:
        if (reply.answers == "$$" || reply.answers == "$I")
            return fail(tr("the machine refused '%1': %2")
                            .arg(QString::fromLatin1(reply.answers), grbl::refusalText(reply.code)));
        break;
    default:
        break;
    }
    return m_state;
}

MachineGreeting::State MachineGreeting::tick(GrblLink &link, Clock::time_point now)
{
    if (m_state != State::Waiting || now <= m_deadline)
        return m_state;
    const QString ms = QString::number(m_timing.reply.count());
    if (m_step != Step::Banner)
        return fail(tr("the machine did not answer %1 within %2 ms")
                        .arg(m_step == Step::Settings ? QStringLiteral("$$") : QStringLiteral("$I"))
                        .arg(2 * m_timing.reply.count()));
    if (m_resets++ > 0)
        return fail(tr("no GRBL banner within %1 ms, even after a reset").arg(ms));
    // A machine that was already running says nothing: a reset makes it speak.
    link.realtime(grbl::kSoftReset);
    m_deadline = now + std::max<std::chrono::milliseconds>(m_timing.reply, kBannerWait);
    return m_state;
}

} // namespace motion
