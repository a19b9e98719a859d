#include "rawftpclient.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTest>

RawFtpClient::RawFtpClient(QObject *parent) : QObject(parent) {}

RawFtpClient::Reply RawFtpClient::connectTo(quint16 port, int timeoutMs)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs))
        return {};
    return nextReply(timeoutMs);
}

void RawFtpClient::sendLine(const QByteArray &line)
{
    sendRaw(line + "\r\n");
}

void RawFtpClient::sendRaw(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

bool RawFtpClient::takeReply(Reply *reply)
{
    m_buffer += m_socket.readAll();
    // A reply ends with the line "ddd text"; "ddd-" opens a multi-line one.
    int start = 0;
    QByteArray code;
    while (true) {
        const int end = m_buffer.indexOf("\r\n", start);
        if (end < 0)
            return false;
        const QByteArray line = m_buffer.mid(start, end - start);
        if (code.isEmpty()) {
            if (line.size() < 4)
                return false;
            code = line.left(3);
        }
        start = end + 2;
        // "ddd text", or "ddd" with no text.
        if (line == code || (line.startsWith(code) && line.at(3) == ' ')) {
            reply->code = code.toInt();
            reply->text = QString::fromUtf8(line.mid(4));
            m_buffer.remove(0, start);
            return true;
        }
    }
}

RawFtpClient::Reply RawFtpClient::nextReply(int timeoutMs)
{
    Reply reply;
    if (!QTest::qWaitFor([&] { return takeReply(&reply); }, timeoutMs))
        return {};
    return reply;
}

RawFtpClient::Reply RawFtpClient::command(const QByteArray &line, int timeoutMs)
{
    sendLine(line);
    return nextReply(timeoutMs);
}

bool RawFtpClient::login()
{
    return command("USER root").code == 331 && command("PASS +00417263850").code == 230;
}

bool RawFtpClient::waitForDisconnected(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
}

std::unique_ptr<QTcpSocket> RawFtpClient::openPassive(Reply *pasvReply)
{
    const Reply reply = command("PASV");
    if (pasvReply)
        *pasvReply = reply;
    static const QRegularExpression numbers(QStringLiteral("\\((\\d+),(\\d+),(\\d+),(\\d+),(\\d+),(\\d+)\\)"));
    const QRegularExpressionMatch match = numbers.match(reply.text);
    if (reply.code != 227 || !match.hasMatch())
        return nullptr;
    const QString host = QStringLiteral("%1.%2.%3.%4").arg(match.captured(1), match.captured(2), match.captured(3), match.captured(4));
    if (host != QLatin1String("127.0.0.1"))
        return nullptr;   // never connect anywhere but loopback
    const quint16 port = quint16(match.captured(5).toInt() * 256 + match.captured(6).toInt());
    auto data = std::make_unique<QTcpSocket>();
    data->connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return data->state() == QAbstractSocket::ConnectedState; }, 5000))
        return nullptr;
    return data;
}

QByteArray RawFtpClient::readToEnd(QTcpSocket *data, int timeoutMs, bool *closed)
{
    QByteArray bytes;
    const bool ended = QTest::qWaitFor([&] {
        bytes += data->readAll();
        return data->state() == QAbstractSocket::UnconnectedState && data->bytesAvailable() == 0;
    }, timeoutMs);
    bytes += data->readAll();
    if (closed)
        *closed = ended;
    return bytes;
}

QByteArray RawFtpClient::retrieve(const QByteArray &commandLine, Reply *opening, Reply *final, int timeoutMs)
{
    std::unique_ptr<QTcpSocket> data = openPassive();
    if (!data)
        return {};
    sendLine(commandLine);
    *opening = nextReply(timeoutMs);
    if (opening->code != 150)
        return {};
    const QByteArray bytes = readToEnd(data.get(), timeoutMs);
    *final = nextReply(timeoutMs);
    return bytes;
}

void RawFtpClient::store(const QByteArray &commandLine, const QByteArray &content, Reply *opening, Reply *final,
                         int timeoutMs)
{
    std::unique_ptr<QTcpSocket> data = openPassive();
    if (!data)
        return;
    sendLine(commandLine);
    *opening = nextReply(timeoutMs);
    if (opening->code != 150)
        return;
    data->write(content);
    [[maybe_unused]] const bool written = QTest::qWaitFor([&] { return data->bytesToWrite() == 0; }, timeoutMs);
    data->disconnectFromHost();
    [[maybe_unused]] const bool closed = QTest::qWaitFor([&] { return data->state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    *final = nextReply(timeoutMs);
}
