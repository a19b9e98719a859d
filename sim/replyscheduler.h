#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

class QTcpSocket;

// Writes the replies of one control connection in order, each held back by
// the reply delay in force when it was queued (LAN latency). Waits on a
// timer, never blocks.
class ReplyScheduler : public QObject
{
    Q_OBJECT

public:
    using Continuation = std::function<void()>;

    explicit ReplyScheduler(QTcpSocket *socket, QObject *parent = nullptr);

    // `afterSent` runs once the reply has been handed to the socket.
    void send(const QByteArray &reply, int delayMsecs, Continuation afterSent = {});
    bool isIdle() const { return m_queue.empty(); }
    void clear();

private:
    struct Pending {
        qint64 due;
        QByteArray bytes;
        Continuation afterSent;
    };

    void flushDue();
    void arm();

    QTcpSocket *m_socket;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<Pending> m_queue;
    qint64 m_lastDue = 0;
};
