#pragma once

#include "ratelimiter.h"
#include "transferlimits.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QFile;
class QTcpSocket;

// Writes what arrives on a data connection into an open file (STOR) until
// the client closes the connection. Reads no faster than the file is
// written and the rate allows; the socket's bounded read buffer makes TCP
// push back on the client.
class ReceiveTransfer : public QObject
{
    Q_OBJECT

public:
    ReceiveTransfer(QTcpSocket *socket, std::unique_ptr<QFile> target, const TransferLimits &limits,
                    QObject *parent = nullptr);
    ~ReceiveTransfer() override;

    void start();

signals:
    void finished(TransferOutcome outcome, const QString &detail);

private:
    void pump();
    bool store(const QByteArray &wire);
    void finish(TransferOutcome outcome, const QString &detail);

    QTcpSocket *m_socket;
    std::unique_ptr<QFile> m_target;
    TransferLimits m_limits;
    RateLimiter m_limiter;
    QTimer m_paceTimer;
    qint64 m_received = 0;
    bool m_pendingCr = false;   // TYPE A: a CR whose LF may come in the next chunk
    bool m_peerClosed = false;
    bool m_finished = false;
};
