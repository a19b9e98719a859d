#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <functional>

class QTcpServer;

// A small FTP server for tests, on 127.0.0.1 or ::1: answers each command by
// a default rule or by a handler the test installs, and records every line
// it receives exactly as received. Passive data connections are accepted on
// the same loopback address, whatever address the 227 reply names.
class ScriptedFtpServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const QByteArray &argument)>;
    using DataAction = std::function<void(QTcpSocket *data)>;

    explicit ScriptedFtpServer(QObject *parent = nullptr);
    ~ScriptedFtpServer() override;

    // Loopback only: QHostAddress::LocalHost or QHostAddress::LocalHostIPv6.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const;

    // The address written into 227 replies.
    QByteArray passiveAddress = "127,0,0,1";
    // Greets a new connection instead of the default 220 reply.
    std::function<void()> greet;
    // Remote files: served by RETR and SIZE, written by STOR.
    QHash<QByteArray, QByteArray> files;
    // What LIST sends.
    QByteArray listing;

    // Replaces the default answer to `verb` (upper case).
    void on(const QByteArray &verb, Handler handler);

    // For handlers.
    void reply(const QByteArray &line);
    void writeRaw(const QByteArray &bytes);
    void closeControl();
    // Opens a data listener and returns its port.
    quint16 openPassive();
    // Runs `action` on the data connection as soon as the client opened it.
    void withDataConnection(DataAction action);
    // Sends `bytes` on the data connection, closes it and calls `then`
    // once it is closed.
    void sendData(const QByteArray &bytes, std::function<void()> then = {});
    // Runs `action` every `msecs`, `times` times at most, while the server
    // lives: the pace of a slow, trickling or chattering server.
    void every(int msecs, int times, std::function<void()> action);

    // Every line received, without CR LF, across connections.
    QList<QByteArray> received;

private:
    void onNewConnection();
    void onControlReadyRead();
    void onNewDataConnection();
    void handle(const QByteArray &verb, const QByteArray &argument);
    void runDataAction();

    QHostAddress m_address;
    QTcpServer *m_server = nullptr;
    QTcpServer *m_dataServer = nullptr;
    QPointer<QTcpSocket> m_control;
    QPointer<QTcpSocket> m_data;
    DataAction m_dataAction;
    QHash<QByteArray, Handler> m_handlers;
};
