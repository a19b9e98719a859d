#include "tests/support/scriptedftpserver.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

ScriptedFtpServer::ScriptedFtpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedFtpServer::onNewConnection);
}

ScriptedFtpServer::~ScriptedFtpServer() = default;

bool ScriptedFtpServer::listen(const QHostAddress &address)
{
    if (!address.isLoopback())
        return false;
    m_address = address;
    return m_server->listen(address, 0);
}

quint16 ScriptedFtpServer::port() const
{
    return m_server->serverPort();
}

void ScriptedFtpServer::on(const QByteArray &verb, Handler handler)
{
    m_handlers.insert(verb, std::move(handler));
}

void ScriptedFtpServer::reply(const QByteArray &line)
{
    writeRaw(line + "\r\n");
}

void ScriptedFtpServer::writeRaw(const QByteArray &bytes)
{
    if (m_control)
        m_control->write(bytes);
}

void ScriptedFtpServer::closeControl()
{
    if (m_control)
        m_control->disconnectFromHost();
}

void ScriptedFtpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_control)
            m_control->disconnect(this);
        m_control = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedFtpServer::onControlReadyRead);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (greet)
            greet();
        else
            reply("220 scripted server ready");
    }
}

void ScriptedFtpServer::onControlReadyRead()
{
    while (m_control && m_control->canReadLine()) {
        QByteArray line = m_control->readLine();
        if (line.endsWith("\r\n"))
            line.chop(2);
        received.append(line);
        const int blank = line.indexOf(' ');
        const QByteArray verb = (blank < 0 ? line : line.left(blank)).toUpper();
        const QByteArray argument = blank < 0 ? QByteArray() : line.mid(blank + 1);
        handle(verb, argument);
    }
}

quint16 ScriptedFtpServer::openPassive()
{
    delete m_dataServer;
    m_data = nullptr;
    m_dataServer = new QTcpServer(this);
    connect(m_dataServer, &QTcpServer::newConnection, this, &ScriptedFtpServer::onNewDataConnection);
    m_dataServer->listen(m_address, 0);
    return m_dataServer->serverPort();
}

void ScriptedFtpServer::onNewDataConnection()
{
    while (QTcpSocket *socket = m_dataServer->nextPendingConnection()) {
        m_data = socket;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        runDataAction();
    }
}

void ScriptedFtpServer::withDataConnection(DataAction action)
{
    m_dataAction = std::move(action);
    runDataAction();
}

void ScriptedFtpServer::runDataAction()
{
    if (m_data && m_dataAction) {
        DataAction action = std::move(m_dataAction);
        m_dataAction = nullptr;
        action(m_data);
    }
}

void ScriptedFtpServer::sendData(const QByteArray &bytes, std::function<void()> then)
{
    withDataConnection([bytes, then](QTcpSocket *data) {
        if (then)
            QObject::connect(data, &QTcpSocket::disconnected, data, then);
        data->write(bytes);
        data->disconnectFromHost();
    });
}

void ScriptedFtpServer::every(int msecs, int times, std::function<void()> action)
{
    auto *timer = new QTimer(this);
    auto left = std::make_shared<int>(times);
    connect(timer, &QTimer::timeout, this, [timer, left, action] {
        if (--*left <= 0)
            timer->deleteLater();
        action();
    });
    timer->start(msecs);
}

void ScriptedFtpServer::handle(const QByteArray &verb, const QByteArray &argument)
{
    if (const auto handler = m_handlers.value(verb)) {
        handler(argument);
        return;
    }
    if (verb == "USER") {
        reply("331 Password required");
    } else if (verb == "PASS") {
        reply("230 Logged in");
    } else if (verb == "TYPE") {
        reply("200 Type set");
    } else if (verb == "CWD") {
        reply("250 Folder changed");
    } else if (verb == "MKD") {
        reply("257 \"" + argument + "\" created");
    } else if (verb == "SIZE") {
        if (files.contains(argument))
            reply("213 " + QByteArray::number(files.value(argument).size()));
        else
            reply("550 No such file");
    } else if (verb == "EPSV") {
        reply("229 Entering Extended Passive Mode (|||" + QByteArray::number(openPassive()) + "|)");
    } else if (verb == "ALLO") {
        reply("202 No storage allocation necessary");
    } else if (verb == "PASV") {
        const quint16 port = openPassive();
        reply("227 Entering Passive Mode (" + passiveAddress + "," + QByteArray::number(port / 256) + ","
              + QByteArray::number(port % 256) + ").");
    } else if (verb == "RETR") {
        if (!files.contains(argument)) {
            reply("550 No such file");
            return;
        }
        reply("150 Opening data connection");
        sendData(files.value(argument), [this] { reply("226 Transfer complete"); });
    } else if (verb == "LIST") {
        reply("150 Here comes the listing");
        sendData(listing, [this] { reply("226 Listing sent"); });
    } else if (verb == "STOR") {
        reply("150 Ready to receive");
        const QByteArray name = argument;
        withDataConnection([this, name](QTcpSocket *data) {
            files[name].clear();
            connect(data, &QTcpSocket::readyRead, this, [this, data, name] { files[name] += data->readAll(); });
            connect(data, &QTcpSocket::disconnected, this, [this, data, name] {
                files[name] += data->readAll();
                reply("226 Stored");
            });
        });
    } else if (verb == "QUIT") {
        reply("221 Bye");
        closeControl();
    } else {
        reply("502 Not implemented");
    }
}
