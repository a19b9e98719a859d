#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// The passive-mode data port of one PASV or EPSV: listens on 127.0.0.1,
// accepts one connection, then stops listening.
class PassiveDataPort : public QObject
{
    Q_OBJECT

public:
    explicit PassiveDataPort(QObject *parent = nullptr);
    ~PassiveDataPort() override;

    bool listen();
    quint16 port() const { return m_port; }

    bool hasConnection() const { return m_socket != nullptr; }
    // Hands the accepted connection over; the caller owns it from then on.
    QTcpSocket *takeConnection();

signals:
    void connectionArrived();

private:
    void accept();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    quint16 m_port = 0;
};
