#pragma once

#include <QProcess>
#include <QString>

// Runs Debian's pyftpdlib FTP server (python3-pyftpdlib, through
// /usr/bin/python3) on a free port of 127.0.0.1, serving a folder, for the
// lifetime of this object. The server also ends by itself when the test
// process dies, and after maxSeconds in any case.
//
//     PyftpdlibServer server;
//     QVERIFY2(server.start(dir.path()), qPrintable(server.errorString()));
//     client.connectToHost(server.host(), server.port());
//     client.login(server.userName(), server.password());
class PyftpdlibServer
{
public:
    PyftpdlibServer();
    ~PyftpdlibServer();

    // True when /usr/bin/python3 can import pyftpdlib; otherwise *why says
    // what is missing (for QSKIP).
    static bool isAvailable(QString *why = nullptr);
    static QString scriptPath();

    void setCredentials(const QString &userName, const QString &password);
    void setMaxSeconds(int seconds) { m_maxSeconds = seconds; }
    // Refuses EPSV (500), as older servers do.
    void setExtendedPassiveRefused(bool refused) { m_noEpsv = refused; }
    // Logs every command to the server's output (serverOutput()).
    void setVerbose(bool verbose) { m_verbose = verbose; }

    // Starts the server and waits (at most timeoutMsecs) until it listens.
    bool start(const QString &rootPath, int timeoutMsecs = 15000);
    // Closes the server's standard input and waits for it to end; kills it
    // if it has not ended after 5 s. Returns true when it ended by itself.
    bool stop();
    bool isRunning() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString userName() const { return m_userName; }
    QString password() const { return m_password; }
    QString errorString() const { return m_error; }
    // What the server wrote to its error stream so far (its log).
    QString serverOutput();

private:
    QProcess m_process;
    QString m_userName = QStringLiteral("root");
    QString m_password = QStringLiteral("+00417263850");
    QString m_error;
    QByteArray m_output;
    quint16 m_port = 0;
    int m_maxSeconds = 900;
    bool m_verbose = false;
    bool m_noEpsv = false;
};
