#include "hostileftpserver.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

namespace {

constexpr qint64 chunkSize = 64 * 1024;
constexpr qint64 highWater = 1024 * 1024;

QByteArray listingLine(qint64 size, const QByteArray &name)
{
    return "-rw-r--r--   1 root     root     " + QByteArray::number(size) + " Jan  1 12:00 " + name + "\r\n";
}

} // namespace

const QStringList HostileFtpServer::folders = {
    QString(), QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1"), QStringLiteral("TEXT"),
    QStringLiteral("FONTS")};

HostileFtpServer::HostileFtpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_dataServer(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HostileFtpServer::onNewConnection);
    connect(m_dataServer, &QTcpServer::newConnection, this, &HostileFtpServer::onNewDataConnection);
}

HostileFtpServer::~HostileFtpServer()
{
    if (m_control)
        m_control->abort();
    if (m_data)
        m_data->abort();
}

bool HostileFtpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost) && m_dataServer->listen(QHostAddress::LocalHost);
}

quint16 HostileFtpServer::port() const
{
    return m_server->serverPort();
}

void HostileFtpServer::addFile(const QString &folder, const QByteArray &name, const QByteArray &content)
{
    m_files[folder].append({name, content});
}

void HostileFtpServer::addListingLines(const QString &folder, const QByteArray &lines)
{
    m_extraLines[folder] += lines;
}

void HostileFtpServer::setPassiveAddress(const QByteArray &address)
{
    m_passiveAddress = address;
}

void HostileFtpServer::setEndlessReply(const QByteArray &line, Endless kind)
{
    m_endlessLine = line;
    m_endlessKind = kind;
}

QList<QByteArray> HostileFtpServer::retrieved() const
{
    QList<QByteArray> names;
    for (const QByteArray &line : m_lines) {
        if (line.startsWith("RETR "))
            names << line.mid(5);
    }
    return names;
}

void HostileFtpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_control)
            m_control->abort();
        m_control = socket;
        m_input.clear();
        m_cwd.clear();
        connect(socket, &QTcpSocket::readyRead, this, &HostileFtpServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        reply("220 hostile server ready");
    }
}

void HostileFtpServer::onNewDataConnection()
{
    while (QTcpSocket *socket = m_dataServer->nextPendingConnection()) {
        m_dataPeers << socket->peerAddress();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_waitingData << socket;
    }
    runTransfer();
}

void HostileFtpServer::onReadyRead()
{
    QTcpSocket *socket = qobject_cast<QTcpSocket *>(sender());
    if (socket != m_control)
        return;
    m_input += socket->readAll();
    int end;
    while (m_control == socket && (end = m_input.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_input.left(end);
        m_input.remove(0, end + 2);
        handle(line);
    }
}

void HostileFtpServer::reply(const QByteArray &line)
{
    if (m_control)
        m_control->write(line + "\r\n");
}

void HostileFtpServer::handle(const QByteArray &line)
{
    m_lines << line;
    const int blank = line.indexOf(' ');
    const QByteArray verb = (blank < 0 ? line : line.left(blank)).toUpper();
    const QByteArray argument = blank < 0 ? QByteArray() : line.mid(blank + 1);

    if (!m_endlessLine.isEmpty() && line == m_endlessLine) {
        m_control->write(m_endlessKind == Endless::MultiLineReply ? "250-This reply goes on\r\n" : "250 ");
        connect(m_control, &QTcpSocket::bytesWritten, this, &HostileFtpServer::pumpEndlessReply);
        connect(m_control, &QTcpSocket::disconnected, this, [this] {
            if (m_endlessSent < endlessCap)
                m_endlessStoppedByClient = true;
        });
        pumpEndlessReply();
        return;
    }

    if (verb == "USER") {
        reply("331 Password please");
    } else if (verb == "PASS") {
        reply("230 Logged in");
    } else if (verb == "TYPE") {
        reply("200 Type set");
    } else if (verb == "CWD") {
        const QString folder = QString::fromUtf8(argument);
        if (argument == " ..") {
            m_cwd.clear();
            reply("250 Top folder");
        } else if (m_cwd.isEmpty() && !folder.isEmpty() && folders.contains(folder)) {
            m_cwd = folder;
            reply("250 Folder changed");
        } else {
            reply("550 No such folder");
        }
    } else if (verb == "EPSV") {
        if (m_passiveAddress.isEmpty())
            reply("229 Entering Extended Passive Mode (|||" + QByteArray::number(m_dataServer->serverPort()) + "|)");
        else
            reply("502 Use PASV");
    } else if (verb == "PASV") {
        const quint16 port = m_dataServer->serverPort();
        const QByteArray address = m_passiveAddress.isEmpty() ? QByteArray("127,0,0,1") : m_passiveAddress;
        reply("227 Entering Passive Mode (" + address + "," + QByteArray::number(port / 256) + ","
              + QByteArray::number(port % 256) + ")");
    } else if (verb == "SIZE" || verb == "RETR") {
        std::optional<QByteArray> content;
        for (const auto &file : m_files.value(m_cwd)) {
            if (file.first == argument)
                content = file.second;
        }
        if (!content)
            reply("550 No such file");
        else if (verb == "SIZE")
            reply("213 " + QByteArray::number(content->size()));
        else
            startTransfer(*content);
    } else if (verb == "LIST") {
        startTransfer(listingOf(m_cwd));
    } else if (verb == "QUIT") {
        reply("221 Goodbye");
        m_control->disconnectFromHost();
    } else {
        reply("502 Not implemented");
    }
}

QByteArray HostileFtpServer::listingOf(const QString &folder) const
{
    QByteArray listing;
    // The top folder shows the instrument's folders, as the instrument does.
    if (folder.isEmpty()) {
        for (const char *name : {"DATA", "FONTS", "TEXT"})
            listing += "drwxr-xr-x   2 root     root     4096 Jan  1 12:00 " + QByteArray(name) + "\r\n";
    }
    for (const auto &file : m_files.value(folder))
        listing += listingLine(file.second.size(), file.first);
    return listing + m_extraLines.value(folder);
}

void HostileFtpServer::startTransfer(const QByteArray &payload)
{
    m_transferPending = true;
    m_payload = payload;
    reply("150 Here it comes");
    runTransfer();
}

void HostileFtpServer::runTransfer()
{
    if (!m_transferPending)
        return;
    while (!m_waitingData.isEmpty() && !m_data) {
        QPointer<QTcpSocket> candidate = m_waitingData.takeFirst();
        if (candidate && candidate->state() == QAbstractSocket::ConnectedState)
            m_data = candidate;
    }
    if (!m_data)
        return;
    m_transferPending = false;
    QTcpSocket *data = m_data;
    const QPointer<QTcpSocket> control = m_control;
    connect(data, &QTcpSocket::disconnected, this, [this, control] {
        if (control && control == m_control)
            reply("226 Transfer complete");
    });
    data->write(m_payload);
    m_data = nullptr;
    data->disconnectFromHost();
}

void HostileFtpServer::pumpEndlessReply()
{
    if (!m_control || m_control->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_control->bytesToWrite() < highWater && m_endlessSent < endlessCap) {
        QByteArray chunk;
        if (m_endlessKind == Endless::MultiLineReply) {
            while (chunk.size() < chunkSize)
                chunk += " and on and on\r\n";
        } else {
            chunk = QByteArray(chunkSize, 'x');
        }
        m_control->write(chunk);
        m_endlessSent += chunk.size();
    }
}
