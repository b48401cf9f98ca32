#include "frameupdate.h"

FrameUpdate::FrameUpdate(std::function<void()> update, QObject *parent, int intervalMs)
    : QObject(parent)
    , m_update(std::move(update))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::CoarseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &FrameUpdate::run);
}

void FrameUpdate::request()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void FrameUpdate::flush()
{
    if (m_timer.isActive())
        run();
}

void FrameUpdate::run()
{
    m_timer.stop();
    m_update();
}
