#include "sim/replyscheduler.h"

#include <QPointer>
#include <QTcpSocket>

#include <algorithm>

ReplyScheduler::ReplyScheduler(QTcpSocket *socket, QObject *parent) : QObject(parent), m_socket(socket)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplyScheduler::flushDue);
}

void ReplyScheduler::send(const QByteArray &reply, int delayMsecs, Continuation afterSent)
{
    const qint64 now = m_clock.elapsed();
    // A later reply never overtakes an earlier one, even if the delay shrank.
    const qint64 due = std::max(now + std::max(0, delayMsecs), m_lastDue);
    m_lastDue = due;
    m_queue.push_back({ due, reply, std::move(afterSent) });
    if (due <= now && m_queue.size() == 1)
        flushDue();
    else
        arm();
}

void ReplyScheduler::clear()
{
    m_queue.clear();
    m_timer.stop();
}

void ReplyScheduler::flushDue()
{
    QPointer<ReplyScheduler> alive(this);
    while (alive && !m_queue.empty() && m_queue.front().due <= m_clock.elapsed()) {
        Pending next = std::move(m_queue.front());
        m_queue.pop_front();
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->write(next.bytes);
        if (next.afterSent)
            next.afterSent();
    }
    if (alive)
        arm();
}

void ReplyScheduler::arm()
{
    if (m_queue.empty()) {
        m_timer.stop();
        return;
    }
    m_timer.start(int(std::max<qint64>(0, m_queue.front().due - m_clock.elapsed())));
}
