#pragma once

#include "sim/ratelimiter.h"
#include "sim/transferlimits.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QIODevice;
class QTcpSocket;

// Streams an open device (a file for RETR, the listing for LIST) into a data
// connection, a chunk at a time as the socket drains, so that memory does
// not grow with the file. Closes the connection when done.
class SendTransfer : public QObject
{
    Q_OBJECT

public:
    SendTransfer(QTcpSocket *socket, std::unique_ptr<QIODevice> source, const TransferLimits &limits,
                 QObject *parent = nullptr);
    ~SendTransfer() override;

    void start();

signals:
    void finished(TransferOutcome outcome, const QString &detail);

private:
    void pump();
    bool refill();
    void closeAfterFlush(TransferOutcome outcome);
    void onDisconnected();
    void finish(TransferOutcome outcome, const QString &detail);

    QTcpSocket *m_socket;
    std::unique_ptr<QIODevice> m_source;
    TransferLimits m_limits;
    RateLimiter m_limiter;
    QTimer m_paceTimer;
    QByteArray m_pending;      // wire bytes read but not yet written
    bool m_lastWasCr = false;
    qint64 m_sent = 0;
    bool m_closing = false;
    TransferOutcome m_closingOutcome = TransferOutcome::Completed;
    bool m_finished = false;
};
