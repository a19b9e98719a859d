#pragma once

#include "ftp/ftpclient.h"
#include "ftp/socketdisposal.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QIODevice;
class QTcpSocket;

// The data connection of one transfer or listing, in passive mode: streams
// between the socket and a device chunk by chunk, so memory use does not
// depend on the size of the file.
//
// Signals are not emitted after close(); the owner may call close() from a
// slot connected to any of them.
class FtpDataChannel : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Download, Upload, Listing };

    // Bytes moved between the socket and the device in one go; an upload
    // keeps at most one chunk queued in the socket.
    static constexpr qint64 chunkSize = 512 * 1024;
    // Chunks read per turn of the event loop, at most.
    static constexpr int chunksPerTurn = 8;
    // A listing line longer than this is dropped.
    static constexpr int maxListingLineLength = 8 * 1024;

    explicit FtpDataChannel(QObject *parent = nullptr);
    ~FtpDataChannel() override;

    // Connects to host:port and, for Download and Upload, moves the data to
    // or from `device`, which must be open. A download or listing may receive
    // at most `limit` bytes (-1: no limit): data beyond it is never
    // delivered; the channel closes and emits limitPassed() instead.
    void open(Mode mode, const QHostAddress &host, quint16 port, QIODevice *device = nullptr,
              qint64 limit = -1);
    // An upload sends only once the server has accepted the STOR command.
    void startSending();
    // Drops the connection without further signals.
    void close();

    qint64 bytesDone() const { return m_bytesDone; }

signals:
    // Data moved: `bytes` in total so far (written to the device, or sent).
    void progress(qint64 bytes);
    void listingLine(const QByteArray &line);
    // The data connection ended normally and all its data was delivered;
    // for an upload, every byte of the device was handed to the system.
    void finished();
    // `kind`: ConnectionLost or LocalFileError.
    void failed(FtpClient::Error kind, const QString &reason);
    // More data arrived than the limit allows; the channel is closed.
    void limitPassed();

private:
    void onConnected();
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void onError();
    bool readAvailable();
    void finishData();
    bool deliverListing(const char *data, qint64 size, bool atEnd);
    void fillUpload();
    void fail(FtpClient::Error kind, const QString &reason);

    Mode m_mode = Mode::Download;
    QTcpSocket *m_socket = nullptr;
    SocketDisposal m_disposal;
    QPointer<QIODevice> m_device;
    QByteArray m_buffer;
    QByteArray m_line;
    bool m_skippingLine = false;
    bool m_connected = false;
    bool m_sendingAllowed = false;
    bool m_sourceDone = false;
    qint64 m_bytesDone = 0;
    qint64 m_bytesQueued = 0;
    qint64 m_limit = -1;
    quint64 m_generation = 0;
};
