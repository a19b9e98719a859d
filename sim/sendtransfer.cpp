#include "sim/sendtransfer.h"

#include <QIODevice>
#include <QTcpSocket>

#include <algorithm>

namespace {
constexpr qint64 chunkBytes = 64 * 1024;
constexpr qint64 socketHighWater = 256 * 1024;

QByteArray toCrLf(const QByteArray &bytes, bool *lastWasCr)
{
    QByteArray wire;
    wire.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n' && !*lastWasCr)
            wire += '\r';
        wire += c;
        *lastWasCr = c == '\r';
    }
    return wire;
}
} // namespace

SendTransfer::SendTransfer(QTcpSocket *socket, std::unique_ptr<QIODevice> source, const TransferLimits &limits,
                           QObject *parent)
    : QObject(parent), m_socket(socket), m_source(std::move(source)), m_limits(limits), m_limiter(limits.bytesPerSecond)
{
    m_socket->setParent(this);
    m_paceTimer.setSingleShot(true);
    connect(&m_paceTimer, &QTimer::timeout, this, &SendTransfer::pump);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &SendTransfer::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &SendTransfer::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!m_closing)
            finish(TransferOutcome::PeerClosed, m_socket->errorString());
    });
}

SendTransfer::~SendTransfer()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

void SendTransfer::start()
{
    m_limiter.start();
    pump();
}

void SendTransfer::pump()
{
    if (m_finished || m_closing)
        return;
    while (m_socket->bytesToWrite() < socketHighWater) {
        if (m_pending.isEmpty() && !refill())
            return;
        if (m_pending.isEmpty()) {
            closeAfterFlush(TransferOutcome::Completed);
            return;
        }
        qint64 step = m_pending.size();
        if (m_limits.cutAfterBytes >= 0) {
            if (m_sent >= m_limits.cutAfterBytes) {
                closeAfterFlush(TransferOutcome::Cut);
                return;
            }
            step = std::min(step, m_limits.cutAfterBytes - m_sent);
        }
        if (m_limiter.isLimited()) {
            const qint64 allowed = m_limiter.allowance(m_sent);
            const qint64 wanted = std::min(step, m_limiter.preferredStep(chunkBytes));
            if (allowed < wanted) {
                m_paceTimer.start(m_limiter.msecsUntil(m_sent, wanted));
                return;
            }
            step = std::min(step, allowed);
        }
        const qint64 written = m_socket->write(m_pending.constData(), step);
        if (written <= 0) {
            finish(TransferOutcome::PeerClosed, m_socket->errorString());
            return;
        }
        m_pending.remove(0, int(written));
        m_sent += written;
    }
}

// Reads the next chunk; false after a read error (already reported).
bool SendTransfer::refill()
{
    if (m_source->atEnd())
        return true;
    const QByteArray bytes = m_source->read(chunkBytes);
    if (bytes.isEmpty() && !m_source->atEnd()) {
        finish(TransferOutcome::LocalError, m_source->errorString());
        return false;
    }
    m_pending = m_limits.asciiLineEnds ? toCrLf(bytes, &m_lastWasCr) : bytes;
    return true;
}

void SendTransfer::closeAfterFlush(TransferOutcome outcome)
{
    m_closing = true;
    m_closingOutcome = outcome;
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
}

void SendTransfer::onDisconnected()
{
    if (m_closing)
        finish(m_closingOutcome, QString());
    else
        finish(TransferOutcome::PeerClosed, QStringLiteral("The client closed the data connection"));
}

void SendTransfer::finish(TransferOutcome outcome, const QString &detail)
{
    if (m_finished)
        return;
    m_finished = true;
    m_paceTimer.stop();
    // Reported from the event loop, so that no caller is re-entered.
    QMetaObject::invokeMethod(this, [this, outcome, detail] { emit finished(outcome, detail); }, Qt::QueuedConnection);
}
