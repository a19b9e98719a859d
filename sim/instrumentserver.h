#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class InstrumentServerPrivate;

// Stands in for the R9 instrument's FTP service: serves a folder on disk as
// the instrument's top folder, on the loopback interface only.
//
// Faults can be injected to test how a client copes with a misbehaving
// instrument. Every fault applies to all client connections until
// clearFaults().
class InstrumentServer : public QObject
{
    Q_OBJECT

public:
    struct LoggedCommand {
        int session = 0;      // 1 for the first client connection, 2 for the next...
        QString line;         // the command line exactly as received, without CR LF
        QString verb;         // upper-cased first word
        QString argument;     // everything after the first blank, verbatim (may start with a blank)
    };

    static constexpr const char *userName = "root";
    static constexpr const char *password = "+00417263850";

    explicit InstrumentServer(QObject *parent = nullptr);
    ~InstrumentServer() override;

    void setRootPath(const QString &path);
    QString rootPath() const;

    // Listens on 127.0.0.1 (any other address is refused). Port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 serverPort() const;
    bool isListening() const;
    void close();            // stops listening and drops every connection
    QString errorString() const;

    int sessionCount() const;          // client connections accepted so far
    int activeSessionCount() const;    // client connections open now

    // Every command line received, in order, across connections.
    QList<LoggedCommand> commandLog() const;
    QStringList commandLines() const;  // just the lines
    void clearCommandLog();
    // Also append each command line to this file ("<session> <line>\n").
    void setCommandLogFile(const QString &path);

    // --- Fault injection --------------------------------------------------
    // Answer `verb` (e.g. "RETR", "CWD", "PASS") with `code` and a text
    // instead of executing it; with `argument` set, only when the argument
    // equals it exactly (for RETR/STOR/SIZE: the bare file name).
    void refuseCommand(const QString &verb, int code = 550, const QString &argument = QString());
    // Close the control connection, without a reply, on receipt of the Nth
    // command of a session (1-based; USER is the first).
    void dropConnectionAfter(int commandCount);
    // Close the data connection after `bytes` bytes of a RETR or STOR (only
    // for `file` when given), then reply 426.
    void cutTransferAfter(qint64 bytes, const QString &file = QString());
    // Read only the first `bytes` of each STOR (only of `file` when given),
    // close the data connection, and reply 226 as if all were stored: the
    // file keeps those bytes. A client that could not send the rest must
    // not believe the 226.
    void storeOnlyFirst(qint64 bytes, const QString &file = QString());
    // Carry out a RETR or STOR (only of `file` when given) in full, every
    // byte sent or stored, and then answer `code` instead of 226.
    void answerAfterTransfer(const QString &verb, int code, const QString &file = QString());
    // Never answer `verb` (with `argument`, only that argument). The session
    // then hangs like a stuck instrument: it logs later commands but answers
    // none of them, and keeps the connection open.
    void staySilentOn(const QString &verb, const QString &argument = QString());
    // Report `reportedSize` in LIST (not in SIZE) for `file`.
    void reportWrongSize(const QString &file, qint64 reportedSize);
    // Delay every reply by `msecs` (LAN latency).
    void setReplyDelay(int msecs);
    // Limit each data transfer to `bytesPerSecond` (0: unlimited).
    void setRateLimit(qint64 bytesPerSecond);
    // Answer EPSV, ALLO and SIZE with 502, as a minimal embedded server that
    // does not know them; FEAT then names neither EPSV nor SIZE.
    void setMinimal(bool minimal);
    void clearFaults();

    // How long a transfer command waits for the client's data connection
    // before it is answered 425 (default 10 s).
    void setDataConnectionTimeout(int msecs);
    int dataConnectionTimeout() const;

signals:
    void commandReceived(int session, const QString &line);
    void sessionClosed(int session);

private:
    std::unique_ptr<InstrumentServerPrivate> m_d;
};
