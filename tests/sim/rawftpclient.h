#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>

#include <memory>

// A deliberately plain FTP client for checking the stand-in's exact
// replies: one line out, one reply in, nothing hidden. Waits by running the
// event loop (the server lives in the same thread), always with a timeout.
class RawFtpClient : public QObject
{
    Q_OBJECT

public:
    struct Reply {
        int code = 0;          // 0: no reply within the timeout
        QString text;          // the last line without the code
    };

    explicit RawFtpClient(QObject *parent = nullptr);

    // Connects to 127.0.0.1:port and reads the greeting.
    Reply connectTo(quint16 port, int timeoutMs = 5000);
    void sendLine(const QByteArray &line);          // appends CR LF
    void sendRaw(const QByteArray &bytes);
    Reply nextReply(int timeoutMs = 5000);
    Reply command(const QByteArray &line, int timeoutMs = 5000);
    bool login();
    bool waitForDisconnected(int timeoutMs = 5000);

    // PASV, then a data connection to the port it names.
    std::unique_ptr<QTcpSocket> openPassive(Reply *pasvReply = nullptr);
    // Reads a data connection to its end.
    static QByteArray readToEnd(QTcpSocket *data, int timeoutMs = 20000, bool *closed = nullptr);

    // Whole transfers: PASV, the command, the data, and the final reply.
    QByteArray retrieve(const QByteArray &commandLine, Reply *opening, Reply *final, int timeoutMs = 20000);
    void store(const QByteArray &commandLine, const QByteArray &content, Reply *opening, Reply *final,
               int timeoutMs = 20000);

private:
    bool takeReply(Reply *reply);

    QTcpSocket m_socket;
    QByteArray m_buffer;
};
