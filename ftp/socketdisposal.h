#pragma once

#include <QList>
#include <QPointer>
#include <QTcpSocket>

#include <utility>

// Disposes of sockets without pulling one out from under its own signal
// handler. A slot connected to the client may run a nested event loop (a
// modal message box, say); a socket dropped in there and deleted with a plain
// deleteLater() would be deleted by that nested loop, while an outer handler
// of the same socket is still on the stack, about to return into it.
//
// Every handler of the owner's socket signals opens a Scope; a socket retired
// while any Scope is open is deleted only once the outermost one closes.
class SocketDisposal
{
public:
    class Scope
    {
    public:
        explicit Scope(SocketDisposal &disposal) : m_disposal(disposal) { ++m_disposal.m_depth; }
        ~Scope()
        {
            if (--m_disposal.m_depth == 0)
                m_disposal.deleteRetired();
        }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        SocketDisposal &m_disposal;
    };

    // Silences the socket, drops its connection and deletes it when safe.
    void retire(QTcpSocket *socket, QObject *receiver)
    {
        socket->disconnect(receiver);
        socket->abort();
        if (m_depth > 0)
            m_retired.append(socket);
        else
            socket->deleteLater();
    }

private:
    void deleteRetired()
    {
        const QList<QPointer<QTcpSocket>> retired = std::exchange(m_retired, {});
        for (const QPointer<QTcpSocket> &socket : retired) {
            if (socket)
                socket->deleteLater();
        }
    }

    int m_depth = 0;
    QList<QPointer<QTcpSocket>> m_retired;
};
