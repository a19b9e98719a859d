#include "ftp/timelimit.h"

TimeLimit::TimeLimit(QObject *context, std::function<void()> expired)
    : m_expired(std::move(expired))
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, context, [this] { check(); });
}

void TimeLimit::start(int msecs)
{
    m_msecs = msecs;
    m_since.start();
    m_timer.start(msecs);
}

// The timer is not restarted for every chunk; it looks at the last restart
// when it fires.
void TimeLimit::restart()
{
    if (m_timer.isActive())
        m_since.start();
}

void TimeLimit::stop()
{
    m_timer.stop();
}

QString TimeLimit::text() const
{
    return m_msecs % 1000 == 0 ? QStringLiteral("%1 s").arg(m_msecs / 1000) : QStringLiteral("%1 ms").arg(m_msecs);
}

void TimeLimit::check()
{
    const qint64 left = m_msecs - m_since.elapsed();
    if (left > 0) {
        m_timer.start(int(left));
        return;
    }
    m_expired();
}
