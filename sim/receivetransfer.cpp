#include "sim/receivetransfer.h"

#include <QFile>
#include <QTcpSocket>

#include <algorithm>

namespace {
constexpr qint64 chunkBytes = 64 * 1024;
}

ReceiveTransfer::ReceiveTransfer(QTcpSocket *socket, std::unique_ptr<QFile> target, const TransferLimits &limits,
                                 QObject *parent)
    : QObject(parent), m_socket(socket), m_target(std::move(target)), m_limits(limits), m_limiter(limits.bytesPerSecond)
{
    m_socket->setParent(this);
    m_paceTimer.setSingleShot(true);
    connect(&m_paceTimer, &QTimer::timeout, this, &ReceiveTransfer::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &ReceiveTransfer::pump);
    connect(m_socket, &QTcpSocket::readChannelFinished, this, [this] {
        m_peerClosed = true;
        pump();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_peerClosed = true;
        pump();
    });
}

ReceiveTransfer::~ReceiveTransfer()
{
    m_socket->disconnect(this);
    m_socket->abort();
    closeTarget();
}

void ReceiveTransfer::start()
{
    m_limiter.start();
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        m_peerClosed = true;
    pump();
}

void ReceiveTransfer::pump()
{
    if (m_finished)
        return;
    // Where a fault stops reading: a cut tells the client, a short store
    // claims success.
    const bool cut = m_limits.cutAfterBytes >= 0;
    const qint64 stopAt = cut ? m_limits.cutAfterBytes : m_limits.shortStoreBytes;
    while (m_socket->bytesAvailable() > 0) {
        qint64 step = std::min(chunkBytes, m_socket->bytesAvailable());
        if (stopAt >= 0)
            step = std::min(step, stopAt - m_received);
        if (step > 0 && m_limiter.isLimited()) {
            const qint64 allowed = m_limiter.allowance(m_received);
            const qint64 wanted = std::min(step, m_limiter.preferredStep(chunkBytes));
            if (allowed < wanted) {
                m_paceTimer.start(m_limiter.msecsUntil(m_received, wanted));
                return;
            }
            step = std::min(step, allowed);
        }
        if (step <= 0)
            break;
        const QByteArray wire = m_socket->read(step);
        m_received += wire.size();
        if (!store(wire))
            return;
    }
    if (stopAt >= 0 && m_received >= stopAt && (m_socket->bytesAvailable() > 0 || !m_peerClosed)) {
        // What arrived up to here stays written, as on a real server.
        finish(cut ? TransferOutcome::Cut : TransferOutcome::Completed, QString());
        m_socket->abort();
        return;
    }
    if (m_peerClosed && m_socket->bytesAvailable() == 0) {
        if (m_pendingCr && !store(QByteArray()))
            return;
        finish(TransferOutcome::Completed, QString());
    }
}

bool ReceiveTransfer::store(const QByteArray &wire)
{
    QByteArray bytes;
    if (m_limits.asciiLineEnds) {
        bytes.reserve(wire.size() + 1);
        for (char c : wire) {
            if (m_pendingCr && c != '\n')
                bytes += '\r';
            m_pendingCr = c == '\r';
            if (!m_pendingCr)
                bytes += c;
        }
        if (wire.isEmpty() && m_pendingCr) {
            bytes += '\r';
            m_pendingCr = false;
        }
    } else {
        bytes = wire;
    }
    if (m_target->write(bytes) != bytes.size()) {
        finish(TransferOutcome::LocalError, m_target->errorString());
        m_socket->abort();
        return false;
    }
    m_stored += bytes.size();
    return true;
}

// Cuts off what is left of the old content; false when that fails.
bool ReceiveTransfer::closeTarget()
{
    if (!m_target->isOpen())
        return true;
    const bool cut = m_target->resize(m_stored);
    m_target->close();
    return cut;
}

void ReceiveTransfer::finish(TransferOutcome outcome, const QString &detail)
{
    if (m_finished)
        return;
    m_finished = true;
    m_paceTimer.stop();
    if (!closeTarget() && outcome == TransferOutcome::Completed)
        outcome = TransferOutcome::LocalError;
    QMetaObject::invokeMethod(this, [this, outcome, detail] { emit finished(outcome, detail); }, Qt::QueuedConnection);
}
