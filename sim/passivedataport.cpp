#include "sim/passivedataport.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {
// Bounds what an upload may hold in memory; the socket stops reading and
// TCP pushes back on the client.
constexpr qint64 receiveBufferBytes = 256 * 1024;
}

PassiveDataPort::PassiveDataPort(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &PassiveDataPort::accept);
}

PassiveDataPort::~PassiveDataPort()
{
    if (m_socket) {
        m_socket->abort();
        delete m_socket;
    }
}

bool PassiveDataPort::listen()
{
    m_server.setMaxPendingConnections(1);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        return false;
    m_port = m_server.serverPort();
    return true;
}

QTcpSocket *PassiveDataPort::takeConnection()
{
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    if (socket)
        socket->setParent(nullptr);
    return socket;
}

void PassiveDataPort::accept()
{
    while (QTcpSocket *incoming = m_server.nextPendingConnection()) {
        if (m_socket || !incoming->peerAddress().isLoopback()) {
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        incoming->setReadBufferSize(receiveBufferBytes);
        m_socket = incoming;
        m_socket->setParent(this);
    }
    m_server.close();
    if (m_socket)
        emit connectionArrived();
}
