#include "ftp/datachannel.h"

#include <QIODevice>
#include <QTcpSocket>

FtpDataChannel::FtpDataChannel(QObject *parent)
    : QObject(parent)
{
}

FtpDataChannel::~FtpDataChannel()
{
    close();
}

void FtpDataChannel::open(Mode mode, const QHostAddress &host, quint16 port, QIODevice *device, qint64 limit)
{
    close();
    m_mode = mode;
    m_device = device;
    m_limit = limit;
    m_socket = new QTcpSocket(this);
    if (m_buffer.size() != chunkSize)
        m_buffer.resize(chunkSize);

    const auto handle = [this](void (FtpDataChannel::*handler)()) {
        return [this, handler] {
            SocketDisposal::Scope scope(m_disposal);
            (this->*handler)();
        };
    };
    connect(m_socket, &QTcpSocket::connected, this, handle(&FtpDataChannel::onConnected));
    connect(m_socket, &QTcpSocket::readyRead, this, handle(&FtpDataChannel::onReadyRead));
    connect(m_socket, &QTcpSocket::bytesWritten, this, handle(&FtpDataChannel::onBytesWritten));
    connect(m_socket, &QTcpSocket::disconnected, this, handle(&FtpDataChannel::onDisconnected));
    connect(m_socket, &QTcpSocket::errorOccurred, this, handle(&FtpDataChannel::onError));
    // Unbuffered: the data goes between the system and our chunk buffer
    // directly, instead of through a copy in the socket's own buffer first.
    // The socket then reports the end of the data only to the read that
    // meets it (see readAvailable()).
    m_socket->connectToHost(host, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void FtpDataChannel::startSending()
{
    m_sendingAllowed = true;
    if (m_connected)
        fillUpload();
}

void FtpDataChannel::close()
{
    ++m_generation;
    if (m_socket) {
        m_disposal.retire(m_socket, this);
        m_socket = nullptr;
    }
    m_device = nullptr;
    m_line.clear();
    m_skippingLine = false;
    m_connected = false;
    m_sendingAllowed = false;
    m_sourceDone = false;
    m_bytesDone = 0;
    m_bytesQueued = 0;
    m_limit = -1;
}

void FtpDataChannel::onConnected()
{
    m_connected = true;
    if (m_mode == Mode::Upload && m_sendingAllowed)
        fillUpload();
}

void FtpDataChannel::onReadyRead()
{
    readAvailable();
}

// Moves what has arrived to the device or the listing, a bounded amount per
// call so that a fast network cannot hold up the event loop: the socket
// asks again while data waits. False when the channel ended, failed or was
// closed meanwhile.
bool FtpDataChannel::readAvailable()
{
    if (m_mode == Mode::Upload) {
        if (m_socket && m_socket->isOpen())
            m_socket->skip(m_socket->bytesAvailable()); // nothing is due from the server
        return true;
    }
    const quint64 generation = m_generation;
    const qint64 before = m_bytesDone;
    bool atEnd = false;
    for (int chunks = 0; m_socket && chunks < chunksPerTurn; ++chunks) {
        // Up to one byte beyond the limit is read, to learn that it was
        // passed (compared first: a limit near 2^63 must not overflow).
        const qint64 room = m_limit < 0 || m_limit - m_bytesDone >= chunkSize ? chunkSize
                                                                              : m_limit - m_bytesDone + 1;
        const qint64 n = m_socket->read(m_buffer.data(), room);
        if (n == 0)
            break; // all that has arrived so far
        if (n < 0) {
            // An unbuffered socket meets the end of the data here, and then
            // resets itself without emitting disconnected().
            if (m_socket->error() != QAbstractSocket::RemoteHostClosedError) {
                fail(FtpClient::ConnectionLost, tr("Data connection failed: %1").arg(m_socket->errorString()));
                return false;
            }
            atEnd = true;
            break;
        }
        if (m_limit >= 0 && n > m_limit - m_bytesDone) {
            // Nothing of this read is delivered: no byte beyond the limit
            // reaches the device.
            close();
            emit limitPassed();
            return false;
        }
        if (m_mode == Mode::Listing) {
            m_bytesDone += n;
            if (!deliverListing(m_buffer.constData(), n, false))
                return false;
            continue;
        }
        if (!m_device) {
            fail(FtpClient::LocalFileError, tr("The local file was deleted"));
            return false;
        }
        // A disk that fills up takes part of a write without a word; only
        // the next write tells why, in the system's own words.
        for (qint64 written = 0; written < n;) {
            const qint64 result = m_device->write(m_buffer.constData() + written, n - written);
            if (result <= 0) {
                fail(FtpClient::LocalFileError, tr("Writing the local file failed: %1").arg(m_device->errorString()));
                return false;
            }
            written += result;
        }
        m_bytesDone += n;
    }
    if (m_bytesDone != before) {
        emit progress(m_bytesDone);
        if (generation != m_generation)
            return false;
    }
    if (atEnd) {
        finishData();
        return false;
    }
    return true;
}

bool FtpDataChannel::deliverListing(const char *data, qint64 size, bool atEnd)
{
    const quint64 generation = m_generation;
    const char *end = data + size;
    while (data < end) {
        const char *newline = static_cast<const char *>(memchr(data, '\n', end - data));
        const char *stop = newline ? newline : end;
        if (!m_skippingLine) {
            if (m_line.size() + (stop - data) > maxListingLineLength + 1) {
                m_line.clear();
                m_skippingLine = true;
            } else {
                m_line.append(data, stop - data);
            }
        }
        if (!newline)
            break;
        data = newline + 1;
        const bool skipped = m_skippingLine;
        m_skippingLine = false;
        if (skipped)
            continue;
        QByteArray line;
        line.swap(m_line);
        emit listingLine(line);
        if (generation != m_generation)
            return false;
    }
    if (atEnd && !m_line.isEmpty() && !m_skippingLine) {
        QByteArray line;
        line.swap(m_line);
        emit listingLine(line);
        if (generation != m_generation)
            return false;
    }
    return true;
}

void FtpDataChannel::onBytesWritten()
{
    if (m_mode != Mode::Upload)
        return;
    if (m_sourceDone)
        m_bytesDone = m_bytesQueued - m_socket->bytesToWrite();
    fillUpload();
}

void FtpDataChannel::fillUpload()
{
    if (!m_socket || m_sourceDone)
        return;
    const quint64 generation = m_generation;
    // A chunk goes straight to the system only while the socket holds
    // nothing back; what the system does not take at once waits in the
    // socket until bytesWritten() asks for more. Bounded per call, so that
    // a fast network cannot hold up the event loop.
    qint64 budget = 8 * chunkSize;
    while (m_socket->bytesToWrite() == 0 && budget > 0) {
        if (!m_device) {
            fail(FtpClient::LocalFileError, tr("The local file was deleted"));
            return;
        }
        const qint64 n = m_device->read(m_buffer.data(), chunkSize);
        if (n < 0) {
            fail(FtpClient::LocalFileError, tr("Reading the local file failed: %1").arg(m_device->errorString()));
            return;
        }
        if (n == 0) {
            m_sourceDone = true;
            break;
        }
        if (m_socket->write(m_buffer.constData(), n) != n) {
            fail(FtpClient::ConnectionLost, tr("Data connection failed: %1").arg(m_socket->errorString()));
            return;
        }
        m_bytesQueued += n;
        budget -= n;
    }
    const qint64 sent = m_bytesQueued - m_socket->bytesToWrite();
    if (sent != m_bytesDone) {
        m_bytesDone = sent;
        emit progress(m_bytesDone);
        if (generation != m_generation)
            return;
    }
    if (m_sourceDone) {
        // Sends what is still queued, then closes; the end of the data
        // connection is the end of the file for the server.
        m_socket->disconnectFromHost();
    } else if (m_socket->bytesToWrite() == 0) {
        // All taken at once: no bytesWritten() will come to ask for more.
        QMetaObject::invokeMethod(this, [this, generation] {
            if (generation == m_generation)
                fillUpload();
        }, Qt::QueuedConnection);
    }
}

void FtpDataChannel::onDisconnected()
{
    if (readAvailable())
        finishData();
}

// The data connection ended: the end of the file or listing; for an upload,
// our own close once everything went out, or the server's close or reset.
void FtpDataChannel::finishData()
{
    if (m_mode == Mode::Listing && !deliverListing(nullptr, 0, true))
        return;
    if (m_mode == Mode::Upload) {
        // A reset empties the socket's buffer without a word: what it still
        // held never went out, whatever bytesToWrite() now says, and the
        // count stays the one taken while the connection lived.
        const bool reset = m_socket->error() != QAbstractSocket::UnknownSocketError;
        if (!reset)
            m_bytesDone = m_bytesQueued - m_socket->bytesToWrite();
        if (reset || !m_sourceDone || m_bytesDone != m_bytesQueued) {
            fail(FtpClient::ConnectionLost, tr("Connection closed after %1 bytes were sent").arg(m_bytesDone));
            return;
        }
    }
    if (m_socket) {
        // Slots of finished() may run a nested event loop: not deleted before
        // this handler has returned.
        m_disposal.retire(m_socket, this);
        m_socket = nullptr;
    }
    emit finished();
}

void FtpDataChannel::onError()
{
    if (!m_socket || m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return; // the end of the data, handled when the socket reports the disconnect
    fail(FtpClient::ConnectionLost, tr("Data connection failed: %1").arg(m_socket->errorString()));
}

void FtpDataChannel::fail(FtpClient::Error kind, const QString &reason)
{
    const qint64 done = m_bytesDone;
    close();
    m_bytesDone = done;
    emit failed(kind, reason);
}
