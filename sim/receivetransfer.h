#pragma once

#include "sim/ratelimiter.h"
#include "sim/transferlimits.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QFile;
class QTcpSocket;

// Writes what arrives on a data connection into an open file (STOR) until
// the client closes the connection. Reads no faster than the file is
// written and the rate allows; the socket's bounded read buffer makes TCP
// push back on the client.
//
// The file is written over from its start and cut to what was stored when
// the transfer ends, however it ends. Truncating it at the start instead
// costs as much as writing it again for a large file (every page and block
// is freed and allocated anew), and on ext4 a file truncated to nothing is
// also written out to disk when it is closed, before the 226 goes out: the
// client would wait for the stand-in's disk.
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
    bool closeTarget();

    QTcpSocket *m_socket;
    std::unique_ptr<QFile> m_target;
    TransferLimits m_limits;
    RateLimiter m_limiter;
    QTimer m_paceTimer;
    qint64 m_received = 0;
    qint64 m_stored = 0;        // bytes written to the file: its length at the end
    bool m_pendingCr = false;   // TYPE A: a CR whose LF may come in the next chunk
    bool m_peerClosed = false;
    bool m_finished = false;
};
