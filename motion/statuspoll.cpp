#include "statuspoll.h"

#include "grbllink.h"

namespace motion {

QString where(const grbl::MachinePoint &p)
{
    return QStringLiteral("X%1 Y%2 Z%3")
        .arg(QString::fromLatin1(grbl::number(p.x)), QString::fromLatin1(grbl::number(p.y)),
            QString::fromLatin1(grbl::number(p.z)));
}

void StatusPoll::ask(GrblLink &link, Clock::time_point now)
{
    link.realtime(grbl::kStatusQuery);
    m_askNow = false;
    if (!m_asked)
        m_firstAsk = now;
    m_asked = true;
    m_askedAt = now;
    ++m_asks;
    ++m_sent;
}

void StatusPoll::tick(GrblLink &link, const Timing &timing, Clock::time_point now)
{
    if (m_askNow || (m_asked ? now - m_askedAt >= timing.reply : now >= m_next))
        ask(link, now);
}

bool StatusPoll::heard(
    const grbl::Status &status, Clock::time_point now, std::chrono::milliseconds period)
{
    m_last = status;
    ++m_heard;
    const bool fresh = m_heard > m_freshFrom;
    // A late answer to an old `?` shows the machine alive, not where it is now.
    m_asked = m_asked && !fresh;
    if (fresh) {
        m_asks = 0;
        m_next = now + period;
    }
    return fresh;
}

QString StatusPoll::lastState() const
{
    if (!m_last)
        return tr("the machine sent no status report");
    return m_last->mpos ? tr("its last report: %1 at %2").arg(m_last->state, where(*m_last->mpos))
                        : tr("its last report: %1").arg(m_last->state);
}

} // namespace motion
